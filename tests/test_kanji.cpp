// Shift_JIS, EUC-JP and bare JIS codes: the string conversions, the in-place
// character conversions and the plane-2 fold.
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

using StrConv = int (*)(const unsigned char *, unsigned char *);

// Runs a string conversion on an input in an allocation of its exact size and
// returns exactly the bytes it wrote: the output buffer is filled once with
// 0xEE and once with 0x11, and the written part is where both runs agree.
std::string Written(StrConv fn, const std::string &in, int *ret = nullptr)
{
    std::vector<unsigned char> src(in.begin(), in.end());
    src.push_back(0);
    std::vector<unsigned char> a(2 * in.size() + 1, 0xEE), b(2 * in.size() + 1, 0x11);
    int r1 = fn(src.data(), a.data());
    int r2 = fn(src.data(), b.data());
    EXPECT_EQ(r1, r2);
    if (ret) *ret = r1;
    size_t n = 0;
    while (n < a.size() && a[n] == b[n]) {
        n++;
    }
    return std::string(a.begin(), a.begin() + n);
}

struct Case {
    const char *in;
    const char *want;      // the output text, without its terminator
    const char *trace;     // what the fold writes to standard output
};

void RunCases(StrConv fn, const char *name, const std::vector<Case> &cases)
{
    for (const auto &c : cases) {
        vt::CaptureFd out(1);
        int ret = -7;
        std::string w = Written(fn, Hex(c.in), &ret);
        std::string trace = out.Finish();
        EXPECT_EQ(ret, 0);
        // Every output is one terminated string: nothing written after the NUL,
        // no NUL before it.
        ASSERT_FALSE(w.empty()) << name << " " << c.in;
        EXPECT_EQ(w.back(), '\0');
        w.pop_back();
        EXPECT_EQ(ToHex(w), c.want) << name << " " << c.in;
        EXPECT_EQ(trace, std::string(c.trace) + c.trace) << name << " " << c.in;  // run twice by Written
    }
}

TEST(SjisToJis, Characters)
{
    RunCases(iSJIStoJIS, "iSJIStoJIS",
             {
                 {"83 41", "25 22", ""},                // ア
                 {"88 9F", "30 21", ""},                // 亜
                 {"8A BF", "34 41", ""},                // 漢
                 {"EA A4", "74 26", ""},                // 熙
                 {"81 5B", "21 3C", ""},                // ー
                 {"B1 B2 20 41", "B1 B2 20 41", ""},    // ASCII and half-width kana pass
                 {"84 9F", "28 21", ""},                // ─ keeps its row
                 {"84 AA", "2C 25", ""},                // ━ ... ╋ move to row 12
                 {"84 AB 84 AC 84 AD 84 AE 84 AF", "2C 27 2C 33 2C 37 2C 3F 2C 3B", ""},
                 {"84 B0 84 B1 84 B2 84 B3 84 B4", "2C 47 2C 57 2C 4F 2C 5F 2C 6F", ""},
                 {"84 A9 84 B5", "28 2B 28 37", ""},    // the neighbours stay
                 // The plane-2 area is folded first.
                 {"F0 40", "21 21", ""},
                 {"F0 AA", "2C 25", ""},                // folded onto ━, then re-coded
                 {"F1 40", "23 21", "us:8240\n"},
                 {"F2 9E", "25 7E", "us:839e\n"},
                 {"F4 9F", "6E 21", ""},
                 {"FC EE", "7E 70", ""},
                 // Not folded, no JIS code: 〓, and the text goes on.
                 {"FC EF 41 FC FC", "22 2E 41 22 2E", ""},
                 // A lead byte without its trail byte stays alone.
                 {"41 83", "41 83", ""},
                 {"83", "83", ""},
                 {"83 2C 41", "83 2C 41", ""},          // "ア" cut off before a comma
                 {"83 1F 83 7F", "83 1F 83 7F", ""},    // 1F would give a NUL; 7F is no trail byte
                 {"83 FD", "83 FD", ""},
             });
}

TEST(SjisToEuc, Characters)
{
    RunCases(iSJIStoEUC, "iSJIStoEUC",
             {
                 {"83 41", "A5 A2", ""},
                 {"B1", "8E B1", ""},
                 {"84 AA", "AC A5", ""},
                 {"84 9F", "A8 A1", ""},
                 {"41 7E 20", "41 7E 20", ""},
                 {"7F 80 A0 DF FD FE FF", "8E 7F 8E 80 8E A0 8E DF 8E FD 8E FE 8E FF", ""},
                 // No plane-1 code: 〓, whatever the fold would say, and no trace.
                 {"F0 40 F1 40 FC FC 41", "A2 AE A2 AE A2 AE 41", ""},
                 {"88 9F 83", "B0 A1 83", ""},
                 {"83 FE", "83 8E FE", ""},             // FE would give a NUL
             });
}

TEST(EucToJis, Characters)
{
    RunCases(iEUCtoJIS, "iEUCtoJIS",
             {
                 {"A5 A2", "25 22", ""},
                 {"8E B1", "B1", ""},
                 {"A8 AC", "2C 25", ""},
                 {"A8 B6", "2C 6F", ""},
                 {"A8 A1", "28 21", ""},
                 {"41 A5 A2 0A", "41 25 22 0A", ""},
                 {"A5 41", "A5 41", ""},                // a second byte out of range
                 {"FF 8F A1 A1", "FF 8F 21 21", ""},
                 {"A5", "A5", ""},                      // cut off by the terminator
                 {"8E", "8E", ""},
                 {"8E B1 8E", "B1 8E", ""},
             });
}

TEST(KanjiConversions, EmptyInputWritesNothing)
{
    for (StrConv fn : {iSJIStoJIS, iSJIStoEUC, iEUCtoJIS}) {
        unsigned char in[1] = {0};
        unsigned char out[4] = {0x55, 0x55, 0x55, 0x55};
        EXPECT_EQ(fn(in, out), 0);
        EXPECT_EQ(out[0], 0x55);
    }
}

// Every lead byte with every following byte and a character after it: the
// output is one terminated string of bounded size, and iSJIStoJIS writes
// exactly as many bytes as it reads.
TEST(KanjiConversions, NeverCutShortNeverOverrun)
{
    vt::CaptureFd out(1);  // the fold's trace lines
    for (int a = 1; a < 256; a++) {
        for (int b = 0; b < 256; b++) {
            std::string in = b ? std::string{char(a), char(b), 'Z'} : std::string{char(a)};
            std::string jis = Written(iSJIStoJIS, in);
            std::string euc = Written(iSJIStoEUC, in);
            std::string ej = Written(iEUCtoJIS, in);
            ASSERT_EQ(jis.size(), in.size() + 1) << ToHex(in);
            ASSERT_EQ(strlen(jis.c_str()), in.size()) << ToHex(in);
            ASSERT_LE(euc.size(), 2 * in.size() + 1);
            ASSERT_EQ(strlen(euc.c_str()) + 1, euc.size()) << ToHex(in);
            ASSERT_LE(ej.size(), in.size() + 1);
            ASSERT_EQ(strlen(ej.c_str()) + 1, ej.size()) << ToHex(in);
        }
    }
}

TEST(EucToSjis, Characters)
{
    struct C {
        const char *in, *want;
    } cases[] = {
        {"A5 A2", "83 41"},  // ア
        {"B0 A1", "88 9F"},  // 亜
        {"A1 E3", "81 83"},  // ＜
        {"F4 A6", "EA A4"},  // 熙
        {"A1 A1", "81 40"},
        {"DE FE", "9F FC"},
        {"DF A1", "E0 40"},  // row 0x5F is the first under lead E0
        {"A8 AC", "84 AA"},  // no box re-coding in this direction
    };
    for (const auto &c : cases) {
        std::string b = Hex(c.in);
        unsigned char c1 = b[0], c2 = b[1];
        EUCtoSJIS(&c1, &c2);
        EXPECT_EQ(ToHex(std::string{char(c1), char(c2)}), c.want) << c.in;
    }
}

TEST(Grade423, FoldRangesAndBounds)
{
    struct C {
        unsigned in, want;
        const char *trace;
    } cases[] = {
        {0xF040, 0x8140, ""},          {0xF09E, 0x819E, ""},          {0xF09F, 0x849F, ""},
        {0xF0FC, 0x84FC, ""},          {0xF140, 0x8240, "us:8240\n"}, {0xF29E, 0x839E, "us:839e\n"},
        {0xF29F, 0x869F, ""},          {0xF49E, 0x889E, ""},          {0xF49F, 0xE79F, ""},
        {0xFCEE, 0xEFEE, ""},          {0xFCEF, 0xFCEF, ""},          {0xFCFC, 0xFCFC, ""},
        {0xEFFC, 0xEFFC, ""},          {0x8140, 0x8140, ""},          {0xF03F, 0xF03F, ""},
    };
    for (const auto &c : cases) {
        unsigned char h = c.in >> 8, l = c.in & 0xFF;
        vt::CaptureFd out(1);
        vGrade423(&h, &l);
        EXPECT_EQ(out.Finish(), c.trace) << std::hex << c.in;
        EXPECT_EQ((unsigned(h) << 8) | l, c.want) << std::hex << c.in;
    }
}

// The whole JIS X 0208 plane, 94 x 94 codes: EUC-JP -> Shift_JIS -> EUC-JP
// gives the code back (the heavy box lines come back re-coded), and Shift_JIS
// and EUC-JP of the same character give the same JIS code.
TEST(KanjiConversions, WholePlaneRoundTrip)
{
    for (int r = 0x21; r <= 0x7E; r++) {
        for (int k = 0x21; k <= 0x7E; k++) {
            std::string euc{char(r | 0x80), char(k | 0x80)};
            unsigned char s1 = r | 0x80, s2 = k | 0x80;
            EUCtoSJIS(&s1, &s2);
            std::string sjis{char(s1), char(s2)};
            bool box = r == 0x28 && k >= 0x2C && k <= 0x36;
            std::string back = Written(iSJIStoEUC, sjis);
            std::string jis = Written(iSJIStoJIS, sjis);
            if (!box) {
                ASSERT_EQ(ToHex(back), ToHex(euc + '\0')) << ToHex(euc);
                ASSERT_EQ(ToHex(jis), ToHex(std::string{char(r), char(k), '\0'}));
            }
            ASSERT_EQ(ToHex(Written(iEUCtoJIS, euc)), ToHex(jis)) << ToHex(euc);
        }
    }
}

std::string Decode(const char *from, const std::string &in)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return "";
    }
    std::string src = in;
    char out[16];
    char *ip = src.data(), *op = out;
    size_t il = src.size(), ol = sizeof out;
    size_t rc = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return rc == static_cast<size_t>(-1) || il ? "" : std::string(out, op);
}

// EUCtoSJIS against glibc: every two-byte code that glibc's EUC-JP-MS reads
// must read as the same character in glibc's CP932 after our conversion (the
// two are the matching pair of tables, NEC and IBM extensions included).
// Rows F5-FE are left out: glibc keeps its user-defined characters there in
// EUC-JP-MS but at F040-F9FC in CP932, which plain row/cell arithmetic does not do.
TEST(KanjiConversions, AgreesWithIconvEucJpMsAndCp932)
{
    int compared = 0;
    for (int a = 0xA1; a <= 0xF4; a++) {
        for (int b = 0xA1; b <= 0xFE; b++) {
            std::string euc{char(a), char(b)};
            std::string u = Decode("EUC-JP-MS", euc);
            if (u.empty()) {
                continue;
            }
            unsigned char s1 = a, s2 = b;
            EUCtoSJIS(&s1, &s2);
            std::string sjis{char(s1), char(s2)};
            EXPECT_EQ(Decode("CP932", sjis), u) << ToHex(euc) << " -> " << ToHex(sjis);
            compared++;
        }
    }
    EXPECT_GT(compared, 6900);  // glibc reads 6962 of them
}

}  // namespace
