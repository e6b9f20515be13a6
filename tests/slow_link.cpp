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

using Lines = std::vector<std::string>;

struct Result {
    int ret;
    double took, cpu;  // s
    Lines log;
};

// One exchange against a machine played by `script` on the far end of a
// socket pair, with a signal 300 ms in that interrupts the first wait.
Result Exchange(bool image, std::string frame, std::function<void(int)> script)
{
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    std::thread machine(script, fds[1]);
    Result r{};
    char rcv[256];
    int len = static_cast<int>(frame.size());
    frame += '\0';
    vt::CaptureFd cap(1);
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    {
        vt::SignalIn alarm(300, false);
        r.ret = image ? SCK_iSendImage(fds[0], &frame[0], len, rcv, &len)
                      : SCK_iSendRecv(fds[0], &frame[0], len, rcv, &len);
    }
    r.took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    r.log = vt::LogMessages(cap.Finish());
    machine.join();
    close(fds[0]), close(fds[1]);
    return r;
}

// The machine takes what comes within 10 s; false: nothing came.
bool Take(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    char buf[4096];
    return poll(&p, 1, 10000) > 0 && recv(fd, buf, sizeof buf, 0) > 0;
}

// The command exchange's pauses (1 s, 1.5 s, 1 s) on the real clock, the
// first of them interrupted by the signal.
TEST(LinkOnTheRealClock, CommandPausesAreWhole)
{
    Result r = Exchange(false, "\x02Y\x03", [](int fd) {
        const std::string answer = vt::Answer(SCK_ACK) + std::string(24, '0');  // a first reply and a result
        if (Take(fd)) send(fd, answer.data(), answer.size(), 0), Take(fd);
    });
    EXPECT_EQ(r.ret, 0);
    EXPECT_GE(r.took, 3.45);
}

// A machine that hangs up after the frame: every read comes back empty at
// once, yet the 1-s window is sat out quietly through the signal, not spun;
// the repeat cannot go.
// A machine that takes nothing: the send gives up after about a second.
TEST(LinkOnTheRealClock, MachineGoneOrDeaf)
{
    Result r = Exchange(true, "\x02M0,3,1,81\x03", [](int fd) {
        if (Take(fd)) shutdown(fd, SHUT_RDWR);
    });
    EXPECT_EQ(r.ret, -1);
    EXPECT_EQ(r.log, (Lines{"イメージ送信成功", "× 受信失敗リトライ", "× SCK_iSendImage 送信失敗"}));
    EXPECT_GE(r.took, 0.95);
    EXPECT_LT(r.cpu, 0.3);
    r = Exchange(false, "\x02M" + std::string(1 << 20, 'A') + "\x03", [](int) {});
    EXPECT_EQ(r.ret, -1);
    EXPECT_GE(r.took, 0.95);
    EXPECT_EQ(r.log.back(), "× SCK_iSend 送信失敗");
}

}  // namespace
