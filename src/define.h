// The patient record: everything that goes onto one card.
#ifndef VESTRUN_DEFINE_H
#define VESTRUN_DEFINE_H

#include "bitmap.h"

struct T_PAT_INF {
    char szID[11];            // patient number
    char cSEX;                // sex, one character
    char cStyFlg;             // print style flag: '0' append card, else rewrite
    char szBirthDate[16];     // YYYYMMDD
    char szFirstDate[16];     // YYYYMMDD
    char szNameKANA[128];     // kana name as 7-bit half-width katakana codes
    char szNameKANJI[128];    // kanji name, Shift_JIS
    char szNameKanaZen[128];  // kana name, full-width, Shift_JIS
    Image stImg;              // the card picture; main owns its data
};

#endif
