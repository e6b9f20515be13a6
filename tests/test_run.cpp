// The issuing run in the test process (vestrun_main), where its flow is what
// a case shows: the exchanges go over a fake line, to the stand-in's machine
// model, on a fake clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <optional>

#include <string>
#include <vector>

#include "e2e.h"
#include "fakeline.h"
#include "fault.h"
#include "machine.h"
#include "sample_card.h"

namespace {

using Lines = std::vector<std::string>;

// vestrun_main for the sample patient and picture against `port`: its result,
// and the log after the echo of the arguments into *log. With `no_in_err`,
// standard input and errors are closed (the log, fd 1, is captured).
int Main(int port, Lines *log, bool no_in_err = false)
{
    Lines args = sample::Args(port, std::string(VESTRUN_SOURCE_DIR) + "/examples/card.bmp");
    args.insert(args.begin(), "vestrun");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    vt::CaptureFd out(1);
    if (no_in_err) close(0), close(2);
    const int ret = vestrun_main(static_cast<int>(args.size()), argv.data());
    *log = e2e::AfterEcho(out.Finish());
    return ret;
}
// The sample card against a machine that refuses every frame of the letter
// `refuse` (0: none): the exit status, the commands sent (image frames and
// closing ACKs left out), and a log that ends with the line closed, or after
// any refusal with the printer reset. Each run sits out the real 1-s pause
// after the connect. (Refusals of every frame: the fault matrix.)
struct Case {
    const char *name;
    char refuse;
    int status;
    Lines commands;
};
void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }
class RunFlow : public ::testing::TestWithParam<Case> {};

using namespace sample;
INSTANTIATE_TEST_SUITE_P(
    Card, RunFlow,
    ::testing::Values(
        Case{"Issued", 0, 0, {kClearAll, kLedOn, kStatus, Record(), kWriteStandby, kAppend, kLedOff}},
        Case{"ImageRefused", 'M', 0, {kClearAll, kReset}},
        Case{"OutputRefused", 'G', 0, {kClearAll, kLedOn, kStatus, Record(), kWriteStandby, kAppend, kReset}},
        // No card ever: the LED is lit again and a stop signal comes in the pause that follows.
        Case{"StopInTheWait", 'W', 128 + SIGALRM, {kClearAll, kLedOn, kStatus, kLedOn, kReset}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(RunFlow, EndsAsTheMachineAnswers)
{
    const Case &c = GetParam();
    SimMachine m;
    SimMachineInit(&m, 480, 512, SimOperator{c.refuse == 'W' ? 1000 : 0, 0, 0});
    vt::FakeLine line;
    line.on_unit = [&](vt::FakeLine &l, const std::string &u) {
        if (u.size() < 4) return;  // a closing ACK
        const SimOutcome out = SimMachineAnswer(&m, u[1], u.substr(2, u.size() - 4));
        const bool refused = u[1] == c.refuse;
        l.ReplyIn(0, SimFirstReply(u[1], refused ? 0x10 : out.tReply.cCode) + (refused ? "" : out.tReply.cResult));
    };
    const LnkLine fake = line.Line();
    LNK_vReroute(&fake);
    vt::Listener machine;
    std::optional<vt::SignalIn> alarm;  // 1.5 s into the 3-s pause that follows the connect's 1-s pause
    if (c.refuse == 'W') alarm.emplace(2500, true);
    Lines log;
    EXPECT_EQ(Main(machine.Port(), &log), c.status);
    LNK_vReroute(nullptr);
    Lines commands;
    for (const std::string &u : line.Units())
        if (u.size() > 1 && u[1] != 'M') commands.push_back(vt::ToHex(u));
    EXPECT_EQ(commands, c.commands);
    EXPECT_EQ(log.empty() ? "" : log.back(), c.refuse ? "プリンターリセット成功" : "切断");
}

// Nothing listening: the run logs the failed connect, frees the picture it
// read (the sanitizer build checks) and ends with -1. Started with standard
// input and errors closed, it first opens /dev/null in their place, so that
// its socket can never take one of them.
TEST(RunWithNothingListening, EndsAfterTheConnectWithMinusOne)
{
    Lines log;
    EXPECT_EQ(Main(vt::ClosedPort(), &log, true), -1);
    EXPECT_EQ(log, (Lines{"接続処理開始", "× 接続異常"}));
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    EXPECT_NE(fcntl(2, F_GETFD), -1);
}

}  // namespace
