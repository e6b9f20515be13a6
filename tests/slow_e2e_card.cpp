// The issuing run end to end: the real vestrun against its own vestrun-sim.
// (Every frame under every fault is the fault matrix; arguments, pictures
// and settings files that are refused are the bad input table.)
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "slow_e2e.h"

namespace {

using Lines = std::vector<std::string>;

// Every frame in order, each answered and its result confirmed by a lone
// ACK; the card the machine kept holds the picture and the stripe sent.
TEST(EndToEnd, CardGoesOutWithEveryFrameInOrder)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    auto args = e2e::Args(m.Port(), e2e::SamplePicture());
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
    Lines want = {e2e::kClearAll, "06"};
    size_t iImage = 0;
    for (size_t i = 2; i + 1 < frames.size() && frames[i].compare(0, 5, "02 4D") == 0; i += 2, iImage++) {
        want.push_back(frames[i]);
        want.push_back("06");
    }
    for (const char *f : {e2e::kLedOn, e2e::kStatus, e2e::kRecord, e2e::kWriteStandby, e2e::kAppend, e2e::kLedOff}) {
        want.push_back(f);
        want.push_back("06");
    }
    EXPECT_EQ(frames, want);
    EXPECT_GT(iImage, 0u) << "the sample picture holds ink";
    EXPECT_EQ(r.Count("イメージ送信開始"), static_cast<int>(iImage));  // one line per image frame

    EXPECT_EQ(e2e::Art(m.Card("picture.bmp")), e2e::Art(e2e::SamplePicture()));
    EXPECT_EQ(vt::ToHex(vt::ReadFile(m.Card("stripe.bin"))), std::string(e2e::kRecord).substr(6, 69 * 3 - 1));
    EXPECT_NE(vt::ReadFile(m.Card("card.txt")).find("output: append\n"), std::string::npos);
}

// While the machine reports a status too short to read, a card waiting to be
// taken out, an open cover or no card, the run lights the LED again, pauses
// and asks again; then the card goes out.
TEST(EndToEnd, WaitForACardGoesRoundUntilOneIsReady)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start({"--fault", "Y#1:short-result", "--card-waiting", "2", "--cover-open", "3", "--card-after", "4"}));
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), e2e::SamplePicture()));

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    Lines want = {e2e::kClearAll, e2e::kLedOn};
    for (int i = 0; i < 3; i++) {
        want.push_back(e2e::kStatus);
        want.push_back(e2e::kLedOn);
    }
    for (const char *f : {e2e::kStatus, e2e::kRecord, e2e::kWriteStandby, e2e::kAppend, e2e::kLedOff}) want.push_back(f);
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
    EXPECT_EQ(r.Count("× ステータスチェック失敗"), 1);  // zero fill never reads as "card ready"
    EXPECT_EQ(r.Count("発行機に抜き取り待ちのカ－ドがあります"), 1);
    EXPECT_EQ(r.Count("カバ－が開いています"), 2);
    EXPECT_EQ(r.Count("カードを挿入してください"), 1);
}

TEST(EndToEnd, UnreachableMachine)
{
    // A port that was free a moment ago and has nothing listening now.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&a), &len), 0);
    close(s);

    e2e::Result r = e2e::Vestrun(e2e::Args(ntohs(a.sin_port), e2e::SamplePicture()));
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(r.AfterEcho(), (Lines{"接続処理開始", "× 接続異常"}));
}

}  // namespace
