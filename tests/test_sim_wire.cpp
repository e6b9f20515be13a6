// vestrun-sim as a program: a plain socket client drives the real binary.
// What the machine makes of each frame and what each fault sends back are
// shown without a socket (test_sim_machine.cpp, test_sim_frame.cpp); here,
// what only the server does: the answer codes on the wire, the operator over
// a run, the wire record and hostile clients. Every fault over the wire,
// dropped lines included, is in the fault matrix.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sample_card.h"
#include "simproc.h"
#include "testutil.h"

namespace {

constexpr char kAck = 0x06, kNak = 0x15;

using sample::Frame;

class Client {
public:
    explicit Client(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0))
    {
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected_ = connect(fd_, reinterpret_cast<struct sockaddr *>(&a), sizeof a) == 0;
    }
    ~Client() { close(fd_); }
    bool connected() const { return connected_; }
    bool Send(const std::string &bytes)
    {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until n bytes have come, the line is closed, or nothing comes for timeout_ms.
    std::string Read(size_t n, int timeout_ms)
    {
        std::string got;
        struct pollfd p = {fd_, POLLIN, 0};
        while (got.size() < n && !closed_ && poll(&p, 1, timeout_ms) > 0) {
            char buf[4096];
            const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
            closed_ = r <= 0;
            got.append(buf, r > 0 ? static_cast<size_t>(r) : 0);
        }
        return got;
    }
    // One whole command exchange: frame, first reply, result, closing ACK.
    // The result reply, or "" when the first reply was no ACK.
    std::string Exchange(const std::string &body)
    {
        Send(Frame(body));
        const std::string first = Read(10, 2000);
        if (first.size() != 10 || first[9] != kAck) {
            return "";
        }
        const std::string result = Read(20, 2000);
        Send(std::string(1, kAck));
        return result;
    }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
};

#define START(proc, ...) ASSERT_TRUE((proc).Start(__VA_ARGS__)) << (proc).Stderr()

// A frame with a wrong block check, or without a letter, gets NAK and nothing
// more; the operator's counts go by the good status requests only; the wire
// record holds every unit received; --once ends with the connection.
TEST(SimWire, NakStatusAndWireRecordOverOneRun)
{
    vt::TempDir dir;
    vt::SimProcess proc;
    START(proc, {"--once", "--card-after", "2", "--cover-open", "1", "--frames", dir.file("frames.txt")});
    {
        Client c(proc.port());
        ASSERT_TRUE(c.connected());
        for (const std::string &frame : {vt::Hex("02 59 03 5B"), vt::Hex("02 03 00")}) {
            ASSERT_TRUE(c.Send(frame));
            const std::string first = c.Read(10, 2000);
            ASSERT_EQ(first.size(), 10u) << vt::ToHex(frame);
            EXPECT_EQ(first[9], kNak) << vt::ToHex(frame);
            EXPECT_EQ(c.Read(1, 150), "") << "no result reply after NAK";
        }
        std::string cards, covers;
        for (int i = 0; i < 2; i++) {
            const std::string status = c.Exchange("Y");
            ASSERT_EQ(status.size(), 20u);
            cards += status[12];
            covers += status[16];
        }
        EXPECT_EQ(cards + " " + covers, "01 10");
        EXPECT_NE(c.Exchange("Z412"), "");
    }
    EXPECT_EQ(proc.Wait(5000), 0) << proc.Stderr();
    EXPECT_EQ(vt::ReadFile(dir.file("frames.txt")),
              "02 59 03 5B\n02 03 00\n02 59 03 5A\n06\n02 59 03 5A\n06\n02 5A 34 31 32 03 6E\n06\n");
}

TEST(SimWire, SurvivesGarbageOverlongFramesAndClientsThatVanish)
{
    vt::SimProcess proc;
    START(proc, {});
    {
        Client c(proc.port());
        // Stray bytes, then a frame that never ends, then a good frame.
        ASSERT_TRUE(c.Send(std::string(3000, '\x7F') + '\x02' + std::string(100000, 'A')));
        EXPECT_NE(c.Exchange("Y"), "");
        // A frame in one-byte pieces is a frame all the same.
        for (char b : Frame("Z412")) {
            c.Send(std::string(1, b));
        }
        const std::string first = c.Read(10, 2000);
        ASSERT_EQ(first.size(), 10u);
        EXPECT_EQ(first[9], kAck);
        c.Read(20, 2000);
        c.Send(std::string("\x02M0,0,1,", 8));  // gone in the middle of a frame
    }
    {
        Client c(proc.port());
        c.Send(Frame("Y"));  // gone while the reply is on its way
    }
    for (int i = 0; i < 3; i++) {
        Client c(proc.port());
        EXPECT_NE(c.Exchange("Y"), "") << i;
    }
    EXPECT_EQ(proc.Stop(), 0);  // SIGTERM ends it cleanly
    EXPECT_NE(proc.Stderr().find("frame longer than 4096 bytes dropped"), std::string::npos);
}

TEST(SimWire, BadOptionsEndWithStatus2AndTheUsage)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--listen", "127.0.0.1"}, {"--bogus"}}) {
        const vt::RunResult r = vt::RunProcess(VESTRUN_SIM_BIN, args, {}, 10000);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_NE(r.err.find("usage: vestrun-sim"), std::string::npos) << args[0];
        EXPECT_EQ(r.out, "");
    }
    const vt::RunResult help = vt::RunProcess(VESTRUN_SIM_BIN, {"--help"}, {}, 10000);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("usage: vestrun-sim"), std::string::npos);
}

}  // namespace
