#include "simproc.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

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

// The exit status, or 128 + the signal that ended it.
int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// The raw status after SIGKILL, for a child past its time.
int Kill(pid_t pid)
{
    int status = 0;
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Starts path with args: standard input from /dev/null, standard output onto
// out, standard error into the file err_path, env added to the environment.
pid_t Spawn(const std::string &path, const std::vector<std::string> &args, int out, const std::string &err_path,
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
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
    close(null_fd);
    close(err);
    return pid;
}

}  // namespace

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::StartBinary(std::string binary, const std::vector<std::string> &args)
{
    if (binary.empty() && getenv("VESTRUN_SIM_BIN")) {
        binary = getenv("VESTRUN_SIM_BIN");
    }
    int out[2];
    if (pid_ > 0 || binary.empty() || pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> words = {"--listen", "127.0.0.1:0"};
    words.insert(words.end(), args.begin(), args.end());
    pid_ = Spawn(binary, words, out[1], dir_.file("stderr"), {});
    close(out[1]);

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
    status = status == -1 ? Kill(pid_) : status;
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

std::string SimProcess::Stderr() const { return ReadFile(dir_.file("stderr")); }

RunResult RunProcess(const std::string &path, const std::vector<std::string> &args, const std::vector<std::string> &env,
                     int timeout_ms)
{
    RunResult result;
    TempDir dir;
    const int out = open(dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = out < 0 ? -1 : Spawn(path, args, out, dir.file("stderr"), env);
    if (out >= 0) {
        close(out);
    }
    if (pid <= 0) {
        return result;
    }
    int status = WaitFor(pid, timeout_ms);
    if (status == -1) {
        result.timed_out = true;
        status = Kill(pid);
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(dir.file("stdout"));
    result.err = ReadFile(dir.file("stderr"));
    return result;
}

}  // namespace vt
