// The bad input table: every case is one row of docs/bad-input.md and one
// CTest test. A case states its input and asserts what must come of it; when
// VESTRUN_BADINPUT_ROWS names a folder, it also leaves there what it saw, and
// tests/scripts/bad-input.py gathers those rows into the table.
#ifndef VESTRUN_BADINPUT_H
#define VESTRUN_BADINPUT_H

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e.h"
#include "sample_card.h"
#include "simproc.h"
#include "testutil.h"

namespace badin {

// What a row saw, in the words of the table. Texts are as the program wrote
// them (Shift_JIS); the script turns them into UTF-8.
struct Seen {
    std::string sStatus;   // "exit 157", "result -99"
    std::string sLog;      // the log lines that tell, " / " between them
    std::string sErr;      // standard error, the file's path written FILE
    std::string sMachine;  // what reached the machine
    std::string sStripe;   // the stripe the card kept, bytes
    std::string sFrame;    // the frame built, bytes
    Seen(std::string a_sStatus, std::string a_sLog, std::string a_sErr, std::string a_sMachine,
         std::string a_sStripe = "", std::string a_sFrame = "")
        : sStatus(a_sStatus), sLog(a_sLog), sErr(a_sErr), sMachine(a_sMachine), sStripe(a_sStripe), sFrame(a_sFrame)
    {
    }
};

using Run = e2e::Result;
using e2e::Vestrun;

using vt::Repeat;

inline std::string Join(const std::vector<std::string> &a_vLines)
{
    std::string out;
    for (const auto &s : a_vLines) out += (out.empty() ? "" : " / ") + s;
    return out;
}

// Leaves the row for the table when asked to. Called last in a case, so that
// the verdict is the case's own.
inline void Emit(const std::string &a_sId, const std::string &a_sGroup, const std::string &a_sInput,
                 const Seen &a_tSeen)
{
    const char *szDir = getenv("VESTRUN_BADINPUT_ROWS");
    if (szDir == nullptr || *szDir == '\0') {
        return;
    }
    std::string sRow;
    auto put = [&sRow](const char *a_szKey, const std::string &a_sVal) {
        sRow += std::string(a_szKey) + "=" + vt::ToHex(a_sVal) + "\n";  // the script reads it with bytes.fromhex
    };
    put("id", a_sId);
    put("group", a_sGroup);
    put("input", a_sInput);
    put("status", a_tSeen.sStatus);
    put("log", a_tSeen.sLog);
    put("err", a_tSeen.sErr);
    put("machine", a_tSeen.sMachine);
    if (!a_tSeen.sStripe.empty()) put("stripe", a_tSeen.sStripe);
    if (!a_tSeen.sFrame.empty()) put("frame", a_tSeen.sFrame);
    put("verdict", ::testing::Test::HasFailure() ? "FAIL" : "ok");
    vt::WriteFile(std::string(szDir) + "/" + a_sId + ".row", sRow);
}

// A machine that must stay untouched by a run that ends before it.
struct Listener : vt::Listener {
    // What reached the machine, for the table: nothing, as asserted here.
    std::string Nothing()
    {
        EXPECT_FALSE(Called()) << "the machine was called";
        return Called() ? "a connection" : "nothing";
    }
};

}  // namespace badin

#endif
