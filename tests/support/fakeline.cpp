#include "fakeline.h"

#include <sys/time.h>
#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "head.h"
#include "sock.h"
#include "testutil.h"

namespace vt {

namespace {

std::string DumpLine(const char *head_format, int count, const std::string &bytes)
{
    char head[64];
    snprintf(head, sizeof head, head_format, count);
    return head + (bytes.empty() ? "" : ToHex(bytes) + " ") + "]";
}

}  // namespace

std::string SendDump(const std::string &bytes)
{
    return DumpLine("送信サイズ=%3d 電文=[", static_cast<int>(bytes.size()), bytes);
}

std::string RecvDump(int count, const std::string &bytes) { return DumpLine("受信サイズ=%3d 電文=[", count, bytes); }

// ---- FakeLine ----

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
        if (l.end_stop_on_recv) l.end_stop_on_recv = false, SCK_vStopDone();
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
