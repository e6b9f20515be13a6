// The issuing run's own work before the machine is reached: the arguments,
// the patient record and the kana name pipeline. No sockets here, so the
// tests run it directly.

#include <array>
#include <cstdlib>
#include <cstring>

#include "patient.h"

#include "head.h"
#include "jiscode.h"

namespace {

// Bytes each argument may hold, its field's size less the terminator; the
// sex must be exactly one byte, since the stripe has one byte for it and a
// NUL there would end the magnetic record early.
// What an argument may hold besides its length. Everything from argument 5
// on goes onto the stripe, where a control byte breaks the record: a NUL cuts
// it short, STX and ETX end the frame, ESC, SO and SI switch the reader's
// character set. The names must be whole Shift_JIS characters besides: the
// kana pipeline turns a broken one into a control byte (a lone lead byte 0x83
// becomes ETX) or into a NUL that silently cuts the name, and the JIS
// conversion leaves it as a stray 8-bit byte in the kanji field.
enum ArgText { TXT_ANY, TXT_NO_CTL, TXT_SJIS };

struct ArgLimit {
    int iMin;
    int iMax;  // -1: no limit of its own
    ArgText eText;
};
constexpr std::array<ArgLimit, RUN_ARG_N + 1> kArgLimit = {{
    {0, -1, TXT_ANY},                                          // 0: the program
    {0, 63, TXT_ANY},                                          // 1: host (cHost holds 64)
    {0, -1, TXT_ANY},                                          // 2: port, read as a number
    {0, 1, TXT_ANY},                                           // 3: print style flag
    {0, -1, TXT_ANY},                                          // 4: bitmap path
    {0, int(sizeof(T_PAT_INF::szID) - 1), TXT_NO_CTL},         // 5: patient number
    {0, int(sizeof(T_PAT_INF::szNameKANJI) - 1), TXT_SJIS},    // 6: kanji name
    {0, int(sizeof(T_PAT_INF::szNameKanaZen) - 1), TXT_SJIS},  // 7: kana name
    {1, 1, TXT_NO_CTL},                                        // 8: sex
    {0, int(sizeof(T_PAT_INF::szBirthDate) - 1), TXT_NO_CTL},  // 9: birth date
    {0, int(sizeof(T_PAT_INF::szFirstDate) - 1), TXT_NO_CTL},  // 10: first visit
}};

// Copies the argument into a field of a_iSize bytes: the field is cleared
// first, so the terminator and everything behind the text are zero bytes.
// The arguments have been checked to fit; a longer one is still cut rather
// than run past the field.
void vFieldSet(char *a_cField, size_t a_iSize, const char *a_szArg)
{
    memset(a_cField, 0, a_iSize);
    if (a_szArg == nullptr || a_iSize == 0) {
        return;
    }
    size_t iLen = strnlen(a_szArg, a_iSize - 1);
    memcpy(a_cField, a_szArg, iLen);
}

bool bCtlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The argument holds what its field may carry (see ArgText).
bool bArgText(const char *a_szArg, ArgText a_eText)
{
    if (a_eText == TXT_ANY) {
        return true;
    }
    const auto *p = reinterpret_cast<const unsigned char *>(a_szArg);
    while (*p != '\0') {
        const unsigned char c = *p;
        if (bCtlByte(c)) {
            return false;
        }
        if (a_eText == TXT_SJIS) {
            if (jiscode::bSjisLead(c)) {
                // The terminator is no trail byte, so this never reads past it.
                if (!jiscode::bSjisTrail(p[1])) {
                    return false;
                }
                p += 2;
                continue;
            }
            // Bytes that begin no character of code page 932.
            if (c == 0x80 || c == 0xA0 || c >= 0xFD) {
                return false;
            }
        }
        p++;
    }
    return true;
}

}  // namespace

int iArgCheck(int a_iArgc, char *const *a_szArgv)
{
    if (a_szArgv == nullptr || a_iArgc < RUN_ARG_N + 1) {
        return 1;
    }
    for (int i = 1; i <= RUN_ARG_N; i++) {
        const char *szArg = a_szArgv[i];
        if (szArg == nullptr) {
            return i;
        }
        const ArgLimit &tLim = kArgLimit[i];
        // Counted with a bound: an argument is never read further than needed.
        if (tLim.iMax >= 0 && strnlen(szArg, size_t(tLim.iMax) + 1) > size_t(tLim.iMax)) {
            return i;
        }
        if (strnlen(szArg, size_t(tLim.iMin)) < size_t(tLim.iMin)) {
            return i;
        }
        if (!bArgText(szArg, tLim.eText)) {
            return i;
        }
    }
    return 0;
}

int iPortRead(const char *a_szArg)
{
    if (a_szArg == nullptr) {
        return 0;
    }
    // strtol instead of atoi: a number too long for an int is not undefined
    // here. Only the low 16 bits reach the connection anyway.
    return static_cast<int>(strtol(a_szArg, nullptr, 10));
}

void vKanaPipeline(const char *a_szKanaZen, char *a_szNameKANA)
{
    std::array<unsigned char, 128> cSJis{};
    std::array<unsigned char, 128> cHan{};
    std::array<unsigned char, 256> cJis{};
    if (a_szKanaZen != nullptr) {
        memcpy(cSJis.data(), a_szKanaZen, strnlen(a_szKanaZen, cSJis.size() - 1));
    }
    int iSrcLen = static_cast<int>(strlen(reinterpret_cast<const char *>(cSJis.data())));
    zentohan(cHan.data(), cSJis.data(), JPCODE_SJIS, iSrcLen);
    cHan.back() = '\0';
    iSJIStoJIS(cHan.data(), cJis.data());
    cJis.back() = '\0';

    vFieldSet(a_szNameKANA, 128, reinterpret_cast<const char *>(cJis.data()));
    // Half-width katakana 0xA1-0xDF become their 7-bit codes 0x21-0x5F, the
    // half-width blank 0xA0 the ASCII blank; ASCII stays as it is.
    for (int i = 0; i < 128; i++) {
        unsigned char c = static_cast<unsigned char>(a_szNameKANA[i]);
        if (c & 0x80) {
            a_szNameKANA[i] = static_cast<char>(c - 0x80);
        }
    }
}

void vPatFill(T_PAT_INF *a_tPat, char *const *a_szArgv)
{
    a_tPat->cStyFlg = a_szArgv[3][0];
    vFieldSet(a_tPat->szID, sizeof a_tPat->szID, a_szArgv[5]);
    vFieldSet(a_tPat->szNameKANJI, sizeof a_tPat->szNameKANJI, a_szArgv[6]);
    vFieldSet(a_tPat->szNameKanaZen, sizeof a_tPat->szNameKanaZen, a_szArgv[7]);
    vKanaPipeline(a_szArgv[7], a_tPat->szNameKANA);
    a_tPat->cSEX = a_szArgv[8][0];
    vFieldSet(a_tPat->szBirthDate, sizeof a_tPat->szBirthDate, a_szArgv[9]);
    vFieldSet(a_tPat->szFirstDate, sizeof a_tPat->szFirstDate, a_szArgv[10]);
}
