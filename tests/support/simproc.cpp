#include "simproc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace vt {

Child::~Child()
{
    Signal(SIGKILL);
    Wait(10000);
}

bool Child::Start(const std::string &path, const std::vector<std::string> &args, const std::vector<int> &closed)
{
    std::vector<char *> argv = {const_cast<char *>(path.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const std::string files[] = {"/dev/null", dir.file("out"), dir.file("err")};
    pid = fork();
    if (pid == 0) {
        for (int fd = 0; fd <= 2; fd++) {
            const int f = open(files[fd].c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(f, fd);
            close(f);
        }
        for (int fd : closed) close(fd);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid > 0;
}

int Child::Wait(int ms)
{
    for (int waited = 0; pid > 0; waited += 5) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (waited >= ms) break;
        poll(nullptr, 0, 5);
    }
    return -1;
}

void Child::Signal(int sig) const
{
    if (pid > 0) kill(pid, sig);
}

int StartSim(Child *sim, const std::vector<std::string> &args)
{
    std::vector<std::string> words = {"--listen", "127.0.0.1:0"};
    words.insert(words.end(), args.begin(), args.end());
    if (!sim->Start(VESTRUN_SIM_BIN, words)) return 0;
    for (int i = 0; i < 1000; i++) {
        const std::string out = sim->Out();  // "listening 127.0.0.1:PORT"
        if (out.find('\n') != std::string::npos) return atoi(out.c_str() + out.rfind(':') + 1);
        poll(nullptr, 0, 10);
    }
    return 0;
}

}  // namespace vt
