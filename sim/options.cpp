#include "options.h"

#include <cstring>

#include "number.h"

namespace {

bool ParseInt(const std::string &a_sText, long a_iMin, long a_iMax, int *a_iOut)
{
    long iVal = 0;
    if (!SimParseNumber(a_sText, a_iMin, a_iMax, &iVal)) {
        return false;
    }
    *a_iOut = static_cast<int>(iVal);
    return true;
}

constexpr long kMaxCount = 1000000;

// Each option that takes a value: its name, what a bad value is told, and
// where the value goes (false: the value is bad).
struct Valued {
    const char *szName;
    const char *szExpected;
    bool (*fnTake)(const std::string &a_sVal, SimConfig *a_tConfig, std::string *a_sErr);
};

bool TakeListen(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    const size_t iColon = a_sVal.rfind(':');
    if (iColon == std::string::npos || iColon == 0 ||
        !ParseInt(a_sVal.substr(iColon + 1), 0, 65535, &a_tConfig->iPort)) {
        return false;
    }
    a_tConfig->sHost = a_sVal.substr(0, iColon);
    return true;
}

bool TakeOut(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    a_tConfig->sOutDir = a_sVal;
    return !a_sVal.empty();
}

bool TakeFrames(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    a_tConfig->sFramesPath = a_sVal;
    return !a_sVal.empty();
}

bool TakeSize(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    const size_t iX = a_sVal.find('x');
    return iX != std::string::npos && ParseInt(a_sVal.substr(0, iX), 1, SIM_PICTURE_MAX, &a_tConfig->iWidth) &&
           ParseInt(a_sVal.substr(iX + 1), 1, SIM_PICTURE_MAX, &a_tConfig->iHeight);
}

bool TakeCardAfter(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    return ParseInt(a_sVal, 0, kMaxCount, &a_tConfig->tOperator.iCardAfter);
}

bool TakeCardWaiting(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    return ParseInt(a_sVal, 0, kMaxCount, &a_tConfig->tOperator.iCardWaiting);
}

bool TakeCoverOpen(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    return ParseInt(a_sVal, 0, kMaxCount, &a_tConfig->tOperator.iCoverOpen);
}

bool TakeGreeting(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    return ParseInt(a_sVal, 0, SIM_GREETING_MAX, &a_tConfig->iGreeting);
}

bool TakeSeed(const std::string &a_sVal, SimConfig *a_tConfig, std::string *)
{
    int iSeed = 0;
    if (!ParseInt(a_sVal, 0, 999999999, &iSeed)) {
        return false;
    }
    a_tConfig->iSeed = static_cast<unsigned>(iSeed);
    return true;
}

// A bad rule says what is wrong with it itself.
bool TakeFault(const std::string &a_sVal, SimConfig *a_tConfig, std::string *a_sErr)
{
    SimFaultRule tRule;
    if (!SimFaultParse(a_sVal, &tRule, a_sErr)) {
        return false;
    }
    a_tConfig->tFaults.push_back(tRule);
    return true;
}

constexpr Valued kValued[] = {
    {"--listen", "HOST:PORT expected, PORT from 0 to 65535", TakeListen},
    {"--out", "folder name missing", TakeOut},
    {"--frames", "file name missing", TakeFrames},
    {"--size", "WxH expected, each from 1 to 4096", TakeSize},
    {"--card-after", "a count from 0 expected", TakeCardAfter},
    {"--card-waiting", "a count from 0 expected", TakeCardWaiting},
    {"--cover-open", "a count from 0 expected", TakeCoverOpen},
    {"--greeting", "a byte count from 0 to 1048576 expected", TakeGreeting},
    {"--seed", "a number expected", TakeSeed},
    {"--fault", nullptr, TakeFault},
};

const Valued *FindValued(const std::string &a_sName)
{
    for (const Valued &tOpt : kValued) {
        if (a_sName == tOpt.szName) {
            return &tOpt;
        }
    }
    return nullptr;
}

}  // namespace

const char *SimUsage()
{
    return "usage: vestrun-sim [--listen HOST:PORT] [--once] [--out DIR] [--frames FILE] [--size WxH]\n"
           "                   [--card-after N] [--card-waiting N] [--cover-open N] [--greeting N]\n"
           "                   [--seed N] [--fault KEY[#N]:ACTION[=MS]]...\n";
}

SimArgs SimParseArgs(int a_iArgc, const char *const *a_szArgv, SimConfig *a_tConfig, std::string *a_sErr)
{
    SimConfig tConfig;
    for (int i = 1; i < a_iArgc; i++) {
        const std::string sOpt = a_szArgv[i];
        if (sOpt == "--help" || sOpt == "-h") {
            return SIM_ARGS_HELP;
        }
        if (sOpt == "--once") {
            tConfig.bOnce = true;
            continue;
        }
        // Every other option takes a value, as the next argument or after "=".
        std::string sName = sOpt;
        const char *szVal = nullptr;
        const size_t iEq = sOpt.find('=');
        if (sOpt.compare(0, 2, "--") == 0 && iEq != std::string::npos) {
            sName = sOpt.substr(0, iEq);
            szVal = a_szArgv[i] + iEq + 1;
        } else if (i + 1 < a_iArgc) {
            szVal = a_szArgv[++i];
        }
        const Valued *tOpt = FindValued(sName);
        if (tOpt == nullptr) {
            *a_sErr = "unknown option " + sOpt;
            return SIM_ARGS_ERROR;
        }
        if (szVal == nullptr) {
            *a_sErr = sName + ": value missing";
            return SIM_ARGS_ERROR;
        }
        if (!tOpt->fnTake(szVal, &tConfig, a_sErr)) {
            if (tOpt->szExpected != nullptr) {
                *a_sErr = sName + ": " + tOpt->szExpected;
            }
            return SIM_ARGS_ERROR;
        }
    }
    *a_tConfig = std::move(tConfig);
    return SIM_ARGS_RUN;
}
