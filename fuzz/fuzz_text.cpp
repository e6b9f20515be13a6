// The text library on any bytes: kana width conversion both ways in both
// codes (whole text or a cut-off length), and the three kanji string
// conversions. Every output buffer has exactly its documented bound, so a
// write past it shows; the input is a string in an allocation of its own
// size, so a read past its terminator shows. Every output ends terminated
// inside its buffer, and text of another code is copied as it is.
//
// Input: byte 0 picks the length limit and the way voicing marks are
// written, the rest is the text (a NUL inside ends it, as for any C string).
#include <algorithm>
#include <cstring>

#include "fuzz.h"
#include "head.h"

static bool bTerminated(const std::unique_ptr<unsigned char[]> &a_p, size_t a_n) { return memchr(a_p.get(), 0, a_n); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > (1 << 16)) return 0;
    const uint8_t cMode = data[0];
    const size_t len = strnlen(reinterpret_cast<const char *>(data + 1), size - 1);
    auto text = fz::Exact(len + 1);
    memcpy(text.get(), data + 1, len);
    text[len] = 0;
    const unsigned char *t = text.get();
    const int srclens[] = {static_cast<int>(len), static_cast<int>(cMode >> 2) - 8, static_cast<int>(len) - 1, 1 << 30};
    const int srclen = srclens[cMode & 3];

    for (int code : {static_cast<int>(JPCODE_SJIS), static_cast<int>(JPCODE_EUC), 2}) {
        // Shift_JIS never grows going to half width; EUC-JP may double.
        const size_t iHalf = code == JPCODE_SJIS ? len + 1 : 2 * len + 1;
        auto half = fz::Exact(iHalf), full = fz::Exact(2 * len + 1);
        fz::Check(zentohan(half.get(), t, code, srclen) == 0, "zentohan failed");
        const int ret = hantozen(full.get(), t, code, srclen, cMode >> 7);
        fz::Check(bTerminated(half, iHalf) && (ret != 0 || bTerminated(full, 2 * len + 1)),
                  "kana output not terminated");
        const size_t n = srclen <= 0 ? 0 : std::min(len, static_cast<size_t>(srclen));
        fz::Check(code != 2 || (ret == 0 && strlen(fz::Chars(half)) == n && memcmp(half.get(), t, n) == 0 &&
                                strlen(fz::Chars(full)) == n && memcmp(full.get(), t, n) == 0),
                  "text of another code not copied");
    }
    // Shift_JIS to JIS writes one byte per byte read; the others at most double or halve.
    auto jis = fz::Exact(len + 1), euc = fz::Exact(2 * len + 1), ej = fz::Exact(len + 1);
    if (len > 0) {
        fz::Check(iSJIStoJIS(t, jis.get()) == 0 && strnlen(fz::Chars(jis), len + 1) == len,
                  "iSJIStoJIS cut the text short");
        fz::Check(iSJIStoEUC(t, euc.get()) == 0 && bTerminated(euc, 2 * len + 1), "iSJIStoEUC not terminated");
        fz::Check(iEUCtoJIS(t, ej.get()) == 0 && bTerminated(ej, len + 1), "iEUCtoJIS not terminated");
    }
    return 0;
}
