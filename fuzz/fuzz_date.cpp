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

#include "fuzz_settings.h"
#include "head.h"
#include "settings.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;

void vReadAll(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return;
    }
    std::vector<char> copy(data, data + size);
    FILE *fp = fmemopen(copy.data(), copy.size(), "r");
    fz::Check(fp != nullptr, "fmemopen");
    T_SET_LINE tLine;
    memset(&tLine, 0, sizeof tLine);
    int iCount = 0;
    while (iSetLineRead(fp, &tLine)) {
        fz::Check(tLine.iLine == iCount++, "line numbering");
        fz::Check(tLine.iFldN >= 0 && tLine.iFldN <= SET_MAX_FIELDS, "field count");
        const char *szEnd = tLine.cBuf + sizeof tLine.cBuf;
        for (int i = 0; i < tLine.iFldN; i++) {
            const char *f = tLine.szFld[i];
            fz::Check(f >= tLine.cBuf && f < szEnd, "field outside the line buffer");
            fz::Check(memchr(f, 0, static_cast<size_t>(szEnd - f)) != nullptr, "field not terminated");
            fz::Check(*f != '\0' && *f != ',' && *f != '\n', "empty field kept");
        }
    }
    fclose(fp);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fz::Dirs tDirs = fz::MakeDirs("fuzz_date");
    if (size == 0 || size > kMaxInput) {
        return 0;
    }
    fz::Check(fchdir(tDirs.iPrivate) == 0, "cannot enter the private folder");
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
        fz::Check(fp != nullptr, "cannot write printstyle.txt");
        fz::Check(fwrite(pFile, 1, iFileLen, fp) == iFileLen, "short write");
        fclose(fp);
    }

    char szOut[64];
    memset(szOut, 'Q', sizeof szOut);
    const int ret = iDateChg(szDate.data(), szOut);
    if (bMissing) {
        fz::Check(ret == -99 && szOut[0] == 'Q', "missing style file");
    } else if (ret == 0) {
        const char *end = static_cast<const char *>(memchr(szOut, 0, sizeof szOut));
        fz::Check(end != nullptr && end - szOut <= 18, "era date longer than 18 bytes");
        for (const char *p = end + 1; p < szOut + sizeof szOut; p++) {
            fz::Check(*p == 'Q', "written past the era date");
        }
    } else {
        fz::Check(ret == -1 && szOut[0] == 'Q', "refused date touched the output");
    }
    fz::Check(fchdir(tDirs.iHome) == 0, "cannot go back");

    vReadAll(data, size);
    return 0;
}
