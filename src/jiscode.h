// Two-byte character arithmetic shared by the Shift_JIS, EUC-JP and JIS
// conversions: what a lead byte is, the Shift_JIS to JIS row/cell mapping and
// the re-coding of the heavy box-drawing characters.
#ifndef VESTRUN_JISCODE_H
#define VESTRUN_JISCODE_H

namespace jiscode {

inline bool bSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// A byte that may follow a Shift_JIS lead byte. Anything else after a lead
// byte (a control byte, a blank, a comma, the terminator) means the character
// was cut short; such a byte must stay a character of its own.
inline bool bSjisTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Heavy box-drawing characters 28 2C - 28 36 are written in row 12, where the
// card's character set keeps them; every other code of row 8 stays put.
inline void vBoxRemap(unsigned char &a_cRow, unsigned char &a_cCell)
{
    static constexpr unsigned char kCell[11] = {0x25, 0x27, 0x33, 0x37, 0x3F, 0x3B, 0x47, 0x57, 0x4F, 0x5F, 0x6F};
    if (a_cRow == 0x28 && a_cCell >= 0x2C && a_cCell <= 0x36) {
        a_cRow = 0x2C;
        a_cCell = kCell[a_cCell - 0x2C];
    }
}

// Shift_JIS (lead s1, trail s2) to JIS row and cell, box remap included.
// Bytes wrap modulo 256 like the code they come from.
inline void vSjisToJis(unsigned char s1, unsigned char s2, unsigned char &a_cRow, unsigned char &a_cCell)
{
    unsigned char r = static_cast<unsigned char>(s1 < 0xA0 ? 2 * (s1 - 0x70) : 2 * (s1 - 0xB0));
    if (s2 < 0x9F) {
        r = static_cast<unsigned char>(r - 1);
    }
    unsigned char k;
    if (s2 < 0x80) {
        k = static_cast<unsigned char>(s2 - 0x1F);
    } else if (s2 < 0x9F) {
        k = static_cast<unsigned char>(s2 - 0x20);
    } else {
        k = static_cast<unsigned char>(s2 - 0x7E);
    }
    vBoxRemap(r, k);
    a_cRow = r;
    a_cCell = k;
}

// 〓, written for a character that has no code in the target.
constexpr unsigned char GETA_ROW = 0x22;
constexpr unsigned char GETA_CELL = 0x2E;

}  // namespace jiscode

#endif
