// Shared pieces of the end-to-end cases: the real vestrun against its own
// vestrun-sim, started on a free port for each case.
#ifndef VESTRUN_E2E_H
#define VESTRUN_E2E_H

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "bmpread.h"
#include "sample_card.h"
#include "simproc.h"
#include "testutil.h"

namespace e2e {

inline std::string SamplePicture() { return std::string(VESTRUN_SOURCE_DIR) + "/examples/card.bmp"; }

struct Result {
    int iStatus = -1;  // -1: killed by the time limit
    std::string sOut;  // run log, Shift_JIS
    std::string sErr;
    std::vector<std::string> Log() const { return vt::LogMessages(sOut); }
    // The log after the echo of the ten arguments.
    std::vector<std::string> AfterEcho() const
    {
        auto msgs = Log();
        std::vector<std::string> out;
        for (size_t i = 10; i < msgs.size(); i++) {
            if (!msgs[i].empty()) out.push_back(msgs[i]);
        }
        return out;
    }
    std::string Last() const
    {
        auto msgs = AfterEcho();
        return msgs.empty() ? std::string() : msgs.back();
    }
    int Count(const std::string &a_sMsg) const
    {
        int n = 0;
        for (const auto &m : Log()) n += (m == a_sMsg);
        return n;
    }
};

inline Result Vestrun(const std::vector<std::string> &a_vArgs, int a_iTimeoutSec = 240)
{
    vt::RunResult r = vt::RunProcess(VESTRUN_BIN, a_vArgs, {}, a_iTimeoutSec * 1000);
    return {r.timed_out ? -1 : r.exit_code, r.out, r.err};
}

// A stand-in of its own for one case (--once), the cards it keeps and every
// unit it receives in a private folder.
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
    // Waits for the stand-in to end after the run closed the line.
    void Finish()
    {
        if (tSim.Wait(10000) < 0) tSim.Stop();
    }
    // Every unit received, one hex line each ("02 49 03 4A", "06").
    std::vector<std::string> Frames() const
    {
        std::vector<std::string> out;
        std::istringstream in(vt::ReadFile(tDir.file("frames.txt")));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) out.push_back(line);
        }
        return out;
    }
    std::string Card(const std::string &a_sFile) const { return tDir.file("out/card-0001/" + a_sFile); }
};

// The frames of a run without image frames and closing ACKs: the commands.
inline std::vector<std::string> Commands(const std::vector<std::string> &a_vFrames)
{
    std::vector<std::string> out;
    for (const auto &f : a_vFrames) {
        if (f != "06" && f.compare(0, 5, "02 4D") != 0) out.push_back(f);
    }
    return out;
}

// A 1-bit picture as rows of '#' (palette index 1: ink) and '.', each row
// padded to a_iW and the rows to a_iH (the stand-in keeps its whole buffer);
// empty when the file is not a 1-bit BMP. Read by the tests' own reader,
// never the tool's.
inline std::vector<std::string> Art(const std::string &a_sPath, size_t a_iW = 480, size_t a_iH = 512)
{
    std::vector<std::string> out = vt::ReadMonoBmp(vt::ReadFile(a_sPath));
    if (out.empty()) return out;
    const size_t iW = std::max(a_iW, out[0].size());
    for (std::string &row : out) row.resize(iW, '.');
    out.resize(std::max(a_iH, out.size()), std::string(iW, '.'));
    return out;
}

// The card text the stand-in reads from the sample patient's stripe.
constexpr char kCardText[] =
    u8"output: append\npatient_number: 12345\nkana_name: ヤマダ タロウ\nbirth_date: 19700101\n"
    u8"sex: 1\nkanji_name: 山田太郎\nfirst_visit: 20240401\n";

}  // namespace e2e

#endif
