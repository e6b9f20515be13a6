// Shared pieces of the end-to-end cases: the real vestrun against its own
// vestrun-sim, started on a free port for each case.
#ifndef VESTRUN_SLOW_E2E_H
#define VESTRUN_SLOW_E2E_H

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "simproc.h"
#include "testutil.h"

namespace e2e {

// The sample patient; the names are Shift_JIS (this file is compiled with the
// CP932 execution character set), as vestrun takes them.
struct Patient {
    std::string sStyle = "0";
    std::string sNumber = "12345";
    std::string sKanji = "山田太郎";
    std::string sKana = "ヤマダ　タロウ";
    std::string sSex = "1";
    std::string sBirth = "19700101";
    std::string sFirst = "20240401";
};

inline std::string SamplePicture() { return std::string(VESTRUN_SOURCE_DIR) + "/examples/card.bmp"; }

inline std::vector<std::string> Args(int a_iPort, const std::string &a_sPicture, const Patient &a_tPat = Patient())
{
    return {"127.0.0.1",   std::to_string(a_iPort), a_tPat.sStyle, a_sPicture, a_tPat.sNumber, a_tPat.sKanji,
            a_tPat.sKana, a_tPat.sSex,              a_tPat.sBirth, a_tPat.sFirst};
}

struct Result {
    int iStatus = -1;
    std::string sOut;  // run log, Shift_JIS
    std::string sErr;
    std::vector<std::string> Log() const { return vt::LogMessages(sOut); }
    // The last line of the log that is not empty.
    std::string Last() const
    {
        auto msgs = Log();
        while (!msgs.empty() && msgs.back().empty()) {
            msgs.pop_back();
        }
        return msgs.empty() ? std::string() : msgs.back();
    }
    bool Has(const std::string &a_sMsg) const
    {
        for (const auto &m : Log()) {
            if (m == a_sMsg) {
                return true;
            }
        }
        return false;
    }
    int Count(const std::string &a_sMsg) const
    {
        int n = 0;
        for (const auto &m : Log()) {
            n += (m == a_sMsg);
        }
        return n;
    }
};

// Runs vestrun; a run that outlives a_iTimeoutSec is killed (status -1).
inline Result Vestrun(const std::vector<std::string> &a_vArgs, int a_iTimeoutSec = 240)
{
    vt::RunResult r = vt::RunProcess(VESTRUN_BIN, a_vArgs, {}, a_iTimeoutSec * 1000);
    Result out;
    out.iStatus = r.timed_out ? -1 : r.exit_code;
    out.sOut = r.out;
    out.sErr = r.err;
    return out;
}

// A stand-in of its own for one case: --once, the cards it keeps and every
// frame it receives in a private folder.
struct Machine {
    vt::TempDir tDir;
    vt::SimProcess tSim;

    bool Start(std::vector<std::string> a_vExtra = {})
    {
        std::vector<std::string> args = {"--once", "--out", tDir.file("out"), "--frames", tDir.file("frames.txt")};
        args.insert(args.end(), a_vExtra.begin(), a_vExtra.end());
        return tSim.Start(args);
    }
    int Port() const { return tSim.port(); }
    // The stand-in ends by itself once the run has closed the line (--once);
    // one that does not is stopped.
    void Finish()
    {
        if (tSim.Wait(10000) < 0) {
            tSim.Stop();
        }
    }
    // Every unit the machine received, one hex line each ("02 49 03 4A", "06").
    std::vector<std::string> Frames() const
    {
        std::vector<std::string> out;
        std::istringstream in(vt::ReadFile(tDir.file("frames.txt")));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty()) {
                out.push_back(line);
            }
        }
        return out;
    }
    std::string Card(const std::string &a_sFile, int a_iN = 1) const
    {
        char name[32];
        snprintf(name, sizeof name, "out/card-%04d/", a_iN);
        return tDir.file(name + a_sFile);
    }
};

// The frames of a run without image frames and closing ACKs: the commands.
inline std::vector<std::string> Commands(const std::vector<std::string> &a_vFrames)
{
    std::vector<std::string> out;
    for (const auto &f : a_vFrames) {
        if (f != "06" && f.compare(0, 5, "02 4D") != 0) {
            out.push_back(f);
        }
    }
    return out;
}

// Fixed frames of the run, as they go on the wire.
constexpr char kClearAll[] = "02 49 03 4A";
constexpr char kLedOn[] = "02 5A 34 31 32 03 6E";
constexpr char kLedOff[] = "02 5A 30 31 30 03 68";
constexpr char kStatus[] = "02 59 03 5A";
constexpr char kWriteStandby[] = "02 31 32 03 00";
constexpr char kAppend[] = "02 47 31 03 75";
constexpr char kRewrite[] = "02 46 31 03 74";
constexpr char kReset[] = "02 5F 03 5C";
// The magnetic record of the sample patient.
constexpr char kRecord[] =
    "02 39 20 20 20 20 20 31 32 33 34 35 0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F 20 20 20 20 20 20 20 20 20 20 20 20 "
    "31 39 37 30 30 31 30 31 31 1B 4B 3B 33 45 44 42 40 4F 3A 21 21 21 21 21 21 1B 48 32 30 32 34 30 34 30 31 03 64";

}  // namespace e2e

#endif
