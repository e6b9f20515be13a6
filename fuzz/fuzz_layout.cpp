// The character set frame from any print style file and any layout file.
// Both files are written into a private folder made once; the process steps
// into it for each input and back out, so corpus paths relative to the
// starting folder keep working.
//
// Input: byte 0 picks the frame buffer's size, byte 1 the sex, byte 2 the
// lengths of the names (low half: kanji, high half: kana, in steps of 8),
// bytes 3 to 10 the birth date, then the print style file up to the first
// NUL byte, then the layout file.
//
// Checked: the frame never runs past its buffer; when built it is STX "A"
// ... ETX with room for its block check and no ETX before its end.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_settings.h"
#include "head.h"
#include "frames.h"
#include "settings.h"
#include "sock.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;

void vWrite(const char *a_szName, const uint8_t *a_p, size_t a_n)
{
    FILE *fp = fopen(a_szName, "wb");
    fz::Check(fp != nullptr, "cannot write a settings file");
    fz::Check(a_n == 0 || fwrite(a_p, 1, a_n, fp) == a_n, "short write");
    fz::Check(fclose(fp) == 0, "cannot close a settings file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const fz::Dirs d = fz::MakeDirs("fuzz_layout");
    if (size < 11 || size > kMaxInput) {
        return 0;
    }
    T_PAT_INF tPat;
    memset(&tPat, 0, sizeof tPat);
    strcpy(tPat.szID, "1234567890");
    tPat.cSEX = static_cast<char>(data[1]);
    memset(tPat.szNameKANJI, 0x8A, (data[2] & 15u) * 8u);
    tPat.szNameKANJI[sizeof tPat.szNameKANJI - 1] = '\0';
    memset(tPat.szNameKanaZen, 0x83, (data[2] >> 4) * 8u);
    tPat.szNameKanaZen[sizeof tPat.szNameKanaZen - 1] = '\0';
    memcpy(tPat.szBirthDate, data + 3, 8);

    const uint8_t *pStyle = data + 11;
    size_t iRest = size - 11;
    const uint8_t *pNul = static_cast<const uint8_t *>(memchr(pStyle, 0, iRest));
    size_t iStyle = pNul ? static_cast<size_t>(pNul - pStyle) : iRest;
    const uint8_t *pLayout = pStyle + iStyle + (pNul ? 1 : 0);
    size_t iLayout = iRest - iStyle - (pNul ? 1 : 0);

    fz::Check(fchdir(d.iPrivate) == 0, "cannot step into the private folder");
    vWrite("printstyle.txt", pStyle, iStyle);
    vWrite("printsetting.txt", pLayout, iLayout);

    // The pieces of the character set command before its exchange, without
    // its log lines (the era conversion logs nothing while its file is there).
    char cBirth[64] = {};
    if (iDateChg(tPat.szBirthDate, cBirth) != 0) {
        snprintf(cBirth, sizeof cBirth, "%s", tPat.szBirthDate);
    }
    FILE *fpStyle = fopen("printstyle.txt", "r");
    fz::Check(fpStyle != nullptr, "cannot read the print style file");
    int iSexStyle_ = iSexStyle(fpStyle);
    fclose(fpStyle);
    const char *szSex = szSexWord(tPat.cSEX, iSexStyle_);

    int iSize = data[0] < 200 ? 896 : data[0] - 196;  // mostly the real buffer, sometimes a tiny one
    std::unique_ptr<char[]> cSnd(new char[static_cast<size_t>(iSize)]);
    FILE *fpLayout = fopen("printsetting.txt", "r");
    fz::Check(fpLayout != nullptr, "cannot read the layout file");
    int iLen = iCharSetLayout(fpLayout, &tPat, cBirth, szSex, cSnd.get(), iSize);
    fclose(fpLayout);
    fz::Check(fchdir(d.iHome) == 0, "cannot step back");

    if (iLen < 0) {
        fz::Check(iLen == -1, "refusal other than -1");
        return 0;
    }
    fz::Check(iLen >= 3 && iLen + 1 <= iSize, "frame leaves no room for its block check");
    fz::Check(cSnd[0] == SCK_STX && cSnd[1] == 'A' && cSnd[iLen - 1] == SCK_ETX, "frame not STX A ... ETX");
    fz::Check(memchr(cSnd.get() + 1, SCK_ETX, static_cast<size_t>(iLen - 2)) == nullptr, "ETX inside the frame");
    return 0;
}
