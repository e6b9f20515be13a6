// The run log, the trace file, the settings-file reader, the print style and
// the era dates.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "cfile.h"
#include "head.h"
#include "runlog.h"
#include "settings.h"
#include "trace.h"

int iLogFormat(char *a_szOut, size_t a_iSize, const struct tm *a_tTm, const char *a_szMsg)
{
    // " 3/ 5 09:07:02 ": month and day padded with a blank, no year, no zone.
    return snprintf(a_szOut, a_iSize, "%2d/%2d %02d:%02d:%02d %s\n", a_tTm->tm_mon + 1, a_tTm->tm_mday, a_tTm->tm_hour,
                    a_tTm->tm_min, a_tTm->tm_sec, a_szMsg ? a_szMsg : "");
}

void vLogAdd(const char *a_szMsg)
{
    time_t tNow = time(nullptr);
    struct tm tTm;
    if (localtime_r(&tNow, &tTm) == nullptr) {
        memset(&tTm, 0, sizeof tTm);
    }
    // The message goes out as it stands, whatever its length: a line longer
    // than the usual buffer (the dump of a long frame) is formed in one of
    // its own size.
    std::array<char, 512> cLine;
    int iLen = iLogFormat(cLine.data(), cLine.size(), &tTm, a_szMsg);
    if (iLen < 0) {
        return;
    }
    if (static_cast<size_t>(iLen) < cLine.size()) {
        fwrite(cLine.data(), 1, static_cast<size_t>(iLen), stdout);
    } else {
        std::vector<char> cLong(static_cast<size_t>(iLen) + 1);
        iLogFormat(cLong.data(), cLong.size(), &tTm, a_szMsg);
        fwrite(cLong.data(), 1, static_cast<size_t>(iLen), stdout);
    }
    // Flushed at once, so that an operator watching the card wait through a
    // pipe sees each status line as it comes.
    fflush(stdout);
}

int iTraceLine(const char *a_szPath, int a_iAppend, const char *a_szDesig, const char *a_szText)
{
    // The trace file lies in a folder everyone can write to: never follow a
    // link planted there, and never wait on a pipe that nobody reads (the open
    // would hold the run before the machine is even reached).
    int iFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (a_iAppend ? O_APPEND : O_TRUNC);
    int iFd = open(a_szPath, iFlags, 0644);
    if (iFd < 0) {
        return -1;
    }
    struct stat tSt;
    if (fstat(iFd, &tSt) != 0 || !S_ISREG(tSt.st_mode)) {
        close(iFd);
        return -1;
    }
    // The line is written whole, however long the name.
    struct {
        const char *p;
        size_t n;
    } tPart[] = {{a_szDesig, strlen(a_szDesig)}, {a_szText, strlen(a_szText)}, {"\n", 1}};
    int iRet = 0;
    for (auto &t : tPart) {
        while (iRet == 0 && t.n > 0) {
            ssize_t iN = write(iFd, t.p, t.n);
            if (iN < 0 && errno == EINTR) {
                continue;
            }
            if (iN <= 0) {
                iRet = -1;
                break;
            }
            t.p += iN;
            t.n -= static_cast<size_t>(iN);
        }
    }
    if (close(iFd) != 0) {
        iRet = -1;
    }
    return iRet;
}

int iKanaTrace(const char *a_szPath, const char *a_szNameKANA)
{
    // ESC ( I designates the half-width katakana set.
    return iTraceLine(a_szPath, 0, "\x1B(I", a_szNameKANA);
}

int iJisTraceAppend(const char *a_szPath, const char *a_szJis)
{
    // ESC $ B designates the kanji set for whoever reads the trace.
    return iTraceLine(a_szPath, 1, "\x1B$B", a_szJis);
}

int iSetLineRead(FILE *a_fp, T_SET_LINE *a_tLine)
{
    for (;;) {
        if (fgets(a_tLine->cBuf, sizeof a_tLine->cBuf, a_fp) == nullptr) {
            return 0;
        }
        if (a_tLine->cBuf[0] != ';') {
            break;
        }
    }
    a_tLine->iLine = a_tLine->iCount++;
    a_tLine->iFldN = 0;
    char *p = a_tLine->cBuf;
    while (a_tLine->iFldN < SET_MAX_FIELDS) {
        while (*p == ',') {
            p++;  // empty fields are skipped
        }
        if (*p == '\0' || *p == '\n') {
            break;  // a field that begins with a line feed ends the line
        }
        char *szStart = p;
        while (*p != '\0' && *p != ',') {
            p++;
        }
        if (*p == ',') {
            *p++ = '\0';
        }
        a_tLine->szFld[a_tLine->iFldN++] = szStart;
    }
    return 1;
}

// ---- era dates --------------------------------------------------------------

namespace {

// The era names and units are card text: written as Shift_JIS bytes.
struct T_ERA {
    long lFrom;  // first day, YYYYMMDD
    long lTo;    // last day, YYYYMMDD
    const char *szKanji;
    const char *szLetter;
    long lOffset;  // era year = Western year - offset
};

constexpr T_ERA kEras[] = {
    {18680908, 19120729, "\x96\xBE\x8E\xA1", "M", 1867},  // 明治
    {19120730, 19261224, "\x91\xE5\x90\xB3", "T", 1911},  // 大正
    {19261225, 19890107, "\x8F\xBA\x98\x61", "S", 1925},  // 昭和
    {19890108, 20190430, "\x95\xBD\x90\xAC", "H", 1988},  // 平成
    {20190501, 99999999, "\x97\xDF\x98\x61", "R", 2018},  // 令和
};

constexpr const char *NEN = "\x94\x4E";    // 年
constexpr const char *GATSU = "\x8C\x8E";  // 月
constexpr const char *NICHI = "\x93\xFA";  // 日

}  // namespace

T_PRT_STYLE tPrtStyleScan(FILE *a_fp)
{
    // Without counted line 1 the card gets the letter era with slashes, like
    // any date style other than 1, 2 and 3.
    T_PRT_STYLE tStyle = {'0', 0};
    T_SET_LINE tLine;
    memset(&tLine, 0, sizeof tLine);
    while (iSetLineRead(a_fp, &tLine) == 1) {
        if (tLine.iFldN == 0) {
            continue;
        }
        if (tLine.iLine == 1) {
            tStyle.cDate = tLine.szFld[0][0];
        } else if (tLine.iLine == 2) {
            tStyle.iSex = static_cast<unsigned char>(tLine.szFld[0][0]);
        }
    }
    return tStyle;
}

int iSexStyle(FILE *a_fp) { return tPrtStyleScan(a_fp).iSex; }

int iPrtStyleRead(T_PRT_STYLE *a_tStyle)
{
    CFile fp(fopen("printstyle.txt", "r"));
    if (!fp) {
        return -99;
    }
    *a_tStyle = tPrtStyleScan(fp.get());
    // A file that opens but cannot be read (a folder of that name, a disk
    // error) has told us nothing: printing the default form instead would
    // hide that from the operator.
    return ferror(fp.get()) != 0 ? -99 : 0;
}

int iDateForm(const char *a_szYYYYMMDD, char a_cStyle, char *a_szWaYMD)
{
    // Eight characters and their terminator; a shorter text ends at its own.
    char szWork[9] = {};
    for (int i = 0; i < 8 && a_szYYYYMMDD[i] != '\0'; i++) {
        szWork[i] = a_szYYYYMMDD[i];
    }
    const long lDate = strtol(szWork, nullptr, 10);
    if (lDate < kEras[0].lFrom) {
        return -1;
    }
    // Month and day are printed as they stand; only the era bounds are checked.
    const T_ERA *pEra = &kEras[0];
    for (const T_ERA &tEra : kEras) {
        pEra = &tEra;
        if (lDate <= tEra.lTo) {
            break;
        }
    }
    const unsigned long lYear = static_cast<unsigned long>(lDate / 10000 - pEra->lOffset);
    const unsigned long lMonth = static_cast<unsigned long>(lDate % 10000 / 100);
    const unsigned long lDay = static_cast<unsigned long>(lDate % 100);

    const bool bKanji = a_cStyle == '1' || a_cStyle == '3';
    const bool bUnits = a_cStyle == '1' || a_cStyle == '2';
    char szOut[32];
    snprintf(szOut, sizeof szOut, "%s%2lu%s%2lu%s%2lu%s", bKanji ? pEra->szKanji : pEra->szLetter, lYear,
             bUnits ? NEN : "/", lMonth, bUnits ? GATSU : "/", lDay, bUnits ? NICHI : "");
    // At most 18 bytes and the terminator (令和7981年99月99日).
    memcpy(a_szWaYMD, szOut, strlen(szOut) + 1);
    return 0;
}

int iDateChg(const char *a_szYYYYMMDD, char *a_szWaYMD)
{
    T_PRT_STYLE tStyle;
    if (iPrtStyleRead(&tStyle) != 0) {
        vLogAdd(MSG_NO_STYLE);
        return -99;
    }
    return iDateForm(a_szYYYYMMDD, tStyle.cDate, a_szWaYMD);
}
