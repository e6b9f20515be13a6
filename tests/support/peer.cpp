#include "peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>

#include "testutil.h"

namespace vt {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;

double Clock()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

static std::string DumpLine(const char *head_format, int count, const std::string &bytes)
{
    char head[64];
    snprintf(head, sizeof head, head_format, count);
    return head + (bytes.empty() ? "" : ToHex(bytes) + " ") + "]";
}

std::string SendDump(const std::string &bytes)
{
    return DumpLine("送信サイズ=%3d 電文=[", static_cast<int>(bytes.size()), bytes);
}

std::string RecvDump(int count, const std::string &bytes) { return DumpLine("受信サイズ=%3d 電文=[", count, bytes); }

Peer::Peer() = default;

Peer::~Peer() { Stop(); }

Peer &Peer::ExpectFrame(int timeout_ms)
{
    steps_.push_back({Step::kExpectFrame, {}, 0, timeout_ms});
    return *this;
}

Peer &Peer::ExpectBytes(size_t n, int timeout_ms)
{
    steps_.push_back({Step::kExpectBytes, {}, n, timeout_ms});
    return *this;
}

Peer &Peer::Expect(const std::string &bytes, int timeout_ms)
{
    steps_.push_back({Step::kExpect, bytes, bytes.size(), timeout_ms});
    return *this;
}

Peer &Peer::Send(const std::string &bytes)
{
    steps_.push_back({Step::kSend, bytes, 0, 0});
    return *this;
}

Peer &Peer::Wait(int ms)
{
    steps_.push_back({Step::kWait, {}, 0, ms});
    return *this;
}

Peer &Peer::Close()
{
    steps_.push_back({Step::kClose, {}, 0, 0});
    return *this;
}

std::string Peer::Answer(char code) { return std::string(9, '0') + code; }

bool Peer::Start()
{
    if (pipe(stop_pipe_) != 0) {
        return false;
    }
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listen_fd_ < 0) {
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(listen_fd_, 4) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
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
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

double Peer::Now() const { return Clock() - start_; }

bool Peer::WaitDone(int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mu_);
    return done_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return done_; });
}

void Peer::Stop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        if (write(stop_pipe_[1], "x", 1) < 0) {
            // the thread also ends when the link closes; nothing else to do
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

std::vector<PeerEvent> Peer::Events() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
}

std::string Peer::Received() const
{
    std::string out;
    for (const auto &e : Events()) {
        if (e.kind == PeerEvent::kReceived) {
            out += e.bytes;
        }
    }
    return out;
}

std::vector<PeerFrame> Peer::Frames() const
{
    // Every received byte with the arrival time of its chunk.
    std::string bytes;
    std::vector<double> when;
    for (const auto &e : Events()) {
        if (e.kind == PeerEvent::kReceived) {
            bytes += e.bytes;
            when.insert(when.end(), e.bytes.size(), e.at);
        }
    }
    std::vector<PeerFrame> out;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t end = i + 1;
        if (bytes[i] == kStx) {
            size_t etx = bytes.find(kEtx, i + 1);
            end = (etx == std::string::npos) ? bytes.size() : std::min(etx + 2, bytes.size());
        }
        out.push_back({bytes.substr(i, end - i), when[i]});
        i = end;
    }
    return out;
}

std::vector<std::string> Peer::Errors() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return errors_;
}

void Peer::Record(PeerEvent::Kind kind, const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back({kind, bytes, Now()});
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
    int r = poll(fds, 2, timeout);
    if (r <= 0 || fds[0].revents != 0 || !conn_open_) {
        return false;
    }
    char buf[4096];
    ssize_t n = recv(conn_fd_, buf, sizeof buf, 0);
    if (n > 0) {
        std::string chunk(buf, static_cast<size_t>(n));
        pending_ += chunk;
        Record(PeerEvent::kReceived, chunk);
        return true;
    }
    if (n < 0 && errno == EINTR) {
        return true;
    }
    conn_open_ = false;  // the link closed (or reset) the connection
    Record(PeerEvent::kClosed, {});
    return false;
}

size_t Peer::FrameLength() const
{
    if (pending_.empty()) {
        return 0;
    }
    if (pending_[0] != kStx) {
        return 1;
    }
    size_t etx = pending_.find(kEtx, 1);
    return (etx == std::string::npos || etx + 2 > pending_.size()) ? 0 : etx + 2;
}

bool Peer::Take(const Step &step, std::string *out)
{
    const double deadline = Now() + step.ms / 1000.0;
    for (;;) {
        size_t want = step.kind == Step::kExpectFrame ? FrameLength() : (pending_.size() >= step.n ? step.n : 0);
        if (want > 0 || (step.kind != Step::kExpectFrame && step.n == 0)) {
            *out = pending_.substr(0, want);
            pending_.erase(0, want);
            return true;
        }
        if (stopping_) {
            return false;
        }
        if (!conn_open_) {
            Fail("connection closed while waiting for " +
                 (step.kind == Step::kExpectFrame ? std::string("a frame") : std::to_string(step.n) + " bytes"));
            return false;
        }
        if (Now() >= deadline) {
            Fail("timed out waiting for " +
                 (step.kind == Step::kExpectFrame ? std::string("a frame") : std::to_string(step.n) + " bytes"));
            return false;
        }
        Pump(deadline);
    }
}

void Peer::Run()
{
    pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    if (poll(fds, 2, kDefaultTimeoutMs) <= 0 || fds[0].revents != 0 ||
        (conn_fd_ = accept(listen_fd_, nullptr, nullptr)) < 0) {
        if (!stopping_) {
            Fail("no connection");
        }
        std::lock_guard<std::mutex> lock(mu_);
        done_ = true;
        done_cv_.notify_all();
        return;
    }
    conn_open_ = true;
    // Like the machine, answer each frame at once rather than after the
    // client's delayed acknowledgement of the previous reply.
    int one = 1;
    setsockopt(conn_fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    for (const Step &step : steps_) {
        bool go_on = true;
        switch (step.kind) {
        case Step::kExpectFrame:
        case Step::kExpectBytes:
        case Step::kExpect: {
            std::string got;
            go_on = Take(step, &got);
            if (go_on && step.kind == Step::kExpect && got != step.bytes) {
                Fail("expected [" + ToHex(step.bytes) + "], got [" + ToHex(got) + "]");
            }
            break;
        }
        case Step::kSend: {
            size_t off = 0;
            while (off < step.bytes.size()) {
                ssize_t n = send(conn_fd_, step.bytes.data() + off, step.bytes.size() - off, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    Fail(std::string("send failed: ") + strerror(errno));
                    break;
                }
                off += static_cast<size_t>(n);
            }
            Record(PeerEvent::kSent, step.bytes.substr(0, off));
            break;
        }
        case Step::kWait: {
            const double deadline = Now() + step.ms / 1000.0;
            while (!stopping_ && Now() < deadline) {
                Pump(deadline);
            }
            break;
        }
        case Step::kClose:
            shutdown(conn_fd_, SHUT_RDWR);
            close(conn_fd_);
            conn_fd_ = -1;
            conn_open_ = false;
            Record(PeerEvent::kClosed, {});
            go_on = false;
            break;
        }
        if (!go_on || stopping_) {
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        done_ = true;
        done_cv_.notify_all();
    }
    // Keep recording until the link closes or the test stops the peer.
    while (conn_open_ && Pump(-1)) {
    }
    // Whatever the link sent before Stop() is still waiting: take it too.
    while (conn_open_) {
        char buf[4096];
        ssize_t n = recv(conn_fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) {
            break;
        }
        Record(PeerEvent::kReceived, std::string(buf, static_cast<size_t>(n)));
    }
}

}  // namespace vt
