// Full-width / half-width katakana in Shift_JIS and EUC-JP.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "testutil.h"

namespace {

using vt::Hex;
using vt::ToHex;

// glibc iconv, whole text or nothing ("" with ok=false on any failure).
std::string Iconv(const char *to, const char *from, const std::string &in, bool *ok = nullptr)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (ok) *ok = false;
        return "";
    }
    std::string src = in;
    std::vector<char> out(in.size() * 4 + 16);
    char *ip = src.data();
    size_t il = src.size();
    char *op = out.data();
    size_t ol = out.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    bool good = r != static_cast<size_t>(-1) && il == 0;
    if (ok) *ok = good;
    return good ? std::string(out.data(), op) : "";
}

std::string Str(const unsigned char *p)
{
    return reinterpret_cast<const char *>(p);
}

struct Result {
    int ret;
    std::string out;
};

// The input sits in an allocation of its exact size (text and terminator), so
// a read past the terminator shows under AddressSanitizer.
// srclen large enough for any text here: the terminator ends the walk.
constexpr int ALL = 1 << 20;

Result Zen2Han(const std::string &in, int code, int srclen = ALL)
{
    std::vector<unsigned char> src(in.begin(), in.end());
    src.push_back(0);
    std::vector<unsigned char> dst(2 * in.size() + 1, 0xEE);
    int ret = zentohan(dst.data(), src.data(), code, srclen);
    return {ret, Str(dst.data())};
}

Result Han2Zen(const std::string &in, int code, int dakutsuke, int srclen = ALL)
{
    std::vector<unsigned char> src(in.begin(), in.end());
    src.push_back(0);
    std::vector<unsigned char> dst(2 * in.size() + 1, 0xEE);
    int ret = hantozen(dst.data(), src.data(), code, srclen, dakutsuke);
    return {ret, Str(dst.data())};
}

// Each table against glibc's own idea of the characters it claims to hold
// (iconv's CP932 for Shift_JIS, EUC-JP for EUC-JP): a slip of one code in one
// table shows here.
TEST(KanaTables, MatchTheCharactersTheyName)
{
    const std::string plainFull = u8"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワ"
                                  u8"ヲンァィゥェォッャュョー、。「」゛゜（）・";
    const std::string plainHalf = u8"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜ"
                                  u8"ｦﾝｧｨｩｪｫｯｬｭｮｰ､｡｢｣ﾞﾟ()･";
    const std::string dakFull = u8"ガギグゲゴザジズゼゾダヂヅデドバビブベボヴ";
    const std::string dakBase = u8"カキクケコサシスセソタチツテトハヒフヘホウ";
    const std::string dakHalf = u8"ｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎｳ";
    const std::string space = u8"　";

    struct Case {
        const char *name;
        const unsigned char *table;
        const char *charset;
        std::string text;
    } cases[] = {
        {"seihan", seihan, nullptr, Iconv("CP932", "UTF-8", plainHalf) + "\xA0"},  // A0 has no character
        {"sjis_seizen", sjis_seizen, "CP932", plainFull + space},
        {"euc_seizen", euc_seizen, "EUC-JP", plainFull},
        {"dakhan", dakhan, "CP932", dakHalf},
        {"sjis_dakzen", sjis_dakzen, "CP932", dakFull},
        {"euc_dakzen", euc_dakzen, "EUC-JP", dakFull},
        {"sjis_dakzensei", sjis_dakzensei, "CP932", dakBase},
        {"euc_dakzensei", euc_dakzensei, "EUC-JP", dakBase},
        {"hathan", hathan, "CP932", u8"ﾊﾋﾌﾍﾎ"},
        {"sjis_hatzen", sjis_hatzen, "CP932", u8"パピプペポ"},
        {"euc_hatzen", euc_hatzen, "EUC-JP", u8"パピプペポ"},
        {"sjis_hatzensei", sjis_hatzensei, "CP932", u8"ハヒフヘホ"},
        {"euc_hatzensei", euc_hatzensei, "EUC-JP", u8"ハヒフヘホ"},
        {"sjis_dakuten", sjis_dakuten, "CP932", u8"゛"},
        {"sjis_handakuten", sjis_handakuten, "CP932", u8"゜"},
        {"euc_dakuten", euc_dakuten, "EUC-JP", u8"゛"},
        {"euc_handakuten", euc_handakuten, "EUC-JP", u8"゜"},
    };
    for (const auto &c : cases) {
        std::string want = c.charset ? Iconv(c.charset, "UTF-8", c.text) : c.text;
        ASSERT_FALSE(want.empty()) << c.name;
        EXPECT_EQ(ToHex(Str(c.table)), ToHex(want)) << c.name;
    }
}

TEST(KanaSearch, UstrindexFindsFirstOccurrence)
{
    const unsigned char abca[] = {'a', 'b', 'c', 'a', 0};
    const unsigned char ab[] = {'a', 'b'}, ca[] = {'c', 'a'}, bb[] = {'b', 'b'}, c0[] = {'a', 0};
    EXPECT_EQ(ustrindex(abca, 'a'), 0);
    EXPECT_EQ(ustrindex(abca, 'c'), 2);
    EXPECT_EQ(ustrindex(abca, 'z'), -1);
    EXPECT_EQ(ustrindex(abca, 0), -1);
    EXPECT_EQ(ustrindex(seihan, 0xDE), 60);
    EXPECT_EQ(ustrindex2(abca, ab), 0);
    EXPECT_EQ(ustrindex2(abca, ca), 2);  // tried one byte at a time, so odd offsets count
    EXPECT_EQ(ustrindex2(abca, bb), -1);
    EXPECT_EQ(ustrindex2(abca, c0), 3);  // the terminator may be the second byte
    const unsigned char empty[] = {0};
    EXPECT_EQ(ustrindex2(empty, ab), -1);
}

struct ConvCase {
    int code;
    const char *in;    // hex
    int srclen;
    const char *want;  // hex
};

TEST(Zentohan, ConvertsFullWidthKana)
{
    const ConvCase cases[] = {
        // Shift_JIS
        {JPCODE_SJIS, "83 41 83 43 83 45", ALL, "B1 B2 B3"},           // アイウ
        {JPCODE_SJIS, "83 4B", ALL, "B6 DE"},                         // ガ
        {JPCODE_SJIS, "83 70", ALL, "CA DF"},                         // パ
        {JPCODE_SJIS, "83 94", ALL, "B3 DE"},                         // ヴ
        {JPCODE_SJIS, "83 4A 81 4A", ALL, "B6 DE"},                   // カ゛ reads like ガ
        {JPCODE_SJIS, "81 5B 81 45", ALL, "B0 A5"},                   // ー・
        {JPCODE_SJIS, "81 69 81 6A", ALL, "28 29"},                   // （）
        {JPCODE_SJIS, "81 40", ALL, "A0"},                            // ideographic space
        {JPCODE_SJIS, "81 83 83 95 83 96", ALL, "81 83 83 95 83 96"}, // ＜ヵヶ in no table
        {JPCODE_SJIS, "82 A0 88 9F 41 B1", ALL, "82 A0 88 9F 41 B1"}, // あ亜, ASCII, half-width
        // A trail byte that looks like ASCII stays inside its character (ソ is 83 5C).
        {JPCODE_SJIS, "83 5C 5C", ALL, "BF 5C"},
        // EUC-JP
        {JPCODE_EUC, "A5 A2", ALL, "8E B1"},                 // ア
        {JPCODE_EUC, "A5 AC", ALL, "8E B6 8E DE"},           // ガ
        {JPCODE_EUC, "A5 D1", ALL, "8E CA 8E DF"},           // パ
        {JPCODE_EUC, "A1 A6", ALL, "8E A5"},                 // ・
        {JPCODE_EUC, "A1 CA A1 CB", ALL, "28 29"},           // （） without SS2
        {JPCODE_EUC, "A1 A1", ALL, "A1 A1"},                 // ideographic space stays
        {JPCODE_EUC, "8E B1 B0 A1 41", ALL, "8E B1 B0 A1 41"},
        // Any other code copies.
        {2, "83 41 A5 A2 8E B1", ALL, "83 41 A5 A2 8E B1"},
        {JPCODE_SJIS, "", ALL, ""},
        // srclen: characters that begin before it are converted whole.
        {JPCODE_SJIS, "83 41 83 43 83 45", 3, "B1 B2"},
        {JPCODE_SJIS, "83 41 83 43 83 45", 2, "B1"},
        {JPCODE_SJIS, "83 41 83 43", 0, ""},
        {JPCODE_SJIS, "83 41 83 43", -5, ""},
        {JPCODE_EUC, "A5 A2 A5 A4", 1, "8E B1"},
        // A lead byte cut off by the terminator is copied alone.
        {JPCODE_SJIS, "83 41 83", ALL, "B1 83"},
        {JPCODE_SJIS, "E0", ALL, "E0"},
        {JPCODE_EUC, "A5 A2 A5", ALL, "8E B1 A5"},
        {JPCODE_EUC, "8E", ALL, "8E"},
    };
    for (const auto &c : cases) {
        Result r = Zen2Han(Hex(c.in), c.code, c.srclen);
        EXPECT_EQ(r.ret, 0) << c.in;
        EXPECT_EQ(ToHex(r.out), c.want) << "code " << c.code << " in " << c.in << " srclen " << c.srclen;
    }
}

struct HanCase {
    int code;
    int dakutsuke;
    const char *in;
    const char *want;
    int ret;
    const char *err;
};

TEST(Hantozen, ConvertsHalfWidthKana)
{
    const HanCase cases[] = {
        {JPCODE_SJIS, 1, "B1 B2 B3", "83 41 83 43 83 45", 0, ""},
        {JPCODE_SJIS, 1, "B6 DE", "83 4B", 0, ""},                 // ｶﾞ -> ガ
        {JPCODE_SJIS, 0, "B6 DE", "83 4A 81 4A", 0, ""},           // ｶﾞ -> カ゛
        {JPCODE_SJIS, 1, "CA DF", "83 70", 0, ""},                 // ﾊﾟ -> パ
        {JPCODE_SJIS, 0, "CA DF", "83 6E 81 4B", 0, ""},           // ﾊﾟ -> ハ゜
        {JPCODE_SJIS, 1, "B3 DE", "83 94", 0, ""},                 // ｳﾞ -> ヴ
        {JPCODE_SJIS, 0, "B3 DE", "83 45 81 4A", 0, ""},           // ｳﾞ -> ウ゛
        {JPCODE_SJIS, 1, "DE", "81 4A", 0, ""},                    // a lone mark
        {JPCODE_SJIS, 1, "41 DE 41 DF", "41 81 4A 41 81 4B", 0, ""},  // marks after ASCII
        {JPCODE_SJIS, 1, "B0 A4 A1 A2 A3 A5", "81 5B 81 41 81 42 81 75 81 76 81 45", 0, ""},
        {JPCODE_SJIS, 1, "28 29 A0 83 41 82 A0", "28 29 A0 83 41 82 A0", 0, ""},  // not half-width sequences
        {JPCODE_SJIS, 1, "83 DE", "83 DE", 0, ""},  // a trail byte DE belongs to its character
        {JPCODE_SJIS, 1, "B1 DE", "", 1, "unexpected error: \\xb1\n"},  // ｱﾞ
        {JPCODE_SJIS, 1, "B3 B6 DF", "83 45", 1, "unexpected error: \\xb6\n"},  // ｶﾟ after ｳ
        {JPCODE_SJIS, 0, "DE DE", "", 1, "unexpected error: \\xde\n"},
        // EUC-JP
        {JPCODE_EUC, 1, "8E B6 8E DE", "A5 AC", 0, ""},
        {JPCODE_EUC, 0, "8E B6 8E DE", "A5 AB A1 AB", 0, ""},
        {JPCODE_EUC, 1, "8E CA 8E DF", "A5 D1", 0, ""},
        {JPCODE_EUC, 1, "8E B1 A5 A2 41", "A5 A2 A5 A2 41", 0, ""},
        {JPCODE_EUC, 1, "8E B6 DE", "A5 AB DE", 0, ""},          // the mark needs its own SS2
        {JPCODE_EUC, 1, "8E 28", "A1 CA", 0, ""},
        {JPCODE_EUC, 1, "8E A0", "", 1, "unexpected error: \\xa0\n"},  // no EUC-JP partner
        {JPCODE_EUC, 1, "8E 41", "", 1, "unexpected error: \\x41\n"},
        {JPCODE_EUC, 1, "8E B1 8E DE", "", 1, "unexpected error: \\xb1\n"},
        {2, 1, "B6 DE 8E B1", "B6 DE 8E B1", 0, ""},
        {JPCODE_SJIS, 1, "", "", 0, ""},
        // Cut off by the terminator: the lead byte or SS2 alone.
        {JPCODE_SJIS, 1, "B1 83", "83 41 83", 0, ""},
        {JPCODE_EUC, 1, "8E B1 8E", "A5 A2 8E", 0, ""},
        {JPCODE_EUC, 1, "8E B6 8E", "A5 AB 8E", 0, ""},
        {JPCODE_EUC, 1, "A5", "A5", 0, ""},
    };
    for (const auto &c : cases) {
        vt::CaptureFd err(2);
        Result r = Han2Zen(Hex(c.in), c.code, c.dakutsuke);
        std::string msg = err.Finish();
        EXPECT_EQ(r.ret, c.ret) << c.in;
        // On failure the output holds what was converted before, terminated.
        EXPECT_EQ(ToHex(r.out), c.want) << "code " << c.code << " dakutsuke " << c.dakutsuke << " in " << c.in;
        EXPECT_EQ(msg, c.err) << c.in;
    }
}

TEST(Hantozen, SrclenLimitsOnlyTheFirstByteOfASequence)
{
    // ｶﾞ starting at srclen-1 is taken with its mark; ｱ at srclen is not read.
    EXPECT_EQ(ToHex(Han2Zen(Hex("B6 DE B1"), JPCODE_SJIS, 1, 1).out), "83 4B");
    EXPECT_EQ(ToHex(Han2Zen(Hex("8E B6 8E DE 8E B1"), JPCODE_EUC, 1, 1).out), "A5 AC");
    EXPECT_EQ(ToHex(Han2Zen(Hex("B1 B2 B3"), JPCODE_SJIS, 1, 2).out), "83 41 83 43");
    EXPECT_EQ(ToHex(Han2Zen(Hex("B1 B2"), JPCODE_SJIS, 1, 0).out), "");
}

// Every kana of the tables, one at a time: half -> full -> half gives the
// input back, in both codes and both ways of writing the marks; and each
// full-width kana comes back from the half-width form.
TEST(Kana, RoundTripOverEveryTableEntry)
{
    std::vector<std::string> halfSjis;
    for (int i = 0; seihan[i] != 0; i++) {
        if (seihan[i] >= 0xA1 && seihan[i] <= 0xDF) {  // the parentheses and A0 are no sequences
            halfSjis.push_back(std::string(1, static_cast<char>(seihan[i])));
        }
    }
    for (int i = 0; dakhan[i] != 0; i++) {
        halfSjis.push_back(std::string(1, static_cast<char>(dakhan[i])) + "\xDE");
    }
    for (int i = 0; hathan[i] != 0; i++) {
        halfSjis.push_back(std::string(1, static_cast<char>(hathan[i])) + "\xDF");
    }
    EXPECT_EQ(halfSjis.size(), 63u + 21u + 5u);

    int checked = 0;
    for (const std::string &h : halfSjis) {
        std::string e;  // the same text in EUC-JP
        for (char ch : h) {
            e += std::string("\x8E") + ch;
        }
        for (int dak = 0; dak <= 1; dak++) {
            for (const auto &[code, half] : {std::pair<int, std::string>{JPCODE_SJIS, h}, {JPCODE_EUC, e}}) {
                Result full = Han2Zen(half, code, dak);
                ASSERT_EQ(full.ret, 0) << ToHex(half);
                ASSERT_EQ(full.out.size() % 2, 0u);
                Result back = Zen2Han(full.out, code);
                EXPECT_EQ(ToHex(back.out), ToHex(half)) << "code " << code << " dakutsuke " << dak;
                checked++;
            }
        }
    }
    EXPECT_EQ(checked, 89 * 4);
}

TEST(Kana, OutputStaysWithinTheDocumentedBounds)
{
    // Every byte pair: zentohan in Shift_JIS never grows, nothing grows beyond
    // twice its input, and everything ends in a terminator inside the buffer.
    vt::CaptureFd err(2);
    for (int a = 1; a < 256; a++) {
        for (int b = 0; b < 256; b += (a == 0x83 || a == 0x81 || a == 0xA1 || a == 0xA5 || a == 0x8E) ? 1 : 17) {
            std::string in{static_cast<char>(a), static_cast<char>(b)};
            if (b == 0) in.resize(1);
            EXPECT_LE(Zen2Han(in, JPCODE_SJIS).out.size(), in.size());
            EXPECT_LE(Zen2Han(in, JPCODE_EUC).out.size(), 2 * in.size());
            EXPECT_LE(Han2Zen(in, JPCODE_SJIS, 0).out.size(), 2 * in.size());
            EXPECT_LE(Han2Zen(in, JPCODE_EUC, 0).out.size(), 2 * in.size());
        }
    }
}

}  // namespace
