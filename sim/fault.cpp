#include "fault.h"

#include "bytes.h"
#include "number.h"

namespace {

using Steps = std::vector<SimStep>;

SimStep Step(int a_iDelayMs, std::string a_cBytes, std::string a_sLabel, bool a_bResult = false)
{
    SimStep tStep;
    tStep.iDelayMs = a_iDelayMs;
    tStep.cBytes = std::move(a_cBytes);
    tStep.sLabel = std::move(a_sLabel);
    tStep.bResult = a_bResult;
    return tStep;
}

std::string CodeName(unsigned char a_cCode)
{
    switch (a_cCode) {
    case SIM_ACK:
        return "ACK";
    case SIM_NAK:
        return "NAK";
    case SIM_DLE:
        return "DLE";
    default:
        return "code";
    }
}

std::string Bytes(size_t a_iLen) { return "(" + std::to_string(a_iLen) + " bytes)"; }

// The machine's plain answer: the first reply, then after ACK the result.
Steps PlainAnswer(char a_cLetter, const SimReply &a_tReply)
{
    Steps tSteps;
    tSteps.push_back(Step(0, SimFirstReply(a_cLetter, a_tReply.cCode), "first reply " + CodeName(a_tReply.cCode)));
    if (a_tReply.cCode == SIM_ACK && !a_tReply.cResult.empty()) {
        tSteps.push_back(Step(0, a_tReply.cResult, "result reply " + Bytes(a_tReply.cResult.size()), true));
    }
    return tSteps;
}

// A first reply with this code and nothing after it.
Steps FirstOnly(char a_cLetter, unsigned char a_cCode)
{
    return {Step(0, SimFirstReply(a_cLetter, a_cCode), "first reply " + CodeName(a_cCode))};
}

// ACK, then the result reply the fault makes of the machine's own; a command
// the machine refused has no result to bend and is answered as it is.
Steps Bent(char a_cLetter, const SimReply &a_tReply, Steps a_tResult)
{
    if (a_tReply.cCode != SIM_ACK) {
        return PlainAnswer(a_cLetter, a_tReply);
    }
    a_tResult.insert(a_tResult.begin(), Step(0, SimFirstReply(a_cLetter, SIM_ACK), "first reply ACK"));
    return a_tResult;
}

// The result reply cut or filled with the character '0' to a_iLen bytes.
std::string Resized(const std::string &a_cResult, size_t a_iLen)
{
    std::string cOut = a_cResult.substr(0, a_iLen);
    cOut.resize(a_iLen, '0');
    return cOut;
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

Steps PlanNak(char a_cLetter, const SimReply &, int, std::mt19937 *) { return FirstOnly(a_cLetter, SIM_NAK); }

Steps PlanDle(char a_cLetter, const SimReply &, int, std::mt19937 *) { return FirstOnly(a_cLetter, SIM_DLE); }

Steps PlanSilence(char, const SimReply &, int, std::mt19937 *) { return {}; }

Steps PlanShort(char, const SimReply &, int, std::mt19937 *)
{
    return {Step(0, std::string(1, static_cast<char>(SIM_ACK)), "first reply of 1 byte (06)")};
}

Steps PlanClose(char, const SimReply &, int, std::mt19937 *)
{
    SimStep tClose;
    tClose.bClose = true;
    tClose.sLabel = "line dropped";
    return {tClose};
}

Steps PlanNoResult(char a_cLetter, const SimReply &a_tReply, int, std::mt19937 *)
{
    return Bent(a_cLetter, a_tReply, {});
}

Steps PlanSlow(char a_cLetter, const SimReply &a_tReply, int a_iMs, std::mt19937 *)
{
    return Bent(
        a_cLetter, a_tReply,
        {Step(a_iMs, a_tReply.cResult,
              "result reply " + Bytes(a_tReply.cResult.size()) + " after " + std::to_string(a_iMs) + " ms", true)});
}

Steps PlanShortResult(char a_cLetter, const SimReply &a_tReply, int, std::mt19937 *)
{
    return Bent(a_cLetter, a_tReply,
                {Step(0, Resized(a_tReply.cResult, SIM_SHORT_RESULT_LEN), "short result reply (8 bytes)", true)});
}

Steps PlanOversize(char a_cLetter, const SimReply &a_tReply, int, std::mt19937 *)
{
    return Bent(a_cLetter, a_tReply,
                {Step(0, Resized(a_tReply.cResult, SIM_OVERSIZE_LEN), "oversized result reply (1000 bytes)", true)});
}

Steps PlanGarbage(char, const SimReply &, int, std::mt19937 *a_tRng)
{
    std::string cFirst = RandomBytes(a_tRng, 10);
    while (cFirst[9] == static_cast<char>(SIM_ACK) || cFirst[9] == static_cast<char>(SIM_NAK) ||
           cFirst[9] == static_cast<char>(SIM_DLE)) {
        cFirst[9] = RandomBytes(a_tRng, 1)[0];
    }
    std::uniform_int_distribution<int> tLen(1, 256);
    const std::string cResult = RandomBytes(a_tRng, static_cast<size_t>(tLen(*a_tRng)));
    return {Step(0, cFirst, "first reply of random bytes"),
            Step(0, cResult, "result reply of random bytes " + Bytes(cResult.size()), true)};
}

Steps PlanSplit(char a_cLetter, const SimReply &a_tReply, int, std::mt19937 *)
{
    std::string cAll;
    bool bResult = false;
    for (const SimStep &tStep : PlainAnswer(a_cLetter, a_tReply)) {
        cAll += tStep.cBytes;
        bResult = bResult || tStep.bResult;
    }
    Steps tSteps;
    for (size_t i = 0; i < cAll.size(); i++) {
        tSteps.push_back(
            Step(static_cast<int>(i) * SIM_SPLIT_GAP_MS, cAll.substr(i, 1),
                 i == 0 ? "reply split into " + std::to_string(cAll.size()) + " one-byte pieces" : std::string(),
                 bResult && i + 1 == cAll.size()));
    }
    return tSteps;
}

// A machine slow to take up each frame: its answer, whatever the code, comes
// late and whole, and a frame sent meanwhile does not cancel it (a repeated
// frame is answered too, after its own delay).
Steps PlanLate(char a_cLetter, const SimReply &a_tReply, int a_iMs, std::mt19937 *)
{
    Steps tSteps = PlainAnswer(a_cLetter, a_tReply);
    for (SimStep &tStep : tSteps) {
        tStep.iDelayMs += a_iMs;
        tStep.bKept = true;
        tStep.sLabel += " after " + std::to_string(a_iMs) + " ms";
    }
    return tSteps;
}

// name, takes =MS, every receipt by default, machine carries the command out, replies
constexpr SimFault kFaults[] = {
    {"nak", false, false, false, PlanNak},
    {"nak-always", false, true, false, PlanNak},
    {"dle", false, false, false, PlanDle},
    {"silence", false, false, false, PlanSilence},
    {"short", false, false, false, PlanShort},
    {"no-result", false, false, true, PlanNoResult},
    {"slow", true, false, true, PlanSlow},
    {"close", false, false, false, PlanClose},
    {"short-result", false, false, true, PlanShortResult},
    {"garbage", false, true, false, PlanGarbage},
    {"oversize", false, true, true, PlanOversize},
    {"split", false, true, true, PlanSplit},
    {"late", true, true, true, PlanLate},
};

// KEY[#N] into the rule; false with a reason.
bool ParseKey(std::string a_sKey, SimFaultRule *a_tRule, std::string *a_sWhy)
{
    // Searched from 1: the command letter itself may be any byte, '#' too.
    const size_t iHash = a_sKey.find('#', 1);
    if (iHash != std::string::npos) {
        const std::string sNth = a_sKey.substr(iHash + 1);
        a_sKey.resize(iHash);
        long iNth = 0;
        if (sNth == "*") {
            a_tRule->iNth = SIM_EVERY;
        } else if (SimParseNumber(sNth, 1, 1000000, &iNth)) {
            a_tRule->iNth = static_cast<int>(iNth);
        } else {
            *a_sWhy = "receipt number '" + sNth + "' is not a number from 1 or *";
            return false;
        }
    }
    if (a_sKey.empty()) {
        *a_sWhy = "no command letter";
        return false;
    }
    if (a_sKey == "*") {
        a_tRule->bAny = true;
    } else {
        a_tRule->cLetter = a_sKey[0];
        a_tRule->cPrefix = a_sKey.substr(1);
    }
    return true;
}

// ACTION[=MS] into the rule; false with a reason.
bool ParseAction(const std::string &a_sAction, SimFaultRule *a_tRule, std::string *a_sWhy)
{
    const size_t iEq = a_sAction.find('=');
    const std::string sName = a_sAction.substr(0, iEq);
    a_tRule->tFault = SimFaultFind(sName);
    if (a_tRule->tFault == nullptr) {
        *a_sWhy = "unknown action '" + sName + "'";
        return false;
    }
    if (!a_tRule->tFault->bArg) {
        if (iEq != std::string::npos) {
            *a_sWhy = sName + " takes no value";
            return false;
        }
        return true;
    }
    long iMs = 0;
    if (iEq == std::string::npos || !SimParseNumber(a_sAction.substr(iEq + 1), 0, SIM_SLOW_MAX_MS, &iMs)) {
        *a_sWhy = sName + "=MS with MS from 0 to " + std::to_string(SIM_SLOW_MAX_MS) + " expected";
        return false;
    }
    a_tRule->iArg = static_cast<int>(iMs);
    return true;
}

}  // namespace

const SimFault *SimFaultFind(const std::string &a_sName)
{
    for (const SimFault &tFault : kFaults) {
        if (a_sName == tFault.szName) {
            return &tFault;
        }
    }
    return nullptr;
}

bool SimFaultParse(const std::string &a_sText, SimFaultRule *a_tRule, std::string *a_sErr)
{
    SimFaultRule tRule;
    tRule.sText = a_sText;
    // Searched from 1: the command letter itself may be any byte, ':' too.
    const size_t iColon = a_sText.find(':', 1);
    std::string sWhy;
    if (iColon == std::string::npos) {
        sWhy = "KEY[#N]:ACTION expected";
    } else if (ParseKey(a_sText.substr(0, iColon), &tRule, &sWhy) &&
               ParseAction(a_sText.substr(iColon + 1), &tRule, &sWhy)) {
        const bool bNth = a_sText.find('#', 1) < iColon;
        if (!bNth && tRule.tFault->bEvery) {
            tRule.iNth = SIM_EVERY;
        }
        *a_tRule = tRule;
        return true;
    }
    *a_sErr = "fault rule '" + a_sText + "': " + sWhy;
    return false;
}

const char *SimFaultName(const SimFault *a_tFault) { return a_tFault ? a_tFault->szName : "none"; }

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
    cReply += static_cast<char>(SIM_STX);
    cReply += a_cLetter;
    cReply += "000000";
    cReply += static_cast<char>(SIM_ETX);
    cReply += static_cast<char>(a_cCode);
    return cReply;
}

bool SimFaultExecutes(const SimFault *a_tFault) { return a_tFault == nullptr || a_tFault->bExecutes; }

std::vector<SimStep> SimPlan(char a_cLetter, const SimReply &a_tReply, const SimFault *a_tFault, int a_iArg,
                             std::mt19937 *a_tRng)
{
    if (a_tFault == nullptr) {
        return PlainAnswer(a_cLetter, a_tReply);
    }
    return a_tFault->fnPlan(a_cLetter, a_tReply, a_iArg, a_tRng);
}
