// A scripted stand-in for the issuing machine, for tests of the link and of
// the printer commands.
//
// The peer listens on 127.0.0.1 on a port the system picks, takes one
// connection and plays its script in a thread of the test process. Every
// byte it receives is recorded with its arrival time, also after the script
// has run out (until Stop), so a test can check what went on the wire, when,
// and that nothing more came.
//
//     vt::Peer peer;
//     peer.ExpectFrame()                          // the command frame
//         .Send(vt::Peer::Answer(SCK_ACK))        // first reply, ACK at offset 9
//         .Send(std::string(20, 'R'))             // result reply
//         .ExpectBytes(1);                        // the closing ACK
//     ASSERT_TRUE(peer.Start());
//     int sock = peer.Connect();                  // or SCK_iOpen(&sock, "127.0.0.1", peer.Port())
//     ... run the exchange ...
//     peer.Stop();                                // takes what is still waiting, ends the thread
//     EXPECT_TRUE(peer.Errors().empty());
//     auto frames = peer.Frames();                // what the link sent, frame by frame
//
// Steps run in order. An Expect step that times out or sees the link close
// the connection ends the script (recorded in Errors()); a mismatch of
// Expect(bytes) is recorded and the script goes on. Times are seconds on the
// monotonic clock since Start().
#ifndef VESTRUN_PEER_H
#define VESTRUN_PEER_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vt {

struct PeerEvent {
    enum Kind { kReceived, kSent, kClosed };
    Kind kind;
    std::string bytes;  // received or sent bytes; empty for kClosed
    double at;          // seconds since Start()
};

// One unit of what the link sent: a frame from STX through its block check,
// or a single byte that does not start with STX (the closing ACK).
struct PeerFrame {
    std::string bytes;
    double at;  // arrival of its first byte, seconds since Start()
};

class Peer {
public:
    static constexpr int kDefaultTimeoutMs = 30000;

    Peer();
    ~Peer();  // Stop()
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    // ---- the script (built before Start) ----
    // Waits for one frame (STX ... ETX, BCC) or one byte that is not STX.
    Peer &ExpectFrame(int timeout_ms = kDefaultTimeoutMs);
    // Waits for n bytes, whatever they are.
    Peer &ExpectBytes(size_t n, int timeout_ms = kDefaultTimeoutMs);
    // Waits for bytes.size() bytes and records an error unless they equal bytes.
    Peer &Expect(const std::string &bytes, int timeout_ms = kDefaultTimeoutMs);
    Peer &Send(const std::string &bytes);
    // Pauses the script; bytes arriving meanwhile are recorded as they come.
    Peer &Wait(int ms);
    // Closes the connection (both directions); the script ends here.
    Peer &Close();

    // A first reply: ten bytes, the answer code (ACK, NAK, DLE, ...) last.
    static std::string Answer(char code);

    // ---- running ----
    // Listens and starts the thread; false when no listening socket could be made.
    bool Start();
    int Port() const { return port_; }
    // A client socket connected to the peer and set to exactly O_NONBLOCK, as
    // the link's connection leaves it (without its one-second settling); -1 on failure.
    int Connect() const;
    // Seconds since Start(), on the clock of the recorded times.
    double Now() const;
    // Waits until the script has run out (or ended on an error); false on timeout.
    bool WaitDone(int timeout_ms = kDefaultTimeoutMs);
    // Takes off what is still waiting on the connection, ends the thread and
    // closes the sockets. Safe to call twice.
    void Stop();

    // ---- what happened (safe at any time; complete after Stop) ----
    std::vector<PeerEvent> Events() const;
    std::string Received() const;          // every byte received, in order
    std::vector<PeerFrame> Frames() const;  // Received() cut into frames
    std::vector<std::string> Errors() const;

private:
    struct Step {
        enum Kind { kExpectFrame, kExpectBytes, kExpect, kSend, kWait, kClose } kind;
        std::string bytes;
        size_t n = 0;
        int ms = 0;
    };

    void Run();
    bool Pump(double deadline);  // one wait for data; false on close, stop or deadline
    void Record(PeerEvent::Kind kind, const std::string &bytes);
    void Fail(const std::string &what);
    size_t FrameLength() const;  // length of a whole unit at the head of pending_, or 0
    bool Take(const Step &step, std::string *out);

    std::vector<Step> steps_;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    double start_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    bool conn_open_ = false;

    mutable std::mutex mu_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::string pending_;  // received, not yet taken by an Expect step (thread only)
    std::vector<PeerEvent> events_;
    std::vector<std::string> errors_;
};

// The run-log dump lines of the link, written out here independently of it,
// for comparing logs: "送信サイズ=%3d 電文=[02 59 03 5A ]" for the bytes sent,
// "受信サイズ=%3d 電文=[...]" for a receive of `count` (-1: nothing waiting).
std::string SendDump(const std::string &bytes);
std::string RecvDump(int count, const std::string &bytes = "");

}  // namespace vt

#endif
