// The printer link's exchanges where they wait: the command exchange's fixed
// pauses and the image exchange's reply windows, against a scripted machine.
// Each case is its own test so that the suite runs them side by side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

enum Kind { kCommandExchange, kImageExchange };

struct Exchange {
    int ret = 0;
    int len = -7;
    std::string rcv;
    Lines log;
    double took = 0;   // seconds the call lasted
    double cpu = 0;    // CPU seconds this thread used in it
    std::vector<vt::PeerFrame> frames;
};

double ThreadCpu()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs one exchange of `frame` (length send_len through ETX; -1: all of it)
// against the peer's script and collects what happened on both sides.
Exchange RunExchange(vt::Peer &peer, Kind kind, const std::string &frame, int send_len = -1, bool script_first = false)
{
    Exchange x;
    EXPECT_TRUE(peer.Start());
    int sock = peer.Connect();
    EXPECT_GE(sock, 0);
    if (script_first) {
        EXPECT_TRUE(peer.WaitDone());
    }
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    x.rcv.assign(256, '\xEE');
    int len = send_len < 0 ? static_cast<int>(frame.size()) : send_len;
    vt::CaptureFd cap(1);
    const double t0 = peer.Now();
    const double c0 = ThreadCpu();
    x.ret = kind == kCommandExchange ? SCK_iSendRecv(sock, buf.data(), len, &x.rcv[0], &x.len)
                             : SCK_iSendImage(sock, buf.data(), len, &x.rcv[0], &x.len);
    x.cpu = ThreadCpu() - c0;
    x.took = peer.Now() - t0;
    x.log = vt::LogMessages(cap.Finish());
    peer.Stop();
    close(sock);
    x.frames = peer.Frames();
    for (auto &f : x.frames) {
        f.at -= t0;  // seconds from the start of the call
    }
    return x;
}

std::vector<std::string> Bytes(const std::vector<vt::PeerFrame> &frames)
{
    std::vector<std::string> out;
    for (const auto &f : frames) out.push_back(f.bytes);
    return out;
}

const std::string kStatus = "\x02Y\x03";
const std::string kStatusWire = "\x02Y\x03\x5A";
const std::string kAck = "\x06";
const std::string kAckAnswer = vt::Peer::Answer(SCK_ACK);
const std::string kNakAnswer = vt::Peer::Answer(SCK_NAK);
const std::string kDleAnswer = vt::Peer::Answer(SCK_DLE);
const std::string kResult = "000000000000200010000000";  // a status reply

// ---- command exchange -------------------------------------------------------

TEST(CommandExchange, AckResultAndClosingAck)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kAckAnswer).Send(kResult).ExpectFrame();
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.len, static_cast<int>(kResult.size()));
    EXPECT_EQ(x.rcv.substr(0, kResult.size()), kResult);
    EXPECT_EQ(x.rcv.substr(kResult.size()), std::string(256 - kResult.size(), '\xEE'));
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
                            RecvDump(24, kResult), "受信結果=0", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    ASSERT_EQ(Bytes(x.frames), (Lines{kStatusWire, kAck}));
    // 1 s to the first reply, 1.5 s to the result; not the card output's 7 s
    EXPECT_GE(x.frames[1].at - x.frames[0].at, 2.4);
    EXPECT_LT(x.frames[1].at - x.frames[0].at, 6.0);
    EXPECT_GE(x.took, 3.4);  // and 1 s after the closing ACK
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, NakTwiceSendsTheFrameTwiceAndGivesUp)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kNakAnswer).ExpectFrame().Send(kNakAnswer);
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, -10);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(10, kNakAnswer), "受信結果=0",
                            SendDump(kStatusWire), "送信成功", RecvDump(10, kNakAnswer), "受信結果=0"}));
    ASSERT_EQ(Bytes(x.frames), (Lines{kStatusWire, kStatusWire}));
    EXPECT_GE(x.frames[1].at - x.frames[0].at, 2.9);  // 1 s, then 2 s after the NAK
    EXPECT_GE(x.took, 5.9);
    EXPECT_EQ(x.len, -7);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, SilenceThenAGoodAnswer)
{
    vt::Peer peer;
    peer.ExpectFrame().ExpectFrame().Send(kAckAnswer).Send(kResult).ExpectFrame();
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(-1), "受信結果=-1", "× 受信失敗リトライ",
                            SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
                            RecvDump(24, kResult), "受信結果=0", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kStatusWire, kStatusWire, kAck}));
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, OneByteFirstReplyIsAnUnknownCode)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kAck).ExpectFrame().Send(kAck);
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, -10);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(1, kAck), "受信結果=0", "× 不明コード",
                            SendDump(kStatusWire), "送信成功", RecvDump(1, kAck), "受信結果=0", "× 不明コード"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kStatusWire, kStatusWire}));
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, DleEndsAtOnceWithoutClosingAck)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kDleAnswer).Send(kResult);
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, -3);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(10, kDleAnswer), "受信結果=0"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kStatusWire}));
    EXPECT_EQ(x.len, -7);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, NoResultReplyIsMinusFiveAndNothingMoreIsSent)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kAckAnswer);
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, -5);
    EXPECT_EQ(x.log, (Lines{SendDump(kStatusWire), "送信成功", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
                            RecvDump(-1), "受信結果=-1"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kStatusWire}));
    EXPECT_EQ(x.len, -7);
    EXPECT_EQ(x.rcv, std::string(256, '\xEE'));
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, ResultOf200BytesIsDeliveredWhole)
{
    std::string result;
    for (int i = 0; i < 200; i++) result.push_back(static_cast<char>(0x80 + i));
    vt::Peer peer;
    peer.ExpectFrame().Send(kAckAnswer).Send(result).ExpectFrame();
    auto x = RunExchange(peer, kCommandExchange, kStatus);
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.len, 200);
    EXPECT_EQ(x.rcv.substr(0, 200), result);
    ASSERT_GE(x.log.size(), 6u);
    EXPECT_EQ(x.log[5], RecvDump(200, result));
    EXPECT_TRUE(peer.Errors().empty());
}

void ExpectCardOutputWait(const std::string &frame)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kAckAnswer).Send(kResult).ExpectFrame();
    auto x = RunExchange(peer, kCommandExchange, frame);
    EXPECT_EQ(x.ret, 0);
    ASSERT_EQ(x.frames.size(), 2u);
    EXPECT_EQ(x.frames[1].bytes, kAck);
    EXPECT_GE(x.frames[1].at - x.frames[0].at, 7.9);  // 1 s, then 7 s for the card
    EXPECT_GE(x.took, 8.9);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(CommandExchange, AppendCardOutputWaitsSevenSeconds) { ExpectCardOutputWait("\x02G1\x03"); }

TEST(CommandExchange, RewriteCardOutputWaitsSevenSeconds) { ExpectCardOutputWait("\x02" "F1\x03"); }

TEST(CommandExchange, SendAfterTheMachineClosedIsMinusOne)
{
    vt::Peer peer;
    peer.Close();
    auto x = RunExchange(peer, kCommandExchange, kStatus, -1, true);
    // Still here: the dropped connection did not end the process.
    EXPECT_EQ(x.ret, -1);
    ASSERT_FALSE(x.log.empty());
    EXPECT_EQ(x.log.back(), "× SCK_iSend 送信失敗");
    EXPECT_EQ(x.log.front(), SendDump(kStatusWire));
}

TEST(CommandExchange, ReceiveOnlyWithNothingComing)
{
    vt::Peer peer;
    auto x = RunExchange(peer, kCommandExchange, kStatus, 0);
    EXPECT_EQ(x.ret, -10);
    EXPECT_EQ(x.log, (Lines{RecvDump(-1), "受信結果=-1", "× 受信失敗リトライ", "× 送信失敗リトライ"}));
    EXPECT_TRUE(x.frames.empty());
    EXPECT_GE(x.took, 4.9);  // 1 s, 2 s, 2 s
}

TEST(CommandExchange, ReceiveOnlyReadsAgainAfterNak)
{
    vt::Peer peer;
    // The NAK is waiting at the first read (1 s); the ACK comes before the
    // second read (1 + 2 + 1 s), the result before the result read.
    peer.Send(kNakAnswer).Wait(2000).Send(kAckAnswer).Wait(1500).Send(kResult).ExpectFrame();
    auto x = RunExchange(peer, kCommandExchange, kStatus, 0);
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.log, (Lines{RecvDump(10, kNakAnswer), "受信結果=0", RecvDump(10, kAckAnswer), "受信結果=0", "<ACK>受信",
                            RecvDump(24, kResult), "受信結果=0", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kAck}));
    EXPECT_EQ(x.len, 24);
    EXPECT_TRUE(peer.Errors().empty());
}

// ---- image exchange ---------------------------------------------------------

const std::string kImageFrame = "\x02M0,3,1,81\x03";
const std::string kImageWire = kImageFrame + "\x59";

TEST(ImageExchange, NoFirstReplySendsTheSameFrameAgainAfterTheWindow)
{
    vt::Peer peer;
    peer.ExpectFrame().ExpectFrame();
    auto x = RunExchange(peer, kImageExchange, kImageFrame);
    EXPECT_EQ(x.ret, -10);
    EXPECT_EQ(x.log, (Lines{"イメージ送信成功", "× 受信失敗リトライ", "イメージ送信成功", "× 受信失敗リトライ"}));
    ASSERT_EQ(Bytes(x.frames), (Lines{kImageWire, kImageWire}));
    EXPECT_GE(x.frames[1].at - x.frames[0].at, 0.95);
    EXPECT_GE(x.took, 1.95);
    EXPECT_LT(x.cpu, 0.3) << "the windows are waited out, not spun";
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(ImageExchange, LateFirstReplyInsideTheWindowIsTaken)
{
    vt::Peer peer;
    peer.ExpectFrame().Wait(800).Send(kAckAnswer).Wait(2500).Send(kResult).ExpectFrame();
    auto x = RunExchange(peer, kImageExchange, kImageFrame);
    EXPECT_EQ(x.ret, 0);
    EXPECT_EQ(x.log, (Lines{"イメージ送信成功", "<ACK>受信", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kImageWire, kAck}));
    EXPECT_EQ(x.rcv, kResult + std::string(256 - kResult.size(), '\0'));
    EXPECT_EQ(x.len, 256);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(ImageExchange, AckWithoutResultIsMinusFiveAfterTheWindow)
{
    vt::Peer peer;
    peer.ExpectFrame().Send(kAckAnswer);
    auto x = RunExchange(peer, kImageExchange, kImageFrame);
    EXPECT_EQ(x.ret, -5);
    EXPECT_EQ(x.log, (Lines{"イメージ送信成功", "<ACK>受信"}));
    EXPECT_EQ(Bytes(x.frames), (Lines{kImageWire}));
    EXPECT_GE(x.took, 3.45);
    EXPECT_LT(x.cpu, 0.3);
    EXPECT_EQ(x.len, -7);
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(ImageExchange, MachineClosingDoesNotTurnTheWindowIntoASpin)
{
    // The machine takes the frame and hangs up: every read from then on comes
    // back empty at once. The window must still be waited out quietly.
    vt::Peer peer;
    peer.ExpectFrame().Close();
    auto x = RunExchange(peer, kImageExchange, kImageFrame);
    EXPECT_TRUE(x.ret == -10 || x.ret == -1) << x.ret;
    ASSERT_GE(x.log.size(), 2u);
    EXPECT_EQ(x.log[0], "イメージ送信成功");
    EXPECT_EQ(x.log[1], "× 受信失敗リトライ");
    EXPECT_GE(x.took, 0.95);
    EXPECT_LT(x.cpu, 0.3);
}

TEST(ImageExchange, SendAfterTheMachineClosedIsMinusOne)
{
    vt::Peer peer;
    peer.Close();
    auto x = RunExchange(peer, kImageExchange, kImageFrame, -1, true);
    EXPECT_EQ(x.ret, -1);
    ASSERT_FALSE(x.log.empty());
    EXPECT_EQ(x.log.back(), "× SCK_iSendImage 送信失敗");
    EXPECT_LT(x.cpu, 0.3);
}

// ---- a send that cannot get rid of its frame ---------------------------------

TEST(Send, GivesUpWhenTheFarEndTakesNothingForASecond)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string frame = "\x02M" + std::string(1 << 20, 'A') + "\x03";
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    vt::CaptureFd cap(1);
    const double c0 = ThreadCpu();
    auto t0 = std::chrono::steady_clock::now();
    int ret = SCK_iSend(fds[0], buf.data(), static_cast<int>(frame.size()));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double cpu = ThreadCpu() - c0;
    auto log = vt::LogMessages(cap.Finish());
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(ret, -1);
    EXPECT_GE(took, 0.95);
    EXPECT_LT(cpu, 0.5);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "× SCK_iSend 送信失敗");
}

}  // namespace
