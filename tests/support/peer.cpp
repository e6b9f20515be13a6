#include "peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>

#include "head.h"
#include "sock.h"
#include "testutil.h"

namespace vt {

namespace {

double Clock()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Length of the whole unit at the head of `bytes`: a frame through its block
// check, or one byte that is not STX; 0 while a frame is still incomplete.
size_t UnitLength(const std::string &bytes, bool complete_only)
{
    if (bytes.empty() || bytes[0] != '\x02') {
        return bytes.empty() ? 0 : 1;
    }
    size_t etx = bytes.find('\x03', 1);
    if (etx == std::string::npos || etx + 2 > bytes.size()) {
        return complete_only ? 0 : bytes.size();
    }
    return etx + 2;
}

std::string DumpLine(const char *head_format, int count, const std::string &bytes)
{
    char head[64];
    snprintf(head, sizeof head, head_format, count);
    return head + (bytes.empty() ? "" : ToHex(bytes) + " ") + "]";
}

sockaddr_in Loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

}  // namespace

std::string SendDump(const std::string &bytes)
{
    return DumpLine("送信サイズ=%3d 電文=[", static_cast<int>(bytes.size()), bytes);
}

std::string RecvDump(int count, const std::string &bytes) { return DumpLine("受信サイズ=%3d 電文=[", count, bytes); }

bool Peer::Start()
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    if (pipe(stop_pipe_) != 0 || listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(listen_fd_, 4) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        return false;
    }
    port_ = ntohs(addr.sin_port);
    start_ = Clock();
    thread_ = std::thread(&Peer::Run, this);
    return true;
}

int Peer::Connect() const
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(port_);
    if (fd >= 0 &&
        (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

double Peer::Now() const { return Clock() - start_; }

void Peer::Stop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        if (write(stop_pipe_[1], "x", 1) < 0) {
            // the thread also ends when the link closes
        }
        thread_.join();
    }
    for (int *fd : {&conn_fd_, &listen_fd_, &stop_pipe_[0], &stop_pipe_[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

std::vector<PeerFrame> Peer::Frames() const
{
    std::string bytes;
    std::vector<double> when;  // arrival of each byte
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (const auto &c : chunks_) {
            bytes += c.first;
            when.insert(when.end(), c.first.size(), c.second);
        }
    }
    std::vector<PeerFrame> out;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = UnitLength(bytes.substr(i), false);
        out.push_back({bytes.substr(i, n), when[i]});
        i += n;
    }
    return out;
}

std::vector<std::string> Peer::Errors() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return errors_;
}

void Peer::Fail(const std::string &what)
{
    std::lock_guard<std::mutex> lock(mu_);
    errors_.push_back(what);
}

bool Peer::Pump(double deadline)
{
    double left = deadline - Now();
    int timeout = deadline < 0 ? -1 : (left <= 0 ? 0 : static_cast<int>(left * 1000) + 1);
    pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {conn_open_ ? conn_fd_ : -1, POLLIN, 0}};
    if (poll(fds, 2, timeout) <= 0 || fds[0].revents != 0 || !conn_open_) {
        return false;
    }
    char buf[4096];
    ssize_t n = recv(conn_fd_, buf, sizeof buf, 0);
    if (n > 0) {
        pending_.append(buf, static_cast<size_t>(n));
        std::lock_guard<std::mutex> lock(mu_);
        chunks_.emplace_back(std::string(buf, static_cast<size_t>(n)), Now());
        return true;
    }
    if (n < 0 && errno == EINTR) {
        return true;
    }
    conn_open_ = false;  // the link closed (or reset) the connection
    return false;
}

bool Peer::TakeFrame(int timeout_ms)
{
    const double deadline = Now() + timeout_ms / 1000.0;
    for (;;) {
        if (size_t n = UnitLength(pending_, true)) {
            pending_.erase(0, n);
            return true;
        }
        if (stopping_) {
            return false;
        }
        if (!conn_open_ || Now() >= deadline) {
            Fail(conn_open_ ? "timed out waiting for a frame" : "connection closed while waiting for a frame");
            return false;
        }
        Pump(deadline);
    }
}

void Peer::Run()
{
    pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    if (poll(fds, 2, 30000) <= 0 || fds[0].revents != 0 || (conn_fd_ = accept(listen_fd_, nullptr, nullptr)) < 0) {
        if (!stopping_) {
            Fail("no connection");
        }
        return;
    }
    conn_open_ = accepted_ = true;
    // Like the machine, answer each frame at once rather than after the
    // client's delayed acknowledgement of the previous reply.
    int one = 1;
    setsockopt(conn_fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    for (const Step &step : steps_) {
        if (stopping_) {
            break;
        }
        if (step.kind == Step::kFrame && !TakeFrame(step.ms)) {
            break;
        }
        if (step.kind == Step::kSend &&
            send(conn_fd_, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(step.bytes.size())) {
            Fail(std::string("send failed: ") + strerror(errno));
        }
        if (step.kind == Step::kWait) {
            const double deadline = Now() + step.ms / 1000.0;
            while (!stopping_ && Now() < deadline) {
                Pump(deadline);
            }
        }
        if (step.kind == Step::kClose) {
            shutdown(conn_fd_, SHUT_RDWR);
            close(conn_fd_);
            conn_fd_ = -1;
            conn_open_ = false;
            break;
        }
    }
    // Keep what comes until the link closes or the test stops the peer, and
    // then whatever the link sent before Stop() that is still waiting.
    while (conn_open_ && Pump(-1)) {
    }
    char buf[4096];
    ssize_t n;
    while (conn_open_ && (n = recv(conn_fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        std::lock_guard<std::mutex> lock(mu_);
        chunks_.emplace_back(std::string(buf, static_cast<size_t>(n)), Now());
    }
}

// ---- FakeLine ----

void FakeLine::DropPending()
{
    chunks_.erase(std::remove_if(chunks_.begin(), chunks_.end(),
                                 [this](const Chunk &c) { return c.at > now && !c.kept; }),
                  chunks_.end());
}

void FakeLine::Deliver(const std::string &bytes, long long at_us, bool kept)
{
    // A stream: a chunk never overtakes one that was due earlier.
    auto pos = chunks_.end();
    while (pos != chunks_.begin() && (pos - 1)->at > at_us) --pos;
    chunks_.insert(pos, Chunk{bytes, at_us, kept});
}

size_t FakeLine::Ready() const
{
    size_t n = 0;
    while (n < chunks_.size() && chunks_[n].at <= now) n++;
    return n;
}

std::string FakeLine::Waiting() const
{
    std::string out;
    for (size_t i = 0; i < Ready(); i++) out += chunks_[i].bytes;
    return out;
}

std::vector<std::string> FakeLine::Units() const
{
    std::vector<std::string> out;
    for (const auto &u : units) out.push_back(u.first);
    return out;
}

// Moves the clock to `to`, or to the moment a stop signal comes on the way.
void FakeLine::Advance(long long to)
{
    if (stop_at >= 0 && stop_at <= to) {
        now = stop_at > now ? stop_at : now;
        stop_at = -1;
        SCK_vRequestStop(stop_sig);
        return;
    }
    now = to;
}

const LnkOps FakeLine::kOps = {
    [](void *ctx, const char *buf, size_t len) -> int {
        auto &l = *static_cast<FakeLine *>(ctx);
        l.sends_++;
        if (l.Closed() || (l.fail_sends_from > 0 && l.sends_ >= l.fail_sends_from)) return -1;
        l.units.emplace_back(std::string(buf, len), l.now);
        if (l.on_unit) l.on_unit(l, l.units.back().first);
        return 0;
    },
    [](void *ctx, char *buf, int cap, int peek, int *err) -> int {
        auto &l = *static_cast<FakeLine *>(ctx);
        const size_t ready = l.Ready();
        if (ready == 0) {
            *err = EAGAIN;
            return l.Closed() ? 0 : -1;
        }
        std::string got;
        size_t i = 0;
        while (i < ready && got.size() < static_cast<size_t>(cap)) got += l.chunks_[i++].bytes;
        const size_t take = std::min(got.size(), static_cast<size_t>(cap));
        memcpy(buf, got.data(), take);
        if (!peek) {
            size_t left = take;
            while (left > 0) {
                Chunk &c = l.chunks_.front();
                if (c.bytes.size() <= left) {
                    left -= c.bytes.size();
                    l.chunks_.erase(l.chunks_.begin());
                } else {
                    c.bytes.erase(0, left);
                    left = 0;
                }
            }
        }
        return static_cast<int>(take);
    },
    [](void *ctx, long long us) {
        auto &l = *static_cast<FakeLine *>(ctx);
        l.waits.push_back(us);
        if (SCK_iStopRequested() != 0 || l.Ready() > 0 || l.Closed()) return;
        // As a poll of whole milliseconds: at least one, rounded up.
        long long until = l.now + (us / 1000 + 1) * 1000;
        if (!l.chunks_.empty() && l.chunks_.front().at < until) until = l.chunks_.front().at;
        if (l.close_at >= 0 && l.close_at < until) until = l.close_at;
        l.Advance(until);
    },
    [](void *ctx, long long us) {
        auto &l = *static_cast<FakeLine *>(ctx);
        l.pauses.push_back(us);
        if (SCK_iStopRequested() != 0) return;  // a stop ends every pause at once
        l.Advance(l.now + us);
    },
    [](void *ctx) { return static_cast<FakeLine *>(ctx)->now; },
    [](void *ctx, const char *line) {
        auto &l = *static_cast<FakeLine *>(ctx);
        l.log.emplace_back(line);
        if (l.echo) vLogAdd(line);
    },
};

// ---- SignalIn ----

namespace {
using SigAction = struct ::sigaction;
volatile sig_atomic_t g_stop_on_signal = 0;
void OnSignal(int sig)
{
    if (g_stop_on_signal) SCK_vRequestStop(sig);
}
}  // namespace

SignalIn::SignalIn(int ms, bool stop) : old_(new SigAction{})
{
    g_stop_on_signal = stop;
    SigAction sa{};
    sa.sa_handler = OnSignal;
    sigaction(SIGALRM, &sa, static_cast<SigAction *>(old_));
    itimerval t{};
    t.it_value.tv_sec = ms / 1000;
    t.it_value.tv_usec = (ms % 1000) * 1000;
    setitimer(ITIMER_REAL, &t, nullptr);
}

SignalIn::~SignalIn()
{
    itimerval t{};
    setitimer(ITIMER_REAL, &t, nullptr);
    sigaction(SIGALRM, static_cast<SigAction *>(old_), nullptr);
    delete static_cast<SigAction *>(old_);
    SCK_vStopDone();
}

}  // namespace vt
