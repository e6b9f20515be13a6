// The printer link where nothing has to be waited out: frames and their block
// check on the wire with their dump lines, receives, and connecting.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"
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
        {"02 59 03", "02 59 03 5A"},       {"02 40 03", "02 40 03 43"},       {"02 49 03", "02 49 03 4A"},
        {"02 31 32 03", "02 31 32 03 00"}, {"02 46 31 03", "02 46 31 03 74"}, {"02 4D 8A 03", "02 4D 8A 03 C4"},
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
        int ret = image ? SCK_iSendImage(p.link, buf.data(), 3, rcv, &len) : SCK_iSendRecv(p.link, buf.data(), 3, rcv, &len);
        auto log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(ret, -1);
        const Lines want = image ? Lines{"× SCK_iSendImage 送信失敗"} : Lines{SendDump("\x02Y\x03\x5A"), "× SCK_iSend 送信失敗"};
        EXPECT_EQ(log, want);
    }
}

TEST(Recv, ResultsCountsAndLogLines)
{
    enum Setup { kNothing, kTwoBytes, kTwelveBytes, kClosed, kNotASocket };
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
    };
    for (const auto &c : cases) {
        Pair p;
        int fd = p.link, fds[2] = {-1, -1};
        int len = 10;
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
    // A port that is bound but not listening: connects are refused.
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
        int port, want;
    } cases[] = {
        {"no-such-host.invalid", 9, -2},
        {nullptr, 9, -2},
        {"127.0.0.1", closed_port, -3},
        {"localhost", closed_port + 65536, -3},  // the port is taken to 16 bits
    };
    for (const auto &c : cases) {
        int sock = -99;
        vt::CaptureFd cap(1);
        EXPECT_EQ(SCK_iOpen(&sock, c.host, c.port), c.want) << (c.host ? c.host : "(null)");
        EXPECT_EQ(cap.Finish(), "");
        EXPECT_EQ(fcntl(sock, F_GETFD), -1) << "socket left open";
    }
    close(idle);
}

// On connecting, what the machine has already sent is taken off, at most one
// read of 256 bytes; the socket is left exactly O_NONBLOCK.
TEST(Open, TakesOffAtMost256WaitingBytes)
{
    std::string greeting;
    for (int i = 0; i < 300; i++) greeting.push_back(static_cast<char>(0x80 + i % 100));
    for (bool waiting : {false, true}) {
        vt::Peer peer;
        if (waiting) peer.Send(greeting);
        ASSERT_TRUE(peer.Start());
        int sock = -1;
        vt::CaptureFd cap(1);
        ASSERT_EQ(SCK_iOpen(&sock, "127.0.0.1", peer.Port() + 65536), 0);
        auto log = vt::LogMessages(cap.Finish());
        EXPECT_EQ(fcntl(sock, F_GETFL) & ~O_ACCMODE, O_NONBLOCK);
        if (waiting) {
            EXPECT_EQ(log, (Lines{RecvDump(256, greeting.substr(0, 256)), "受信結果=0", "オープン時のバッファクリア終了"}));
            char buf[512];
            EXPECT_EQ(recv(sock, buf, sizeof buf, 0), 44);
        } else {
            EXPECT_EQ(log, (Lines{RecvDump(-1), "受信結果=-1", "オープン時のバッファクリア終了"}));
        }
        EXPECT_EQ(SCK_iClose(sock), 0);
    }
}

}  // namespace
