// Full-width / half-width katakana in Shift_JIS and EUC-JP.
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

// One conversion on an input in an allocation of its exact size, so a read
// past the terminator shows under AddressSanitizer. Returns the result and
// the output text.
std::pair<int, std::string> Conv(const std::string &in, int code, int dak, int srclen = ALL)
{
    std::vector<unsigned char> src(in.begin(), in.end()), dst(2 * in.size() + 1, 0xEE);
    src.push_back(0);
    int ret = dak == ZEN ? zentohan(dst.data(), src.data(), code, srclen)
                         : hantozen(dst.data(), src.data(), code, srclen, dak);
    return {ret, reinterpret_cast<const char *>(dst.data())};
}

// Each table against glibc's idea of the characters it claims to hold (CP932
// for Shift_JIS, EUC-JP for EUC-JP): one slipped code in one table shows here.
TEST(KanaTables, MatchTheCharactersTheyName)
{
    const std::string plain =
        u8"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワ"
        u8"ヲンァィゥェォッャュョー、。「」゛゜（）・";
    const std::string plainHalf = u8"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜｦﾝｧｨｩｪｫｯｬｭｮｰ､｡｢｣ﾞﾟ()･";
    const std::string dak = u8"ガギグゲゴザジズゼゾダヂヅデドバビブベボヴ";
    const std::string dakBase = u8"カキクケコサシスセソタチツテトハヒフヘホウ";
    struct Case {
        const unsigned char *table;
        const char *charset;
        std::string text;
    } cases[] = {
        {seihan, "CP932", plainHalf},  // then the byte A0, which is no character
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
}

TEST(KanaTables, SearchRoutines)
{
    const unsigned char abca[] = "abca", ca[] = "ca", bb[] = "bb", a0[] = {'a', 0};
    EXPECT_EQ(ustrindex(abca, 'c'), 2);
    EXPECT_EQ(ustrindex(abca, 0), -1);
    EXPECT_EQ(ustrindex2(abca, ca), 2);  // tried byte by byte: odd offsets count
    EXPECT_EQ(ustrindex2(abca, bb), -1);
    EXPECT_EQ(ustrindex2(abca, a0), 3);  // the terminator as second byte
}

TEST(Kana, Conversions)
{
    const int S = JPCODE_SJIS, E = JPCODE_EUC;
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
        vt::CaptureFd err(2);
        auto [ret, out] = Conv(Hex(c.in), c.code, c.dak, c.srclen);
        EXPECT_EQ(err.Finish(), c.err) << c.in;
        EXPECT_EQ(ret, c.ret) << c.in;
        EXPECT_EQ(ToHex(out), c.want) << "code " << c.code << " dak " << c.dak << " srclen " << c.srclen << ": "
                                      << c.in;
    }
}

}  // namespace
