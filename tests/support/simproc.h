// Child processes for the tests: the machine's stand-in (vestrun-sim) on a
// free port, and any program run to its end with a time limit.
#ifndef VESTRUN_SIMPROC_H
#define VESTRUN_SIMPROC_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "testutil.h"

// The test targets know where the stand-in was built; elsewhere the
// environment variable VESTRUN_SIM_BIN names it.
#if defined(VESTRUN_SIM_BIN)
#define VT_SIM_BIN VESTRUN_SIM_BIN
#else
#define VT_SIM_BIN ""
#endif

namespace vt {

// vestrun-sim started with "--listen 127.0.0.1:0" and the given options; the
// port is read from its first line, so no test waits on a clock for it. Its
// log (stderr) goes to a file that Stderr() reads back. The destructor stops
// a stand-in still running.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // False when it could not be started or named no port within 10 s.
    bool Start(const std::vector<std::string> &args) { return StartBinary(VT_SIM_BIN, args); }
    bool StartBinary(std::string binary, const std::vector<std::string> &args);
    int port() const { return port_; }
    // SIGTERM (SIGKILL after 10 s) and its exit status, 128 + the signal if
    // one ended it, -1 when nothing was running.
    int Stop();
    // Waits at most timeout_ms for a stand-in that ends by itself (--once):
    // its exit status, or -1 if it still runs.
    int Wait(int timeout_ms);
    std::string Stderr() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    TempDir dir_;  // its log
};

struct RunResult {
    int exit_code = -1;      // 0..255, -1 if the program did not exit
    bool timed_out = false;  // killed after the time limit
    std::string out;
    std::string err;
};

// Runs path with args, standard input from /dev/null, env ("NAME=value")
// added to the environment; killed with SIGKILL after timeout_ms.
RunResult RunProcess(const std::string &path, const std::vector<std::string> &args,
                     const std::vector<std::string> &env = {}, int timeout_ms = 60000);

}  // namespace vt

#endif
