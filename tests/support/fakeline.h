// The line the link's exchanges run over, played by a test: a scripted
// machine on a fake clock, a signal on a timer, and the link's dump lines.
#ifndef VESTRUN_FAKELINE_H
#define VESTRUN_FAKELINE_H

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "link.h"

namespace vt {

// A first reply: ten bytes, the answer code (ACK, NAK, DLE, ...) last.
inline std::string Answer(char code) { return std::string(9, '0') + code; }

// A scripted machine on a clock of its own, as the line the link's exchanges
// run over: a pause moves the clock on at once and is recorded; a reply
// becomes readable at its scripted moment; a wait for readable moves the
// clock to that moment (or to the end of the wait). Nothing really sleeps, so
// the exchanges' 1 s to 7 s waits run in microseconds.
class FakeLine {
public:
    // Called for every unit the link sends (a frame with its block check, or
    // the single closing ACK), after it is recorded in `units`.
    std::function<void(FakeLine &, const std::string &)> on_unit;

    // Readable from at_us on. A chunk not yet readable is dropped by
    // DropPending unless `kept`.
    void Deliver(const std::string &bytes, long long at_us, bool kept = false);
    void DropPending();  // the machine took up a new frame: what it still owed the last one goes
    void ReplyIn(int ms, const std::string &bytes) { Deliver(bytes, now + ms * 1000LL); }
    long long LastDue() const { return chunks_.empty() || chunks_.back().at < now ? now : chunks_.back().at; }
    LnkLine Line() { return {&kOps, this}; }
    const std::vector<std::string> &Units() const { return units; }

    long long now = 0;               // µs
    long long close_at = -1;         // the machine drops the line then
    long long stop_at = -1;          // a stop (SIGTERM) is asked for then
    int fail_sends_from = 0;         // 1-based send that fails, and every one after; 0: none
    bool end_stop_on_recv = false;   // the next receive ends a stop (SCK_vStopDone)
    std::vector<long long> pauses;   // every pause, µs, in order
    std::vector<std::string> units;  // sent
    std::vector<std::string> log;    // the link's log lines

private:
    struct Chunk {
        std::string bytes;
        long long at;
        bool kept;
    };
    bool Closed() const { return close_at >= 0 && now >= close_at; }
    size_t Ready() const;  // chunks readable now, from the front
    void Advance(long long to);
    static const LnkOps kOps;
    std::vector<Chunk> chunks_;  // in order of arrival
    int sends_ = 0;
};

// A SIGALRM `ms` from now, caught without SA_RESTART so that a pause or poll
// under way sees EINTR. With `stop` the handler asks the link to stop
// (SCK_vRequestStop); without, it does nothing. The destructor disarms the
// timer, puts the old handler back and ends the stop (SCK_vStopDone).
class SignalIn {
public:
    SignalIn(int ms, bool stop);
    ~SignalIn();
    SignalIn(const SignalIn &) = delete;
    SignalIn &operator=(const SignalIn &) = delete;

private:
    struct sigaction old_ {};
};

// The link's dump lines, written out here on their own for comparing logs:
// "送信サイズ=%3d 電文=[02 59 03 5A ]" for bytes sent, "受信サイズ=%3d 電文=[...]"
// for a receive of `count` (-1: nothing waiting).
std::string SendDump(const std::string &bytes);
std::string RecvDump(int count, const std::string &bytes = "");

}  // namespace vt

#endif
