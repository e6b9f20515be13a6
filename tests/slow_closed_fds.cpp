// A launcher or a service manager may start vestrun without standard
// streams. The run must still put only frames on the wire (no log line may
// reach the socket that took a free descriptor) and issue the card.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

struct Closed {
    const char *szName;
    std::vector<int> vFds;  // closed in the child; the others point at /dev/null
};
void PrintTo(const Closed &a_tCase, std::ostream *a_pOut) { *a_pOut << a_tCase.szName; }

// Runs vestrun with the descriptors of a_tCase closed: its exit status, or
// -1 when it was still running after 240 s (then killed).
int RunClosed(const Closed &a_tCase, const std::vector<std::string> &a_vArgs)
{
    std::vector<std::string> words = {VESTRUN_BIN};
    words.insert(words.end(), a_vArgs.begin(), a_vArgs.end());
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t tAct;
    posix_spawn_file_actions_init(&tAct);
    for (int fd = 0; fd <= 2; fd++) {
        bool bClosed = false;
        for (int c : a_tCase.vFds) bClosed = bClosed || c == fd;
        if (bClosed) {
            posix_spawn_file_actions_addclose(&tAct, fd);
        } else {
            posix_spawn_file_actions_addopen(&tAct, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }
    pid_t pid = -1;
    int iErr = posix_spawn(&pid, argv[0], &tAct, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&tAct);
    if (iErr != 0) return -2;
    for (int i = 0; i < 240 * 20; i++) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        poll(nullptr, 0, 50);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class ClosedFds : public ::testing::TestWithParam<Closed> {};

TEST_P(ClosedFds, OnlyFramesOnTheWireAndTheCardGoesOut)
{
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    EXPECT_EQ(RunClosed(GetParam(), sample::Args(m.Port(), e2e::SamplePicture())), 0);
    m.Finish();

    // Only the run's frames reached the machine: nothing came between them
    // (the stand-in logs such bytes as stray), and the commands are the run's.
    EXPECT_EQ(m.tSim.Stderr().find("stray"), std::string::npos) << m.tSim.Stderr().substr(0, 400);
    const std::vector<std::string> want = {sample::kClearAll,     sample::kLedOn,  sample::kStatus, sample::Record(),
                                           sample::kWriteStandby, sample::kAppend, sample::kLedOff};
    EXPECT_EQ(e2e::Commands(m.Frames()), want);
    EXPECT_EQ(vt::ToHex(vt::ReadFile(m.Card("stripe.bin"))), sample::Record().substr(6, 69 * 3 - 1));
}

INSTANTIATE_TEST_SUITE_P(Run, ClosedFds, ::testing::Values(Closed{"Stdout", {1}}, Closed{"AllThree", {0, 1, 2}}),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szName); });

}  // namespace
