// The magnetic record and its kana field from any record fields.
//
// Input: byte 0 is the sex, byte 1 picks the size of the frame buffer, then
// five fields, each a length byte followed by that many bytes: patient
// number, birth date, first visit, kana name (7-bit codes), kanji name. A
// length larger than the field fills it to its last byte with no terminator,
// as a record filled carelessly would be.
//
// Checked: the frame never runs past its buffer, is exactly STX '9', 69
// record bytes and ETX when built, holds no byte that would end it early,
// and is refused only for the reasons the builder gives; the kana field
// always ends shifted in.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "head.h"
#include "frames.h"
#include "sock.h"

namespace {

void vCheck(bool a_bOk, const char *a_szWhat)
{
    if (!a_bOk) {
        fprintf(stderr, "fuzz_magrecord: %s\n", a_szWhat);
        abort();
    }
}

struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t Byte()
    {
        if (n == 0) {
            return 0;
        }
        n--;
        return *p++;
    }
    // A field of a_iSize bytes: the input's length byte, capped at the field.
    void Field(char *a_cDst, size_t a_iSize)
    {
        size_t iLen = Byte();
        iLen = iLen < a_iSize ? iLen : a_iSize;
        iLen = iLen < n ? iLen : n;
        memcpy(a_cDst, p, iLen);
        p += iLen;
        n -= iLen;
    }
};

bool bFrameEnder(char a_c) { return a_c == '\0' || a_c == SCK_STX || a_c == SCK_ETX; }

void vCheckKanaField(const char *a_szKana)
{
    char cField[25];
    memset(cField, 0x7F, sizeof cField);
    vCheck(iKanaField(a_szKana, cField) == 24, "kana field not 24 bytes");
    vCheck(cField[24] == '\0', "kana field not terminated");
    vCheck(cField[0] == 0x0E, "kana field does not open with SO");
    // With no shift codes of its own in the name, the field must end shifted in.
    if (strchr(a_szKana, 0x0E) == nullptr && strchr(a_szKana, 0x0F) == nullptr) {
        char cLast = 0;
        for (int i = 0; i < 24; i++) {
            if (cField[i] == 0x0E || cField[i] == 0x0F) {
                cLast = cField[i];
            }
        }
        vCheck(cLast == 0x0F, "kana field left shifted out");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in{data, size};
    T_PAT_INF tPat;
    memset(&tPat, 0, sizeof tPat);
    tPat.cSEX = static_cast<char>(in.Byte());
    uint8_t uSize = in.Byte();
    in.Field(tPat.szID, sizeof tPat.szID);
    in.Field(tPat.szBirthDate, sizeof tPat.szBirthDate);
    in.Field(tPat.szFirstDate, sizeof tPat.szFirstDate);
    in.Field(tPat.szNameKANA, sizeof tPat.szNameKANA);
    in.Field(tPat.szNameKANJI, sizeof tPat.szNameKANJI);

    // The kana field reads its name as a string.
    char cKana[sizeof tPat.szNameKANA + 1] = {};
    memcpy(cKana, tPat.szNameKANA, sizeof tPat.szNameKANA);
    vCheckKanaField(cKana);

    // A buffer of exactly the size asked, so that any write past it shows.
    int iSize = uSize % 2 ? 73 : 60 + uSize % 20;
    std::unique_ptr<char[]> cSnd(new char[static_cast<size_t>(iSize)]);
    memset(cSnd.get(), 0x7F, static_cast<size_t>(iSize));
    const int iJisSize = 1 + uSize % 64;
    std::unique_ptr<char[]> cJis(new char[static_cast<size_t>(iJisSize)]);
    int iRet = iMagRecord(&tPat, cSnd.get(), iSize, cJis.get(), iJisSize);

    bool bIdTooLong = strnlen(tPat.szID, sizeof tPat.szID) > 10;
    if (bIdTooLong || tPat.cSEX == '\0') {
        vCheck(iRet == -99, "unfit record built");
        return 0;
    }
    if (iRet == -99) {
        return 0;  // a NUL, STX or ETX inside: the other reasons to refuse
    }
    if (iSize < 73) {
        vCheck(iRet == -1, "frame built into a buffer too small for it");
        return 0;
    }
    vCheck(iRet == 72, "frame not 72 bytes");
    vCheck(cSnd[0] == SCK_STX && cSnd[1] == '9' && cSnd[71] == SCK_ETX, "frame not STX 9 ... ETX");
    for (int i = 2; i < 71; i++) {
        vCheck(!bFrameEnder(cSnd[i]), "record holds a byte that ends the frame");
    }
    vCheck(memchr(cJis.get(), '\0', static_cast<size_t>(iJisSize)) != nullptr, "JIS name not terminated");
    return 0;
}
