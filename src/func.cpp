// The run log and the settings-file reader (era dates live here too).
#include <cstdio>
#include <cstring>
#include <ctime>

#include "head.h"

// " 3/ 5 09:07:02 ": month and day padded with a blank, no year, no zone.
static int iLogStamp(char *a_szOut, size_t a_iSize, const struct tm *a_tTm)
{
    return snprintf(a_szOut, a_iSize, "%2d/%2d %02d:%02d:%02d ", a_tTm->tm_mon + 1, a_tTm->tm_mday, a_tTm->tm_hour,
                    a_tTm->tm_min, a_tTm->tm_sec);
}

int iLogFormat(char *a_szOut, size_t a_iSize, const struct tm *a_tTm, const char *a_szMsg)
{
    char cStamp[64];
    iLogStamp(cStamp, sizeof cStamp, a_tTm);
    return snprintf(a_szOut, a_iSize, "%s%s\n", cStamp, a_szMsg ? a_szMsg : "");
}

void vLogAdd(const char *a_szMsg)
{
    time_t tNow = time(nullptr);
    struct tm tTm;
    if (localtime_r(&tNow, &tTm) == nullptr) {
        memset(&tTm, 0, sizeof tTm);
    }
    char cStamp[64];
    iLogStamp(cStamp, sizeof cStamp, &tTm);
    // The message goes out as it stands, whatever its length; the line is
    // flushed at once so that an operator watching the card wait through a
    // pipe sees each status line as it comes.
    fputs(cStamp, stdout);
    fputs(a_szMsg ? a_szMsg : "", stdout);
    fputc('\n', stdout);
    fflush(stdout);
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
