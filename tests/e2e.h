// A whole run of the real vestrun as a child process.
#ifndef VESTRUN_E2E_H
#define VESTRUN_E2E_H

#include <string>
#include <vector>

#include "simproc.h"
#include "testutil.h"

namespace e2e {

// The log of a run after the echo of its ten arguments, blank lines left out.
inline std::vector<std::string> AfterEcho(const std::string &a_sOut)
{
    std::vector<std::string> msgs = vt::LogMessages(a_sOut), out;
    for (size_t i = 10; i < msgs.size(); i++)
        if (!msgs[i].empty()) out.push_back(msgs[i]);
    return out;
}

struct Result {
    int iStatus = -1;  // -1: killed by the time limit
    std::string sOut;  // run log, Shift_JIS
    std::string sErr;
    std::vector<std::string> AfterEcho() const { return e2e::AfterEcho(sOut); }
};

inline Result Vestrun(const std::vector<std::string> &a_vArgs, int a_iTimeoutSec = 240)
{
    vt::Child tRun;
    const int iStatus = tRun.Start(VESTRUN_BIN, a_vArgs) ? tRun.Wait(a_iTimeoutSec * 1000) : -1;
    return {iStatus, tRun.Out(), tRun.Err()};
}

}  // namespace e2e

#endif
