// Child processes for the tests: any program with its output kept in files,
// and the machine's stand-in (vestrun-sim) on a free port.
#ifndef VESTRUN_SIMPROC_H
#define VESTRUN_SIMPROC_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace vt {

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

}  // namespace vt

#endif
