// The printer link where only a real socket and the real clock will do: the
// waits are really waited (a signal that asks for no stop leaves them whole),
// a machine that hangs up is not spun on, one that takes nothing is given up
// on. Every rule of the exchanges is shown on the fake line (test_link).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

#include "fakeline.h"
#include "sock.h"
#include "testutil.h"

namespace {

// The machine takes what comes within 10 s; false: nothing came.
bool Take(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    char buf[4096];
    return poll(&p, 1, 10000) > 0 && recv(fd, buf, sizeof buf, 0) > 0;
}

// One exchange against a machine played by `script` on the far end of a
// socket pair, with a signal 300 ms in that interrupts the first wait and
// asks for no stop: its result, and the seconds it took (wall clock, CPU).
int Exchange(double *took, double *cpu, bool image, std::string frame, std::function<void(int)> script)
{
    int fds[2], len = static_cast<int>(frame.size()), ret;
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    std::thread machine(script, fds[1]);
    char rcv[256];
    frame += '\0';
    vt::CaptureFd cap(1);  // the log, line by line, is shown on the fake line
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    {
        vt::SignalIn alarm(300, false);
        ret = image ? SCK_iSendImage(fds[0], &frame[0], len, rcv, &len)
                    : SCK_iSendRecv(fds[0], &frame[0], len, rcv, &len);
    }
    *took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    *cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    machine.join();
    close(fds[0]), close(fds[1]);
    return ret;
}

TEST(LinkOnTheRealClock, WaitsAreWholeAndNotSpun)
{
    double took, cpu;
    // The command exchange's pauses (1 s, 1.5 s, 1 s), the first of them interrupted by the signal.
    const std::string answer = vt::Answer(SCK_ACK) + std::string(24, '0');  // a first reply and a result
    EXPECT_EQ(Exchange(&took, &cpu, false, "\x02Y\x03",
                       [&](int fd) {
                           if (Take(fd)) send(fd, answer.data(), answer.size(), 0), Take(fd);
                       }),
              0);
    EXPECT_GE(took, 3.45);
    // A machine that hangs up after the frame: every read comes back empty at
    // once, yet the 1-s window is sat out quietly, not spun; the repeat cannot go.
    EXPECT_EQ(Exchange(&took, &cpu, true, "\x02M0,3,1,81\x03",
                       [](int fd) {
                           if (Take(fd)) shutdown(fd, SHUT_RDWR);
                       }),
              -1);
    EXPECT_GE(took, 0.95);
    EXPECT_LT(cpu, 0.3);
    // A machine that takes nothing: the send gives up after about a second.
    EXPECT_EQ(Exchange(&took, &cpu, false, "\x02M" + std::string(1 << 20, 'A') + "\x03", [](int) {}), -1);
    EXPECT_GE(took, 0.95);
}

}  // namespace
