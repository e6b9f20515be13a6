// Child processes for the tests: the machine's stand-in (vestrun-sim) on a
// free port, and any program run to its end with a time limit.
#ifndef VESTRUN_SIMPROC_H
#define VESTRUN_SIMPROC_H

#include <sys/types.h>

#include <string>
#include <vector>

// The test targets know where the stand-in was built; elsewhere the
// environment variable VESTRUN_SIM_BIN names it.
#if defined(VESTRUN_SIM_BIN)
#define VT_SIM_BIN VESTRUN_SIM_BIN
#else
#define VT_SIM_BIN ""
#endif

namespace vt {

// vestrun-sim started with "--listen 127.0.0.1:0" and the given options. The
// port is read from its first line on stdout, so no test waits on a clock for
// it to come up. The stand-in's log (stderr) goes to a file that Stderr()
// reads back. The destructor stops a stand-in still running.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // False when the program could not be started or did not report a port
    // within 10 s (Stderr() then tells why).
    bool Start(const std::vector<std::string> &args) { return StartBinary(VT_SIM_BIN, args); }
    bool StartBinary(const std::string &binary, const std::vector<std::string> &args);

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }

    // SIGTERM to the stand-in and wait for it (SIGKILL after 10 s). Returns
    // its exit status, 128 + the signal if a signal ended it, or -1 when
    // nothing was running.
    int Stop();
    // Waits for a stand-in that ends by itself (--once) at most timeout_ms;
    // its exit status, or -1 if it is still running then.
    int Wait(int timeout_ms);

    // Everything the stand-in has logged so far.
    std::string Stderr() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int stdout_fd_ = -1;
    std::string stderr_path_;
    int Reap(int status);
};

struct RunResult {
    int exit_code = -1;    // the program's exit status (0..255), -1 if it did not exit
    int term_signal = 0;   // the signal that ended it, 0 if none
    bool timed_out = false;  // killed after the time limit
    bool started = false;    // false when fork or exec failed
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs path with args (argv[0] is path), the environment extended by env
// ("NAME=value" entries override), standard input from /dev/null, in cwd when
// it is not empty. Killed with SIGKILL after timeout_ms.
RunResult RunProcess(const std::string &path, const std::vector<std::string> &args,
                     const std::vector<std::string> &env = {}, int timeout_ms = 60000,
                     const std::string &cwd = "");

}  // namespace vt

#endif
