// The printer link, the parts that need no waiting: block check, frame
// building, dump lines, the send and receive primitives, and connecting.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "head.h"
#include "peer.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;

using vt::RecvDump;
using vt::SendDump;

// A connected, non-blocking pair of stream sockets: the link's end and the far end.
struct Pair {
    int link = -1;
    int far = -1;
    Pair()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            link = fds[0];
            far = fds[1];
            fcntl(link, F_SETFL, O_NONBLOCK);
            fcntl(far, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pair()
    {
        if (link >= 0) close(link);
        if (far >= 0) close(far);
    }
    void CloseFar()
    {
        close(far);
        far = -1;
    }
    std::string Waiting(int fd) const
    {
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(n));
        return out;
    }
};

TEST(BlockCheck, IsTheXorFromTheLetterThroughEtx)
{
    struct Case {
        const char *frame;
        unsigned char bcc;
    } cases[] = {
        {"02 59 03", 0x5A}, {"02 40 03", 0x43}, {"02 49 03", 0x4A},
        {"02 31 32 03", 0x00}, {"02 46 31 03", 0x74},
        {"02 8A", 0x8A},  // two bytes: the check is the second byte
        {"02 FF 80 03", 0x7C},
    };
    for (const auto &c : cases) {
        std::string frame = vt::Hex(c.frame);
        std::vector<char> buf(frame.begin(), frame.end());
        buf.push_back('\xEE');
        EXPECT_EQ(SCK_iSetBcc(buf.data(), static_cast<int>(frame.size())), 0);
        EXPECT_EQ(static_cast<unsigned char>(buf.back()), c.bcc) << c.frame;
        EXPECT_EQ(std::string(buf.data(), frame.size()), frame) << "content untouched";
    }
}

TEST(BlockCheck, ShortLengthsNeverWriteOutside)
{
    char buf[3] = {'\x06', '\xEE', '\xEE'};
    SCK_iSetBcc(buf, 1);  // a single byte: a zero behind it
    EXPECT_EQ(buf[1], 0);
    buf[1] = '\xEE';
    SCK_iSetBcc(buf, 0);
    SCK_iSetBcc(buf, -5);
    SCK_iSetBcc(nullptr, 3);
    EXPECT_EQ(std::string(buf, 3), std::string("\x06\xEE\xEE", 3));
}

TEST(FrameBuilder, LaysOutTheFrameOrRefusesIt)
{
    struct Case {
        char cmd;
        std::string parm;
        int parm_len;  // -1: parm.size()
        int size;
        int want;  // length through ETX, or -1
        const char *bytes;
    } cases[] = {
        {'Y', "", -1, 4, 3, "02 59 03"},
        {'Z', "412", -1, 7, 6, "02 5A 34 31 32 03"},
        {'Z', "412", -1, 6, -1, nullptr},  // no room for the block check
        {'9', std::string("\x1B\x4B\x8A\x00", 4), -1, 8, 7, "02 39 1B 4B 8A 00 03"},  // bytes, not a string
        {'A', "12", -2, 64, -1, nullptr},
        {'A', std::string("1\x03" "2", 3), -1, 64, -1, nullptr},  // ETX inside would end the frame early
        {'\x03', "", -1, 64, -1, nullptr},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(static_cast<size_t>(c.size) + 4, '\xEE');
        int plen = c.parm_len == -1 ? static_cast<int>(c.parm.size()) : c.parm_len;
        int got = SCK_iFrame(buf.data(), c.size, c.cmd, c.parm.data(), plen);
        EXPECT_EQ(got, c.want) << c.cmd << " " << vt::ToHex(c.parm);
        if (c.want > 0) {
            EXPECT_EQ(vt::ToHex(std::string(buf.data(), static_cast<size_t>(got))), c.bytes);
        }
        // nothing past the given size, whatever the outcome
        EXPECT_EQ(std::string(buf.data() + c.size, 4), std::string(4, '\xEE'));
    }
    char buf[16];
    EXPECT_EQ(SCK_iFrame(nullptr, 16, 'Y', "", 0), -1);
    EXPECT_EQ(SCK_iFrame(buf, 16, 'Y', nullptr, 2), -1);
}

TEST(DumpLine, PrintsEveryByteUnsignedOnALineOfAnyLength)
{
    std::string big;
    for (int i = 0; i < 895; i++) big.push_back(static_cast<char>(i * 7));  // every byte value, >= 0x80 included
    struct Case {
        int dir;
        int count;
        std::string bytes;
        std::string want;
    } cases[] = {
        {SCK_DUMP_SEND, 4, vt::Hex("02 59 03 5A"), "送信サイズ=  4 電文=[02 59 03 5A ]"},
        {SCK_DUMP_SEND, 1, vt::Hex("06"), "送信サイズ=  1 電文=[06 ]"},
        {SCK_DUMP_RECV, -1, "", "受信サイズ= -1 電文=[]"},
        {SCK_DUMP_RECV, 0, "", "受信サイズ=  0 電文=[]"},
        {SCK_DUMP_RECV, 3, vt::Hex("8A FF 80"), "受信サイズ=  3 電文=[8A FF 80 ]"},
        {SCK_DUMP_SEND, 895, big, SendDump(big)},
    };
    for (const auto &c : cases) {
        const auto *data = reinterpret_cast<const unsigned char *>(c.bytes.data());
        int n = static_cast<int>(c.bytes.size());
        int need = SCK_iDumpLine(nullptr, 0, c.dir, c.count, data, n);
        ASSERT_EQ(need, static_cast<int>(c.want.size()));
        std::vector<char> line(static_cast<size_t>(need) + 1);
        EXPECT_EQ(SCK_iDumpLine(line.data(), line.size(), c.dir, c.count, data, n), need);
        EXPECT_EQ(std::string(line.data()), c.want);
    }
    // A line cut short by a small buffer stays inside it and terminated.
    std::vector<char> small(40, '\xEE');
    const auto *data = reinterpret_cast<const unsigned char *>(big.data());
    EXPECT_EQ(SCK_iDumpLine(small.data(), 30, SCK_DUMP_SEND, 895, data, 895), static_cast<int>(SendDump(big).size()));
    EXPECT_LE(std::string(small.data()).size(), 29u);
    EXPECT_EQ(std::string(small.data() + 30, 10), std::string(10, '\xEE'));
}

TEST(DumpLine, HexDumpWritesWholeGroupsOnly)
{
    const unsigned char data[] = {0x01, 0x8A, 0xFF};
    struct Case {
        size_t size;
        const char *want;
    } cases[] = {{0, nullptr}, {1, ""}, {3, ""}, {4, "01 "}, {6, "01 "}, {7, "01 8A "}, {10, "01 8A FF "}, {64, "01 8A FF "}};
    for (const auto &c : cases) {
        char out[64];
        memset(out, 'x', sizeof out);
        int n = SCK_iHexDump(out, c.size, data, 3);
        if (c.want == nullptr) {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(out[0], 'x');
            continue;
        }
        EXPECT_EQ(std::string(out), c.want) << c.size;
        EXPECT_EQ(n, static_cast<int>(strlen(c.want)));
    }
}

TEST(Send, PutsFrameAndBlockCheckOnTheWireAndLogsThem)
{
    struct Case {
        const char *content;
        const char *wire;
    } cases[] = {
        {"02 59 03", "02 59 03 5A"},
        {"02 31 32 03", "02 31 32 03 00"},  // a zero check goes out like any byte
        {"02 4D 8A 03", "02 4D 8A 03 C4"},
        {"06", "06"},  // the closing ACK: no check
    };
    for (const auto &c : cases) {
        Pair p;
        std::string content = vt::Hex(c.content);
        std::vector<char> buf(content.begin(), content.end());
        buf.push_back('\xEE');
        vt::CaptureFd cap(1);
        int ret = SCK_iSend(p.link, buf.data(), static_cast<int>(content.size()));
        auto log = vt::LogMessages(cap.Finish());
        std::string wire = vt::Hex(c.wire);
        EXPECT_EQ(ret, 0);
        EXPECT_EQ(vt::ToHex(p.Waiting(p.far)), c.wire);
        EXPECT_EQ(log, (Lines{SendDump(wire), "送信成功"}));
        // the check stays in the caller's buffer; a single byte leaves it alone
        EXPECT_EQ(buf.back(), content.size() == 1 ? '\xEE' : wire.back());
    }
}

TEST(Send, LongFrameIsDumpedWholeAndSentWhole)
{
    Pair p;
    std::string frame = "\x02M";
    for (int i = 0; i < 900; i++) frame.push_back("0123456789ABCDEF"[i % 16]);
    frame.push_back('\x03');
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    vt::CaptureFd cap(1);
    EXPECT_EQ(SCK_iSend(p.link, buf.data(), static_cast<int>(frame.size())), 0);
    auto log = vt::LogMessages(cap.Finish());
    std::string wire(buf.begin(), buf.end());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], SendDump(wire));
    EXPECT_EQ(p.Waiting(p.far), wire);
}

TEST(Send, WaitsForRoomUntilTheWholeFrameIsOut)
{
    // A frame far larger than the socket's buffer: the link has to send it in
    // pieces while the far end reads slowly.
    Pair p;
    int small = 4096;
    setsockopt(p.link, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    std::string frame = "\x02M" + std::string(300000, 'A') + "\x03";
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    std::string got;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.size() < frame.size() + 1 && std::chrono::steady_clock::now() < until) {
            got += p.Waiting(p.far);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    vt::CaptureFd cap(1);
    int ret = SCK_iSend(p.link, buf.data(), static_cast<int>(frame.size()));
    auto log = vt::LogMessages(cap.Finish());
    reader.join();
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(got, std::string(buf.begin(), buf.end()));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "送信成功");
}

TEST(Send, ClosedFarEndIsAFailedSendNotTheEndOfTheProcess)
{
    Pair p;
    p.CloseFar();
    char frame[4] = {0x02, 'Y', 0x03, 0};
    vt::CaptureFd cap(1);
    int ret = SCK_iSend(p.link, frame, 3);
    auto log = vt::LogMessages(cap.Finish());
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(log, (Lines{"送信サイズ=  4 電文=[02 59 03 5A ]", "× SCK_iSend 送信失敗"}));
}

TEST(Recv, ResultsCountsAndLogLines)
{
    enum Setup { kNothing, kTwoBytes, kTwelveBytes, kClosed, kNotASocket, kBadLength };
    struct Case {
        const char *name;
        Setup setup;
        int ret;
        int len_after;  // 10 = unchanged
        Lines log;
        std::string left;  // still waiting afterwards
    } cases[] = {
        {"nothing waiting", kNothing, -1, 10, {"受信サイズ= -1 電文=[]", "受信結果=-1"}, ""},
        {"two bytes", kTwoBytes, 0, 2, {"受信サイズ=  2 電文=[06 8A ]", "受信結果=0"}, ""},
        {"more than asked", kTwelveBytes, 0, 10,
         {"受信サイズ= 10 電文=[30 31 32 33 34 35 36 37 38 39 ]", "受信結果=0"}, "AB"},
        {"closed", kClosed, -3, 0, {"受信サイズ=  0 電文=[]", "受信結果=-3"}, ""},
        {"not a socket", kNotASocket, -2, 10,
         {"受信サイズ= -1 電文=[]", "ErrNo[" + std::to_string(ENOTSOCK) + "]", "受信結果=-2"}, ""},
        {"no room", kBadLength, -2, 0,
         {"受信サイズ= -1 電文=[]", "ErrNo[" + std::to_string(EINVAL) + "]", "受信結果=-2"}, ""},
    };
    for (const auto &c : cases) {
        Pair p;
        int fd = p.link;
        int pipefd[2] = {-1, -1};
        int len = c.setup == kBadLength ? 0 : 10;
        switch (c.setup) {
        case kTwoBytes: send(p.far, "\x06\x8A", 2, 0); break;
        case kTwelveBytes: send(p.far, "0123456789AB", 12, 0); break;
        case kClosed: p.CloseFar(); break;
        case kNotASocket:
            ASSERT_EQ(pipe(pipefd), 0);
            fd = pipefd[0];
            break;
        default: break;
        }
        char buf[16];
        memset(buf, 0, sizeof buf);
        vt::CaptureFd cap(1);
        int ret = SCK_iRecv(fd, buf, &len, 0);
        auto log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(ret, c.ret) << c.name;
        EXPECT_EQ(len, c.len_after) << c.name;
        EXPECT_EQ(log, c.log) << c.name;
        if (c.setup != kClosed && c.setup != kNotASocket) {
            EXPECT_EQ(p.Waiting(p.link), c.left) << c.name;
        }
        for (int f : pipefd) {
            if (f >= 0) close(f);
        }
    }
}

TEST(Open, FailuresCloseTheSocketAndLogNothing)
{
    // a port that is bound but not listening: connects are refused
    int idle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t alen = sizeof addr;
    ASSERT_EQ(bind(idle, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(getsockname(idle, reinterpret_cast<sockaddr *>(&addr), &alen), 0);
    const int closed_port = ntohs(addr.sin_port);

    struct Case {
        const char *host;
        int port;
        int want;
    } cases[] = {
        {"no-such-host.invalid", 9, -2},
        {"", 9, -2},
        {nullptr, 9, -2},
        {"127.0.0.1", closed_port, -3},
        {"localhost", closed_port + 65536, -3},
    };
    for (const auto &c : cases) {
        int sock = -99;
        vt::CaptureFd cap(1);
        int ret = SCK_iOpen(&sock, c.host, c.port);
        std::string out = cap.Finish();
        EXPECT_EQ(ret, c.want) << (c.host ? c.host : "(null)");
        EXPECT_EQ(out, "");
        ASSERT_GE(sock, 0);
        EXPECT_EQ(fcntl(sock, F_GETFD), -1) << "socket left open";
    }
    close(idle);
    EXPECT_EQ(SCK_iOpen(nullptr, "127.0.0.1", 9), -1);
}

TEST(Open, PortTakesItsLowSixteenBitsAndNothingWaitingIsDrained)
{
    vt::Peer peer;
    peer.Wait(2500).Send("late");  // after the drain: must still be waiting
    ASSERT_TRUE(peer.Start());
    int sock = -1;
    vt::CaptureFd cap(1);
    int ret = SCK_iOpen(&sock, "127.0.0.1", peer.Port() + 65536);
    auto log = vt::LogMessages(cap.Finish());
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(fcntl(sock, F_GETFL) & ~O_ACCMODE, O_NONBLOCK);
    EXPECT_EQ(log, (Lines{"受信サイズ= -1 電文=[]", "受信結果=-1", "オープン時のバッファクリア終了"}));
    ASSERT_TRUE(peer.WaitDone());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    char buf[16];
    EXPECT_EQ(recv(sock, buf, sizeof buf, 0), 4);
    EXPECT_EQ(SCK_iClose(sock), 0);
    peer.Stop();
    EXPECT_TRUE(peer.Errors().empty());
}

TEST(Open, TakesOffAtMost256GreetingBytes)
{
    std::string greeting;
    for (int i = 0; i < 300; i++) greeting.push_back(static_cast<char>(0x80 + i % 100));
    vt::Peer peer;
    peer.Send(greeting);
    ASSERT_TRUE(peer.Start());
    int sock = -1;
    vt::CaptureFd cap(1);
    int ret = SCK_iOpen(&sock, "localhost", peer.Port());
    auto log = vt::LogMessages(cap.Finish());
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(log, (Lines{RecvDump(256, greeting.substr(0, 256)), "受信結果=0", "オープン時のバッファクリア終了"}));
    char buf[512];
    EXPECT_EQ(recv(sock, buf, sizeof buf, 0), 44);
    EXPECT_EQ(std::string(buf, 44), greeting.substr(256));
    EXPECT_EQ(SCK_iClose(sock), 0);
}

TEST(Close, ShutdownFailureStillCloses)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_EQ(SCK_iClose(fds[0]), -1);  // not a socket: no shutdown
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);
    close(fds[1]);
}

// The image exchange, where the machine answers at once.
struct ImageRun {
    int ret;
    int len;
    std::string rcv;
    Lines log;
};

ImageRun RunImage(vt::Peer &peer, std::string frame)
{
    EXPECT_TRUE(peer.Start());
    int sock = peer.Connect();
    std::vector<char> buf(frame.begin(), frame.end());
    buf.push_back(0);
    std::string rcv(256, '\xEE');
    int len = -7;
    vt::CaptureFd cap(1);
    int ret = SCK_iSendImage(sock, buf.data(), static_cast<int>(frame.size()), &rcv[0], &len);
    auto log = vt::LogMessages(cap.Finish());
    peer.Stop();
    close(sock);
    EXPECT_TRUE(peer.Errors().empty());
    return {ret, len, rcv, log};
}

const std::string kImage = "\x02M0,3,1,81\x03";
const std::string kImageWire = kImage + "\x59";  // block check

TEST(ImageExchange, ReplyIsPaddedTo256)
{
    std::string reply = "RESULT-OF-THE-FRAME!";
    vt::Peer peer;
    peer.ExpectFrame().Wait(300).Send(vt::Peer::Answer(SCK_ACK)).Send(reply).ExpectBytes(1);
    auto r = RunImage(peer, kImage);
    EXPECT_EQ(r.ret, 0);
    EXPECT_EQ(r.len, 256);
    EXPECT_EQ(r.rcv, reply + std::string(236, '\0'));
    EXPECT_EQ(r.log, (Lines{"イメージ送信成功", "<ACK>受信", "送信サイズ=  1 電文=[06 ]", "送信成功"}));
    EXPECT_EQ(peer.Received(), kImageWire + "\x06");
}

TEST(ImageExchange, AnswersWithoutAckEndAsTheCodeSays)
{
    struct Case {
        const char *name;
        std::string answer;
        int ret;
        Lines log;
        int frames;
    } cases[] = {
        {"NAK twice", vt::Peer::Answer(SCK_NAK), -10, {"イメージ送信成功", "イメージ送信成功"}, 2},
        {"one byte", "\x06", -10, {"イメージ送信成功", "× 不明コード", "イメージ送信成功", "× 不明コード"}, 2},
        {"DLE", vt::Peer::Answer(SCK_DLE), -3, {"イメージ送信成功"}, 1},
    };
    for (const auto &c : cases) {
        vt::Peer peer;
        peer.ExpectFrame().Send(c.answer);
        if (c.frames == 2) peer.ExpectFrame().Send(c.answer);
        auto r = RunImage(peer, kImage);
        EXPECT_EQ(r.ret, c.ret) << c.name;
        EXPECT_EQ(r.log, c.log) << c.name;
        EXPECT_EQ(r.len, -7) << c.name;
        EXPECT_EQ(r.rcv, std::string(256, '\xEE')) << c.name;
        std::string wire;
        for (int i = 0; i < c.frames; i++) wire += kImageWire;
        EXPECT_EQ(peer.Received(), wire) << c.name;  // the same bytes each time, and no ACK
    }
}

}  // namespace
