// EUC-JP text to bare JIS codes.
#include "head.h"
#include "jiscode.h"

static inline bool bEucByte(unsigned char c) { return c >= 0xA1 && c <= 0xFE; }

int iEUCtoJIS(const unsigned char *c_bf, unsigned char *c_rt)
{
    const unsigned char *p = c_bf;
    unsigned char *o = c_rt;
    while (*p != 0) {
        const unsigned char c = *p;
        if (c == 0x8E && p[1] != 0) {
            // Half-width kana: the kana byte alone, still 8-bit.
            *o++ = p[1];
            p += 2;
        } else if (bEucByte(c) && bEucByte(p[1])) {
            unsigned char r = c - 0x80;
            unsigned char k = p[1] - 0x80;
            jiscode::vBoxRemap(r, k);
            *o++ = r;
            *o++ = k;
            p += 2;
        } else {
            // Anything else, an SS2 cut off by the end of the text included,
            // is copied as it stands.
            *o++ = c;
            p++;
        }
    }
    if (o != c_rt) {
        *o = 0;
    }
    return 0;
}
