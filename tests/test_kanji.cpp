// Shift_JIS, EUC-JP and bare JIS codes: the string conversions, the in-place
// character conversion and the plane-2 fold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "head.h"
#include "testutil.h"

namespace {

using vt::Hex;
using vt::ToHex;

using StrConv = int (*)(const unsigned char *, unsigned char *);

// Runs a string conversion on an input in an allocation of its exact size and
// returns exactly the bytes it wrote, terminator included: the output buffer
// is filled once with EE and once with 11, and what was written is where the
// two runs agree.
std::string Written(StrConv fn, const std::string &in)
{
    std::vector<unsigned char> src(in.begin(), in.end()), a(2 * in.size() + 1, 0xEE), b(a.size(), 0x11);
    src.push_back(0);
    EXPECT_EQ(fn(src.data(), a.data()), 0);
    EXPECT_EQ(fn(src.data(), b.data()), 0);
    size_t n = 0;
    while (n < a.size() && a[n] == b[n]) {
        n++;
    }
    return std::string(a.begin(), a.begin() + n);
}

std::string Pair(unsigned char a, unsigned char b, void (*fn)(unsigned char *, unsigned char *))
{
    fn(&a, &b);
    return {char(a), char(b)};
}

TEST(KanjiConversions, Strings)
{
    struct Case {
        StrConv fn;
        const char *in, *want;  // the output is "want" and one terminator: no NUL inside, nothing after
        const char *trace;      // what the fold writes to standard output
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

        {iSJIStoEUC, "83 41 B1 84 AA 84 9F 41 7E", "A5 A2 8E B1 AC A5 A8 A1 41 7E", ""},
        {iSJIStoEUC, "7F 80 A0 DF FD FE FF", "8E 7F 8E 80 8E A0 8E DF 8E FD 8E FE 8E FF", ""},
        // No plane-1 code, whatever the fold would say, and no trace: 〓.
        {iSJIStoEUC, "F0 40 F1 40 FC FC 41", "A2 AE A2 AE A2 AE 41", ""},
        {iSJIStoEUC, "88 9F 83", "B0 A1 83", ""},
        {iSJIStoEUC, "83 FE", "83 8E FE", ""},  // FE would give a NUL

        {iEUCtoJIS, "A5 A2 8E B1 A8 AC A8 B6 A8 A1", "25 22 B1 2C 25 2C 6F 28 21", ""},
        {iEUCtoJIS, "41 A5 41 FF 8F A1 A1 0A", "41 A5 41 FF 8F 21 21 0A", ""},
        {iEUCtoJIS, "A5", "A5", ""},
        {iEUCtoJIS, "8E B1 8E", "B1 8E", ""},
    };
    for (const auto &c : cases) {
        vt::CaptureFd out(1);
        std::string w = Written(c.fn, Hex(c.in));
        EXPECT_EQ(out.Finish(), std::string(c.trace) + c.trace) << c.in;  // Written runs it twice
        EXPECT_EQ(ToHex(w), ToHex(Hex(c.want) + '\0')) << c.in;
    }
    // An empty text writes nothing at all.
    for (StrConv fn : {iSJIStoJIS, iSJIStoEUC, iEUCtoJIS}) {
        EXPECT_EQ(Written(fn, ""), "");
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
            if (!u.empty()) {
                std::string sjis = Pair(a, b, EUCtoSJIS);
                EXPECT_EQ(vt::Iconv("UTF-8", "CP932", sjis), u) << std::hex << a << b << " -> " << ToHex(sjis);
                compared++;
            }
        }
    }
    EXPECT_GT(compared, 6900);  // glibc reads 6962 of them
}

}  // namespace
