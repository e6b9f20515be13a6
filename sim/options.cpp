#include "options.h"

#include <cstdlib>
#include <cstring>

namespace {

bool ParseInt(const char *a_szText, long a_iMin, long a_iMax, int *a_iOut)
{
    if (a_szText == nullptr || *a_szText == '\0' || strlen(a_szText) > 9) {
        return false;
    }
    for (const char *p = a_szText; *p; p++) {
        if (*p < '0' || *p > '9') {
            return false;
        }
    }
    const long iVal = strtol(a_szText, nullptr, 10);
    if (iVal < a_iMin || iVal > a_iMax) {
        return false;
    }
    *a_iOut = static_cast<int>(iVal);
    return true;
}

bool ParseListen(const std::string &a_szText, std::string *a_szHost, int *a_iPort)
{
    const size_t iColon = a_szText.rfind(':');
    if (iColon == std::string::npos || iColon == 0) {
        return false;
    }
    int iPort = 0;
    if (!ParseInt(a_szText.c_str() + iColon + 1, 0, 65535, &iPort)) {
        return false;
    }
    *a_szHost = a_szText.substr(0, iColon);
    *a_iPort = iPort;
    return true;
}

bool ParseSize(const std::string &a_szText, int *a_iWidth, int *a_iHeight)
{
    const size_t iX = a_szText.find('x');
    if (iX == std::string::npos) {
        return false;
    }
    return ParseInt(a_szText.substr(0, iX).c_str(), 1, SIM_PICTURE_MAX, a_iWidth) &&
           ParseInt(a_szText.substr(iX + 1).c_str(), 1, SIM_PICTURE_MAX, a_iHeight);
}

}  // namespace

const char *SimUsage()
{
    return "usage: vestrun-sim [--listen HOST:PORT] [--once] [--out DIR] [--frames FILE] [--size WxH]\n"
           "                   [--card-after N] [--card-waiting N] [--cover-open N] [--greeting N]\n"
           "                   [--seed N] [--fault KEY[#N]:ACTION[=MS]]...\n";
}

SimParse SimParseArgs(int a_iArgc, const char *const *a_szArgv, SimConfig *a_tConfig, std::string *a_szErr)
{
    SimConfig tConfig;
    for (int i = 1; i < a_iArgc; i++) {
        const std::string szOpt = a_szArgv[i];
        if (szOpt == "--help" || szOpt == "-h") {
            return SIM_PARSE_HELP;
        }
        if (szOpt == "--once") {
            tConfig.bOnce = true;
            continue;
        }
        // Every other option takes a value, as the next argument or after "=".
        std::string szName = szOpt;
        const char *szVal = nullptr;
        const size_t iEq = szOpt.find('=');
        if (szOpt.compare(0, 2, "--") == 0 && iEq != std::string::npos) {
            szName = szOpt.substr(0, iEq);
            szVal = a_szArgv[i] + iEq + 1;
        } else if (i + 1 < a_iArgc) {
            szVal = a_szArgv[++i];
        }
        auto Bad = [&](const char *a_szWhat) {
            *a_szErr = szName + ": " + a_szWhat;
            return SIM_PARSE_ERROR;
        };
        static const char *const kValued[] = {"--listen", "--out", "--frames", "--size", "--card-after",
                                              "--card-waiting", "--cover-open", "--greeting", "--seed", "--fault"};
        bool bKnown = false;
        for (const char *szKnown : kValued) {
            bKnown = bKnown || szName == szKnown;
        }
        if (!bKnown) {
            *a_szErr = "unknown option " + szOpt;
            return SIM_PARSE_ERROR;
        }
        if (szVal == nullptr) {
            return Bad("value missing");
        }
        const int iMaxCount = 1000000;
        if (szName == "--listen") {
            if (!ParseListen(szVal, &tConfig.szHost, &tConfig.iPort)) {
                return Bad("HOST:PORT expected, PORT from 0 to 65535");
            }
        } else if (szName == "--out") {
            if (*szVal == '\0') {
                return Bad("folder name missing");
            }
            tConfig.szOutDir = szVal;
        } else if (szName == "--frames") {
            if (*szVal == '\0') {
                return Bad("file name missing");
            }
            tConfig.szFramesPath = szVal;
        } else if (szName == "--size") {
            if (!ParseSize(szVal, &tConfig.iWidth, &tConfig.iHeight)) {
                return Bad("WxH expected, each from 1 to 4096");
            }
        } else if (szName == "--card-after") {
            if (!ParseInt(szVal, 0, iMaxCount, &tConfig.tOperator.iCardAfter)) {
                return Bad("a count from 0 expected");
            }
        } else if (szName == "--card-waiting") {
            if (!ParseInt(szVal, 0, iMaxCount, &tConfig.tOperator.iCardWaiting)) {
                return Bad("a count from 0 expected");
            }
        } else if (szName == "--cover-open") {
            if (!ParseInt(szVal, 0, iMaxCount, &tConfig.tOperator.iCoverOpen)) {
                return Bad("a count from 0 expected");
            }
        } else if (szName == "--greeting") {
            if (!ParseInt(szVal, 0, SIM_GREETING_MAX, &tConfig.iGreeting)) {
                return Bad("a byte count from 0 to 1048576 expected");
            }
        } else if (szName == "--seed") {
            int iSeed = 0;
            if (!ParseInt(szVal, 0, 999999999, &iSeed)) {
                return Bad("a number expected");
            }
            tConfig.iSeed = static_cast<unsigned>(iSeed);
        } else {  // --fault
            SimFaultRule tRule;
            if (!SimFaultParse(szVal, &tRule, a_szErr)) {
                return SIM_PARSE_ERROR;
            }
            tConfig.tFaults.push_back(tRule);
        }
    }
    *a_tConfig = std::move(tConfig);
    return SIM_PARSE_RUN;
}
