#include "fault.h"

#include <cerrno>
#include <cstdlib>

#include "sock.h"

namespace {

struct ActionName {
    const char *szName;
    SimFaultAction eAction;
    bool bArg;    // takes "=ARG"
    bool bEvery;  // takes every matching receipt unless "#N" is given
};

constexpr ActionName kActions[] = {
    {"nak", SIM_FAULT_NAK, false, false},
    {"nak-always", SIM_FAULT_NAK_ALWAYS, false, true},
    {"dle", SIM_FAULT_DLE, false, false},
    {"silence", SIM_FAULT_SILENCE, false, false},
    {"short", SIM_FAULT_SHORT, false, false},
    {"no-result", SIM_FAULT_NO_RESULT, false, false},
    {"slow", SIM_FAULT_SLOW, true, false},
    {"close", SIM_FAULT_CLOSE, false, false},
    {"short-result", SIM_FAULT_SHORT_RESULT, false, false},
    {"garbage", SIM_FAULT_GARBAGE, false, true},
    {"oversize", SIM_FAULT_OVERSIZE, false, true},
    {"split", SIM_FAULT_SPLIT, false, true},
    {"late", SIM_FAULT_LATE, true, true},
};

// A decimal number within [a_iMin, a_iMax], nothing else.
bool ParseNumber(const std::string &a_szText, long a_iMin, long a_iMax, long *a_iOut)
{
    if (a_szText.empty() || a_szText.size() > 9) {
        return false;
    }
    for (char c : a_szText) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    long iVal = strtol(a_szText.c_str(), nullptr, 10);
    if (iVal < a_iMin || iVal > a_iMax) {
        return false;
    }
    *a_iOut = iVal;
    return true;
}

SimStep Step(int a_iDelayMs, std::string a_cBytes, std::string a_szLabel, bool a_bResult = false)
{
    SimStep tStep;
    tStep.iDelayMs = a_iDelayMs;
    tStep.cBytes = std::move(a_cBytes);
    tStep.szLabel = std::move(a_szLabel);
    tStep.bResult = a_bResult;
    return tStep;
}

std::string CodeName(unsigned char a_cCode)
{
    switch (a_cCode) {
    case SCK_ACK:
        return "ACK";
    case SCK_NAK:
        return "NAK";
    case SCK_DLE:
        return "DLE";
    default:
        return "code";
    }
}

// The machine's plain answer: the first reply, then after ACK the result.
std::vector<SimStep> PlainAnswer(char a_cLetter, const SimReply &a_tReply)
{
    std::vector<SimStep> tSteps;
    tSteps.push_back(Step(0, SimFirstReply(a_cLetter, a_tReply.cCode), "first reply " + CodeName(a_tReply.cCode)));
    if (a_tReply.cCode == SCK_ACK && !a_tReply.cResult.empty()) {
        tSteps.push_back(
            Step(0, a_tReply.cResult, "result reply (" + std::to_string(a_tReply.cResult.size()) + " bytes)", true));
    }
    return tSteps;
}

std::string RandomBytes(std::mt19937 *a_tRng, size_t a_iLen)
{
    std::uniform_int_distribution<int> tByte(0, 255);
    std::string cOut;
    for (size_t i = 0; i < a_iLen; i++) {
        cOut += static_cast<char>(tByte(*a_tRng));
    }
    return cOut;
}

}  // namespace

bool SimFaultParse(const std::string &a_szText, SimFaultRule *a_tRule, std::string *a_szErr)
{
    SimFaultRule tRule;
    tRule.szText = a_szText;
    // Searched from 1: the command letter itself may be any byte, ':' or '#' too.
    const size_t iColon = a_szText.find(':', 1);
    if (iColon == std::string::npos) {
        *a_szErr = "fault rule '" + a_szText + "': KEY[#N]:ACTION expected";
        return false;
    }
    std::string szKey = a_szText.substr(0, iColon);
    const std::string szAction = a_szText.substr(iColon + 1);

    bool bNth = false;
    const size_t iHash = szKey.find('#', 1);
    if (iHash != std::string::npos) {
        const std::string szNth = szKey.substr(iHash + 1);
        szKey.resize(iHash);
        long iNth = 0;
        if (szNth == "*") {
            tRule.iNth = SIM_EVERY;
        } else if (ParseNumber(szNth, 1, 1000000, &iNth)) {
            tRule.iNth = static_cast<int>(iNth);
        } else {
            *a_szErr = "fault rule '" + a_szText + "': receipt number '" + szNth + "' is not a number from 1 or *";
            return false;
        }
        bNth = true;
    }
    if (szKey.empty()) {
        *a_szErr = "fault rule '" + a_szText + "': no command letter";
        return false;
    }
    if (szKey == "*") {
        tRule.bAny = true;
    } else {
        tRule.cLetter = szKey[0];
        tRule.cPrefix = szKey.substr(1);
    }

    const size_t iEq = szAction.find('=');
    const std::string szName = szAction.substr(0, iEq);
    const ActionName *tFound = nullptr;
    for (const ActionName &tName : kActions) {
        if (szName == tName.szName) {
            tFound = &tName;
        }
    }
    if (tFound == nullptr) {
        *a_szErr = "fault rule '" + a_szText + "': unknown action '" + szName + "'";
        return false;
    }
    tRule.eAction = tFound->eAction;
    if (tFound->bArg) {
        long iMs = 0;
        if (iEq == std::string::npos ||
            !ParseNumber(szAction.substr(iEq + 1), 0, SIM_SLOW_MAX_MS, &iMs)) {
            *a_szErr = "fault rule '" + a_szText + "': " + szName + "=MS with MS from 0 to " +
                       std::to_string(SIM_SLOW_MAX_MS) + " expected";
            return false;
        }
        tRule.iArg = static_cast<int>(iMs);
    } else if (iEq != std::string::npos) {
        *a_szErr = "fault rule '" + a_szText + "': " + szName + " takes no value";
        return false;
    }
    if (!bNth && tFound->bEvery) {
        tRule.iNth = SIM_EVERY;
    }
    *a_tRule = tRule;
    return true;
}

const char *SimFaultName(SimFaultAction a_eAction)
{
    for (const ActionName &tName : kActions) {
        if (tName.eAction == a_eAction) {
            return tName.szName;
        }
    }
    return "none";
}

SimFaultRule *SimFaultMatch(std::vector<SimFaultRule> *a_tRules, char a_cLetter, const std::string &a_cParams)
{
    SimFaultRule *tHit = nullptr;
    for (SimFaultRule &tRule : *a_tRules) {
        const bool bMatch = tRule.bAny || (tRule.cLetter == a_cLetter &&
                                           a_cParams.compare(0, tRule.cPrefix.size(), tRule.cPrefix) == 0);
        if (!bMatch) {
            continue;
        }
        // Every matching rule counts the receipt, so that "#N" means the same
        // whatever other rules stand before it.
        if (tRule.iSeen < 1000000000) {
            tRule.iSeen++;
        }
        if (tHit == nullptr && (tRule.iNth == SIM_EVERY || tRule.iNth == tRule.iSeen)) {
            tHit = &tRule;
        }
    }
    return tHit;
}

void SimFaultReset(std::vector<SimFaultRule> *a_tRules)
{
    for (SimFaultRule &tRule : *a_tRules) {
        tRule.iSeen = 0;
    }
}

std::string SimFirstReply(char a_cLetter, unsigned char a_cCode)
{
    // Offsets 0 to 8 are not looked at by the tool; the machine echoes the
    // letter it answers, which makes a dump of the wire easy to follow.
    std::string cReply;
    cReply += static_cast<char>(SCK_STX);
    cReply += a_cLetter;
    cReply += "000000";
    cReply += static_cast<char>(SCK_ETX);
    cReply += static_cast<char>(a_cCode);
    return cReply;
}

bool SimFaultExecutes(SimFaultAction a_eAction)
{
    switch (a_eAction) {
    case SIM_FAULT_NONE:
    case SIM_FAULT_NO_RESULT:
    case SIM_FAULT_SLOW:
    case SIM_FAULT_SHORT_RESULT:
    case SIM_FAULT_OVERSIZE:
    case SIM_FAULT_SPLIT:
    case SIM_FAULT_LATE:
        return true;
    default:
        return false;
    }
}

std::vector<SimStep> SimPlan(char a_cLetter, const SimReply &a_tReply, SimFaultAction a_eAction, int a_iArg,
                             std::mt19937 *a_tRng)
{
    const bool bAck = a_tReply.cCode == SCK_ACK;
    std::vector<SimStep> tSteps;
    switch (a_eAction) {
    case SIM_FAULT_NONE:
        return PlainAnswer(a_cLetter, a_tReply);
    case SIM_FAULT_NAK:
    case SIM_FAULT_NAK_ALWAYS:
        tSteps.push_back(Step(0, SimFirstReply(a_cLetter, SCK_NAK), "first reply NAK"));
        return tSteps;
    case SIM_FAULT_DLE:
        tSteps.push_back(Step(0, SimFirstReply(a_cLetter, SCK_DLE), "first reply DLE"));
        return tSteps;
    case SIM_FAULT_SILENCE:
        return tSteps;
    case SIM_FAULT_SHORT:
        tSteps.push_back(Step(0, std::string(1, static_cast<char>(SCK_ACK)), "first reply of 1 byte (06)"));
        return tSteps;
    case SIM_FAULT_CLOSE: {
        SimStep tClose;
        tClose.bClose = true;
        tClose.szLabel = "line dropped";
        tSteps.push_back(tClose);
        return tSteps;
    }
    case SIM_FAULT_GARBAGE: {
        std::string cFirst = RandomBytes(a_tRng, 10);
        while (cFirst[9] == static_cast<char>(SCK_ACK) || cFirst[9] == static_cast<char>(SCK_NAK) ||
               cFirst[9] == static_cast<char>(SCK_DLE)) {
            cFirst[9] = RandomBytes(a_tRng, 1)[0];
        }
        std::uniform_int_distribution<int> tLen(1, 256);
        tSteps.push_back(Step(0, cFirst, "first reply of random bytes"));
        std::string cResult = RandomBytes(a_tRng, static_cast<size_t>(tLen(*a_tRng)));
        tSteps.push_back(
            Step(0, cResult, "result reply of random bytes (" + std::to_string(cResult.size()) + " bytes)", true));
        return tSteps;
    }
    case SIM_FAULT_SPLIT: {
        std::string cAll;
        bool bResult = false;
        for (const SimStep &tStep : PlainAnswer(a_cLetter, a_tReply)) {
            cAll += tStep.cBytes;
            bResult = bResult || tStep.bResult;
        }
        for (size_t i = 0; i < cAll.size(); i++) {
            tSteps.push_back(Step(static_cast<int>(i) * SIM_SPLIT_GAP_MS, cAll.substr(i, 1),
                                  i == 0 ? "reply split into " + std::to_string(cAll.size()) + " one-byte pieces"
                                         : std::string(),
                                  bResult && i + 1 == cAll.size()));
        }
        return tSteps;
    }
    case SIM_FAULT_LATE:
        // A machine slow to take up each frame: its answer, whatever the code,
        // comes late and whole, and a frame sent meanwhile does not cancel it
        // (a repeated frame is answered too, after its own delay).
        tSteps = PlainAnswer(a_cLetter, a_tReply);
        for (SimStep &tStep : tSteps) {
            tStep.iDelayMs += a_iArg;
            tStep.bKept = true;
            if (!tStep.szLabel.empty()) {
                tStep.szLabel += " after " + std::to_string(a_iArg) + " ms";
            }
        }
        return tSteps;
    case SIM_FAULT_NO_RESULT:
    case SIM_FAULT_SLOW:
    case SIM_FAULT_SHORT_RESULT:
    case SIM_FAULT_OVERSIZE:
        break;
    }

    // The faults that bend the result reply; a command the machine refused
    // has none to bend.
    if (!bAck) {
        return PlainAnswer(a_cLetter, a_tReply);
    }
    tSteps.push_back(Step(0, SimFirstReply(a_cLetter, SCK_ACK), "first reply ACK"));
    switch (a_eAction) {
    case SIM_FAULT_SLOW:
        tSteps.push_back(Step(a_iArg, a_tReply.cResult,
                              "result reply (" + std::to_string(a_tReply.cResult.size()) + " bytes) after " +
                                  std::to_string(a_iArg) + " ms",
                              true));
        break;
    case SIM_FAULT_SHORT_RESULT: {
        std::string cShort = a_tReply.cResult.substr(0, SIM_SHORT_RESULT_LEN);
        cShort.resize(SIM_SHORT_RESULT_LEN, '0');
        tSteps.push_back(Step(0, cShort, "short result reply (8 bytes)", true));
        break;
    }
    case SIM_FAULT_OVERSIZE: {
        std::string cBig = a_tReply.cResult.substr(0, SIM_OVERSIZE_LEN);
        cBig.resize(SIM_OVERSIZE_LEN, '0');
        tSteps.push_back(Step(0, cBig, "oversized result reply (1000 bytes)", true));
        break;
    }
    default:  // no-result
        break;
    }
    return tSteps;
}
