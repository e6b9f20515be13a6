#include "testutil.h"

#include <ftw.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vt {

CaptureFd::CaptureFd(int fd) : fd_(fd), saved_(dup(fd)), tmp_(tmpfile())
{
    fflush(nullptr);
    if (tmp_) dup2(fileno(tmp_), fd_);
}

CaptureFd::~CaptureFd() { Finish(); }

std::string CaptureFd::Finish()
{
    if (!tmp_) return {};
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
    const std::string text = ReadFile("/proc/self/fd/" + std::to_string(fileno(tmp_)));
    fclose(tmp_);
    tmp_ = nullptr;
    return text;
}

std::vector<std::string> LogMessages(const std::string &captured)
{
    std::vector<std::string> out;
    std::istringstream in(captured);
    // "MM/DD hh:mm:ss " with blanks for padding
    for (std::string l; std::getline(in, l);)
        out.push_back(l.size() >= 15 && l[2] == '/' && l[8] == ':' && l[11] == ':' ? l.substr(15) : l);
    return out;
}

TempDir::TempDir()
{
    const char *base = getenv("TMPDIR");
    path_ = std::string(base && *base ? base : "/tmp") + "/vestrun-test-XXXXXX";
    if (mkdtemp(&path_[0]) == nullptr) path_.clear();
}

TempDir::~TempDir()
{
    auto remove_one = [](const char *path, const struct stat *, int, FTW *) { return remove(path); };
    if (!path_.empty()) nftw(path_.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS);
}

int ClosedPort() { return Listener().Port(); }

Listener::Listener() : fd_(socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port_ = ntohs(a.sin_port);
}

Listener::~Listener()
{
    if (fd_ >= 0) close(fd_);
}

bool Listener::Called() const
{
    pollfd p = {fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

std::string Iconv(const char *to, const char *from, std::string text)
{
    iconv_t cd = iconv_open(to, from);
    char out[512], *ip = text.data(), *op = out;
    size_t il = text.size(), ol = sizeof out;
    const size_t rc = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) ? "" : std::string(out, op);
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Hex(const std::string &text)
{
    std::string out;
    std::istringstream in(text);
    for (std::string tok; in >> tok;) out += static_cast<char>(std::strtoul(tok.c_str(), nullptr, 16));
    return out;
}

std::string ToHex(const std::string &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) out += std::string(out.empty() ? "" : " ") + kDigits[c >> 4] + kDigits[c & 15];
    return out;
}

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
    fflush(nullptr);  // the child's reopen would write out what the tests left buffered
    pid = fork();
    if (pid == 0) {  // each stream reopened on its own descriptor
        if (!freopen("/dev/null", "r", stdin) || !freopen(dir.file("out").c_str(), "w", stdout) ||
            !freopen(dir.file("err").c_str(), "w", stderr))
            _exit(127);
        for (int fd : closed) close(fd);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid > 0;
}

int Child::Wait(int ms)
{
    for (int waited = 0; pid > 0 && waited <= ms; waited += 5) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
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
