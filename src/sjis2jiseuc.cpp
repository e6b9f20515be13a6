// Shift_JIS text to bare JIS codes and to EUC-JP, and the fold of the plane-2
// area of Shift_JIS onto plane-1 positions.
#include <cstdio>

#include "head.h"
#include "jiscode.h"

using jiscode::bSjisLead;
using jiscode::bSjisTrail;

void vGrade423(unsigned char *cH, unsigned char *cL)
{
    unsigned int iCode = (static_cast<unsigned int>(*cH) << 8) | *cL;
    if (iCode >= 0xF040 && iCode <= 0xF09E) {
        *cH = 0x81;
        return;
    }
    if (iCode >= 0xF09F && iCode <= 0xF0FC) {
        *cH = 0x84;
        return;
    }
    if (iCode >= 0xF140 && iCode <= 0xF29E) {
        iCode -= 0x6F00;
        // Rows 3 to 5 of plane 2 land on the kana rows; the trace shows which.
        printf("us:%x\n", iCode);
        fflush(stdout);
    } else if (iCode >= 0xF29F && iCode <= 0xF49E) {
        iCode -= 0x6C00;
    } else if (iCode >= 0xF49F && iCode <= 0xFCEE) {
        iCode -= 0x0D00;
    } else {
        return;
    }
    *cH = static_cast<unsigned char>(iCode >> 8);
    *cL = static_cast<unsigned char>(iCode & 0xFF);
}

// The string conversions below stop at the terminator and never look past it.
// A lead byte that is not followed by a trail byte (at the end of the text, or
// before a blank, a comma or a control byte) is copied alone and the next byte
// is taken as a character of its own: the text is never cut short and a NUL
// never appears inside it.

int iSJIStoJIS(const unsigned char *c_bf, unsigned char *c_rt)
{
    const unsigned char *p = c_bf;
    unsigned char *o = c_rt;
    while (*p != 0) {
        const unsigned char c = *p;
        if (!bSjisLead(c) || !bSjisTrail(p[1])) {
            // ASCII and half-width kana stay 8-bit single bytes.
            *o++ = c;
            p++;
            continue;
        }
        unsigned char cH = c;
        unsigned char cL = p[1];
        vGrade423(&cH, &cL);
        if (cH >= 0xF0) {
            // FC EF - FC FC: nothing to fold onto, no JIS code.
            *o++ = jiscode::GETA_ROW;
            *o++ = jiscode::GETA_CELL;
        } else {
            jiscode::vSjisToJis(cH, cL, o[0], o[1]);
            o += 2;
        }
        p += 2;
    }
    if (o != c_rt) {
        *o = 0;
    }
    return 0;
}

int iSJIStoEUC(const unsigned char *c_bf, unsigned char *c_rt)
{
    const unsigned char *p = c_bf;
    unsigned char *o = c_rt;
    while (*p != 0) {
        const unsigned char c = *p;
        if (!bSjisLead(c)) {
            if (c > 0x7E) {
                *o++ = 0x8E;  // SS2: half-width kana and the other high single bytes
            }
            *o++ = c;
            p++;
            continue;
        }
        if (!bSjisTrail(p[1])) {
            *o++ = c;
            p++;
            continue;
        }
        if (c >= 0xF0) {
            // The plane-2 area has no EUC-JP code in plane 1.
            *o++ = jiscode::GETA_ROW | 0x80;
            *o++ = jiscode::GETA_CELL | 0x80;
        } else {
            unsigned char r;
            unsigned char k;
            jiscode::vSjisToJis(c, p[1], r, k);
            *o++ = r | 0x80;
            *o++ = k | 0x80;
        }
        p += 2;
    }
    if (o != c_rt) {
        *o = 0;
    }
    return 0;
}
