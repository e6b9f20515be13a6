#include "simproc.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vt {

namespace {

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits for pid at most timeout_ms: its raw wait status, or -1 while it still runs.
int WaitFor(pid_t pid, long long timeout_ms)
{
    const long long deadline = NowMs() + timeout_ms;
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR)) {
            return got == pid ? status : 0;
        }
        if (NowMs() >= deadline) {
            return -1;
        }
        poll(nullptr, 0, 5);
    }
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Starts path with args: standard input from /dev/null, standard output and
// error onto out and err, env added to the environment. -1 when fork fails.
pid_t Spawn(const std::string &path, const std::vector<std::string> &args, int out, int err,
            const std::vector<std::string> &env)
{
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    std::vector<std::string> vars = env;
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(null_fd, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (std::string &v : vars) {
            putenv(&v[0]);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (null_fd >= 0) {
        close(null_fd);
    }
    return pid;
}

}  // namespace

SimProcess::~SimProcess()
{
    Stop();
    if (!stderr_path_.empty()) {
        unlink(stderr_path_.c_str());
    }
}

bool SimProcess::StartBinary(std::string binary, const std::vector<std::string> &args)
{
    if (binary.empty() && getenv("VESTRUN_SIM_BIN")) {
        binary = getenv("VESTRUN_SIM_BIN");
    }
    if (pid_ > 0 || binary.empty()) {
        return false;
    }
    if (stderr_path_.empty()) {
        const char *base = getenv("TMPDIR");
        std::string name = std::string(base && *base ? base : "/tmp") + "/vestrun-sim-log-XXXXXX";
        const int fd = mkstemp(&name[0]);
        if (fd < 0) {
            return false;
        }
        close(fd);
        stderr_path_ = name;
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> words = {"--listen", "127.0.0.1:0"};
    words.insert(words.end(), args.begin(), args.end());
    const int err_fd = open(stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = Spawn(binary, words, out[1], err_fd, {});
    close(out[1]);
    if (err_fd >= 0) {
        close(err_fd);
    }

    // The first line: "listening HOST:PORT". Nothing else comes on stdout.
    std::string line;
    const long long deadline = NowMs() + 10000;
    struct pollfd pfd = {out[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && c != '\n' && NowMs() < deadline && poll(&pfd, 1, 100) >= 0) {
        if (pfd.revents && read(out[0], &c, 1) != 1) {
            break;  // the stand-in ended before it listened
        }
        line += pfd.revents ? std::string(1, c) : "";
    }
    close(out[0]);
    const size_t colon = line.rfind(':');
    port_ = line.compare(0, 10, "listening ") == 0 && colon != std::string::npos ? atoi(line.c_str() + colon + 1) : 0;
    if (port_ <= 0) {
        Stop();
        return false;
    }
    return true;
}

int SimProcess::Stop()
{
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = WaitFor(pid_, 10000);
    if (status == -1) {
        kill(pid_, SIGKILL);
        status = WaitFor(pid_, 10000);
    }
    pid_ = -1;
    return ExitCode(status);
}

int SimProcess::Wait(int timeout_ms)
{
    const int status = pid_ > 0 ? WaitFor(pid_, timeout_ms) : -1;
    if (status == -1) {
        return -1;
    }
    pid_ = -1;
    return ExitCode(status);
}

std::string SimProcess::Stderr() const
{
    std::string text;
    const int fd = stderr_path_.empty() ? -1 : open(stderr_path_.c_str(), O_RDONLY | O_CLOEXEC);
    char buf[4096];
    ssize_t got;
    while (fd >= 0 && (got = read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<size_t>(got));
    }
    if (fd >= 0) {
        close(fd);
    }
    return text;
}

RunResult RunProcess(const std::string &path, const std::vector<std::string> &args,
                     const std::vector<std::string> &env, int timeout_ms)
{
    RunResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    const pid_t pid = Spawn(path, args, out[1], err[1], env);
    close(out[1]);
    close(err[1]);

    const long long deadline = NowMs() + timeout_ms;
    struct pollfd pfd[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    while (pid > 0 && (pfd[0].fd >= 0 || pfd[1].fd >= 0)) {
        const long long left = deadline - NowMs();
        if (left <= 0) {
            break;
        }
        if (poll(pfd, 2, static_cast<int>(left)) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; i++) {
            char buf[8192];
            const ssize_t got = pfd[i].revents ? read(pfd[i].fd, buf, sizeof buf) : -1;
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (pfd[i].revents && (got == 0 || errno != EINTR)) {
                close(pfd[i].fd);
                pfd[i].fd = -1;
            }
        }
    }
    for (struct pollfd &p : pfd) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    if (pid <= 0) {
        return result;
    }
    // Both pipes may close long before the program ends; the time limit still holds.
    int status = WaitFor(pid, deadline - NowMs());
    if (status == -1) {
        result.timed_out = true;
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace vt
