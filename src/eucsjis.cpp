// One EUC-JP two-byte character to Shift_JIS, in place.
#include "head.h"

void EUCtoSJIS(unsigned char *c1, unsigned char *c2)
{
    const unsigned char j1 = static_cast<unsigned char>(*c1 - 0x80);
    const unsigned char j2 = static_cast<unsigned char>(*c2 - 0x80);
    unsigned char cLead;
    unsigned char cTrail;
    if (j1 & 1) {
        cLead = static_cast<unsigned char>(static_cast<unsigned char>(j1 + 1) / 2 + 0x70);
        cTrail = static_cast<unsigned char>(j2 + 0x1F);
    } else {
        cLead = static_cast<unsigned char>(j1 / 2 + 0x70);
        cTrail = static_cast<unsigned char>(j2 + 0x7D);
    }
    if (cLead > 0x9F) {
        cLead = static_cast<unsigned char>(cLead + 0x40);
    }
    if (cTrail > 0x7E) {
        cTrail = static_cast<unsigned char>(cTrail + 1);  // 0x7F is no trail byte
    }
    *c1 = cLead;
    *c2 = cTrail;
}
