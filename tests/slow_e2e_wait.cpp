// The wait for a card, end to end: while the machine reports no card, a card
// waiting to be taken out, an open cover or a status too short to read, the
// run lights the LED again, pauses and asks again; then the card goes out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slow_e2e.h"

namespace {

struct WaitCase {
    std::vector<std::string> vSim;  // the operator, as the machine reports it
    const char *szFinding;          // the status line of every pass that waits; null: none
    int iPasses;                    // status requests that do not find a card ready
};

void WaitThenIssue(const WaitCase &c)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start(c.vSim));
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), e2e::SamplePicture()));

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    // Each pass: a status request, then the LED lit again.
    std::vector<std::string> want = {e2e::kClearAll, e2e::kLedOn};
    for (int i = 0; i < c.iPasses; i++) {
        want.push_back(e2e::kStatus);
        want.push_back(e2e::kLedOn);
    }
    for (const char *f : {e2e::kStatus, e2e::kRecord, e2e::kWriteStandby, e2e::kAppend, e2e::kLedOff}) {
        want.push_back(f);
    }
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
    if (c.szFinding != nullptr) {
        EXPECT_EQ(r.Count(c.szFinding), c.iPasses);
    }
    EXPECT_EQ(r.Count("ステータスチェック開始"), c.iPasses + 1);
}

TEST(EndToEndWait, NoCardYet)
{
    WaitThenIssue({{"--card-after", "3"}, "カードを挿入してください", 2});
}

TEST(EndToEndWait, CardWaitingToBeTakenOut)
{
    WaitThenIssue({{"--card-waiting", "2"}, "発行機に抜き取り待ちのカ－ドがあります", 2});
}

TEST(EndToEndWait, CoverOpen)
{
    WaitThenIssue({{"--cover-open", "2"}, "カバ－が開いています", 2});
}

// A status reply too short to hold the card state and the cover is not a
// status: its zero fill must not read as "card ready, cover closed".
TEST(EndToEndWait, ShortStatusReplyIsNoStatus)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start({"--fault", "Y#1:short-result"}));
    e2e::Result r = e2e::Vestrun(e2e::Args(m.Port(), e2e::SamplePicture()));

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    EXPECT_EQ(r.Count("× ステータスチェック失敗"), 1);
    EXPECT_EQ(r.Count("ステータスチェック成功"), 1);
    EXPECT_FALSE(r.Has("カードを挿入してください"));
    std::vector<std::string> want = {e2e::kClearAll,  e2e::kLedOn,         e2e::kStatus, e2e::kLedOn,  e2e::kStatus,
                                     e2e::kRecord,    e2e::kWriteStandby,  e2e::kAppend, e2e::kLedOff};
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
}

}  // namespace
