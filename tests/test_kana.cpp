// Japanese text codes: full-width / half-width katakana in Shift_JIS and
// EUC-JP, and the Shift_JIS, EUC-JP and bare JIS kanji conversions. Inputs sit
// in allocations of their exact size, so a read past the terminator shows
// under AddressSanitizer; outputs in buffers filled with EE, so a byte
// written past the terminator shows anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "head.h"
#include "testutil.h"

namespace {

using vt::Hex;
using vt::ToHex;

constexpr int ALL = 1 << 20;  // a srclen beyond any text here: the terminator ends the walk
constexpr int ZEN = -1;       // "dakutsuke" that asks for zentohan instead
constexpr int S = JPCODE_SJIS, E = JPCODE_EUC;

std::vector<unsigned char> Src(const std::string &a_sHex)
{
    std::string in = Hex(a_sHex);
    std::vector<unsigned char> src(in.begin(), in.end());
    src.push_back(0);
    return src;
}

// The whole output buffer, as hex: the text, its terminator, then EE to the
// end ("-": nothing written at all).
std::string Out(const std::vector<unsigned char> &a_vBuf) { return ToHex(std::string(a_vBuf.begin(), a_vBuf.end())); }
std::string Want(const std::string &a_sHex, size_t a_iSize)
{
    std::string w = a_sHex == "-" ? "" : Hex(a_sHex) + '\0';
    return ToHex(w + std::string(a_iSize - w.size(), '\xEE'));
}

// Each table against glibc's idea of the characters it claims to hold (CP932
// for Shift_JIS, EUC-JP for EUC-JP): one slipped code in one table shows here.
TEST(KanaTables, MatchTheCharactersTheyName)
{
    const std::string plain =
        u8"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワ"
        u8"ヲンァィゥェォッャュョー、。「」゛゜（）・";
    const std::string dak = u8"ガギグゲゴザジズゼゾダヂヅデドバビブベボヴ";
    const std::string dakBase = u8"カキクケコサシスセソタチツテトハヒフヘホウ";
    const struct {
        const unsigned char *table;
        const char *charset;
        std::string text;
    } cases[] = {
        {seihan, "CP932", u8"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜｦﾝｧｨｩｪｫｯｬｭｮｰ､｡｢｣ﾞﾟ()･"},  // then A0
        {sjis_seizen, "CP932", plain + u8"　"},
        {euc_seizen, "EUC-JP", plain},
        {dakhan, "CP932", u8"ｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎｳ"},
        {sjis_dakzen, "CP932", dak},
        {euc_dakzen, "EUC-JP", dak},
        {sjis_dakzensei, "CP932", dakBase},
        {euc_dakzensei, "EUC-JP", dakBase},
        {hathan, "CP932", u8"ﾊﾋﾌﾍﾎ"},
        {sjis_hatzen, "CP932", u8"パピプペポ"},
        {euc_hatzen, "EUC-JP", u8"パピプペポ"},
        {sjis_hatzensei, "CP932", u8"ハヒフヘホ"},
        {euc_hatzensei, "EUC-JP", u8"ハヒフヘホ"},
        {sjis_dakuten, "CP932", u8"゛"},
        {sjis_handakuten, "CP932", u8"゜"},
        {euc_dakuten, "EUC-JP", u8"゛"},
        {euc_handakuten, "EUC-JP", u8"゜"},
    };
    for (const auto &c : cases) {
        std::string want = vt::Iconv(c.charset, "UTF-8", c.text) + (c.table == seihan ? "\xA0" : "");
        EXPECT_EQ(ToHex(reinterpret_cast<const char *>(c.table)), ToHex(want)) << c.text;
    }
    const unsigned char abca[] = "abca", ca[] = "ca", bb[] = "bb", a0[] = {'a', 0};
    EXPECT_EQ(ustrindex(abca, 'c'), 2);
    EXPECT_EQ(ustrindex(abca, 0), -1);
    EXPECT_EQ(ustrindex2(abca, ca), 2);  // tried byte by byte: odd offsets count
    EXPECT_EQ(ustrindex2(abca, bb), -1);
    EXPECT_EQ(ustrindex2(abca, a0), 3);  // the terminator as second byte
}

TEST(Kana, Conversions)
{
    const struct {
        int code, dak, srclen;  // dak ZEN: zentohan
        const char *in, *want;  // hex
        int ret;
        const char *err;  // standard error
    } cases[] = {
        // zentohan, Shift_JIS: アイウ, ガ, パ, ヴ, カ゛, ー・, （）, ideographic space
        {S, ZEN, ALL, "83 41 83 43 83 45", "B1 B2 B3", 0, ""},
        {S, ZEN, ALL, "83 4B 83 70 83 94 83 4A 81 4A", "B6 DE CA DF B3 DE B6 DE", 0, ""},
        {S, ZEN, ALL, "81 5B 81 45 81 69 81 6A 81 40", "B0 A5 28 29 A0", 0, ""},
        {S, ZEN, ALL, "81 83 83 95 83 96 82 A0 41 B1", "81 83 83 95 83 96 82 A0 41 B1", 0, ""},  // ＜ヵヶあ
        {S, ZEN, ALL, "83 5C 5C", "BF 5C", 0, ""},  // ソ: a trail byte 5C stays in its character
        // zentohan, EUC-JP: ア, ガ, ・, （ without SS2, the space stays
        {E, ZEN, ALL, "A5 A2 A5 AC A1 A6", "8E B1 8E B6 8E DE 8E A5", 0, ""},
        {E, ZEN, ALL, "A1 CA A1 A1 8E B1", "28 A1 A1 8E B1", 0, ""},
        // srclen: characters that begin before it are converted whole.
        {S, ZEN, 3, "83 41 83 43 83 45", "B1 B2", 0, ""},
        {S, ZEN, 0, "83 41", "", 0, ""},
        {E, ZEN, 1, "A5 A2 A5 A4", "8E B1", 0, ""},
        // hantozen, Shift_JIS, marks composed (1) or kept apart (0)
        {S, 1, ALL, "B1 B2 B3", "83 41 83 43 83 45", 0, ""},
        {S, 1, ALL, "B6 DE CA DF B3 DE", "83 4B 83 70 83 94", 0, ""},
        {S, 0, ALL, "B6 DE CA DF B3 DE", "83 4A 81 4A 83 6E 81 4B 83 45 81 4A", 0, ""},
        {S, 1, ALL, "DE 41 DF B0 A5", "81 4A 41 81 4B 81 5B 81 45", 0, ""},  // lone marks
        {S, 1, ALL, "B1 DE", "", 1, "unexpected error: \\xb1\n"},            // ｱﾞ
        {S, 1, ALL, "B3 B6 DF", "83 45", 1, "unexpected error: \\xb6\n"},    // ｶﾟ: the output so far stays
        {S, 1, ALL, "FC B1", "FC B1", 0, ""},  // the last lead byte keeps its trail byte, which is no ｱ
        // srclen limits only the first byte of a sequence.
        {S, 1, 1, "B6 DE B1", "83 4B", 0, ""},
        {E, 1, 1, "8E B6 8E DE 8E B1", "A5 AC", 0, ""},
        // hantozen, EUC-JP
        {E, 1, ALL, "8E B6 8E DE 8E CA 8E DF", "A5 AC A5 D1", 0, ""},
        {E, 0, ALL, "8E B6 8E DE", "A5 AB A1 AB", 0, ""},
        {E, 1, ALL, "8E 28 A5 A2 8E B6 DE", "A1 CA A5 A2 A5 AB DE", 0, ""},  // a mark needs its SS2
        {E, 1, ALL, "8E A0", "", 1, "unexpected error: \\xa0\n"},            // no EUC-JP partner
        // Other codes copy; an empty text gives an empty one.
        {2, ZEN, ALL, "83 41 A5 A2", "83 41 A5 A2", 0, ""},
        {S, ZEN, ALL, "", "", 0, ""},
        // A lead byte or SS2 cut off by the terminator is copied alone.
        {S, ZEN, ALL, "83 41 83", "B1 83", 0, ""},
        {E, ZEN, ALL, "A5 A2 A5", "8E B1 A5", 0, ""},
        {S, 1, ALL, "B1 83", "83 41 83", 0, ""},
        {E, 1, ALL, "8E B6 8E", "A5 AB 8E", 0, ""},
    };
    for (const auto &c : cases) {
        std::vector<unsigned char> src = Src(c.in), dst(2 * src.size() + 2, 0xEE);
        vt::CaptureFd err(2);
        const int ret = c.dak == ZEN ? zentohan(dst.data(), src.data(), c.code, c.srclen)
                                     : hantozen(dst.data(), src.data(), c.code, c.srclen, c.dak);
        EXPECT_EQ(err.Finish(), c.err) << c.in;
        EXPECT_EQ(ret, c.ret) << c.in;
        EXPECT_EQ(Out(dst), Want(c.want, dst.size())) << "code " << c.code << " dak " << c.dak << ": " << c.in;
    }
}

TEST(KanjiConversions, Strings)
{
    const struct {
        int (*fn)(const unsigned char *, unsigned char *);
        const char *in, *want;  // hex
        const char *trace;      // what the plane-2 fold writes to standard output
    } cases[] = {
        // ア 亜 漢 熙 ー; ASCII and half-width kana pass unchanged.
        {iSJIStoJIS, "83 41 88 9F 8A BF EA A4 81 5B B1 41", "25 22 30 21 34 41 74 26 21 3C B1 41", ""},
        // ─ stays; the heavy box lines ━┃┏┓┛┗┣┳┫┻╋ move to row 12; their neighbours stay.
        {iSJIStoJIS, "84 9F 84 A9 84 B5", "28 21 28 2B 28 37", ""},
        {iSJIStoJIS, "84 AA 84 AB 84 AC 84 AD 84 AE 84 AF", "2C 25 2C 27 2C 33 2C 37 2C 3F 2C 3B", ""},
        {iSJIStoJIS, "84 B0 84 B1 84 B2 84 B3 84 B4", "2C 47 2C 57 2C 4F 2C 5F 2C 6F", ""},
        // The plane-2 area is folded first (F0 AA onto ━, then re-coded).
        {iSJIStoJIS, "F0 40 F0 AA F4 9F FC EE", "21 21 2C 25 6E 21 7E 70", ""},
        {iSJIStoJIS, "F1 40 F2 9E", "23 21 25 7E", "us:8240\nus:839e\n"},
        {iSJIStoJIS, "F0 9E F0 9F F2 9F F4 9E", "21 7E 28 21 2C 21 2F 7E", ""},  // the bounds of the fold
        // Not folded, no JIS code: 〓, and the text goes on.
        {iSJIStoJIS, "FC EF 41 FC FC", "22 2E 41 22 2E", ""},
        // A lead byte without its trail byte stays alone: at the end, before a
        // comma, before 1F (which would give a NUL), 7F or FD.
        {iSJIStoJIS, "41 83", "41 83", ""},
        {iSJIStoJIS, "83 2C 41 83 1F 83 7F 83 FD", "83 2C 41 83 1F 83 7F 83 FD", ""},
        {iSJIStoJIS, "", "-", ""},
        {iSJIStoEUC, "83 41 B1 84 AA 84 9F 41 7E", "A5 A2 8E B1 AC A5 A8 A1 41 7E", ""},
        {iSJIStoEUC, "7F 80 A0 DF FD FE FF", "8E 7F 8E 80 8E A0 8E DF 8E FD 8E FE 8E FF", ""},
        // No plane-1 code, whatever the fold would say, and no trace: 〓.
        {iSJIStoEUC, "F0 40 F1 40 FC FC 41", "A2 AE A2 AE A2 AE 41", ""},
        {iSJIStoEUC, "88 9F 83", "B0 A1 83", ""},
        {iSJIStoEUC, "83 FE", "83 8E FE", ""},  // FE would give a NUL
        {iSJIStoEUC, "", "-", ""},
        {iEUCtoJIS, "A5 A2 8E B1 A8 AC A8 B6 A8 A1", "25 22 B1 2C 25 2C 6F 28 21", ""},
        {iEUCtoJIS, "41 A5 41 FF 8F A1 A1 0A", "41 A5 41 FF 8F 21 21 0A", ""},
        {iEUCtoJIS, "A5", "A5", ""},
        {iEUCtoJIS, "8E B1 8E", "B1 8E", ""},
        {iEUCtoJIS, "", "-", ""},  // an empty text writes nothing
    };
    for (const auto &c : cases) {
        std::vector<unsigned char> src = Src(c.in), dst(2 * src.size() + 2, 0xEE);
        vt::CaptureFd out(1);
        EXPECT_EQ(c.fn(src.data(), dst.data()), 0);
        EXPECT_EQ(out.Finish(), c.trace) << c.in;
        EXPECT_EQ(Out(dst), Want(c.want, dst.size())) << c.in;
    }
}

// Against glibc: every two-byte code that its EUC-JP-MS reads must read as the
// same character in its CP932 after our conversion (the matching pair of
// tables, NEC and IBM extensions included). Rows F5-FE are left out: glibc
// keeps user-defined characters there in EUC-JP-MS but at F040-F9FC in
// CP932, which row/cell arithmetic does not do.
TEST(KanjiConversions, AgreesWithIconvEucJpMsAndCp932)
{
    int compared = 0;
    for (int a = 0xA1; a <= 0xF4; a++) {
        for (int b = 0xA1; b <= 0xFE; b++) {
            std::string u = vt::Iconv("UTF-8", "EUC-JP-MS", {char(a), char(b)});
            if (u.empty()) continue;
            unsigned char c1 = a, c2 = b;
            EUCtoSJIS(&c1, &c2);
            EXPECT_EQ(vt::Iconv("UTF-8", "CP932", {char(c1), char(c2)}), u) << std::hex << a << b;
            compared++;
        }
    }
    EXPECT_GT(compared, 6900);  // glibc reads 6962 of them
}

}  // namespace
