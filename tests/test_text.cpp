// Text work of the run and its library: kana width, Shift_JIS / EUC-JP / JIS
// codes, era dates, the run log, the settings-file reader, what the argument
// check lets through, the port, the kana name pipeline and the trace file.
// Inputs sit in allocations of their exact size (a read past the terminator
// shows under AddressSanitizer), outputs in buffers filled with EE (a byte
// written past the terminator shows anywhere). What the run refuses, and
// whole settings files, are the bad input table's.
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "patient.h"
#include "runlog.h"
#include "sample_card.h"
#include "settings.h"
#include "testutil.h"
#include "trace.h"

namespace {

using vt::Hex;
using vt::Repeat;
using vt::ToHex;
using Bytes = std::vector<unsigned char>;
using StrConv = int (*)(const unsigned char *, unsigned char *);

constexpr int ALL = 1 << 20;  // a srclen beyond any text here: the terminator ends the walk
constexpr int ZEN = -1;       // "dakutsuke" that asks for zentohan instead
constexpr int S = JPCODE_SJIS, E = JPCODE_EUC;

// One conversion of a_sIn: a kanji one, or (a_fn null) kana width by code,
// dak (ZEN: zentohan) and srclen; the whole output buffer back in *a_sOut.
int Conv(StrConv a_fn, int a_iCode, int a_iDak, int a_iLen, const std::string &a_sIn, std::string *a_sOut)
{
    Bytes src(a_sIn.c_str(), a_sIn.c_str() + a_sIn.size() + 1), dst(2 * a_sIn.size() + 3, 0xEE);
    const int ret = a_fn            ? a_fn(src.data(), dst.data())
                    : a_iDak == ZEN ? zentohan(dst.data(), src.data(), a_iCode, a_iLen)
                                    : hantozen(dst.data(), src.data(), a_iCode, a_iLen, a_iDak);
    *a_sOut = std::string(dst.begin(), dst.end());
    return ret;
}

// Every entry of the kana tables, both ways, against glibc's CP932 and EUC-JP.
TEST(Kana, EveryTableEntryBothWaysAsTheCLibraryNamesIt)
{
    const std::string plain =
        u8"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロ"
        u8"ワヲンァィゥェォッャュョー、。「」・";
    const std::string half = u8"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜｦﾝｧｨｩｪｫｯｬｭｮｰ､｡｢｣･";
    const std::string dak = u8"ガギグゲゴザジズゼゾダヂヅデドバビブベボヴパピプペポ";
    const std::string dakHalf = u8"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞｳﾞﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ";
    const struct {
        int dak;
        std::string in, want;
    } cases[] = {
        {ZEN, plain + u8"゛゜", half + u8"ﾞﾟ"},
        {ZEN, dak, dakHalf},
        {1, half, plain},
        {1, dakHalf, dak},
        {0, dakHalf,
         u8"カ゛キ゛ク゛ケ゛コ゛サ゛シ゛ス゛セ゛ソ゛タ゛チ゛ツ゛テ゛ト゛ハ゛ヒ゛フ゛ヘ゛ホ゛ウ゛ハ゜ヒ゜フ゜ヘ゜ホ゜"},
    };
    for (const auto &c : cases)
        for (const char *cs : {"CP932", "EUC-JP"}) {
            std::string out;
            EXPECT_EQ(Conv(nullptr, cs[0] == 'C' ? S : E, c.dak, ALL, vt::Iconv(cs, "UTF-8", c.in), &out), 0);
            EXPECT_EQ(ToHex(out.c_str()), ToHex(vt::Iconv(cs, "UTF-8", c.want))) << cs << " " << c.in;
        }
    const unsigned char abca[] = "abca", ca[] = "ca", a0[] = {'a', 0};
    // A pair is tried at every byte (odd offsets count), the terminator as its second byte too.
    EXPECT_EQ(std::vector<int>({ustrindex(abca, 'c'), ustrindex2(abca, ca), ustrindex2(abca, a0)}),
              std::vector<int>({2, 2, 3}));
}

// The conversions' edges.
TEST(TextCodes, ConversionsByteForByte)
{
    const struct {
        StrConv fn;  // nullptr: kana width by code, dak, srclen
        int code, dak, srclen;
        const char *in, *want;  // hex
        const char *msg;        // written to standard error (kana) or output (the plane-2 fold's trace)
        int ret = 0;
    } cases[] = {
        // zentohan, Shift_JIS: ー・（）, ideographic space; ＜ヵヶあ and ASCII stay.
        {nullptr, S, ZEN, ALL, "81 5B 81 45 81 69 81 6A 81 40", "B0 A5 28 29 A0", ""},
        {nullptr, S, ZEN, ALL, "81 83 83 95 83 96 82 A0 41 B1", "81 83 83 95 83 96 82 A0 41 B1", ""},
        {nullptr, S, ZEN, ALL, "83 5C 5C", "BF 5C", ""},  // ソ: a trail byte 5C stays in its character
        // zentohan, EUC-JP: （ without SS2, the space stays
        {nullptr, E, ZEN, ALL, "A1 CA A1 A1 8E B1", "28 A1 A1 8E B1", ""},
        // srclen: characters that begin before it are converted whole, none
        // that begins at it; it limits only the first byte of a sequence.
        {nullptr, S, ZEN, 3, "83 41 83 43 83 45", "B1 B2", ""},
        {nullptr, S, ZEN, 0, "83 41", "", ""},
        {nullptr, S, 1, 1, "B6 DE B1", "83 4B", ""},
        {nullptr, E, 1, 4, "8E B6 8E DE 8E B1", "A5 AC", ""},
        // hantozen: lone marks; a letter with a mark it cannot take (the output so far stays)
        {nullptr, S, 1, ALL, "DE 41 DF B0 A5", "81 4A 41 81 4B 81 5B 81 45", ""},
        {nullptr, S, 1, ALL, "B1 DE", "", "unexpected error: \\xb1\n", 1},
        {nullptr, S, 1, ALL, "B3 B6 DF", "83 45", "unexpected error: \\xb6\n", 1},
        // The last lead byte keeps its trail byte, which is no ｱ; A0 is a byte of its own.
        {nullptr, S, 1, ALL, "FC B1 A0 B1", "FC B1 A0 83 41", ""},
        {nullptr, E, 1, ALL, "8E 28 A5 A2 8E B6 DE", "A1 CA A5 A2 A5 AB DE", ""},  // a mark needs its SS2
        {nullptr, E, 1, ALL, "8E A0", "", "unexpected error: \\xa0\n", 1},         // no EUC-JP partner
        // A lead byte or SS2 cut off by the terminator is copied alone.
        {nullptr, S, ZEN, ALL, "83 41 83", "B1 83", ""},
        {nullptr, E, ZEN, ALL, "A5 A2 A5", "8E B1 A5", ""},
        {nullptr, S, 1, ALL, "B1 83", "83 41 83", ""},
        {nullptr, E, 1, ALL, "8E B6 8E", "A5 AB 8E", ""},
        // ア 亜 漢 熙 ー; ASCII and half-width kana pass unchanged.
        {iSJIStoJIS, 0, 0, 0, "83 41 88 9F 8A BF EA A4 81 5B B1 41", "25 22 30 21 34 41 74 26 21 3C B1 41", ""},
        // ─ stays; the heavy box lines ━┃┏┓┛┗┣┳┫┻╋ move to row 12; their neighbours stay.
        {iSJIStoJIS, 0, 0, 0, "84 9F 84 A9 84 B5", "28 21 28 2B 28 37", ""},
        {iSJIStoJIS, 0, 0, 0, "84 AA 84 AB 84 AC 84 AD 84 AE 84 AF", "2C 25 2C 27 2C 33 2C 37 2C 3F 2C 3B", ""},
        {iSJIStoJIS, 0, 0, 0, "84 B0 84 B1 84 B2 84 B3 84 B4", "2C 47 2C 57 2C 4F 2C 5F 2C 6F", ""},
        // The plane-2 area is folded first (F0 AA onto ━, then re-coded), within its bounds.
        {iSJIStoJIS, 0, 0, 0, "F0 40 F0 AA F4 9F FC EE", "21 21 2C 25 6E 21 7E 70", ""},
        {iSJIStoJIS, 0, 0, 0, "F1 40 F2 9E", "23 21 25 7E", "us:8240\nus:839e\n"},
        {iSJIStoJIS, 0, 0, 0, "F0 9E F0 9F F2 9F F4 9E", "21 7E 28 21 2C 21 2F 7E", ""},
        {iSJIStoJIS, 0, 0, 0, "FC EF 41 FC FC", "22 2E 41 22 2E", ""},  // not folded, no JIS code: 〓
        // A lead byte without its trail byte stays alone: at the end, before a
        // comma, before 1F (which would give a NUL), 7F or FD.
        {iSJIStoJIS, 0, 0, 0, "83 2C 41 83 1F 83 7F 83 FD 83", "83 2C 41 83 1F 83 7F 83 FD 83", ""},
        {iSJIStoEUC, 0, 0, 0, "83 41 B1 84 AA 84 9F 41 7E", "A5 A2 8E B1 AC A5 A8 A1 41 7E", ""},
        {iSJIStoEUC, 0, 0, 0, "F0 40 F1 40 FC FC 41", "A2 AE A2 AE A2 AE 41", ""},  // no plane-1 code, no trace
        {iSJIStoEUC, 0, 0, 0, "83 FE 88 9F 83", "83 8E FE B0 A1 83", ""},           // 83 FE would give a NUL
        {iEUCtoJIS, 0, 0, 0, "A5 A2 8E B1 A8 AC A8 B6 A8 A1", "25 22 B1 2C 25 2C 6F 28 21", ""},
        {iEUCtoJIS, 0, 0, 0, "41 A5 41 FF 8F A1 A1 0A", "41 A5 41 FF 8F 21 21 0A", ""},
        {iEUCtoJIS, 0, 0, 0, "8E B1 8E", "B1 8E", ""},
    };
    for (const auto &c : cases) {
        vt::CaptureFd out(1), err(2);
        std::string sOut;
        EXPECT_EQ(Conv(c.fn, c.code, c.dak, c.srclen, Hex(c.in), &sOut), c.ret) << c.in;
        EXPECT_EQ(out.Finish() + err.Finish(), c.msg) << c.in;
        const std::string want = Hex(c.want) + '\0';
        EXPECT_EQ(ToHex(sOut), ToHex(want + std::string(sOut.size() - want.size(), '\xEE'))) << c.in;
    }
}

// Against glibc: every two-byte code that its EUC-JP-MS reads must read as the
// same character in its CP932 after our conversion (NEC and IBM extensions
// included). Rows F5-FE are left out: glibc keeps user-defined characters
// there in EUC-JP-MS but at F040-F9FC in CP932, which row/cell arithmetic does not do.
TEST(TextCodes, EucToShiftJisAgreesWithTheCLibrary)
{
    int compared = 0;
    for (int a = 0xA1; a <= 0xF4; a++)
        for (int b = 0xA1; b <= 0xFE; b++) {
            std::string u = vt::Iconv("UTF-8", "EUC-JP-MS", {char(a), char(b)});
            if (u.empty()) continue;
            unsigned char c1 = a, c2 = b;
            EUCtoSJIS(&c1, &c2);
            EXPECT_EQ(vt::Iconv("UTF-8", "CP932", {char(c1), char(c2)}), u) << std::hex << a << b;
            compared++;
        }
    EXPECT_GT(compared, 6900);  // glibc reads 6962 of them
}

// Output in a buffer filled with Q: the text, its terminator, nothing more.
TEST(EraDates, ErasAndForms)
{
    const struct {
        char style;
        const char *date;
        const char *want;  // nullptr: -1, nothing written
    } cases[] = {
        // clang-format off
        {'1', "19890108", "平成 1年 1月 8日"},
        {'2', "19890107", "S64年 1月 7日"},
        {'1', "19261225", "昭和 1年12月25日"},
        {'3', "19261224", "大正15/12/24"},
        {'1', "19120730", "大正 1年 7月30日"},
        {'0', "19120729", "M45/ 7/29"},
        {'1', "18680908", "明治 1年 9月 8日"},
        {'1', "18680907", nullptr},
        {'1', "20190430", "平成31年 4月30日"},    // Heisei ends on 30 April 2019; Reiwa follows
        {'0', "20190501", "R 1/ 5/ 1"},
        {'1', "99999999", "令和7981年99月99日"},  // the longest: 18 bytes
        {'1', "198901081", "平成 1年 1月 8日"},   // eight characters read as a number
        // clang-format on
    };
    for (const auto &c : cases) {
        std::string buf(32, 'Q');
        EXPECT_EQ(iDateForm(c.date, c.style, &buf[0]), c.want ? 0 : -1) << c.date;
        const std::string want = c.want ? std::string(c.want) + '\0' : "";
        EXPECT_EQ(ToHex(buf), ToHex(want + std::string(32 - want.size(), 'Q'))) << c.date;
    }
}

TEST(RunLog, LinesPadMonthAndDayWithBlanksAndLeaveWholeAtOnce)
{
    const struct tm t = {2, 7, 9, 5, 2, 0, 0, 0, 0, 0, nullptr};  // 5 March, 09:07:02
    char buf[64];
    // Its length, then the line; a 5C trail byte passes.
    EXPECT_EQ(std::to_string(iLogFormat(buf, sizeof buf, &t, "\x83\x5C")) + buf, "18 3/ 5 09:07:02 \x83\x5C\n");
    // Each line leaves at once (an operator watches a long wait through a pipe), a long one whole.
    const std::string sLong(496, 'L');  // with its time stamp and line feed, 512 bytes
    vt::CaptureFd cap(1);
    vLogAdd(sLong.c_str());
    EXPECT_EQ(__fpending(stdout), 0u);
    EXPECT_EQ(vt::LogMessages(cap.Finish()), std::vector<std::string>{sLong});
}

TEST(SettingsReader, CountedLinesAndFields)
{
    using L = std::vector<std::vector<std::string>>;
    const struct {
        std::string text;
        L want;
    } cases[] = {
        {";a\n;b\n0,\n1,\n", {{"0"}, {"1"}}},
        {",,10,,20,K,\n", {{"10", "20", "K"}}},  // empty fields skipped
        {"1,\n2", {{"1"}, {"2"}}},               // last line without line feed
        // A long line is read in 127-byte pieces that count as lines; a piece
        // that happens to begin with ';' is a comment.
        {std::string(127, 'y') + ";z,\n5,\n", {{std::string(127, 'y')}, {"5"}}},
        {Repeat("a,", 63) + "a", {std::vector<std::string>(64, "a")}},  // 64 fields: the array holds them all
    };
    for (const auto &c : cases) {
        FILE *fp = fmemopen(const_cast<char *>(c.text.data()), c.text.size(), "r");
        L lines;
        T_SET_LINE line = {};
        while (iSetLineRead(fp, &line)) {
            EXPECT_EQ(line.iLine, int(lines.size()));
            lines.emplace_back(line.szFld, line.szFld + line.iFldN);
        }
        fclose(fp);
        EXPECT_EQ(lines, c.want) << c.text.substr(0, 20);
    }
}

// Fewer than ten arguments are never read past argc (the run counts them
// itself first); the port takes leading blanks and a sign, then digits up to
// the first other byte. (Each argument's limits are rows of the bad input table.)
TEST(ArgCheck, TooFewArgumentsAndThePort)
{
    std::vector<std::string> args = sample::Args(9100, "card.bmp");
    std::vector<char *> argv = {nullptr};
    for (auto &s : args) argv.push_back(&s[0]);
    EXPECT_EQ(iArgCheck(10, argv.data()), 1);
    EXPECT_EQ(iArgCheck(11, nullptr), 1);
    EXPECT_EQ(iPortRead("  +12x5"), 12);
    EXPECT_EQ(iPortRead(nullptr), 0);
}

// Full-width kana to 7-bit half-width codes; zeros behind the name, and the
// longest name stays inside its 128 bytes.
TEST(KanaPipeline, FullWidthKanaBecomesSevenBitHalfWidthCodes)
{
    const struct {
        std::string sZen, sWant;
    } cases[] = {
        {"ガパAB", Hex("36 5E 4A 5F 41 42")},                     // voiced and semi-voiced: base kana and mark
        {Repeat("ア", 63) + "A", std::string(63, '\x31') + "A"},  // 127 bytes
    };
    for (const auto &c : cases) {
        char cOut[129];  // the name's 128 bytes and one the pipeline must leave alone
        memset(cOut, 0xFF, sizeof cOut);
        vKanaPipeline(c.sZen.c_str(), cOut);
        EXPECT_EQ(ToHex(std::string(cOut, sizeof cOut)),
                  ToHex(c.sWant + std::string(128 - c.sWant.size(), '\0') + "\xFF"));
    }
}

// Both trace lines are written whole whatever the length of the name; a
// symbolic link is never followed, and a pipe, a device or a missing folder
// is skipped.
TEST(TraceFile, WholeLinesAndNothingButAPlainFile)
{
    vt::TempDir dir;
    const std::string sPath = dir.file("jisTest.txt"), sLong(400, 'K');
    vt::WriteFile(sPath, std::string(500, 'x'));  // an older, longer trace is replaced
    ASSERT_EQ(iKanaTrace(sPath.c_str(), "\x43\x3D"), 0);
    ASSERT_EQ(iJisTraceAppend(sPath.c_str(), sLong.c_str()), 0);
    EXPECT_EQ(vt::ReadFile(sPath), "\x1B(I\x43\x3D\n\x1B$B" + sLong + "\n");
    ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("link").c_str()), 0);  // followed, it would create it
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);  // nobody reads it: a plain open would block the run
    for (const std::string &sBad : {dir.file("link"), dir.file("fifo"), std::string("/dev/null")})
        EXPECT_EQ(iKanaTrace(sBad.c_str(), "ABC"), -1) << sBad;
}

}  // namespace
