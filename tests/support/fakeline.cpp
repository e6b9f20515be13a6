#include "fakeline.h"

#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sock.h"
#include "testutil.h"

namespace vt {

std::string RecvDump(int count, const std::string &bytes)
{
    char head[64];
    snprintf(head, sizeof head, "受信サイズ=%3d 電文=[", count);
    return head + (bytes.empty() ? "" : ToHex(bytes) + " ") + "]";
}

// The same line with the other direction's word.
std::string SendDump(const std::string &bytes)
{
    return "送信" + RecvDump(static_cast<int>(bytes.size()), bytes).substr(strlen("受信"));
}

void FakeLine::DropPending()
{
    chunks_.erase(
        std::remove_if(chunks_.begin(), chunks_.end(), [this](const Chunk &c) { return c.at > now && !c.kept; }),
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

// Moves the clock to `to`, or to the moment a stop comes on the way.
void FakeLine::Advance(long long to)
{
    if (stop_at < 0 || stop_at > to) {
        now = to;
        return;
    }
    now = std::max(now, stop_at), stop_at = -1;
    SCK_vRequestStop(SIGTERM);
}

const LnkOps FakeLine::kOps = {
    [](void *ctx, const char *buf, size_t len) -> int {
        auto &l = *static_cast<FakeLine *>(ctx);
        if (l.Closed() || (l.fail_sends_from > 0 && ++l.sends_ >= l.fail_sends_from)) return -1;
        l.units.emplace_back(buf, len);
        if (l.on_unit) l.on_unit(l, l.units.back());
        return 0;
    },
    [](void *ctx, char *buf, int cap, int peek, int *err) -> int {
        auto &l = *static_cast<FakeLine *>(ctx);
        if (l.end_stop_on_recv) l.end_stop_on_recv = false, SCK_vStopDone();
        const size_t ready = l.Ready();
        *err = EAGAIN;
        if (ready == 0) return l.Closed() ? 0 : -1;
        std::string got;
        for (size_t i = 0; i < ready; i++) got += l.chunks_[i].bytes;
        got.resize(std::min(got.size(), static_cast<size_t>(cap)));
        memcpy(buf, got.data(), got.size());
        for (size_t left = peek ? 0 : got.size(); left > 0;) {
            std::string &front = l.chunks_.front().bytes;
            const size_t n = std::min(left, front.size());
            front.erase(0, n), left -= n;
            if (front.empty()) l.chunks_.erase(l.chunks_.begin());
        }
        return static_cast<int>(got.size());
    },
    [](void *ctx, long long us) {
        auto &l = *static_cast<FakeLine *>(ctx);
        if (SCK_iStopRequested() != 0 || l.Ready() > 0 || l.Closed()) return;
        // As a poll of whole milliseconds: at least one, rounded up.
        long long until = l.now + (us / 1000 + 1) * 1000;
        if (!l.chunks_.empty()) until = std::min(until, l.chunks_.front().at);
        if (l.close_at >= 0) until = std::min(until, l.close_at);
        l.Advance(until);
    },
    [](void *ctx, long long us) {
        auto &l = *static_cast<FakeLine *>(ctx);
        l.pauses.push_back(us);
        if (SCK_iStopRequested() == 0) l.Advance(l.now + us);  // a stop ends every pause at once
    },
    [](void *ctx) { return static_cast<FakeLine *>(ctx)->now; },
    [](void *ctx, const char *line) { static_cast<FakeLine *>(ctx)->log.emplace_back(line); },
};

SignalIn::SignalIn(int ms, bool stop)
{
    struct sigaction sa {};
    sa.sa_handler = stop ? +[](int sig) { SCK_vRequestStop(sig); } : +[](int) {};
    sigaction(SIGALRM, &sa, &old_);
    itimerval t{};
    t.it_value = {ms / 1000, (ms % 1000) * 1000};
    setitimer(ITIMER_REAL, &t, nullptr);
}

SignalIn::~SignalIn()
{
    itimerval t{};
    setitimer(ITIMER_REAL, &t, nullptr);
    sigaction(SIGALRM, &old_, nullptr);
    SCK_vStopDone();
}

}  // namespace vt
