// The printer link where only a real socket and the real clock will do: the
// socket line really waits (a signal that asks for no stop leaves every wait
// whole), a machine that hangs up or takes nothing. Every rule of the
// exchanges is shown on the fake line (test_link).
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

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

struct Result {
    int ret = 0, len = -7;
    std::string rcv = std::string(256, '\xEE');
    Lines log;
    std::vector<double> came;  // when each receipt of the machine came, from the call's start
    double took = 0, cpu = 0;
};

// One exchange against a machine on the far end of a socket pair: `script`
// gets its descriptor and a way to wait for the next bytes (false: none within 10 s).
Result Exchange(bool image, const std::string &frame, std::function<void(int, std::function<bool()>)> script)
{
    Result r;
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    const double t0 = Now();
    std::thread machine([&] {
        script(fds[1], [&] {
            pollfd p = {fds[1], POLLIN, 0};
            char buf[4096];
            if (poll(&p, 1, 10000) <= 0 || recv(fds[1], buf, sizeof buf, 0) <= 0) return false;
            r.came.push_back(Now() - t0);
            return true;
        });
    });
    std::string buf = frame + '\0';
    vt::CaptureFd cap(1);
    const std::clock_t c0 = std::clock();
    {
        vt::SignalIn alarm(300, false);  // interrupts the first wait, asks for no stop
        r.ret = image ? SCK_iSendImage(fds[0], &buf[0], static_cast<int>(frame.size()), &r.rcv[0], &r.len)
                      : SCK_iSendRecv(fds[0], &buf[0], static_cast<int>(frame.size()), &r.rcv[0], &r.len);
    }
    r.took = Now() - t0;
    r.cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    r.log = vt::LogMessages(cap.Finish());
    machine.join();
    close(fds[0]), close(fds[1]);
    return r;
}

const std::string kAck = vt::Answer(SCK_ACK), kRes = "000000000000200010000000";
const std::string kClosing = "送信サイズ=  1 電文=[06 ]";
void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
void Say(int fd, const std::string &bytes) { send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

// The command exchange's pauses (1 s, 1.5 s, 1 s) on the real clock: the
// closing ACK comes 2.5 s after the frame, and the call lasts 3.5 s.
TEST(LinkOnTheRealClock, CommandPauses)
{
    Result r = Exchange(false, "\x02Y\x03", [](int fd, std::function<bool()> take) {
        if (take()) Say(fd, kAck + kRes), take();
    });
    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.log, (Lines{vt::SendDump("\x02Y\x03\x5A"), "送信成功", vt::RecvDump(10, kAck), "受信結果=0",
                            "<ACK>受信", vt::RecvDump(24, kRes), "受信結果=0", kClosing, "送信成功"}));
    ASSERT_EQ(r.came.size(), 2u);
    EXPECT_GE(r.came[1] - r.came[0], 2.45);
    EXPECT_GE(r.took, 3.45);
}

// The image exchange's windows on the real clock: a first reply 0.8 s late
// and a result 2.5 s after it are both taken.
TEST(LinkOnTheRealClock, ImageWindows)
{
    Result r = Exchange(true, "\x02M0,3,1,81\x03", [](int fd, std::function<bool()> take) {
        if (take()) Wait(800), Say(fd, kAck), Wait(2500), Say(fd, kRes), take();
    });
    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.log, (Lines{"イメージ送信成功", "<ACK>受信", kClosing, "送信成功"}));
    EXPECT_EQ(r.rcv, kRes + std::string(256 - kRes.size(), '\0'));
    ASSERT_EQ(r.came.size(), 2u);
    EXPECT_GE(r.came[1] - r.came[0], 3.25);
}

// A machine that hangs up after the frame: every read comes back empty at
// once, yet the window is sat out quietly, not spun; the repeat cannot go.
// A machine that takes nothing: the send gives up after about a second.
TEST(LinkOnTheRealClock, MachineGoneOrDeaf)
{
    Result r = Exchange(true, "\x02M0,3,1,81\x03", [](int fd, std::function<bool()> take) {
        if (take()) shutdown(fd, SHUT_RDWR);
    });
    EXPECT_EQ(r.ret, -1);
    EXPECT_EQ(r.log, (Lines{"イメージ送信成功", "× 受信失敗リトライ", "× SCK_iSendImage 送信失敗"}));
    EXPECT_GE(r.took, 0.95);
    EXPECT_LT(r.cpu, 0.3);

    r = Exchange(false, "\x02M" + std::string(1 << 20, 'A') + "\x03", [](int, std::function<bool()>) {});
    EXPECT_EQ(r.ret, -1);
    EXPECT_GE(r.took, 0.95);
    ASSERT_EQ(r.log.size(), 2u);
    EXPECT_EQ(r.log[1], "× SCK_iSend 送信失敗");
}

}  // namespace
