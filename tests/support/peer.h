// A scripted stand-in for the issuing machine, for tests of the link and of
// the printer commands. It listens on 127.0.0.1 on a port the system picks,
// takes one connection and plays its script in a thread. Every byte it
// receives is kept with its arrival time, also after the script has run out
// (until Stop), so a test sees what went on the wire, when, and that nothing
// more came.
//
//     vt::Peer peer;
//     peer.ExpectFrame()                          // the command frame
//         .Send(vt::Peer::Answer(SCK_ACK))        // first reply, ACK at offset 9
//         .Send(std::string(20, 'R'))             // result reply
//         .ExpectFrame();                         // the closing ACK
//     ASSERT_TRUE(peer.Start());
//     int sock = peer.Connect();                  // or SCK_iOpen(&sock, "127.0.0.1", peer.Port())
//     ... run the exchange ...
//     peer.Stop();
//     EXPECT_TRUE(peer.Errors().empty());
//
// An ExpectFrame that times out or finds the connection closed ends the
// script with an error. Times are seconds on the monotonic clock since Start().
#ifndef VESTRUN_PEER_H
#define VESTRUN_PEER_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vt {

// One unit of what the link sent: a frame from STX through its block check,
// or a single byte that does not start with STX (the closing ACK).
struct PeerFrame {
    std::string bytes;
    double at;  // arrival of its first byte
};

class Peer {
    struct Step {
        enum Kind { kFrame, kSend, kWait, kClose } kind;
        std::string bytes;
        int ms;
    };
    Peer &Add(Step step)
    {
        steps_.push_back(std::move(step));
        return *this;
    }

public:
    Peer() = default;
    ~Peer() { Stop(); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    // ---- the script (built before Start) ----
    Peer &ExpectFrame(int timeout_ms = 30000) { return Add({Step::kFrame, {}, timeout_ms}); }
    Peer &Send(const std::string &bytes) { return Add({Step::kSend, bytes, 0}); }
    Peer &Wait(int ms) { return Add({Step::kWait, {}, ms}); }  // bytes arriving meanwhile are kept
    Peer &Close() { return Add({Step::kClose, {}, 0}); }       // the script ends here
    // A first reply: ten bytes, the answer code (ACK, NAK, DLE, ...) last.
    static std::string Answer(char code) { return std::string(9, '0') + code; }

    // ---- running ----
    bool Start();  // false when no listening socket could be made
    int Port() const { return port_; }
    // A client socket connected to the peer, its flags exactly O_NONBLOCK as
    // the link leaves them (without the link's settling pause); -1 on failure.
    int Connect() const;
    double Now() const;
    void Stop();  // takes what is still waiting, ends the thread; safe twice

    // ---- what happened (complete after Stop) ----
    bool Accepted() const { return accepted_; }  // did the link connect at all?
    std::vector<PeerFrame> Frames() const;
    std::vector<std::string> Errors() const;

private:
    void Run();
    bool Pump(double deadline);  // one wait for data; false on close, stop or deadline
    bool TakeFrame(int timeout_ms);
    void Fail(const std::string &what);

    std::vector<Step> steps_;
    int listen_fd_ = -1, conn_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    double start_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false}, accepted_{false};
    bool conn_open_ = false;
    std::string pending_;  // received, not yet taken by ExpectFrame (thread only)

    mutable std::mutex mu_;
    std::vector<std::pair<std::string, double>> chunks_;  // every receive, with its time
    std::vector<std::string> errors_;
};

// The link's dump lines, written out here on their own for comparing logs:
// "送信サイズ=%3d 電文=[02 59 03 5A ]" for bytes sent, "受信サイズ=%3d 電文=[...]"
// for a receive of `count` (-1: nothing waiting).
std::string SendDump(const std::string &bytes);
std::string RecvDump(int count, const std::string &bytes = "");

}  // namespace vt

#endif
