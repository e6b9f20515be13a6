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
#include <map>

extern char **environ;

namespace vt {

namespace {

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void PauseMs(int ms)
{
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::vector<char *> Argv(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    return argv;
}

std::string TempPath(const char *stem)
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string((base && *base) ? base : "/tmp") + "/" + stem + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        return {};
    }
    close(fd);
    return name.data();
}

// Waits for pid at most timeout_ms; the raw wait status, or -1 when it still runs.
int WaitFor(pid_t pid, int timeout_ms)
{
    const long long deadline = NowMs() + timeout_ms;
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            return status;
        }
        if (got < 0 && errno != EINTR) {
            return 0;  // not our child any more: nothing to wait for
        }
        if (NowMs() >= deadline) {
            return -1;
        }
        PauseMs(5);
    }
}

int StatusCode(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

}  // namespace

SimProcess::~SimProcess()
{
    Stop();
    if (!stderr_path_.empty()) {
        unlink(stderr_path_.c_str());
    }
}

bool SimProcess::StartBinary(const std::string &binary, const std::vector<std::string> &args)
{
    if (pid_ > 0) {
        return false;
    }
    std::string bin = binary;
    if (bin.empty()) {
        const char *env = getenv("VESTRUN_SIM_BIN");
        bin = env ? env : "";
    }
    if (bin.empty()) {
        return false;
    }
    if (stderr_path_.empty()) {
        stderr_path_ = TempPath("vestrun-sim-log");
    }
    std::vector<std::string> words = {bin, "--listen", "127.0.0.1:0"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv = Argv(words);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return false;
    }
    const int err_fd = open(stderr_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(null_fd, 0);
        dup2(out[1], 1);
        if (err_fd >= 0) {
            dup2(err_fd, 2);
        }
        execv(argv[0], argv.data());
        const char msg[] = "SimProcess: exec failed\n";
        ssize_t ignored = write(2, msg, sizeof msg - 1);
        (void)ignored;
        _exit(127);
    }
    close(out[1]);
    if (err_fd >= 0) {
        close(err_fd);
    }
    if (null_fd >= 0) {
        close(null_fd);
    }
    if (pid < 0) {
        close(out[0]);
        return false;
    }
    pid_ = pid;
    stdout_fd_ = out[0];

    // The first line: "listening HOST:PORT".
    std::string line;
    const long long deadline = NowMs() + 10000;
    while (line.find('\n') == std::string::npos) {
        const long long left = deadline - NowMs();
        if (left <= 0) {
            break;
        }
        struct pollfd pfd = {stdout_fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        char c;
        const ssize_t got = read(stdout_fd_, &c, 1);
        if (got <= 0) {
            break;  // the stand-in ended before it listened
        }
        line += c;
    }
    const size_t colon = line.rfind(':');
    if (line.compare(0, 10, "listening ") != 0 || colon == std::string::npos) {
        Stop();
        return false;
    }
    port_ = atoi(line.c_str() + colon + 1);
    if (port_ <= 0) {
        Stop();
        return false;
    }
    return true;
}

int SimProcess::Reap(int status)
{
    pid_ = -1;
    if (stdout_fd_ >= 0) {
        close(stdout_fd_);
        stdout_fd_ = -1;
    }
    return StatusCode(status);
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
    return Reap(status);
}

int SimProcess::Wait(int timeout_ms)
{
    if (pid_ <= 0) {
        return -1;
    }
    const int status = WaitFor(pid_, timeout_ms);
    if (status == -1) {
        return -1;
    }
    return Reap(status);
}

std::string SimProcess::Stderr() const
{
    std::string text;
    if (stderr_path_.empty()) {
        return text;
    }
    const int fd = open(stderr_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    char buf[4096];
    ssize_t got;
    while ((got = read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<size_t>(got));
    }
    close(fd);
    return text;
}

RunResult RunProcess(const std::string &path, const std::vector<std::string> &args,
                     const std::vector<std::string> &env, int timeout_ms, const std::string &cwd)
{
    RunResult result;
    std::vector<std::string> words = {path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv = Argv(words);

    // The current environment, with env's entries put over it.
    std::map<std::string, std::string> vars;
    std::vector<std::string> order;
    auto put = [&](const std::string &entry) {
        const std::string name = entry.substr(0, entry.find('='));
        if (vars.find(name) == vars.end()) {
            order.push_back(name);
        }
        vars[name] = entry;
    };
    for (char **e = environ; e && *e; e++) {
        put(*e);
    }
    for (const std::string &entry : env) {
        put(entry);
    }
    std::vector<std::string> env_words;
    for (const std::string &name : order) {
        env_words.push_back(vars[name]);
    }
    std::vector<char *> envp = Argv(env_words);

    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(null_fd, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (null_fd >= 0) {
        close(null_fd);
    }
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return result;
    }
    result.started = true;

    const long long deadline = NowMs() + timeout_ms;
    struct pollfd pfd[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const long long left = deadline - NowMs();
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(pfd, 2, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (pfd[i].fd < 0 || pfd[i].revents == 0) {
                continue;
            }
            char buf[8192];
            const ssize_t got = read(pfd[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(pfd[i].fd);
                pfd[i].fd = -1;
                open_fds--;
            }
        }
    }
    for (struct pollfd &p : pfd) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    // Both pipes may close long before the program ends; the time limit
    // still holds.
    long long left = deadline - NowMs();
    int status = result.timed_out ? -1 : WaitFor(pid, left > 0 ? static_cast<int>(left) : 0);
    if (status == -1) {
        result.timed_out = true;
        kill(pid, SIGKILL);
        status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace vt
