// The printer link where only a real socket will do: the socket line's waits
// on the real clock, a machine that hangs up in a reply window, a far end
// that takes nothing. Each row is a test of its own, so that the suite runs
// them side by side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "peer.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

double ThreadCpu()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Exchange {
    int ret = 0, len = -7;
    std::string rcv = std::string(256, '\xEE');
    Lines log;
    double took = 0, cpu = 0;        // seconds the call lasted, CPU seconds it used
    std::vector<vt::PeerFrame> frames;  // times from the start of the call
    Lines Units() const
    {
        Lines out;
        for (const auto &f : frames) out.push_back(f.bytes);
        return out;
    }
};

// One exchange of `frame` (empty: the receive-only exchange) against the
// peer's script.
Exchange RunExchange(vt::Peer &peer, bool image, const std::string &frame)
{
    Exchange x;
    EXPECT_TRUE(peer.Start());
    int sock = peer.Connect();
    std::string sent = frame.empty() ? "\x02Y\x03" : frame;
    std::vector<char> buf(sent.begin(), sent.end());
    buf.push_back(0);
    const int len = frame.empty() ? 0 : static_cast<int>(frame.size());
    vt::CaptureFd cap(1);
    const double t0 = peer.Now(), c0 = ThreadCpu();
    x.ret = image ? SCK_iSendImage(sock, buf.data(), len, &x.rcv[0], &x.len)
                  : SCK_iSendRecv(sock, buf.data(), len, &x.rcv[0], &x.len);
    x.cpu = ThreadCpu() - c0;
    x.took = peer.Now() - t0;
    x.log = vt::LogMessages(cap.Finish());
    peer.Stop();
    close(sock);
    x.frames = peer.Frames();
    for (auto &f : x.frames) f.at -= t0;
    return x;
}

const std::string kStatus = "\x02Y\x03", kStatusWire = "\x02Y\x03\x5A";
const std::string kImage = "\x02M0,3,1,81\x03", kImageWire = kImage + "\x59";
const std::string kAck = "\x06", kAckAnswer = vt::Peer::Answer(SCK_ACK);
const std::string kResult = "000000000000200010000000";  // a status reply
const std::string kClosingAck = "送信サイズ=  1 電文=[06 ]";

std::string HighBytes(int n)
{
    std::string s;
    for (int i = 0; i < n; i++) s.push_back(static_cast<char>(0x80 + i));
    return s;
}

struct Row {
    const char *name;
    bool image;
    std::function<void(vt::Peer &)> script;
    std::string frame;  // empty: receive only
    int ret;
    Lines log;
    Lines wire;
    std::string result;  // what the caller gets (its start); empty: nothing, length untouched
    double gap_min = 0, gap_max = 99;  // seconds between the first two units on the wire
    double took_min = 0;
};

void PrintTo(const Row &r, std::ostream *os) { *os << r.name; }

class LinkExchange : public ::testing::TestWithParam<Row> {};

TEST_P(LinkExchange, LogWireAndTiming)
{
    const Row &c = GetParam();
    vt::Peer peer;
    c.script(peer);
    Exchange x = RunExchange(peer, c.image, c.frame);
    EXPECT_EQ(x.ret, c.ret);
    EXPECT_EQ(x.log, c.log);
    EXPECT_EQ(x.Units(), c.wire);
    if (c.result.empty()) {
        EXPECT_EQ(x.len, -7);
        EXPECT_EQ(x.rcv, std::string(256, '\xEE'));
    } else {
        EXPECT_EQ(x.len, c.image ? 256 : static_cast<int>(c.result.size()));
        EXPECT_EQ(x.rcv.substr(0, c.result.size()), c.result);
    }
    if (x.frames.size() >= 2) {
        EXPECT_GE(x.frames[1].at - x.frames[0].at, c.gap_min);
        EXPECT_LT(x.frames[1].at - x.frames[0].at, c.gap_max);
    }
    EXPECT_GE(x.took, c.took_min);
    EXPECT_TRUE(peer.Errors().empty());
}

// The socket line's own waits on the real clock: the command exchange's
// pauses (1 s, 1.5 s, 1 s) and the image exchange's windows watched with
// poll. Every rule of the exchanges is shown on the fake line (test_link).
INSTANTIATE_TEST_SUITE_P(
    Link, LinkExchange,
    ::testing::Values(
        Row{"CommandPausesOnTheRealClock", false,
            [](vt::Peer &p) { p.ExpectFrame().Send(kAckAnswer).Send(HighBytes(200)).ExpectFrame(); }, kStatus, 0,
            {SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
             RecvDump(200, HighBytes(200)), "受信結果=0", kClosingAck, "送信成功"},
            {kStatusWire, kAck}, HighBytes(200), 2.4, 6.0, 3.4},
        Row{"ImageWindowsOnTheRealClock", true,
            [](vt::Peer &p) { p.ExpectFrame().Wait(800).Send(kAckAnswer).Wait(2500).Send(kResult).ExpectFrame(); },
            kImage, 0, {"イメージ送信成功", "<ACK>受信", kClosingAck, "送信成功"}, {kImageWire, kAck},
            kResult + std::string(256 - kResult.size(), '\0'), 3.2, 99, 3.2}),
    [](const ::testing::TestParamInfo<Row> &i) { return std::string(i.param.name); });

// The machine takes the frame and hangs up: every read from then on comes
// back empty at once. The window is still waited out, quietly, not spun.
TEST(ImageExchange, MachineClosingDoesNotTurnTheWindowIntoASpin)
{
    vt::Peer peer;
    peer.ExpectFrame().Close();
    Exchange x = RunExchange(peer, true, kImage);
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
        vt::Peer peer;  // takes the frames and never answers
        peer.ExpectFrame().ExpectFrame();
        Exchange x;
        {
            vt::SignalIn alarm(300, false);
            x = RunExchange(peer, image, image ? kImage : kStatus);
        }
        EXPECT_EQ(x.ret, -10) << image;
        EXPECT_GE(x.took, image ? 1.95 : 5.9) << image;  // two windows of 1 s; two attempts of 1 s + 2 s
        ASSERT_EQ(x.frames.size(), 2u) << image;
        EXPECT_GE(x.frames[1].at - x.frames[0].at, image ? 0.95 : 2.95) << image;
    }
}

// A far end that takes nothing: the send gives up after about a second
// rather than hanging the run.
TEST(Send, GivesUpWhenTheFarEndTakesNothingForASecond)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string frame = "\x02M" + std::string(1 << 20, 'A') + "\x03";
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    vt::CaptureFd cap(1);
    auto t0 = std::chrono::steady_clock::now();
    int ret = SCK_iSend(fds[0], buf.data(), static_cast<int>(frame.size()));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    auto log = vt::LogMessages(cap.Finish());
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(ret, -1);
    EXPECT_GE(took, 0.95);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "× SCK_iSend 送信失敗");
}

}  // namespace
