#include "log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

static bool g_bQuiet = false;

void SimLogQuiet(bool a_bQuiet) { g_bQuiet = a_bQuiet; }

void SimLog(const char *a_szFmt, ...)
{
    if (g_bQuiet) {
        return;
    }
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tTm;
    time_t tSec = tv.tv_sec;
    localtime_r(&tSec, &tTm);
    char cLine[2048];
    int iLen = snprintf(cLine, sizeof cLine, "%02d:%02d:%02d.%03ld ", tTm.tm_hour, tTm.tm_min, tTm.tm_sec,
                        static_cast<long>(tv.tv_usec / 1000));
    va_list ap;
    va_start(ap, a_szFmt);
    vsnprintf(cLine + iLen, sizeof cLine - static_cast<size_t>(iLen), a_szFmt, ap);
    va_end(ap);
    // One write per line: the line stays whole when stderr is shared.
    fprintf(stderr, "%s\n", cLine);
    fflush(stderr);
}

std::string SimHex(const std::string &a_cBytes, size_t a_iMax)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const size_t iShow = a_cBytes.size() < a_iMax ? a_cBytes.size() : a_iMax;
    std::string sHex;
    sHex.reserve(iShow * 3);
    for (size_t i = 0; i < iShow; i++) {
        const unsigned char c = static_cast<unsigned char>(a_cBytes[i]);
        if (i > 0) {
            sHex += ' ';
        }
        sHex += kDigits[c >> 4];
        sHex += kDigits[c & 0x0F];
    }
    if (iShow < a_cBytes.size()) {
        sHex += " … (" + std::to_string(a_cBytes.size()) + " bytes)";
    }
    return sHex;
}

std::string SimPrintable(const std::string &a_cBytes)
{
    std::string sOut;
    for (unsigned char c : a_cBytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            sOut += static_cast<char>(c);
        } else {
            char cEsc[8];
            snprintf(cEsc, sizeof cEsc, "\\x%02X", c);
            sOut += cEsc;
        }
    }
    return sOut;
}
