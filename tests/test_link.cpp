// The printer link where nothing has to be waited out: frames and their block
// check on the wire with their dump lines, receives, and connecting.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fakeline.h"
#include "link.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

// A connected, non-blocking pair of stream sockets: the link's end and the far end.
struct Pair {
    int link = -1, far = -1;
    Pair()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0) {
            link = fds[0];
            far = fds[1];
        }
    }
    ~Pair()
    {
        close(link);
        close(far);
    }
    static std::string Waiting(int fd)
    {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }
};

std::vector<char> Buffer(const std::string &frame)
{
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back('\xEE');  // room for the block check
    return buf;
}

// The block check is the XOR from the letter through ETX; it goes out like any
// byte, 0x00 included. The closing ACK is a single byte without one.
TEST(Send, FrameWithItsBlockCheckOnTheWireAndInTheLog)
{
    struct Case {
        const char *frame;
        const char *wire;
    } cases[] = {
        {"02 59 03", "02 59 03 5A"},
        {"02 40 03", "02 40 03 43"},
        {"02 49 03", "02 49 03 4A"},
        {"02 31 32 03", "02 31 32 03 00"},
        {"02 46 31 03", "02 46 31 03 74"},
        {"02 4D 8A 03", "02 4D 8A 03 C4"},
        {"02 51", "02 51 51"},  // two bytes: the check equals the second
        {"06", "06"},
    };
    for (const auto &c : cases) {
        Pair p;
        auto buf = Buffer(vt::Hex(c.frame));
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iSend(p.link, buf.data(), static_cast<int>(buf.size()) - 1), 0);
        EXPECT_EQ(vt::LogMessages(cap.Finish()), (Lines{SendDump(vt::Hex(c.wire)), "送信成功"}));
        EXPECT_EQ(vt::ToHex(Pair::Waiting(p.far)), c.wire);
    }
}

// A frame far larger than the socket takes at once goes out in pieces while
// the far end reads slowly, whole, with one dump line of any length.
TEST(Send, LongFrameGoesOutWholeAndIsDumpedWhole)
{
    Pair p;
    int small = 4096;
    setsockopt(p.link, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string frame = "\x02M";
    for (int i = 0; i < 300000; i++) frame.push_back("0123456789ABCDEF"[i % 16]);
    frame.push_back('\x03');
    auto buf = Buffer(frame);
    std::string got;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < buf.size() && std::chrono::steady_clock::now() < until) {
            got += Pair::Waiting(p.far);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    vt::CaptureFd cap(1);
    int ret = SCK_iSend(p.link, buf.data(), static_cast<int>(frame.size()));
    auto log = vt::LogMessages(cap.Finish());
    reader.join();
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(got, std::string(buf.begin(), buf.end()));
    EXPECT_EQ(log, (Lines{SendDump(got), "送信成功"}));
}

// A machine that has closed the line makes a failed send in both exchanges,
// never the end of the process by SIGPIPE.
TEST(Send, ClosedFarEndIsAFailedSend)
{
    for (bool image : {false, true}) {
        Pair p;
        close(p.far);
        p.far = -1;
        auto buf = Buffer("\x02Y\x03");
        char rcv[256];
        int len = 0;
        vt::CaptureFd cap(1);
        int ret =
            image ? SCK_iSendImage(p.link, buf.data(), 3, rcv, &len) : SCK_iSendRecv(p.link, buf.data(), 3, rcv, &len);
        auto log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(ret, -1);
        const Lines want =
            image ? Lines{"× SCK_iSendImage 送信失敗"} : Lines{SendDump("\x02Y\x03\x5A"), "× SCK_iSend 送信失敗"};
        EXPECT_EQ(log, want);
    }
}

TEST(Recv, ResultsCountsAndLogLines)
{
    enum Setup { kNothing, kTwoBytes, kTwelveBytes, kClosed, kNotASocket, kNoRoom };
    struct Case {
        Setup setup;
        int ret, len_after;  // len_after 10: unchanged
        Lines log;
        std::string left;  // still waiting afterwards
    } cases[] = {
        {kNothing, -1, 10, {"受信サイズ= -1 電文=[]", "受信結果=-1"}, ""},
        {kTwoBytes, 0, 2, {"受信サイズ=  2 電文=[06 8A ]", "受信結果=0"}, ""},
        {kTwelveBytes, 0, 10, {"受信サイズ= 10 電文=[30 31 32 33 34 35 36 37 38 39 ]", "受信結果=0"}, "AB"},
        {kClosed, -3, 0, {"受信サイズ=  0 電文=[]", "受信結果=-3"}, ""},
        {kNotASocket, -2, 10, {"受信サイズ= -1 電文=[]", "ErrNo[" + std::to_string(ENOTSOCK) + "]", "受信結果=-2"}, ""},
        // No room to receive into: nothing is taken off the socket.
        {kNoRoom, -2, 0, {"受信サイズ= -1 電文=[]", "ErrNo[" + std::to_string(EINVAL) + "]", "受信結果=-2"}, "AB"},
    };
    for (const auto &c : cases) {
        Pair p;
        int fd = p.link, fds[2] = {-1, -1};
        int len = c.setup == kNoRoom ? 0 : 10;
        if (c.setup == kNoRoom) send(p.far, "AB", 2, 0);
        if (c.setup == kTwoBytes) send(p.far, "\x06\x8A", 2, 0);
        if (c.setup == kTwelveBytes) send(p.far, "0123456789AB", 12, 0);
        if (c.setup == kClosed) close(p.far), p.far = -1;
        if (c.setup == kNotASocket && pipe(fds) == 0) fd = fds[0];
        char buf[16] = {};
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iRecv(fd, buf, &len, 0), c.ret) << c.setup;
        EXPECT_EQ(vt::LogMessages(cap.Finish()), c.log) << c.setup;
        EXPECT_EQ(len, c.len_after) << c.setup;
        EXPECT_EQ(Pair::Waiting(p.link), c.left) << c.setup;
        close(fds[0]);
        close(fds[1]);
    }
}

TEST(Open, FailuresCloseTheSocketAndLogNothing)
{
    const int closed_port = vt::ClosedPort();
    const std::string host63 = std::string(58, '0') + "177.1";  // 127.0.0.1 in octal, padded
    struct Case {
        const char *host;
        int port, want;
    } cases[] = {
        {"no-such-host.invalid", 9, -2},   {nullptr, 9, -2},
        {"127.0.0.1", closed_port, -3},    {"localhost", closed_port + 65536, -3},  // the port is taken to 16 bits
        {host63.c_str(), closed_port, -3},                                          // a host of 63 bytes is taken whole
    };
    for (const auto &c : cases) {
        int sock = -99;
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iOpen(&sock, c.host, c.port), c.want) << (c.host ? c.host : "(null)");
        EXPECT_EQ(cap.Finish(), "");
        EXPECT_EQ(fcntl(sock, F_GETFD), -1) << "socket left open";
    }
}

// On connecting, what the machine has already sent is taken off, at most one
// read of 256 bytes; the socket is left exactly O_NONBLOCK.
TEST(Open, TakesOffAtMost256WaitingBytes)
{
    std::string greeting;
    for (int i = 0; i < 300; i++) greeting.push_back(static_cast<char>(0x80 + i % 100));
    for (bool waiting : {false, true}) {
        vt::Listener machine;
        std::thread greet([&] {  // the machine's end: says its greeting and holds the line until joined
            const int fd = machine.Accept();
            if (waiting) send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
            char c;
            recv(fd, &c, 1, 0);
            close(fd);
        });
        int sock = -1;
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iOpen(&sock, "127.0.0.1", machine.Port() + 65536), 0);  // (no ASSERT: the thread is joined below)
        auto log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(fcntl(sock, F_GETFL) & ~O_ACCMODE, O_NONBLOCK);
        if (waiting) {
            EXPECT_EQ(log,
                      (Lines{RecvDump(256, greeting.substr(0, 256)), "受信結果=0", "オープン時のバッファクリア終了"}));
            char buf[512];
            EXPECT_EQ(recv(sock, buf, sizeof buf, 0), 44);
        } else {
            EXPECT_EQ(log, (Lines{RecvDump(-1), "受信結果=-1", "オープン時のバッファクリア終了"}));
        }
        EXPECT_EQ(SCK_iClose(sock), 0);
        greet.join();
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The exchanges' rules on a scripted machine with a fake clock: every answer
// code, silence, short and late replies, a dead line, the attempts, the
// left-overs, the exact log and the exact pauses, in microseconds of real time.

namespace {

// The block check worked out here: XOR of every byte after STX.
std::string Sealed(const std::string &frame)
{
    char bcc = 0;
    for (size_t i = 1; i < frame.size(); i++) bcc ^= frame[i];
    return frame + bcc;
}

const std::string kY = "\x02Y\x03", kG = "\x02G1\x03",
                  kF = "\x02"
                       "F1\x03",
                  kM = "\x02M0,3,1,81\x03";
const std::string kAckAns = vt::Answer(SCK_ACK), kNakAns = vt::Answer(SCK_NAK);
const std::string kDleAns = vt::Answer(SCK_DLE), kOddAns = vt::Answer('X');
const std::string kRes = "000000000000100000000000";  // a status reply, 24 bytes
const std::string kAckByte = "\x06";
const std::string kAckLine = "送信サイズ=  1 電文=[06 ]";

// What the machine sends: `bytes`, `ms` after the unit-th unit it received
// (1-based; 0: counted from the start, i.e. already on its way).
struct Say {
    int unit, ms;
    std::string bytes;
};

struct Outcome {
    int ret = 0, len = -7;
    std::string rcv = std::string(256, '\xEE');
    vt::FakeLine line;
};

// One exchange of `frame` (empty: receive only) on a machine that says `script`.
void Exchange(Outcome *r, bool image, const std::string &frame, const std::vector<Say> &script)
{
    for (const Say &s : script)
        if (s.unit == 0) r->line.Deliver(s.bytes, s.ms * 1000LL);
    r->line.on_unit = [script](vt::FakeLine &l, const std::string &) {
        for (const Say &s : script)
            if (s.unit == static_cast<int>(l.units.size())) l.ReplyIn(s.ms, s.bytes);
    };
    std::string buf = (frame.empty() ? kY : frame) + '\xEE';
    const int len = frame.empty() ? 0 : static_cast<int>(frame.size());
    r->ret = image ? LNK_iSendImage(r->line.Line(), &buf[0], len, &r->rcv[0], &r->len)
                   : LNK_iSendRecv(r->line.Line(), &buf[0], len, &r->rcv[0], &r->len);
}

std::vector<long long> Ms(const std::vector<long long> &us)
{
    std::vector<long long> out;
    for (long long u : us) out.push_back(u % 1000 == 0 ? u / 1000 : -u);  // -µs: not whole ms
    return out;
}

Lines Sent(const std::string &frame) { return {SendDump(Sealed(frame)), "送信成功"}; }
Lines Got(const std::string &bytes) { return {RecvDump(static_cast<int>(bytes.size()), bytes), "受信結果=0"}; }
const Lines kNothing = {RecvDump(-1), "受信結果=-1"};
const Lines kClosing = {kAckLine, "送信成功"};
Lines operator+(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Rule {
    const char *name;
    std::string frame;  // empty: receive only
    std::vector<Say> script;
    int ret;
    Lines log;
    Lines wire;
    std::vector<long long> pauses_ms;
    std::string result;  // delivered result reply; empty: caller's buffer untouched
    int fail_sends_from = 0;
    long long close_at = -1;
};

TEST(CommandExchange, EveryRuleWithItsLogAndPauses)
{
    const Lines ackTaken = Got(kAckAns) + Lines{"<ACK>受信"} + Got(kRes) + kClosing;
    const std::string late = kAckAns + kRes;
    const Rule rules[] = {
        {"ack",
         kY,
         {{1, 5, kAckAns}, {1, 20, kRes}},
         0,
         Sent(kY) + ackTaken,
         {Sealed(kY), kAckByte},
         {1000, 1500, 1000},
         kRes},
        {"result of 200 bytes whole",
         kY,
         {{1, 5, kAckAns}, {1, 20, std::string(200, '\x9A')}},
         0,
         Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} + Got(std::string(200, '\x9A')) + kClosing,
         {Sealed(kY), kAckByte},
         {1000, 1500, 1000},
         std::string(200, '\x9A')},
        {"card output G waits 7 s",
         kG,
         {{1, 5, kAckAns}, {1, 6000, kRes}},
         0,
         Sent(kG) + ackTaken,
         {Sealed(kG), kAckByte},
         {1000, 7000, 1000},
         kRes},
        {"card output F waits 7 s",
         kF,
         {{1, 5, kAckAns}, {1, 6000, kRes}},
         0,
         Sent(kF) + ackTaken,
         {Sealed(kF), kAckByte},
         {1000, 7000, 1000},
         kRes},
        {"nak twice",
         kY,
         {{1, 5, kNakAns}, {2, 5, kNakAns}},
         -10,
         Sent(kY) + Got(kNakAns) + Sent(kY) + Got(kNakAns),
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
        {"nak then ack",
         kY,
         {{1, 5, kNakAns}, {2, 5, kAckAns}, {2, 20, kRes}},
         0,
         Sent(kY) + Got(kNakAns) + Sent(kY) + ackTaken,
         {Sealed(kY), Sealed(kY), kAckByte},
         {1000, 2000, 1000, 1500, 1000},
         kRes},
        {"dle ends at once",
         kY,
         {{1, 5, kDleAns}, {1, 20, kRes}},
         -3,
         Sent(kY) + Got(kDleAns),
         {Sealed(kY)},
         {1000},
         ""},
        {"unknown code twice",
         kY,
         {{1, 5, kOddAns}, {2, 5, kOddAns}},
         -10,
         Sent(kY) + Got(kOddAns) + Lines{"× 不明コード"} + Sent(kY) + Got(kOddAns) + Lines{"× 不明コード"},
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
        {"one-byte first reply is unknown",
         kY,
         {{1, 5, kAckByte}, {2, 5, kAckByte}},
         -10,
         Sent(kY) + Got(kAckByte) + Lines{"× 不明コード"} + Sent(kY) + Got(kAckByte) + Lines{"× 不明コード"},
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
        {"silence",
         kY,
         {},
         -10,
         Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"} + Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"},
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
        {"silence then a good answer",
         kY,
         {{2, 5, kAckAns}, {2, 20, kRes}},
         0,
         Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"} + Sent(kY) + ackTaken,
         {Sealed(kY), Sealed(kY), kAckByte},
         {1000, 2000, 1000, 1500, 1000},
         kRes},
        // A first reply 1.5 s late comes between the first read (1 s) and the
        // retry's (4 s): the retry takes it, and the result phase follows.
        {"first reply 1.5 s late, once",
         kY,
         {{1, 1500, kAckAns}, {1, 1600, kRes}},
         0,
         Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"} + Sent(kY) + ackTaken,
         {Sealed(kY), Sealed(kY), kAckByte},
         {1000, 2000, 1000, 1500, 1000},
         kRes},
        // Late on every receipt: the repeat's answer is waiting by the result read and comes with it.
        {"first reply 1.5 s late, every time",
         kY,
         {{1, 1500, late}, {2, 1500, late}},
         0,
         Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"} + Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} +
             Got(kRes + late) + kClosing,
         {Sealed(kY), Sealed(kY), kAckByte},
         {1000, 2000, 1000, 1500, 1000},
         kRes + late},
        {"first reply 4.5 s late",
         kY,
         {{1, 4500, late}},
         -10,
         Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"} + Sent(kY) + kNothing + Lines{"× 受信失敗リトライ"},
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
        {"no result",
         kY,
         {{1, 5, kAckAns}},
         -5,
         Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} + kNothing,
         {Sealed(kY)},
         {1000, 1500},
         ""},
        {"result after the 1.5 s",
         kY,
         {{1, 5, kAckAns}, {1, 2600, kRes}},
         -5,
         Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} + kNothing,
         {Sealed(kY)},
         {1000, 1500},
         ""},
        {"frame send fails", kY, {}, -1, {SendDump(Sealed(kY)), "× SCK_iSend 送信失敗"}, {}, {}, "", 1},
        {"closing ack send fails",
         kY,
         {{1, 5, kAckAns}, {1, 20, kRes}},
         -1,
         Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} + Got(kRes) + Lines{kAckLine, "× SCK_iSend 送信失敗"},
         {Sealed(kY)},
         {1000, 1500, 1000},
         kRes,
         2},
        // The machine drops the line after the frame: the read finds it
        // closed, and the repeat cannot be sent.
        {"line dropped",
         kY,
         {},
         -1,
         Sent(kY) +
             Lines{RecvDump(0), "受信結果=-3", "× 受信失敗リトライ", SendDump(Sealed(kY)), "× SCK_iSend 送信失敗"},
         {Sealed(kY)},
         {1000, 2000},
         "",
         0,
         500000},
        {"receive only, nothing comes",
         "",
         {},
         -10,
         kNothing + Lines{"× 受信失敗リトライ", "× 送信失敗リトライ"},
         {},
         {1000, 2000, 2000},
         ""},
        {"receive only, nak then ack",
         "",
         {{0, 0, kNakAns}, {0, 3500, kAckAns}, {0, 4000, kRes}},
         0,
         Got(kNakAns) + ackTaken,
         {kAckByte},
         {1000, 2000, 1000, 1500, 1000},
         kRes},
        // Bytes already waiting belong to earlier exchanges: taken off (and
        // dumped) before the frame, never read as its answer.
        {"left-overs before the first attempt",
         kY,
         {{0, 0, late}, {1, 5, kNakAns}, {2, 5, kNakAns}},
         -10,
         Got(late) + Sent(kY) + Got(kNakAns) + Sent(kY) + Got(kNakAns),
         {Sealed(kY), Sealed(kY)},
         {1000, 2000, 1000, 2000},
         ""},
    };
    for (const Rule &c : rules) {
        Outcome r;
        r.line.fail_sends_from = c.fail_sends_from;
        r.line.close_at = c.close_at;
        Exchange(&r, false, c.frame, c.script);
        EXPECT_EQ(r.ret, c.ret) << c.name;
        EXPECT_EQ(r.line.log, c.log) << c.name;
        EXPECT_EQ(r.line.Units(), c.wire) << c.name;
        EXPECT_EQ(Ms(r.line.pauses), c.pauses_ms) << c.name;
        if (c.result.empty()) {
            EXPECT_EQ(r.len, -7) << c.name;
            EXPECT_EQ(r.rcv, std::string(256, '\xEE')) << c.name;
        } else {
            EXPECT_EQ(r.len, static_cast<int>(c.result.size())) << c.name;
            EXPECT_EQ(r.rcv.substr(0, c.result.size()), c.result) << c.name;
        }
    }
}

// The image exchange: no pauses, two windows (1 s for the first reply, 3.5 s
// for the result), the frame not dumped; the caller gets 256 bytes.
TEST(ImageExchange, EveryRuleWithItsLogAndWindows)
{
    const std::string late = kAckAns + kRes;
    const Lines taken = {"<ACK>受信", kAckLine, "送信成功"};
    const std::string sealed = Sealed(kM);
    struct ImgRule {
        const char *name;
        std::vector<Say> script;
        int ret;
        Lines log;
        Lines wire;
        long long end_us;  // the fake clock when it returned
        bool delivered;
        int fail_sends_from = 0;
        long long close_at = -1;
    } rules[] = {
        {"ack",
         {{1, 100, kAckAns}, {1, 2000, kRes}},
         0,
         Lines{"イメージ送信成功"} + taken,
         {sealed, kAckByte},
         2000000,
         true},
        {"first reply at 0.9 s is taken",
         {{1, 900, kAckAns}, {1, 4300, kRes}},
         0,
         Lines{"イメージ送信成功"} + taken,
         {sealed, kAckByte},
         4300000,
         true},
        {"nak twice, no pause",
         {{1, 5, kNakAns}, {2, 5, kNakAns}},
         -10,
         {"イメージ送信成功", "イメージ送信成功"},
         {sealed, sealed},
         10000,
         false},
        {"unknown code twice",
         {{1, 5, kAckByte}, {2, 5, kOddAns}},
         -10,
         {"イメージ送信成功", "× 不明コード", "イメージ送信成功", "× 不明コード"},
         {sealed, sealed},
         10000,
         false},
        {"dle", {{1, 5, kDleAns}}, -3, {"イメージ送信成功"}, {sealed}, 5000, false},
        {"silence: two windows of 1 s",
         {},
         -10,
         {"イメージ送信成功", "× 受信失敗リトライ", "イメージ送信成功", "× 受信失敗リトライ"},
         {sealed, sealed},
         2002000,
         false},
        {"first reply 1.5 s late: the retry's window takes it",
         {{1, 1500, late}},
         0,
         Lines{"イメージ送信成功", "× 受信失敗リトライ", "イメージ送信成功", "<ACK>受信"} + Lines{kAckLine, "送信成功"},
         {sealed, sealed, kAckByte},
         1500000,
         true},
        {"first reply 4.5 s late",
         {{1, 4500, late}},
         -10,
         {"イメージ送信成功", "× 受信失敗リトライ", "イメージ送信成功", "× 受信失敗リトライ"},
         {sealed, sealed},
         2002000,
         false},
        {"no result within 3.5 s",
         {{1, 5, kAckAns}, {1, 3600, kRes}},
         -5,
         {"イメージ送信成功", "<ACK>受信"},
         {sealed},
         3506000,
         false},
        {"frame send fails", {}, -1, {"× SCK_iSendImage 送信失敗"}, {}, 0, false, 1},
        {"closing ack send fails",
         {{1, 5, kAckAns}, {1, 10, kRes}},
         -1,
         {"イメージ送信成功", "<ACK>受信", kAckLine, "× SCK_iSend 送信失敗"},
         {sealed},
         10000,
         true,
         2},
        // The line closes in the window: the window is sat out, then the repeat cannot go.
        {"line dropped",
         {},
         -1,
         {"イメージ送信成功", "× 受信失敗リトライ", "× SCK_iSendImage 送信失敗"},
         {sealed},
         1000001,
         false,
         0,
         1},
    };
    for (const ImgRule &c : rules) {
        Outcome r;
        r.line.fail_sends_from = c.fail_sends_from;
        r.line.close_at = c.close_at;
        Exchange(&r, true, kM, c.script);
        EXPECT_EQ(r.ret, c.ret) << c.name;
        EXPECT_EQ(r.line.log, c.log) << c.name;
        EXPECT_EQ(r.line.Units(), c.wire) << c.name;
        EXPECT_EQ(r.line.now, c.end_us) << c.name;
        EXPECT_EQ(r.line.pauses, (c.close_at >= 0 ? std::vector<long long>{999999 + 1} : std::vector<long long>{}))
            << c.name;
        if (c.delivered) {
            EXPECT_EQ(r.len, 256) << c.name;
            EXPECT_EQ(r.rcv, kRes + std::string(256 - kRes.size(), '\0')) << c.name;
        } else {
            EXPECT_EQ(r.len, -7) << c.name;
        }
    }
}

// Nothing to send, or nothing that can be sent: a failed send, logged,
// nothing on the line, no waiting.
TEST(BadFrame, IsAFailedSendAndNothingGoesOut)
{
    char frame[8] = "\x02Y\x03";
    struct Case {
        char *buf;
        int len;
        bool image;
        Lines log;
    } cases[] = {
        {nullptr, 3, false, {"× SCK_iSend 送信失敗"}},         {frame, -1, false, {"× SCK_iSend 送信失敗"}},
        {frame, INT_MAX, false, {"× SCK_iSend 送信失敗"}},     {nullptr, 3, true, {"× SCK_iSendImage 送信失敗"}},
        {frame, INT_MAX, true, {"× SCK_iSendImage 送信失敗"}},
    };
    for (const Case &c : cases) {
        vt::FakeLine line;
        char rcv[256];
        int len = -7;
        const int ret =
            c.image ? LNK_iSendImage(line.Line(), c.buf, c.len, rcv, &len) : LNK_iSend(line.Line(), c.buf, c.len);
        EXPECT_EQ(ret, -1) << c.len;
        EXPECT_EQ(line.log, c.log) << c.len;
        EXPECT_TRUE(line.units.empty()) << c.len;
        EXPECT_EQ(line.now, 0) << c.len;
    }
}

// An image exchange with nothing to send only waits for the replies; the
// frame pointer is not even looked at.
TEST(ImageExchange, ReceiveOnly)
{
    vt::FakeLine line;
    line.Deliver(kAckAns, 100000);
    line.Deliver(kRes, 200000);
    char rcv[256];
    int len = -7;
    EXPECT_EQ(LNK_iSendImage(line.Line(), nullptr, 0, rcv, &len), 0);
    EXPECT_EQ(line.log, (Lines{"<ACK>受信", kAckLine, "送信成功"}));
    EXPECT_EQ(line.Units(), (Lines{kAckByte}));
    EXPECT_EQ(len, 256);
    EXPECT_EQ(std::string(rcv, kRes.size()), kRes);
}

// A reply that came after its exchange gave up, and the answer to a repeated
// frame, stay behind: the next exchange takes them off before its first frame
// and reads its own answer.
TEST(Leftovers, TakenOffBeforeTheNextExchangeOnly)
{
    for (bool image : {false, true}) {
        Outcome r;
        const std::string late = kAckAns + kRes;
        const std::string frame = image ? kM : kY;
        // Frame 1 answered 4.5 s late, its repeat not at all; frame 3 (the next exchange) at once.
        Exchange(&r, image, frame, {{1, 4500, late}, {3, 5, kAckAns}, {3, 20, kRes}});
        ASSERT_EQ(r.ret, -10) << image;
        r.line.now += 3000000;  // what waits by the next exchange: the late answer
        r.line.log.clear();
        std::string buf = kG + '\xEE';
        char rcv[256];
        int len = 0;
        EXPECT_EQ(LNK_iSendRecv(r.line.Line(), &buf[0], static_cast<int>(kG.size()), rcv, &len), 0) << image;
        EXPECT_EQ(r.line.log, Got(late) + Sent(kG) + Got(kAckAns) + Lines{"<ACK>受信"} + Got(kRes) + kClosing) << image;
        EXPECT_EQ(std::string(rcv, static_cast<size_t>(len)), kRes) << image;
    }
}

// At most 64 reads of 256 bytes are taken off before a frame: a machine that
// never stops sending still lets the frame go.
TEST(Leftovers, AtMostSixtyFourReads)
{
    Outcome r;
    Exchange(&r, false, kY, {{0, 0, std::string(64 * 256, 'L') + kNakAns}, {1, 5, kNakAns}});
    EXPECT_EQ(r.ret, -10);
    ASSERT_GE(r.line.log.size(), 130u);
    for (size_t i = 0; i < 128; i += 2) EXPECT_EQ(r.line.log[i], RecvDump(256, std::string(256, 'L'))) << i;
    EXPECT_EQ(Lines(r.line.log.begin() + 128, r.line.log.begin() + 132), Sent(kY) + Got(kNakAns));
}

// A stop of the run ends the exchange where it stands: -1, nothing more sent
// or logged; a new exchange sends nothing; once the stop is done the waits
// run in full again.
TEST(Stop, EndsTheExchangeWhereItStands)
{
    struct StopCase {
        const char *name;
        bool image;
        std::string frame;
        long long stop_at;
        int ack_ms;
        Lines log;
        Lines wire;
        std::vector<long long> pauses_ms;
    } cases[] = {
        {"in the 1 s after the frame", false, kY, 500000, 5, Sent(kY), {Sealed(kY)}, {1000}},
        {"in the 2 s after a NAK", false, kY, 2000000, 5, Sent(kY) + Got(kNakAns), {Sealed(kY)}, {1000, 2000}},
        {"in the card's 7 s",
         false,
         kG,
         3000000,
         5,
         Sent(kG) + Got(kAckAns) + Lines{"<ACK>受信"},
         {Sealed(kG)},
         {1000, 7000}},
        {"in the 1 s after the closing ACK",
         false,
         kY,
         3000000,
         5,
         Sent(kY) + Got(kAckAns) + Lines{"<ACK>受信"} + Got(kRes) + kClosing,
         {Sealed(kY), kAckByte},
         {1000, 1500, 1000}},
        {"in the first window", true, kM, 500000, 800, {"イメージ送信成功"}, {Sealed(kM)}, {}},
        {"in the result window", true, kM, 2000000, 5, {"イメージ送信成功", "<ACK>受信"}, {Sealed(kM)}, {}},
    };
    for (const StopCase &c : cases) {
        Outcome r;
        r.line.StopAt(c.stop_at, SIGTERM);
        const bool nak = std::string(c.name).find("NAK") != std::string::npos;
        Exchange(&r, c.image, c.frame,
                 {{1, c.ack_ms, nak ? kNakAns : kAckAns}, {1, c.image ? 2500 : 1400, kRes}, {2, 5, kAckAns}});
        EXPECT_EQ(r.ret, -1) << c.name;
        EXPECT_EQ(SCK_iStopRequested(), SIGTERM) << c.name;
        EXPECT_EQ(r.line.now, c.stop_at) << c.name;
        EXPECT_EQ(r.line.log, c.log) << c.name;
        EXPECT_EQ(r.line.Units(), c.wire) << c.name;
        EXPECT_EQ(Ms(r.line.pauses), c.pauses_ms) << c.name;

        // While the stop stands, a new exchange sends nothing and logs nothing.
        r.line.log.clear();
        std::string buf = kY + '\xEE';
        char rcv[256];
        int len = 0;
        EXPECT_EQ(LNK_iSendRecv(r.line.Line(), &buf[0], 3, rcv, &len), -1) << c.name;
        EXPECT_EQ(LNK_iSendImage(r.line.Line(), &buf[0], 3, rcv, &len), -1) << c.name;
        EXPECT_TRUE(r.line.log.empty()) << c.name;

        // Done: the reset goes through with its full waits.
        SCK_vStopDone();
        EXPECT_EQ(SCK_iStopRequested(), 0);
        vt::FakeLine after;
        after.on_unit = [](vt::FakeLine &l, const std::string &) {
            if (l.units.size() == 1) l.ReplyIn(5, kAckAns), l.ReplyIn(20, kRes);
        };
        EXPECT_EQ(LNK_iSendRecv(after.Line(), &buf[0], 3, rcv, &len), 0) << c.name;
        EXPECT_EQ(Ms(after.pauses), (std::vector<long long>{1000, 1500, 1000})) << c.name;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Building frames, sealing them, dumping them: the pieces the exchanges and
// the commands share.

namespace {

TEST(Frame, LaidOutOrRefused)
{
    struct Case {
        const char *name;
        char letter;
        const char *parm;
        int parm_len, size;
        int want;           // length through ETX, or -1
        const char *bytes;  // what the buffer holds through ETX (hex)
    } cases[] = {
        {"no parameters", 'Y', "", 0, 8, 3, "02 59 03"},
        {"no parameters, no pointer", 'I', nullptr, 0, 8, 3, "02 49 03"},
        {"parameters", '1', "2", 1, 8, 4, "02 31 32 03"},
        {"just fits with its block check", 'Z', "412", 3, 7, 6, "02 5A 34 31 32 03"},
        {"one byte short", 'Z', "412", 3, 6, -1, ""},
        {"ETX in the parameters", 'Z',
         "4\x03"
         "2",
         3, 16, -1, ""},
        {"ETX as the letter", '\x03', "", 0, 16, -1, ""},
        {"negative length", 'Y', "", -1, 16, -1, ""},
        {"parameters without a pointer", 'Y', nullptr, 2, 16, -1, ""},
    };
    for (const Case &c : cases) {
        char buf[16];
        memset(buf, '\xEE', sizeof buf);
        EXPECT_EQ(SCK_iFrame(buf, c.size, c.letter, c.parm, c.parm_len), c.want) << c.name;
        if (c.want > 0) {
            EXPECT_EQ(vt::ToHex(std::string(buf, static_cast<size_t>(c.want))), c.bytes) << c.name;
            EXPECT_EQ(buf[c.want], '\0') << c.name << ": the block check's byte is cleared";
        } else {
            EXPECT_EQ(buf[0], '\xEE') << c.name << ": nothing written";
        }
    }
    EXPECT_EQ(SCK_iFrame(nullptr, 16, 'Y', "", 0), -1);
}

TEST(Frame, BlockCheckInPlace)
{
    struct Case {
        std::string frame;
        int len;
        std::string after;  // the buffer afterwards
    } cases[] = {
        {"\x02Y\x03\xEE", 3, "\x02Y\x03\x5A"},
        {"\x02"
         "12\x03\xEE",
         4,
         std::string("\x02"
                     "12\x03\x00",
                     5)},
        {"\x02Q\xEE", 2, "\x02QQ"},                   // two bytes: the check is the second
        {"\x06\xEE", 1, std::string("\x06\x00", 2)},  // one byte: a zero behind it
        {"\x02Y\x03\xEE", 0, "\x02Y\x03\xEE"},        // nothing to seal
        {"\x02Y\x03\xEE", -4, "\x02Y\x03\xEE"},
    };
    for (const Case &c : cases) {
        std::string buf = c.frame;
        EXPECT_EQ(SCK_iSetBcc(&buf[0], c.len), 0) << vt::ToHex(c.frame);
        EXPECT_EQ(vt::ToHex(buf), vt::ToHex(c.after)) << vt::ToHex(c.frame);
    }
    EXPECT_EQ(SCK_iSetBcc(nullptr, 3), 0);
}

TEST(Frame, DumpLineSizesAndCuts)
{
    const unsigned char data[] = {0x02, 0x59, 0x03, 0x5A};
    const std::string full = SendDump("\x02Y\x03\x5A");
    char out[128];
    EXPECT_EQ(SCK_iDumpLine(out, sizeof out, SCK_DUMP_SEND, 4, data, 4), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(out), full);
    // Sizing only, and a line cut at a small buffer (always terminated).
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 4, data, 4), static_cast<int>(full.size()));
    EXPECT_EQ(SCK_iDumpLine(out, 10, SCK_DUMP_SEND, 4, data, 4), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(out), full.substr(0, 9));
    // No data, or a negative length: the head and "]" only.
    EXPECT_EQ(SCK_iDumpLine(out, sizeof out, SCK_DUMP_RECV, -1, nullptr, 5), static_cast<int>(RecvDump(-1).size()));
    EXPECT_EQ(std::string(out), RecvDump(-1));
    SCK_iDumpLine(out, sizeof out, SCK_DUMP_RECV, 0, data, -3);
    EXPECT_EQ(std::string(out), RecvDump(0));
    // Sizing a line that an int can no longer count: -1 (the bytes are not
    // read when only sizing). A head of 23 bytes ("%3d" of 12345 takes five),
    // three per byte and "]": 24 + 3 * 715827874 = INT_MAX - 1 still counts.
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 12345, data, 715827874), INT_MAX - 1);
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 12345, data, 715827875), -1);
}

// No descriptor left for a socket: -1, and the caller's variable says so.
TEST(Open, NoSocketToBeHad)
{
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    int highest = dup(0);
    close(highest);
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(highest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    int sock = 5;
    const int ret = SCK_iOpen(&sock, "127.0.0.1", 9);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(ret, -1);
    EXPECT_LT(sock, 0);
}

// ---------------------------------------------------------------------------
// The stop on the socket line: a signal that asks for a stop interrupts the
// real pause or poll and ends the exchange there. (That any other signal
// leaves the wait as long as it was is in slow_link.)

TEST(Stop, OnTheSocketLine)
{
    for (bool image : {false, true}) {
        Pair pair;  // the far end takes the frame and never answers
        const int sock = pair.link;
        std::string buf = std::string(image ? kM : kY) + '\xEE';
        const int len = static_cast<int>(buf.size()) - 1;
        char rcv[256];
        int rcv_len = 0;
        vt::CaptureFd cap(1);
        const auto t0 = std::chrono::steady_clock::now();
        int ret;
        {
            vt::SignalIn alarm(300, true);
            ret = image ? SCK_iSendImage(sock, &buf[0], len, rcv, &rcv_len)
                        : SCK_iSendRecv(sock, &buf[0], len, rcv, &rcv_len);
            EXPECT_EQ(SCK_iStopRequested(), SIGALRM);
        }
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const Lines log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(ret, -1) << image;
        EXPECT_LT(took, 0.8) << image;
        EXPECT_EQ(log, image ? Lines{"イメージ送信成功"} : Sent(kY)) << image;
        EXPECT_EQ(Pair::Waiting(pair.far).size(), static_cast<size_t>(len) + 1)
            << image;  // the frame and its check, once
    }
}

}  // namespace
