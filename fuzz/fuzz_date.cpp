// Era dates against any print style file and any date text, and the settings
// reader over any text. The style file is written into a private folder that
// is made once; the process steps into it for each date and back out, so
// corpus paths relative to the starting folder keep working.
//
// Input: byte 0 gives the length of the date text (low 4 bits) and whether the
// style file is missing (high bit); then the date text; the rest is the file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "head.h"

namespace {

constexpr size_t MAX_INPUT = 1 << 16;

void vCheck(bool bOk, const char *szWhat)
{
    if (!bOk) {
        fprintf(stderr, "fuzz_date: %s\n", szWhat);
        abort();
    }
}

struct Dirs {
    int iHome;     // where the process started
    int iPrivate;  // the folder that holds printstyle.txt
};

std::string &PrivatePath()
{
    static std::string path;
    return path;
}

void vRemovePrivateDir()
{
    unlink((PrivatePath() + "/printstyle.txt").c_str());
    rmdir(PrivatePath().c_str());
}

Dirs tMakeDirs()
{
    const char *szBase = getenv("TMPDIR");
    std::string tmpl = std::string(szBase && *szBase ? szBase : "/tmp") + "/fuzz_date-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    vCheck(mkdtemp(name.data()) != nullptr, "cannot make a private folder");
    Dirs d{open(".", O_RDONLY | O_DIRECTORY), open(name.data(), O_RDONLY | O_DIRECTORY)};
    vCheck(d.iHome >= 0 && d.iPrivate >= 0, "cannot open the folders");
    PrivatePath() = name.data();
    atexit(vRemovePrivateDir);
    return d;
}

void vReadAll(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return;
    }
    std::vector<char> copy(data, data + size);
    FILE *fp = fmemopen(copy.data(), copy.size(), "r");
    vCheck(fp != nullptr, "fmemopen");
    T_SET_LINE tLine;
    memset(&tLine, 0, sizeof tLine);
    int iCount = 0;
    while (iSetLineRead(fp, &tLine)) {
        vCheck(tLine.iLine == iCount++, "line numbering");
        vCheck(tLine.iFldN >= 0 && tLine.iFldN <= SET_MAX_FIELDS, "field count");
        const char *szEnd = tLine.cBuf + sizeof tLine.cBuf;
        for (int i = 0; i < tLine.iFldN; i++) {
            const char *f = tLine.szFld[i];
            vCheck(f >= tLine.cBuf && f < szEnd, "field outside the line buffer");
            vCheck(memchr(f, 0, static_cast<size_t>(szEnd - f)) != nullptr, "field not terminated");
            vCheck(*f != '\0' && *f != ',' && *f != '\n', "empty field kept");
        }
    }
    fclose(fp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const Dirs tDirs = tMakeDirs();
    if (size == 0 || size > MAX_INPUT) {
        return 0;
    }
    vCheck(fchdir(tDirs.iPrivate) == 0, "cannot enter the private folder");
    const size_t iDateLen = std::min<size_t>(data[0] & 0x0F, size - 1);
    const bool bMissing = (data[0] & 0x80) != 0;
    std::vector<char> szDate(data + 1, data + 1 + iDateLen);
    szDate.push_back('\0');
    const uint8_t *pFile = data + 1 + iDateLen;
    const size_t iFileLen = size - 1 - iDateLen;

    if (bMissing) {
        unlink("printstyle.txt");
    } else {
        FILE *fp = fopen("printstyle.txt", "wb");
        vCheck(fp != nullptr, "cannot write printstyle.txt");
        vCheck(fwrite(pFile, 1, iFileLen, fp) == iFileLen, "short write");
        fclose(fp);
    }

    char szOut[64];
    memset(szOut, 'Q', sizeof szOut);
    const int ret = iDateChg(szDate.data(), szOut);
    if (bMissing) {
        vCheck(ret == -99 && szOut[0] == 'Q', "missing style file");
    } else if (ret == 0) {
        const char *end = static_cast<const char *>(memchr(szOut, 0, sizeof szOut));
        vCheck(end != nullptr && end - szOut <= 18, "era date longer than 18 bytes");
        for (const char *p = end + 1; p < szOut + sizeof szOut; p++) {
            vCheck(*p == 'Q', "written past the era date");
        }
    } else {
        vCheck(ret == -1 && szOut[0] == 'Q', "refused date touched the output");
    }
    vCheck(fchdir(tDirs.iHome) == 0, "cannot go back");

    vReadAll(data, size);
    return 0;
}
