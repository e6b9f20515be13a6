// Kanji code conversion on any bytes: the three string conversions write into
// buffers of exactly their documented bound, never read past the terminator,
// never cut the text short (Shift_JIS to JIS writes one byte per byte read),
// and every byte pair survives the in-place conversion and the fold.
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
        fprintf(stderr, "fuzz_kanji: %s\n", szWhat);
        abort();
    }
}

size_t Len(const std::vector<unsigned char> &v)
{
    const void *end = memchr(v.data(), 0, v.size());
    vCheck(end != nullptr, "output not terminated");
    return static_cast<size_t>(static_cast<const unsigned char *>(end) - v.data());
}

bool bEuc(unsigned char c)
{
    return c >= 0xA1 && c <= 0xFE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > MAX_INPUT) {
        return 0;
    }
    std::vector<unsigned char> text(data, data + size);
    text.push_back(0);
    const size_t len = strlen(reinterpret_cast<const char *>(text.data()));

    // An empty text writes nothing, so the buffers start cleared.
    std::vector<unsigned char> jis(len + 1, 0), euc(2 * len + 1, 0), ej(len + 1, 0);
    vCheck(iSJIStoJIS(text.data(), jis.data()) == 0, "iSJIStoJIS result");
    vCheck(Len(jis) == len, "iSJIStoJIS output cut short");
    vCheck(iSJIStoEUC(text.data(), euc.data()) == 0, "iSJIStoEUC result");
    vCheck(Len(euc) >= len, "iSJIStoEUC output cut short");
    vCheck(iEUCtoJIS(text.data(), ej.data()) == 0, "iEUCtoJIS result");
    vCheck(2 * Len(ej) >= len, "iEUCtoJIS output cut short");

    // Byte pairs of the text as single characters.
    for (size_t i = 0; i + 1 < size; i += 2) {
        unsigned char c1 = data[i], c2 = data[i + 1];
        if (bEuc(c1) && bEuc(c2) && c1 < 0xF5 && !(c1 == 0xA8 && c2 >= 0xAC && c2 <= 0xB6)) {
            // A plane-1 EUC-JP character comes back from Shift_JIS unchanged.
            unsigned char s[3] = {c1, c2, 0};
            EUCtoSJIS(&s[0], &s[1]);
            unsigned char back[5] = {0};
            iSJIStoEUC(s, back);
            vCheck(back[0] == c1 && back[1] == c2 && back[2] == 0, "EUC-JP round trip");
        } else {
            EUCtoSJIS(&c1, &c2);
        }
        unsigned char h = data[i], l = data[i + 1];
        vGrade423(&h, &l);
        vCheck(h != 0 || data[i] == 0, "fold made a NUL lead byte");
    }
    return 0;
}
