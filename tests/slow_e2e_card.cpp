// The issuing run end to end: the real vestrun against its own vestrun-sim.
// (Every frame under every fault is the fault matrix; arguments, pictures
// and settings files that are refused are the bad input table.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "bmpfile.h"
#include "e2e.h"

namespace {

using Lines = std::vector<std::string>;

// Every frame in order, each answered and its result confirmed by a lone
// ACK; the card the machine kept holds the picture and the stripe sent.
TEST(EndToEnd, CardGoesOutWithEveryFrameInOrder)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    auto args = sample::Args(m.Port(), e2e::SamplePicture());
    args.push_back("EXTRA");  // past the tenth: neither echoed nor used
    e2e::Result r = e2e::Vestrun(args);
    m.Finish();

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    std::string echo;
    for (size_t i = 0; i < 10; i++) echo += std::to_string(i + 1) + "=" + args[i] + "\n";
    EXPECT_EQ(r.sOut.substr(0, echo.size()), echo);
    EXPECT_EQ(r.sOut.find("EXTRA"), std::string::npos);
    EXPECT_EQ(r.Last(), "切断");

    auto frames = m.Frames();
    Lines want = {sample::kClearAll, "06"};
    size_t iImage = 0;
    for (size_t i = 2; i + 1 < frames.size() && frames[i].compare(0, 5, "02 4D") == 0; i += 2, iImage++) {
        want.push_back(frames[i]);
        want.push_back("06");
    }
    for (const std::string &f : std::vector<std::string>{sample::kLedOn, sample::kStatus, sample::Record(),
                                                         sample::kWriteStandby, sample::kAppend, sample::kLedOff}) {
        want.push_back(f);
        want.push_back("06");
    }
    EXPECT_EQ(frames, want);
    EXPECT_GT(iImage, 0u) << "the sample picture holds ink";
    EXPECT_EQ(r.Count("イメージ送信開始"), static_cast<int>(iImage));  // one line per image frame

    EXPECT_EQ(e2e::Art(m.Card("picture.bmp")), e2e::Art(e2e::SamplePicture()));
    EXPECT_EQ(vt::ToHex(vt::ReadFile(m.Card("stripe.bin"))), sample::Record().substr(6, 69 * 3 - 1));
    EXPECT_EQ(vt::ReadFile(m.Card("card.txt")), e2e::kCardText);
}

// Voiced and semi-voiced kana, a heavy box-drawing character in the kanji
// name, dates that differ in every place, and a picture of odd size whose
// byte-rows differ top to bottom: the stand-in reads back from the stripe
// and the picture buffer what was typed and drawn.
TEST(EndToEnd, NamesAndPictureReadBackAsTyped)
{
    // 203 x 77: a frame, and a slope that crosses every byte-row at a
    // different height in each column.
    std::vector<std::string> art(77, std::string(203, '.'));
    for (size_t y = 0; y < art.size(); y++) {
        art[y][0] = art[y][202] = '#';
        art[y][(y * 5) % 200 + 1] = '#';
    }
    art[0] = art[76] = std::string(203, '#');
    art[40].replace(20, 9, "#.##.###.");
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    const std::string sPicture = m.tDir.file("slope.bmp");
    vt::WriteFile(sPicture, vt::MonoBmp(art));
    e2e::Result r = e2e::Vestrun({"127.0.0.1", std::to_string(m.Port()), "0", sPicture, "987", "学校━花子",
                                  "ガッコウ　パンダ", "2", "19851231", "20240115"});
    m.Finish();

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    // ガ ｯ ｺ ｳ / ﾊﾟ ﾝ ﾀﾞ in 7-bit codes; 学 校 ━ (moved to row 12) 花 子 in JIS.
    EXPECT_EQ(vt::ToHex(vt::ReadFile(m.Card("stripe.bin"))),
              "20 20 20 20 20 20 20 39 38 37 "
              "0E 36 5E 2F 3A 33 0F 20 0E 4A 5F 5D 40 5E 0F 20 20 20 20 20 20 20 20 20 "
              "31 39 38 35 31 32 33 31 32 1B 4B 33 58 39 3B 2C 25 32 56 3B 52 21 21 21 21 1B 48 "
              "32 30 32 34 30 31 31 35");
    EXPECT_EQ(vt::ReadFile(m.Card("card.txt")),
              u8"output: append\npatient_number: 987\nkana_name: ガッコウ パンダ\nbirth_date: 19851231\nsex: 2\n"
              u8"kanji_name: 学校━花子\nfirst_visit: 20240115\n");
    std::vector<std::string> want = art;
    for (std::string &row : want) row.resize(480, '.');
    want.resize(512, std::string(480, '.'));
    EXPECT_EQ(e2e::Art(m.Card("picture.bmp")), want);
}

// While the machine reports a status too short to read, a card waiting to be
// taken out, an open cover or no card, the run lights the LED again, pauses
// and asks again; then the card goes out.
TEST(EndToEnd, WaitForACardGoesRoundUntilOneIsReady)
{
    e2e::Machine m;
    ASSERT_TRUE(
        m.Start({"--fault", "Y#1:short-result", "--card-waiting", "2", "--cover-open", "3", "--card-after", "4"}));
    e2e::Result r = e2e::Vestrun(sample::Args(m.Port(), e2e::SamplePicture()));

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    Lines want = {sample::kClearAll, sample::kLedOn};
    for (int i = 0; i < 3; i++) {
        want.push_back(sample::kStatus);
        want.push_back(sample::kLedOn);
    }
    for (const std::string &f : std::vector<std::string>{sample::kStatus, sample::Record(), sample::kWriteStandby,
                                                         sample::kAppend, sample::kLedOff})
        want.push_back(f);
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
    EXPECT_EQ(r.Count("× ステータスチェック失敗"), 1);  // zero fill never reads as "card ready"
    EXPECT_EQ(r.Count("発行機に抜き取り待ちのカ－ドがあります"), 1);
    EXPECT_EQ(r.Count("カバ－が開いています"), 2);
    EXPECT_EQ(r.Count("カードを挿入してください"), 1);
}

TEST(EndToEnd, UnreachableMachine)
{
    e2e::Result r = e2e::Vestrun(sample::Args(vt::ClosedPort(), e2e::SamplePicture()));
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.AfterEcho(), (Lines{"接続処理開始", "× 接続異常"}));
}

}  // namespace
