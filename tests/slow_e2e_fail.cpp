// Runs that cannot issue a card, end to end: a picture that cannot be used,
// a machine that cannot be reached, a machine that refuses the stripe or
// drops the line during the wait for a card.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "slow_e2e.h"

namespace {

constexpr char kBmpLine[] = "× bmpファイルを読み込むことができません。処理不可能n";

// The log after the echo of the ten arguments.
std::vector<std::string> AfterEcho(const e2e::Result &r)
{
    auto msgs = r.Log();
    std::vector<std::string> out;
    for (size_t i = 10; i < msgs.size(); i++) {
        if (!msgs[i].empty()) {
            out.push_back(msgs[i]);
        }
    }
    return out;
}

std::string Le16(unsigned v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string Le32(unsigned v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

// A BMP file of any bit count and size whose pixels are all zero.
std::string Bmp(unsigned a_iW, unsigned a_iH, unsigned a_iBits)
{
    unsigned iStride = (a_iW * a_iBits + 31) / 32 * 4;
    std::string sPal = a_iBits == 1 ? std::string("\xFF\xFF\xFF\0\0\0\0\0", 8) : std::string();
    unsigned iOff = 14 + 40 + static_cast<unsigned>(sPal.size());
    std::string f = "BM" + Le32(iOff + iStride * a_iH) + Le32(0) + Le32(iOff);
    f += Le32(40) + Le32(a_iW) + Le32(a_iH) + Le16(1) + Le16(a_iBits) + Le32(0) + Le32(iStride * a_iH) +
         Le32(2835) + Le32(2835) + Le32(0) + Le32(0);
    return f + sPal + std::string(iStride * a_iH, '\0');
}

TEST(EndToEndFail, MissingBitmapEndsBeforeTheMachine)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    std::string sPath = m.tDir.file("no-such.bmp");
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), sPath));

    EXPECT_EQ(r.iStatus, 157);
    EXPECT_EQ(AfterEcho(r), std::vector<std::string>{kBmpLine});
    EXPECT_NE(r.sErr.find("Error: " + sPath + " could not read."), std::string::npos) << r.sErr;
    EXPECT_TRUE(m.Frames().empty());
}

TEST(EndToEndFail, PictureTheMachineCannotTakeIsRefused)
{
    struct Case {
        unsigned iW, iH, iBits;
        const char *szFound;
    } cases[] = {
        {16, 16, 24, "24 bits per pixel, 16 x 16 pixels"},
        {16, 16, 8, "8 bits per pixel, 16 x 16 pixels"},
        {481, 8, 1, "1 bits per pixel, 481 x 8 pixels"},
        {8, 513, 1, "1 bits per pixel, 8 x 513 pixels"},
    };
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    for (const auto &c : cases) {
        std::string sPath = m.tDir.file("picture.bmp");
        vt::WriteFile(sPath, Bmp(c.iW, c.iH, c.iBits));
        e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), sPath));
        EXPECT_EQ(r.iStatus, 157) << c.szFound;
        EXPECT_EQ(AfterEcho(r), std::vector<std::string>{kBmpLine}) << c.szFound;
        EXPECT_NE(r.sErr.find(c.szFound), std::string::npos) << r.sErr;
        EXPECT_NE(r.sErr.find("480 x 512"), std::string::npos) << r.sErr;
    }
    // The largest picture the machine takes goes on to the connection.
    std::string sPath = m.tDir.file("largest.bmp");
    vt::WriteFile(sPath, Bmp(480, 512, 1));
    e2e::Result r = e2e::Vestrun(e2e::Args(0, sPath));  // port 0: nothing listens
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_TRUE(m.Frames().empty());
}

TEST(EndToEndFail, UnreachableMachine)
{
    // A port that was free a moment ago and has nothing listening now.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&a), &len), 0);
    int iPort = ntohs(a.sin_port);
    close(s);

    e2e::Result r = e2e::Vestrun(e2e::Args(iPort, e2e::SamplePicture()));
    EXPECT_EQ(r.iStatus, 255);
    EXPECT_EQ(AfterEcho(r), (std::vector<std::string>{"接続処理開始", "× 接続異常"}));
}

// The machine refuses the magnetic record: the card is not put out, the
// machine is reset, and the LED is left as it is.
TEST(EndToEndFail, RefusedStripeEndsWithReset)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start({"--fault", "9:dle"}));
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), e2e::SamplePicture()));

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    std::vector<std::string> want = {e2e::kClearAll, e2e::kLedOn, e2e::kStatus, e2e::kRecord, e2e::kReset};
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
    auto msgs = AfterEcho(r);
    auto it = std::find(msgs.begin(), msgs.end(), "× 磁気書込失敗");
    ASSERT_NE(it, msgs.end());
    ASSERT_NE(it + 1, msgs.end());
    EXPECT_EQ(*(it + 1), "切断（プリンターリセット）");
    EXPECT_EQ(r.Last(), "プリンターリセット成功");
    EXPECT_FALSE(r.Has("切断"));
    EXPECT_FALSE(r.Has("磁気書込＋待機開始"));
    m.Finish();
    EXPECT_TRUE(vt::ReadFile(m.Card("card.txt")).empty()) << "no card was put out";
}

// The machine drops the line while the run waits for a card: no status can
// come any more, so the wait ends through the reset path instead of going
// round for ever.
TEST(EndToEndFail, MachineGoneDuringTheWaitEndsTheRun)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start({"--card-after", "5", "--fault", "Y#2:close"}));
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), e2e::SamplePicture()), 180);

    EXPECT_EQ(r.iStatus, 0) << "a run killed by the time limit shows -1";
    EXPECT_TRUE(r.Has("切断（プリンターリセット）"));
    EXPECT_FALSE(r.Has("切断"));
    EXPECT_FALSE(r.Has("磁気書込開始"));
    EXPECT_TRUE(r.Has("× LED設定失敗"));
    std::vector<std::string> want = {e2e::kClearAll, e2e::kLedOn, e2e::kStatus, e2e::kLedOn, e2e::kStatus};
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
}

}  // namespace
