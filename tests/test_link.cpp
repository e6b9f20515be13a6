// The printer link: frames and their block check, the socket line (sends,
// receives, connecting, a stop), and every rule of the two exchanges on a
// scripted machine with a fake clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fakeline.h"
#include "link.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::RecvDump;
using vt::SendDump;

// The block check worked out here: XOR of every byte after STX.
std::string Sealed(const std::string &frame)
{
    char bcc = 0;
    for (size_t i = 1; i < frame.size(); i++) bcc ^= frame[i];
    return frame + bcc;
}

// ---- frames: laid out, sealed, dumped ----

TEST(Frame, LaidOutOrRefused)
{
    // letter, parameters, their length, buffer size; length through ETX (or -1) and the bytes laid out
    const std::tuple<char, const char *, int, int, int, const char *> cases[] = {
        // clang-format off
        {'Y', "", 0, 8, 3, "02 59 03"}, {'I', nullptr, 0, 8, 3, "02 49 03"}, {'1', "2", 1, 8, 4, "02 31 32 03"},
        {'Z', "412", 3, 7, 6, "02 5A 34 31 32 03"}, {'Z', "412", 3, 6, -1, ""},  // fits with its check; one short
        {'Z', "4\x03", 2, 16, -1, ""}, {'\x03', "", 0, 16, -1, ""},  // an ETX inside
        {'Y', "", -1, 16, -1, ""}, {'Y', nullptr, 2, 16, -1, ""},
    };  // clang-format on
    for (const auto &[letter, parm, parm_len, size, want, bytes] : cases) {
        std::string buf(16, '\xEE');
        EXPECT_EQ(SCK_iFrame(&buf[0], size, letter, parm, parm_len), want) << bytes << size;
        EXPECT_EQ(vt::ToHex(buf.substr(0, want > 0 ? want : 0)), bytes);
        EXPECT_EQ(buf[want > 0 ? want : 0], want > 0 ? '\0' : '\xEE')
            << "block check's byte cleared, else nothing written";
    }
    EXPECT_EQ(SCK_iFrame(nullptr, 16, 'Y', "", 0), -1);
}

TEST(Frame, BlockCheckInPlace)
{
    const std::tuple<const char *, int, const char *> cases[] = {
        // before, length, after
        // clang-format off
        {"02 59 03 EE", 3, "02 59 03 5A"}, {"02 31 32 03 EE", 4, "02 31 32 03 00"}, {"02 4D 8A 03 EE", 4, "02 4D 8A 03 C4"},
        {"02 51 EE", 2, "02 51 51"}, {"06 EE", 1, "06 00"}, {"02 59 03 EE", 0, "02 59 03 EE"}, {"02 59 03 EE", -4, "02 59 03 EE"},
    };  // clang-format on
    for (const auto &[before, len, after] : cases) {
        std::string buf = vt::Hex(before);
        EXPECT_EQ(SCK_iSetBcc(&buf[0], len), 0);
        EXPECT_EQ(vt::ToHex(buf), after) << before;
    }
    EXPECT_EQ(SCK_iSetBcc(nullptr, 3), 0);
}

TEST(Frame, DumpLineSizesAndCuts)
{
    const unsigned char data[] = {0x02, 0x59, 0x03, 0x8A};
    const std::string full = "送信サイズ=  4 電文=[02 59 03 8A ]";
    char out[128];
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 4, data, 4), static_cast<int>(full.size()));
    EXPECT_EQ(SCK_iDumpLine(out, 10, SCK_DUMP_SEND, 4, data, 4), static_cast<int>(full.size()));
    EXPECT_EQ(std::string(out), full.substr(0, 9));        // cut, and terminated
    const std::string nothing = "受信サイズ= -1 電文=[]";  // no data: head and "]"
    EXPECT_EQ(SCK_iDumpLine(out, sizeof out, SCK_DUMP_RECV, -1, nullptr, 5), static_cast<int>(nothing.size()));
    EXPECT_EQ(std::string(out), nothing);
    // Whole "XX " groups only in a small buffer.
    EXPECT_EQ(SCK_iHexDump(out, 8, data + 2, 2), 6);
    EXPECT_EQ(std::string(out), "03 8A ");
    EXPECT_EQ(SCK_iHexDump(out, 6, data + 2, 2), 3);
    // A head of 23 bytes ("%3d" of 12345), three per byte and "]": INT_MAX - 1 still counts.
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 12345, data, 715827874), INT_MAX - 1);
    EXPECT_EQ(SCK_iDumpLine(nullptr, 0, SCK_DUMP_SEND, 12345, data, 715827875), -1);
}

// ---- the socket line ----

// A connected, non-blocking pair of stream sockets: the link's end and the far end.
struct Pair {
    int fd[2] = {-1, -1};
    int &link = fd[0], &far = fd[1];
    Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd); }
    ~Pair() { close(link), close(far); }
};

std::string Waiting(int fd)
{
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) out.append(buf, static_cast<size_t>(n));
    return out;
}

// Sealed and sent whole; a far end that has closed makes a failed send, not SIGPIPE.
TEST(SocketLine, SendsWholeFrames)
{
    {
        Pair p;
        close(p.far), p.far = -1;
        std::string buf = "\x02Y\x03\xEE";
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iSend(p.link, &buf[0], 3), -1);
        EXPECT_EQ(vt::LogMessages(cap.Finish()), (Lines{SendDump("\x02Y\x03\x5A"), "× SCK_iSend 送信失敗"}));
    }
    // Far more than the socket takes at once, while the far end reads slowly: whole, one dump line.
    Pair p;
    int small = 4096;
    setsockopt(p.link, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string frame = "\x02M" + vt::Repeat("0123456789ABCDEF", 20000) + "\x03\xEE", got;
    std::thread reader([&] {
        for (int i = 0; i < 10000 && got.size() < frame.size(); i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            got += Waiting(p.far);
        }
    });
    vt::CaptureFd cap(1);
    EXPECT_EQ(SCK_iSend(p.link, &frame[0], static_cast<int>(frame.size()) - 1), 0);
    const Lines log = vt::LogMessages(cap.Finish());
    reader.join();
    EXPECT_EQ(got, Sealed(frame.substr(0, frame.size() - 1)));
    EXPECT_EQ(log, (Lines{SendDump(got), "送信成功"}));
    EXPECT_EQ(SCK_iClose(p.link), 0);  // a plain close after the card; a line already gone: -1
    EXPECT_EQ(SCK_iClose(p.link), -1);
    p.link = -1;
}

TEST(SocketLine, ReceivesWhatWaits)
{
    // (Nothing waiting is a read of the fake line in every exchange.)
    // what waits, room (*len), far end closed; result, *len after, log, what still waits afterwards
    const std::tuple<const char *, int, bool, int, int, Lines, std::string> cases[] = {
        // clang-format off
        {"\x06\x8A", 10, false, 0, 2, {RecvDump(2, "\x06\x8A"), "受信結果=0"}, ""},
        {"0123456789AB", 10, false, 0, 10, {RecvDump(10, "0123456789"), "受信結果=0"}, "AB"},
        {"", 10, true, -3, 0, {RecvDump(0), "受信結果=-3"}, ""},
        {"AB", 0, false, -2, 0, {RecvDump(-1), "ErrNo[" + std::to_string(EINVAL) + "]", "受信結果=-2"}, "AB"},
    };  // clang-format on
    for (const auto &[say, room, closed, ret, len_after, log, left] : cases) {
        Pair p;
        int len = room;
        send(p.far, say, strlen(say), 0);
        if (closed) close(p.far), p.far = -1;
        char buf[16] = {};
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iRecv(p.link, buf, &len, 0), ret) << say;
        EXPECT_EQ(vt::LogMessages(cap.Finish()), log) << say;
        EXPECT_EQ(len, len_after) << say;
        EXPECT_EQ(Waiting(p.link), left) << say;
    }
}

TEST(SocketLine, OpenFailuresCloseTheSocketAndLogNothing)
{
    const int closed_port = vt::ClosedPort();
    const std::string host63 = std::string(58, '0') + "177.1";  // 127.0.0.1 in octal, 63 bytes taken whole
    const std::tuple<const char *, int, int> cases[] = {
        // clang-format off
        {"no-such-host.invalid", 9, -2}, {nullptr, 9, -2},
        {"127.0.0.1", closed_port, -3}, {host63.c_str(), closed_port, -3},
    };  // clang-format on
    for (const auto &[host, port, want] : cases) {
        int sock = -99;
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iOpen(&sock, host, port), want) << (host ? host : "(null)");
        EXPECT_EQ(cap.Finish(), "");
        EXPECT_EQ(fcntl(sock, F_GETFD), -1) << "socket left open";
    }
}

// A signal that asks for a stop ends the real pause (command) or poll (image)
// at once: -1, the frame sent once, nothing more logged.
TEST(SocketLine, StopSignalEndsTheWait)
{
    for (bool image : {false, true}) {
        Pair pair;  // the far end never answers
        std::string buf = std::string(image ? "\x02M0,3,1,81\x03" : "\x02Y\x03") + '\xEE';
        const int len = static_cast<int>(buf.size()) - 1;
        char rcv[256];
        int rcv_len = 0, ret;
        vt::CaptureFd cap(1);
        const auto t0 = std::chrono::steady_clock::now();
        {
            vt::SignalIn alarm(300, true);
            ret = image ? SCK_iSendImage(pair.link, &buf[0], len, rcv, &rcv_len)
                        : SCK_iSendRecv(pair.link, &buf[0], len, rcv, &rcv_len);
            EXPECT_EQ(SCK_iStopRequested(), SIGALRM);
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 0.8) << image;
        EXPECT_EQ(ret, -1) << image;
        const Lines want = image ? Lines{"イメージ送信成功"} : Lines{SendDump(Sealed("\x02Y\x03")), "送信成功"};
        EXPECT_EQ(vt::LogMessages(cap.Finish()), want);
        EXPECT_EQ(Waiting(pair.far).size(), static_cast<size_t>(len) + 1) << image;
    }
}

// ---- the exchanges' rules on the fake line ----

const std::string kAck = vt::Answer(SCK_ACK), kNak = vt::Answer(SCK_NAK), kDle = vt::Answer(SCK_DLE);
const std::string kOdd = vt::Answer('X');
const std::string kRes = vt::Repeat("\x80\x9A\xC3\xE4\xFF", 40);  // a result reply of 200 bytes, every byte high
const std::string kLate = kAck + kRes;                            // a whole answer held back
const std::string kEndless = std::string(64 * 256, 'L');
const std::string kY = "\x02Y\x03", kG = "\x02G1\x03", kM = "\x02M0,3,1,81\x03";

// The log written out from tokens: the lines each token stands for (a n d
// x 1 r l L: a read of those bytes, and its result).
Lines Expand(const std::string &tokens, const std::string &frame)
{
    auto read = [](const std::string &bytes) {
        return Lines{RecvDump(static_cast<int>(bytes.size()), bytes), "受信結果=0"};
    };
    // clang-format off
    const std::map<char, Lines> lines = {
        {'a', read(kAck)}, {'n', read(kNak)}, {'d', read(kDle)}, {'x', read(kOdd)}, {'1', read("\x06")}, {'r', read(kRes)},
        {'l', read(kLate)}, {'L', read(kEndless.substr(0, 256))},
        {'>', {SendDump(Sealed(frame)), "送信成功"}}, {'s', {SendDump(Sealed(frame))}}, {'c', {SendDump("\x06"), "送信成功"}},
        {'k', {SendDump("\x06")}}, {'i', {"イメージ送信成功"}}, {'I', {"× SCK_iSendImage 送信失敗"}}, {'X', {"× SCK_iSend 送信失敗"}},
        {'.', {RecvDump(-1), "受信結果=-1"}}, {'0', {RecvDump(0), "受信結果=-3"}}, {'A', {"<ACK>受信"}}, {'?', {"× 不明コード"}},
        {'!', {"× 受信失敗リトライ"}}, {'S', {"× 送信失敗リトライ"}}};
    // clang-format on
    Lines out;
    for (char t : tokens) out.insert(out.end(), lines.at(t).begin(), lines.at(t).end());
    return out;
}

using Say = std::tuple<int, int, std::string>;  // unit, ms, bytes

struct Rule {
    const char *name;         // "image: ..." for the image exchange
    std::string frame;        // empty: receive only
    std::vector<Say> script;  // what the machine sends, ms after the unit-th unit it took (0: from the start)
    int ret;
    std::string log;                     // tokens
    const char *wire, *pauses;           // units by letter, ACK the closing ACK; seconds, in order
    double end_s;                        // the fake clock on return
    int result, fail_sends_from = 0;     // result 1: the result reply reached the caller
    double close_at = -1, stop_at = -1;  // seconds
};

std::string Seconds(long long us)
{
    char s[32];
    snprintf(s, sizeof s, "%.7g", us / 1e6);
    return s;
}

TEST(Exchanges, EveryRuleWithItsLogWireAndWaits)
{
    // clang-format off
    const Rule rules[] = {
        // The command exchange: 1 s to the first reply, 1.5 s to the result (7 s for a card out), 1 s after the ACK.
        {"ack", kY, {{1, 5, kAck}, {1, 20, kRes}}, 0, ">aArc", "Y ACK", "1 1.5 1", 3.5, 1},
        {"G waits 7 s", kG, {{1, 5, kAck}, {1, 6000, kRes}}, 0, ">aArc", "G ACK", "1 7 1", 9, 1},
        {"nak twice", kY, {{1, 5, kNak}, {2, 5, kNak}}, -10, ">n>n", "Y Y", "1 2 1 2", 6, 0},
        {"unknown code, one byte", kY, {{1, 5, kOdd}, {2, 5, "\x06"}}, -10, ">x?>1?", "Y Y", "1 2 1 2", 6, 0},
        {"silence", kY, {}, -10, ">.!>.!", "Y Y", "1 2 1 2", 6, 0},
        // 1.5 s late: between the first read (1 s) and the retry's (4 s), which takes it.
        {"first reply 1.5 s late", kY, {{1, 1500, kAck}, {1, 1600, kRes}}, 0, ">.!>aArc", "Y Y ACK", "1 2 1 1.5 1", 6.5, 1},
        {"result after its 1.5 s", kY, {{1, 5, kAck}, {1, 2600, kRes}}, -5, ">aA.", "Y", "1 1.5", 2.5, 0},
        {"frame send fails", kY, {}, -1, "sX", "", "", 0, 0, 1},
        {"line closed before the frame", kY, {}, -1, "sX", "", "", 0, 0, 0, 0},  // no left-overs read off a closed line
        {"two-byte frame: the check is its second byte", "\x02Q", {{1, 5, kDle}}, -3, ">d", "Q", "1", 1, 0},
        {"closing ack send fails", kY, {{1, 5, kAck}, {1, 20, kRes}}, -1, ">aArkX", "Y", "1 1.5 1", 3.5, 1, 2},
        {"line dropped", kY, {}, -1, ">0!sX", "Y", "1 2", 3, 0, 0, 0.5},
        {"receive only, nothing", "", {}, -10, ".!S", "", "1 2 2", 5, 0},
        {"receive only", "", {{0, 0, kNak}, {0, 3500, kAck}, {0, 4000, kRes}}, 0, "naArc", "ACK", "1 2 1 1.5 1", 6.5, 1},
        // What already waits belongs to earlier exchanges: taken off before the frame, never its answer.
        {"left-overs", kY, {{0, 0, kLate}, {1, 5, kNak}, {2, 5, kNak}}, -10, "l>n>n", "Y Y", "1 2 1 2", 6, 0},
        // 64 reads of 256 bytes at most: a machine that never stops sending still lets the frame go.
        {"64 reads of left-overs", kY, {{0, 0, kEndless + kNak}, {1, 5, kNak}}, -10, std::string(64, 'L') + ">n>n", "Y Y", "1 2 1 2", 6, 0},
        // A stop ends the exchange where it stands: nothing more sent or logged.
        {"stop after the frame", kY, {{1, 5, kAck}}, -1, ">", "Y", "1", 0.5, 0, 0, -1, 0.5},
        {"stop after a NAK", kY, {{1, 5, kNak}}, -1, ">n", "Y", "1 2", 2, 0, 0, -1, 2},
        {"stop in the card's 7 s", kG, {{1, 5, kAck}, {1, 1400, kRes}}, -1, ">aA", "G", "1 7", 3, 0, 0, -1, 3},
        {"stop after the closing ACK", kY, {{1, 5, kAck}, {1, 1400, kRes}}, -1, ">aArc", "Y ACK", "1 1.5 1", 3, 1, 0, -1, 3},
        // The image exchange: no pauses, windows of 1 s (first reply) and 3.5 s (result), the frame not dumped.
        {"image: reply at 0.9 s", kM, {{1, 900, kAck}, {1, 4300, kRes}}, 0, "iAc", "M ACK", "", 4.3, 1},
        {"image: one byte, unknown", kM, {{1, 5, "\x06"}, {2, 5, kOdd}}, -10, "i?i?", "M M", "", 0.01, 0},
        {"image: dle", kM, {{1, 5, kDle}}, -3, "i", "M", "", 0.005, 0},
        {"image: silence", kM, {}, -10, "i!i!", "M M", "", 2.002, 0},
        {"image: 1.5 s late", kM, {{1, 1500, kLate}}, 0, "i!iAc", "M M ACK", "", 1.5, 1},
        {"image: no result in 3.5 s", kM, {{1, 5, kAck}, {1, 3600, kRes}}, -5, "iA", "M", "", 3.506, 0},
        {"image: frame send fails", kM, {}, -1, "I", "", "", 0, 0, 1},
        {"image: closing ack send fails", kM, {{1, 5, kAck}, {1, 10, kRes}}, -1, "iAkX", "M", "", 0.01, 1, 2},
        // The line closes in the window: the window is sat out, then the repeat cannot go.
        {"image: line dropped", kM, {}, -1, "i!I", "M", "1", 1.000001, 0, 0, 0.000001},
        {"image: line dropped at the window's end, still in it", kM, {}, -1, "i!I", "M", "1e-06", 1.000001, 0, 0, 1},
        {"image: receive only", "", {{0, 100, kAck}, {0, 200, kRes}}, 0, "Ac", "ACK", "", 0.2, 1},
        {"image: left-overs", kM, {{0, 0, kLate}, {1, 5, kAck}, {1, 20, kRes}}, 0, "liAc", "M ACK", "", 0.02, 1},
        {"image: stop in the first window", kM, {{1, 800, kAck}}, -1, "i", "M", "", 0.5, 0, 0, -1, 0.5},
        {"image: stop in the result window", kM, {{1, 5, kAck}, {1, 2500, kRes}}, -1, "iA", "M", "", 2, 0, 0, -1, 2},
    };
    // clang-format on
    for (const Rule &c : rules) {
        const bool image = std::string(c.name).rfind("image", 0) == 0;
        vt::FakeLine line;
        line.fail_sends_from = c.fail_sends_from;
        line.close_at = std::llround(c.close_at * 1e6);
        line.stop_at = std::llround(c.stop_at * 1e6);
        line.on_unit = [&c](vt::FakeLine &l, const std::string &) {
            for (const auto &[unit, ms, bytes] : c.script)
                if (unit == static_cast<int>(l.units.size())) l.Deliver(bytes, l.now + ms * 1000LL);
        };
        line.on_unit(line, "");  // what the machine sends from the start
        std::string buf = (c.frame.empty() ? kY : c.frame) + '\xEE', rcv(256, '\xEE'), wire, pauses;
        const int len = static_cast<int>(c.frame.size());
        int rcv_len = -7;
        const int ret = image ? LNK_iSendImage(line.Line(), &buf[0], len, &rcv[0], &rcv_len)
                              : LNK_iSendRecv(line.Line(), &buf[0], len, &rcv[0], &rcv_len);
        EXPECT_EQ(ret, c.ret) << c.name;
        EXPECT_EQ(line.log, Expand(c.log, c.frame)) << c.name;
        for (const std::string &u : line.units)
            wire += (wire.empty() ? "" : " ") + (u == "\x06"            ? "ACK"
                                                 : u == Sealed(c.frame) ? c.frame.substr(1, 1)
                                                                        : "?");
        EXPECT_EQ(wire, c.wire) << c.name;
        for (long long us : line.pauses) pauses += (pauses.empty() ? "" : " ") + Seconds(us);
        EXPECT_EQ(pauses, c.pauses) << c.name;
        EXPECT_EQ(Seconds(line.now), Seconds(std::llround(c.end_s * 1e6))) << c.name;
        // The command exchange hands the result as read; the image exchange 256 bytes, zeros behind the reply.
        const std::string want = image ? kRes + std::string(56, '\0') : kRes;
        EXPECT_EQ(rcv_len, c.result ? static_cast<int>(want.size()) : -7) << c.name;
        EXPECT_EQ(rcv.substr(0, want.size()), c.result ? want : std::string(want.size(), '\xEE')) << c.name;
        if (c.stop_at < 0) continue;
        // While the stop stands, a new exchange sends and logs nothing; then the waits are whole again.
        EXPECT_EQ(SCK_iStopRequested(), SIGTERM) << c.name;
        line.log.clear();
        EXPECT_EQ(LNK_iSendRecv(line.Line(), &buf[0], len, &rcv[0], &rcv_len), -1) << c.name;
        EXPECT_EQ(LNK_iSendImage(line.Line(), &buf[0], len, &rcv[0], &rcv_len), -1) << c.name;
        EXPECT_TRUE(line.log.empty()) << c.name;
        SCK_vStopDone();
    }
}

// Nothing to send, or nothing that can be sent: a failed send, logged, nothing on the line, no waiting.
TEST(Exchanges, UnsendableFrameIsAFailedSend)
{
    char frame[8] = "\x02Y\x03", rcv[256];
    int rcv_len = -7;
    const std::tuple<char *, int, bool> cases[] = {
        // frame, length, image exchange
        // clang-format off
        {nullptr, 3, false}, {frame, -1, false}, {frame, INT_MAX, false}, {nullptr, 3, true}, {frame, INT_MAX, true},
    };  // clang-format on
    for (const auto &[buf, len, image] : cases) {
        vt::FakeLine line;
        EXPECT_EQ(image ? LNK_iSendImage(line.Line(), buf, len, rcv, &rcv_len) : LNK_iSend(line.Line(), buf, len), -1);
        EXPECT_EQ(line.log, Lines{image ? "× SCK_iSendImage 送信失敗" : "× SCK_iSend 送信失敗"}) << len;
        EXPECT_TRUE(line.units.empty() && line.now == 0) << len;
    }
}

}  // namespace
