#include "testutil.h"

#include <fcntl.h>
#include <ftw.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vt {

static std::string TmpBase()
{
    const char *base = getenv("TMPDIR");
    return (base && *base) ? base : "/tmp";
}

CaptureFd::CaptureFd(int fd) : fd_(fd)
{
    fflush(stdout);
    fflush(stderr);
    std::string tmpl = TmpBase() + "/vestrun-capture-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int tmp = mkstemp(name.data());
    if (tmp < 0) {
        return;
    }
    path_ = name.data();
    saved_ = dup(fd_);
    dup2(tmp, fd_);
    close(tmp);
}

CaptureFd::~CaptureFd() { Finish(); }

std::string CaptureFd::Finish()
{
    if (done_ || saved_ < 0) {
        return {};
    }
    done_ = true;
    fflush(stdout);
    fflush(stderr);
    dup2(saved_, fd_);
    close(saved_);
    std::string text = ReadFile(path_);
    unlink(path_.c_str());
    return text;
}

std::vector<std::string> LogMessages(const std::string &captured)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < captured.size()) {
        size_t nl = captured.find('\n', pos);
        std::string line = captured.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = (nl == std::string::npos) ? captured.size() : nl + 1;
        // "MM/DD hh:mm:ss " with blanks for padding
        bool stamp = line.size() >= 15 && line[2] == '/' && line[5] == ' ' && line[8] == ':' && line[11] == ':' &&
                     line[14] == ' ';
        out.push_back(stamp ? line.substr(15) : line);
    }
    return out;
}

TempDir::TempDir()
{
    std::string tmpl = TmpBase() + "/vestrun-test-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) != nullptr) {
        path_ = name.data();
    }
}

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

TempDir::~TempDir()
{
    if (!path_.empty()) {
        nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}

int ClosedPort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    if (s >= 0) close(s);
    return port;
}

Listener::Listener()
{
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
        port_ = ntohs(a.sin_port);
    }
}

Listener::~Listener()
{
    if (fd_ >= 0) close(fd_);
}

int Listener::Accept(int ms)
{
    pollfd p = {fd_, POLLIN, 0};
    return poll(&p, 1, ms) > 0 ? accept(fd_, nullptr, nullptr) : -1;
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
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(const std::string &text)
{
    std::string out;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        out.push_back(static_cast<char>(std::strtoul(tok.c_str(), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const std::string &bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        snprintf(buf, sizeof buf, "%02X", c);
        if (!out.empty()) {
            out.push_back(' ');
        }
        out += buf;
    }
    return out;
}

}  // namespace vt
