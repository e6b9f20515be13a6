// Kana width conversion on any bytes, in both codes, with the whole text or a
// cut-off length: nothing may read past the terminator, write past the
// documented bound (the output buffers have exactly that size), or leave the
// output without its terminator.
//
// Input: byte 0 picks the length limit and the way marks are written, the
// rest is the text (a NUL inside it ends it, as for any C string).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "head.h"

namespace {

constexpr size_t MAX_INPUT = 1 << 16;

void vCheck(bool bOk, const char *szWhat)
{
    if (!bOk) {
        fprintf(stderr, "fuzz_kana: %s\n", szWhat);
        abort();
    }
}

// The output of one conversion: terminated inside its buffer.
std::vector<unsigned char> Zen(const unsigned char *text, int code, int srclen, size_t bound)
{
    std::vector<unsigned char> out(bound);
    vCheck(zentohan(out.data(), text, code, srclen) == 0, "zentohan failed");
    vCheck(memchr(out.data(), 0, out.size()) != nullptr, "zentohan output not terminated");
    return out;
}

bool bSame(const std::vector<unsigned char> &a, const unsigned char *b, size_t n)
{
    return strlen(reinterpret_cast<const char *>(a.data())) == n && memcmp(a.data(), b, n) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > MAX_INPUT) {
        return 0;
    }
    const uint8_t cMode = data[0];
    // The text in an allocation of its own, terminated, so over-reads show.
    std::vector<unsigned char> text(data + 1, data + size);
    text.push_back(0);
    const size_t len = strlen(reinterpret_cast<const char *>(text.data()));

    const int srclens[] = {static_cast<int>(len), static_cast<int>(cMode >> 2) - 8, static_cast<int>(len) - 1,
                           1 << 30};
    const int srclen = srclens[cMode & 3];
    const int dakutsuke = (cMode >> 7) & 1;

    for (int code : {static_cast<int>(JPCODE_SJIS), static_cast<int>(JPCODE_EUC), 2}) {
        // Shift_JIS never grows going to half width; EUC-JP may double.
        std::vector<unsigned char> half = Zen(text.data(), code, srclen, code == JPCODE_SJIS ? len + 1 : 2 * len + 1);
        std::vector<unsigned char> full(2 * len + 1);
        int ret = hantozen(full.data(), text.data(), code, srclen, dakutsuke);
        vCheck(ret == 0 || ret == 1, "hantozen result");
        vCheck(memchr(full.data(), 0, full.size()) != nullptr, "hantozen output not terminated");
        if (code == 2) {
            // Neither conversion touches text of another code.
            const size_t n = srclen <= 0 ? 0 : std::min(len, static_cast<size_t>(srclen));
            vCheck(ret == 0 && bSame(half, text.data(), n) && bSame(full, text.data(), n), "other code not copied");
        }

        // In Shift_JIS, making text full-width first changes nothing about
        // its half-width form: every kana comes back as it was.
        if (code == JPCODE_SJIS && ret == 0 && srclen >= static_cast<int>(len)) {
            const size_t fullLen = strlen(reinterpret_cast<const char *>(full.data()));
            std::vector<unsigned char> back = Zen(full.data(), code, 1 << 30, fullLen + 1);
            vCheck(strcmp(reinterpret_cast<const char *>(half.data()), reinterpret_cast<const char *>(back.data())) == 0,
                   "half-width form changed by a round trip");
        }
    }
    return 0;
}
