// The character set frame from any print style file, any layout file and any
// birth date, as the character set command builds it from the files in its
// working folder (a private one here).
//
// Input: byte 0 picks the frame buffer's size, byte 1 the sex, byte 2 the
// lengths of the names (low half: kanji, high half: kana, in steps of 8),
// bytes 3 to 10 the birth date, then the print style file up to the first
// NUL byte, then the layout file.
//
// Checked: nothing runs past the frame buffer or the era date's 19 bytes;
// a frame built is STX "A" ... ETX with room for its block check and no ETX
// before its end.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "frames.h"
#include "fuzz.h"
#include "head.h"
#include "sock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *pQuiet = freopen("/dev/null", "w", stdout);  // run log lines: a fuzzer writes millions
    fz::Check(pQuiet != nullptr, "cannot silence standard output");
    if (size < 11 || size > (1 << 16)) return 0;
    T_PAT_INF tPat{};
    strcpy(tPat.szID, "1234567890");
    tPat.cSEX = static_cast<char>(data[1]);
    memset(tPat.szNameKANJI, 0x8A, (data[2] & 15u) * 8u);  // at most 120 of 128 bytes
    memset(tPat.szNameKanaZen, 0x83, (data[2] >> 4) * 8u);
    memcpy(tPat.szBirthDate, data + 3, 8);

    const uint8_t *pStyle = data + 11, *pEnd = data + size;
    const uint8_t *pNul = static_cast<const uint8_t *>(memchr(pStyle, 0, size - 11));
    const uint8_t *pLayout = pNul ? pNul + 1 : pEnd;
    const int iSize = data[0] < 200 ? 896 : data[0] - 196;  // mostly the real buffer, sometimes a tiny one
    auto cSnd = fz::Exact(static_cast<size_t>(iSize)), cEra = fz::Exact(19);  // the longest era date and its NUL
    // A private folder for the call only, so that corpus paths relative to the start keep working.
    static const int iHome = open(".", O_RDONLY | O_DIRECTORY);
    std::string sDir = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/vestrun-fuzz-XXXXXX";
    fz::Check(mkdtemp(&sDir[0]) != nullptr && chdir(sDir.c_str()) == 0, "cannot step into a private folder");
    fz::Write("printstyle.txt", pStyle, static_cast<size_t>((pNul ? pNul : pEnd) - pStyle));
    fz::Write("printsetting.txt", pLayout, static_cast<size_t>(pEnd - pLayout));
    (void)iDateChg(tPat.szBirthDate, fz::Chars(cEra));
    const int iLen = iCharSetBuild(&tPat, fz::Chars(cSnd), iSize);
    fz::Check(unlink("printstyle.txt") == 0 && unlink("printsetting.txt") == 0 && fchdir(iHome) == 0 &&
                  rmdir(sDir.c_str()) == 0,
              "cannot clear the private folder");
    if (iLen < 0) {
        fz::Check(iLen == -1, "refusal other than -1 with both files there");
        return 0;
    }
    const unsigned char *f = cSnd.get();
    fz::Check(iLen >= 3 && iLen + 1 <= iSize, "frame leaves no room for its block check");
    fz::Check(f[0] == SCK_STX && f[1] == 'A' && f[iLen - 1] == SCK_ETX, "frame not STX A ... ETX");
    fz::Check(memchr(f + 1, SCK_ETX, static_cast<size_t>(iLen - 2)) == nullptr, "ETX inside the frame");
    return 0;
}
