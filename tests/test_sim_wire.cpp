// vestrun-sim as a program: a plain socket client drives the real binary and
// looks at the bytes on the wire, the status it reports, the faults it plays
// and the cards it keeps. The client sets the pace, so every case is quick.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bitmap.h"
#include "simproc.h"
#include "testutil.h"

namespace {

constexpr char kStx = 0x02, kEtx = 0x03, kAck = 0x06, kDle = 0x10, kNak = 0x15;

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The frame as the tool puts it on the wire; the block check is worked out
// here, apart from the code under test.
std::string Frame(const std::string &body)
{
    std::string f = std::string(1, kStx) + body + kEtx;
    char bcc = 0;
    for (size_t i = 1; i < f.size(); i++) {
        bcc ^= f[i];
    }
    return f + bcc;
}

class Client {
public:
    ~Client() { Close(); }
    bool Connect(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return connect(fd_, reinterpret_cast<struct sockaddr *>(&a), sizeof a) == 0;
    }
    void Close()
    {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    bool Send(const std::string &bytes)
    {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until n bytes have come or timeout_ms has passed.
    std::string Read(size_t n, int timeout_ms, int *reads = nullptr)
    {
        std::string got;
        const long long deadline = NowMs() + timeout_ms;
        while (got.size() < n) {
            const long long left = deadline - NowMs();
            if (left <= 0) {
                break;
            }
            struct pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char buf[4096];
            const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) {
                closed_ = true;
                break;
            }
            got.append(buf, static_cast<size_t>(r));
            if (reads) {
                ++*reads;
            }
        }
        return got;
    }
    // True when the stand-in has closed the line within timeout_ms.
    bool ClosedWithin(int timeout_ms)
    {
        while (!closed_) {
            std::string more = Read(4096, timeout_ms);
            if (more.empty() && !closed_) {
                return false;
            }
        }
        return true;
    }
    // One whole command exchange: frame, first reply, result, closing ACK.
    // Returns the result reply ("" when the first reply was no ACK).
    std::string Exchange(const std::string &body, char *code = nullptr)
    {
        Send(Frame(body));
        const std::string first = Read(10, 2000);
        if (code) {
            *code = first.size() == 10 ? first[9] : 0;
        }
        if (first.size() != 10 || first[9] != kAck) {
            return "";
        }
        const std::string result = Read(20, 2000);
        Send(std::string(1, kAck));
        return result;
    }

private:
    int fd_ = -1;
    bool closed_ = false;
};

struct Sim {
    vt::TempDir dir;
    vt::SimProcess proc;
    Client client;
    bool Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--out", dir.file("cards"), "--frames", dir.file("frames.txt")});
        return proc.Start(args) && client.Connect(proc.port());
    }
    std::string Card(int n, const std::string &file) const
    {
        char name[32];
        snprintf(name, sizeof name, "/card-%04d/", n);
        return vt::ReadFile(dir.file("cards") + name + file);
    }
};

#define START(sim, ...) ASSERT_TRUE((sim).Start(__VA_ARGS__)) << (sim).proc.Stderr()

TEST(SimWire, FirstLineNamesTheRealPortAndSigtermEndsCleanly)
{
    vt::SimProcess proc;
    ASSERT_TRUE(proc.Start({}));
    EXPECT_GT(proc.port(), 0);
    EXPECT_NE(proc.port(), 9100);
    EXPECT_EQ(proc.Stop(), 0);
}

}  // namespace
