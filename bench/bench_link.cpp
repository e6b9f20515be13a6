// What the printer link costs the machine it runs on.
//
// ImageExchangeWaiting: 50 image frames, each answered by the machine 300 ms
// after it arrived. Nearly all of that time is the link waiting in its reply
// windows; the counters show the CPU seconds the exchanging thread used beside
// the wall time (goal: under 1 % of it).
// DumpLine895: building the run-log line of the longest frame the tool sends.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "sock.h"

namespace {

double ThreadCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A machine on 127.0.0.1 that answers each frame after a delay: a first reply
// with ACK, a 20-byte result, then it waits for the closing ACK.
class SlowMachine {
public:
    SlowMachine(int frames, int delay_ms)
    {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(listen_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(listen_, 1);
        getsockname(listen_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, frames, delay_ms] { Serve(frames, delay_ms); });
    }
    ~SlowMachine()
    {
        thread_.join();
        close(listen_);
    }
    int Connect() const
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port_));
        if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            close(fd);
            return -1;
        }
        fcntl(fd, F_SETFL, O_NONBLOCK);
        return fd;
    }

private:
    static bool ReadUntil(int fd, char last, size_t extra)
    {
        char c;
        for (;;) {
            if (recv(fd, &c, 1, 0) != 1) return false;
            if (c == last) break;
        }
        for (size_t i = 0; i < extra; i++) {
            if (recv(fd, &c, 1, 0) != 1) return false;
        }
        return true;
    }
    void Serve(int frames, int delay_ms)
    {
        int fd = accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        // Answer and result go out at once, not held back for the link's ACK.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const std::string answer = std::string(9, '0') + '\x06';
        const std::string result(20, 'R');
        for (int i = 0; i < frames; i++) {
            if (!ReadUntil(fd, '\x03', 1)) break;  // the frame and its block check
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            send(fd, result.data(), result.size(), MSG_NOSIGNAL);
            if (!ReadUntil(fd, '\x06', 0)) break;  // the closing ACK
        }
        close(fd);
    }
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

void ImageExchangeWaiting(benchmark::State &state)
{
    const int kFrames = 50;
    for (auto _ : state) {
        SlowMachine machine(kFrames, 300);
        int sock = machine.Connect();
        // The run log goes to standard output; keep it out of the report.
        fflush(stdout);
        int saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);

        std::string frame = "\x02M0,3,200," + std::string(400, 'F') + "\x03";
        std::vector<char> buf(frame.begin(), frame.end());
        buf.push_back(0);
        char rcv[256];
        int len = 0;
        int failures = 0;
        const double cpu0 = ThreadCpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; i++) {
            if (SCK_iSendImage(sock, buf.data(), static_cast<int>(frame.size()), rcv, &len) != 0) failures++;
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cpu = ThreadCpuSeconds() - cpu0;

        fflush(stdout);
        dup2(saved, 1);
        close(saved);
        close(sock);
        state.counters["frames"] = kFrames;
        state.counters["failures"] = failures;
        state.counters["wall_s"] = wall;
        state.counters["cpu_s"] = cpu;
        state.counters["cpu_pct_of_wall"] = 100.0 * cpu / wall;
    }
}
BENCHMARK(ImageExchangeWaiting)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void DumpLine895(benchmark::State &state)
{
    std::vector<unsigned char> frame(895);
    for (size_t i = 0; i < frame.size(); i++) frame[i] = static_cast<unsigned char>(i * 7);
    std::vector<char> line(4096);
    for (auto _ : state) {
        int n = SCK_iDumpLine(line.data(), line.size(), SCK_DUMP_SEND, 895, frame.data(), 895);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(line.data());
    }
}
BENCHMARK(DumpLine895);

}  // namespace

BENCHMARK_MAIN();
