// The sample patient of the tests: as the run takes it on its command line,
// as the record the printer commands take, the 69 bytes its stripe holds and
// two fixed frames. Frames are hex text, as the peer and the
// stand-in record them; their block check is worked out here, by the tests'
// own exclusive-or, never by the link.
#ifndef VESTRUN_SAMPLE_CARD_H
#define VESTRUN_SAMPLE_CARD_H

#include <cstring>
#include <string>
#include <vector>

#include "define.h"
#include "testutil.h"

namespace sample {

// 12345, 山田太郎, ヤマダ　タロウ, sex 1, born 19700101, first visit 20240401.
// The names are Shift_JIS (test sources are compiled to CP932), as vestrun takes them.
inline std::vector<std::string> Args(int a_iPort, const std::string &a_sPicture)
{
    return {"127.0.0.1", std::to_string(a_iPort), "0", a_sPicture, "12345",
            "山田太郎",  "ヤマダ　タロウ",        "1", "19700101", "20240401"};
}

inline T_PAT_INF Patient(char a_cStyFlg = '0')
{
    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    strcpy(p.szID, "12345");
    memcpy(p.szNameKANA, "\x54\x4F\x40\x5E\x20\x40\x5B\x33", 8);  // ﾔﾏﾀﾞ ﾀﾛｳ in 7-bit codes
    strcpy(p.szBirthDate, "19700101");
    p.cSEX = '1';
    p.cStyFlg = a_cStyFlg;
    strcpy(p.szNameKANJI, "山田太郎");
    strcpy(p.szFirstDate, "20240401");
    strcpy(p.szNameKanaZen, "ヤマダ　タロウ");
    return p;
}

// The stripe, field by field at its width; a case changes the fields it expects otherwise.
struct Stripe {
    std::string sNumber = "     12345";
    std::string sKana = vt::Hex("0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F") + std::string(12, ' ');
    std::string sBirth = "19700101";
    std::string sSex = "1";
    std::string sKanji = vt::Hex("3B 33 45 44 42 40 4F 3A") + std::string(6, '!');  // JIS codes, ideographic blanks
    std::string sFirst = "20240401";
    std::string Bytes() const { return sNumber + sKana + sBirth + sSex + "\x1BK" + sKanji + "\x1BH" + sFirst; }
};

// STX, the body, ETX and the exclusive-or of every byte from the letter through ETX.
inline std::string Frame(const std::string &a_sBody)
{
    std::string f = "\x02" + a_sBody + "\x03";
    char cBcc = 0;
    for (size_t i = 1; i < f.size(); i++) cBcc = static_cast<char>(cBcc ^ f[i]);
    return f + cBcc;
}
inline std::string Wire(const std::string &a_sBody) { return vt::ToHex(Frame(a_sBody)); }

// Fixed frames, as they go on the wire.
constexpr char kStatus[] = "02 59 03 5A";
constexpr char kRewrite[] = "02 46 31 03 74";

}  // namespace sample

#endif
