// The printer link where only a real socket will do: the socket line's waits
// on the real clock, a machine that hangs up in a reply window, a far end
// that takes nothing. Every rule of the exchanges is shown on the fake line
// (test_link); here only that the socket line really waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakeline.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double ThreadCpu()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The machine's end of a socket pair, playing its script in a thread.
struct Machine {
    int link = -1, fd = -1;
    std::vector<std::pair<std::string, double>> units;  // received, with the time
    std::thread thread;

    // The next unit: a frame through its block check, or one byte; false when
    // nothing came within `ms` or the line closed.
    bool Take(int ms = 10000)
    {
        std::string unit;
        const double end = Now() + ms / 1000.0;
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            char c;
            const double left = end - Now();
            if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0 || recv(fd, &c, 1, 0) != 1)
                return false;
            if (unit.empty()) units.emplace_back("", Now());
            unit += c;
            const size_t etx = unit.find('\x03');
            if (unit[0] != '\x02' || (etx != std::string::npos && unit.size() == etx + 2)) break;
        }
        units.back().first = unit;
        return true;
    }
    void Send(const std::string &bytes) { send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    static void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    explicit Machine(std::function<void(Machine &)> script)
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
        link = fds[0], fd = fds[1];
        fcntl(link, F_SETFL, O_NONBLOCK);
        thread = std::thread([this, script] { script(*this); });
    }
    ~Machine()
    {
        Join();
        close(link);
        close(fd);
    }
    void Join()
    {
        if (thread.joinable()) thread.join();
    }
};

struct Exchange {
    int ret = 0, len = -7;
    std::string rcv = std::string(256, '\xEE');
    Lines log, wire;
    double took = 0, cpu = 0, gap = 0;  // seconds the call lasted, CPU it used, between the first two units
};

// One exchange of `frame` against the machine's script.
Exchange RunExchange(bool image, const std::string &frame, std::function<void(Machine &)> script)
{
    Exchange x;
    Machine m(std::move(script));
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    vt::CaptureFd cap(1);
    const double t0 = Now(), c0 = ThreadCpu();
    x.ret = image ? SCK_iSendImage(m.link, buf.data(), static_cast<int>(frame.size()), &x.rcv[0], &x.len)
                  : SCK_iSendRecv(m.link, buf.data(), static_cast<int>(frame.size()), &x.rcv[0], &x.len);
    x.cpu = ThreadCpu() - c0;
    x.took = Now() - t0;
    x.log = vt::LogMessages(cap.Finish());
    m.Join();
    for (const auto &u : m.units) x.wire.push_back(u.first);
    if (m.units.size() >= 2) x.gap = m.units[1].second - m.units[0].second;
    return x;
}

const std::string kStatus = "\x02Y\x03", kStatusWire = "\x02Y\x03\x5A";
const std::string kImage = "\x02M0,3,1,81\x03", kImageWire = kImage + "\x59";
const std::string kAckAnswer = vt::Answer(SCK_ACK);
const std::string kClosingAck = "送信サイズ=  1 電文=[06 ]";

// The command exchange's pauses (1 s, 1.5 s, 1 s) on the real clock.
TEST(LinkOnTheRealClock, CommandPauses)
{
    std::string high;
    for (int i = 0; i < 200; i++) high.push_back(static_cast<char>(0x80 + i));
    Exchange x = RunExchange(false, kStatus, [&](Machine &m) {
        if (m.Take()) m.Send(kAckAnswer + high);
        m.Take();
    });
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
                            RecvDump(200, high), "受信結果=0", kClosingAck, "送信成功"}));
    EXPECT_EQ(x.wire, (Lines{kStatusWire, "\x06"}));
    EXPECT_EQ(x.len, 200);
    EXPECT_EQ(x.rcv.substr(0, 200), high);
    EXPECT_GE(x.gap, 2.4);
    EXPECT_LT(x.gap, 6.0);
    EXPECT_GE(x.took, 3.4);
}

// The image exchange's windows watched with poll: a first reply 0.8 s late
// and a result 2.5 s after it are both still taken.
TEST(LinkOnTheRealClock, ImageWindows)
{
    const std::string result = "000000000000200010000000";
    Exchange x = RunExchange(true, kImage, [&](Machine &m) {
        if (!m.Take()) return;
        m.Wait(800), m.Send(kAckAnswer), m.Wait(2500), m.Send(result), m.Take();
    });
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.log, (Lines{"イメージ送信成功", "<ACK>受信", kClosingAck, "送信成功"}));
    EXPECT_EQ(x.wire, (Lines{kImageWire, "\x06"}));
    EXPECT_EQ(x.len, 256);
    EXPECT_EQ(x.rcv, result + std::string(256 - result.size(), '\0'));
    EXPECT_GE(x.gap, 3.2);
}

// The machine takes the frame and hangs up: every read from then on comes
// back empty at once. The window is still waited out, quietly, not spun.
TEST(ImageExchange, MachineClosingDoesNotTurnTheWindowIntoASpin)
{
    Exchange x = RunExchange(true, kImage, [](Machine &m) {
        m.Take();
        shutdown(m.fd, SHUT_RDWR);
    });
    EXPECT_TRUE(x.ret == -10 || x.ret == -1) << x.ret;  // the second send may or may not get out
    ASSERT_GE(x.log.size(), 2u);
    EXPECT_EQ(Lines(x.log.begin(), x.log.begin() + 2), (Lines{"イメージ送信成功", "× 受信失敗リトライ"}));
    EXPECT_GE(x.took, 0.95);
    EXPECT_LT(x.cpu, 0.3);
}

// A signal that does not ask for a stop (the handler returns) interrupts the
// pause or the poll under way; the wait goes on for the time it had left.
TEST(SignalWithoutStop, LeavesEveryWaitAsLongAsItWas)
{
    for (bool image : {false, true}) {
        Exchange x;
        {
            vt::SignalIn alarm(300, false);
            x = RunExchange(image, image ? kImage : kStatus, [](Machine &m) { m.Take(), m.Take(); });  // never answers
        }
        EXPECT_EQ(x.ret, -10) << image;
        EXPECT_GE(x.took, image ? 1.95 : 5.9) << image;  // two windows of 1 s; two attempts of 1 s + 2 s
        ASSERT_EQ(x.wire.size(), 2u) << image;
        EXPECT_GE(x.gap, image ? 0.95 : 2.95) << image;
    }
}

// A far end that takes nothing: the send gives up after about a second
// rather than hanging the run.
TEST(Send, GivesUpWhenTheFarEndTakesNothingForASecond)
{
    Machine m([](Machine &) {});
    std::string frame = "\x02M" + std::string(1 << 20, 'A') + "\x03";
    frame.push_back(0);
    vt::CaptureFd cap(1);
    const double t0 = Now();
    const int ret = SCK_iSend(m.link, &frame[0], static_cast<int>(frame.size()) - 1);
    const double took = Now() - t0;
    auto log = vt::LogMessages(cap.Finish());
    EXPECT_EQ(ret, -1);
    EXPECT_GE(took, 0.95);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "× SCK_iSend 送信失敗");
}

}  // namespace
