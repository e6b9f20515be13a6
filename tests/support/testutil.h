// Helpers shared by the tests: captured output, temporary folders, files,
// child processes and the machine's stand-in (vestrun-sim) on a free port.
#ifndef VESTRUN_TESTUTIL_H
#define VESTRUN_TESTUTIL_H

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

// The issuing run's main, built into the tests (see tests/CMakeLists.txt).
int vestrun_main(int argc, char **argv);

namespace vt {

// Redirects a file descriptor (1 for the run log, 2 for library messages) into
// a temporary file until Finish(), which restores it and returns what was written.
class CaptureFd {
public:
    explicit CaptureFd(int fd);
    ~CaptureFd();
    CaptureFd(const CaptureFd &) = delete;
    CaptureFd &operator=(const CaptureFd &) = delete;
    std::string Finish();

private:
    int fd_, saved_;
    FILE *tmp_;
};

// The messages of run-log lines: each line's 15-byte time stamp removed.
// Lines that do not look like log lines are kept whole.
std::vector<std::string> LogMessages(const std::string &captured);

// A fresh folder under $TMPDIR (or /tmp), removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A loopback port that was free a moment ago and has nothing listening now
// (a closed Listener's): a connect to it is refused.
int ClosedPort();

// A loopback socket listening on a port the system picks; it never accepts,
// so a run that must end before the machine leaves it untouched.
class Listener {
public:
    Listener();
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    int Port() const { return port_; }
    bool Called() const;  // is a connection waiting?

private:
    int fd_ = -1, port_ = -1;
};

// `text` from one character set to another by the C library's converter, as
// an independent model of the code tables; empty when it cannot convert.
std::string Iconv(const char *to, const char *from, std::string text);

// `piece` n times over.
inline std::string Repeat(const std::string &piece, int n)
{
    std::string out;
    for (int i = 0; i < n; i++) out += piece;
    return out;
}

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);

// Killed by the destructor when still running.
struct Child {
    pid_t pid = -1;
    TempDir dir;  // its output and errors
    ~Child();
    // Standard input from /dev/null, output and errors into files of its own;
    // the standard descriptors named in `closed` are closed instead.
    bool Start(const std::string &path, const std::vector<std::string> &args, const std::vector<int> &closed = {});
    // The exit status (128 + the signal that ended it), or -1 while it still runs after `ms`.
    int Wait(int ms);
    void Signal(int sig) const;
    std::string Out() const { return ReadFile(dir.file("out")); }
    std::string Err() const { return ReadFile(dir.file("err")); }
};

// vestrun-sim listening on a free loopback port, with these options: the
// port, read from its first line; 0 when it named none within 10 s.
int StartSim(Child *sim, const std::vector<std::string> &args);

// "02 59 03" -> bytes; and bytes -> "02 59 03" for readable failures.
std::string Hex(const std::string &text);
std::string ToHex(const std::string &bytes);

}  // namespace vt

#endif
