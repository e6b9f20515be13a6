// Bad input that must end a run before the machine is called: too few
// arguments, arguments their field cannot hold or the stripe cannot carry,
// and bitmap files of every broken kind. Each case runs the real vestrun
// against a listener that must stay untouched. The cards that do go out are
// in slow_badinput.cpp; docs/bad-input.md is made from both.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "badinput.h"
#include "bmpfile.h"

namespace {

using badin::Seen;

const std::string kUsage =
    "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] [カナ氏名] [生年月日] [性別] "
    "[初診日] \n";

// A small picture that the machine takes, so that nothing but the case's own
// argument can stop the run.
std::string GoodPicture() { return vt::MonoBmp({"#..#", ".##.", ".##.", "#..#"}); }

std::string Status(int a_iExit) { return "exit " + std::to_string(a_iExit); }

std::string Nothing(badin::Listener &a_tListen)
{
    bool bTouched = a_tListen.Touched();
    EXPECT_FALSE(bTouched) << "the machine was called";
    return bTouched ? "a connection" : "nothing";
}

// ---- how many arguments ------------------------------------------------------

struct CountRow {
    const char *szId;
    size_t iArgs;
};

void PrintTo(const CountRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Usage : public ::testing::TestWithParam<CountRow> {};

TEST_P(Usage, OnlyTheUsageLine)
{
    const CountRow &c = GetParam();
    badin::Listener tListen;
    vt::TempDir dir;
    vt::WriteFile(dir.file("p.bmp"), GoodPicture());
    auto full = e2e::Args(tListen.Port(), dir.file("p.bmp"));
    std::vector<std::string> args(full.begin(), full.begin() + static_cast<long>(c.iArgs));
    e2e::Result r = e2e::Vestrun(args, 30);

    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.sOut, kUsage);
    EXPECT_EQ(r.sErr, "");
    Seen s{Status(r.iStatus), r.sOut == kUsage ? "the usage line alone" : r.sOut, r.sErr, Nothing(tListen)};
    badin::Emit(c.szId, "How many arguments", std::to_string(c.iArgs) + " arguments", s);
}

const CountRow kCountRows[] = {{"U01", 0}, {"U02", 5}, {"U03", 9}};
INSTANTIATE_TEST_SUITE_P(BadInput, Usage, ::testing::ValuesIn(kCountRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

// ---- arguments refused -----------------------------------------------------------

struct ArgRow {
    const char *szId;
    const char *szGroup;
    const char *szWhat;
    int iArg;
    std::string sVal;
};

void PrintTo(const ArgRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class ArgRefused : public ::testing::TestWithParam<ArgRow> {};

// Refused right after the echo: one log line naming the argument, nothing on
// standard error (the picture is not even read), no connection.
TEST_P(ArgRefused, OneLineAndNothingSent)
{
    const ArgRow &c = GetParam();
    badin::Listener tListen;
    vt::TempDir dir;
    vt::WriteFile(dir.file("p.bmp"), GoodPicture());
    auto args = e2e::Args(tListen.Port(), dir.file("p.bmp"));
    args[static_cast<size_t>(c.iArg - 1)] = c.sVal;
    e2e::Result r = e2e::Vestrun(args, 30);

    const std::string sWant = "× 引数" + std::to_string(c.iArg) + "が不正です";
    EXPECT_EQ(r.iStatus, 157);
    EXPECT_EQ(badin::AfterEcho(r), std::vector<std::string>{sWant});
    EXPECT_EQ(r.sErr, "");
    Seen s{Status(r.iStatus), badin::Join(badin::AfterEcho(r)), r.sErr, Nothing(tListen)};
    badin::Emit(c.szId, c.szGroup, c.szWhat, s);
}

const char kLimits[] = "Argument limits (one over)";
const char kNames[] = "Names and stripe text";

const ArgRow kArgRows[] = {
    {"A01", kLimits, "1 host: 64 bytes (63 fit)", 1, std::string(64, 'h')},
    {"A02", kLimits, "3 print style: 2 bytes (1 fits)", 3, "01"},
    {"A03", kLimits, "5 patient number: 11 digits (10 fit)", 5, "12345678901"},
    {"A04", kLimits, "6 kanji name: 128 bytes, 山 x 64 (127 fit)", 6, [] {
         std::string s;
         for (int i = 0; i < 64; i++) {
             s += "山";
         }
         return s;
     }()},
    {"A05", kLimits, "7 kana name: 128 bytes, ヤ x 64 (127 fit)", 7, [] {
         std::string s;
         for (int i = 0; i < 64; i++) {
             s += "ヤ";
         }
         return s;
     }()},
    {"A06", kLimits, "8 sex: empty (exactly 1 byte fits)", 8, ""},
    {"A07", kLimits, "8 sex: 2 bytes", 8, "12"},
    {"A08", kLimits, "8 sex: the birth date, where the usage line's labels put it", 8, "19700101"},
    {"A09", kLimits, "9 birth date: 16 bytes (15 fit)", 9, "1970-01-01T00:00"},
    {"A10", kLimits, "10 first visit: 16 bytes (15 fit)", 10, std::string(16, '2')},
    {"N01", kNames, "6 kanji name: 山田 and a lone lead byte 88 at the end", 6, "山田\x88"},
    {"N02", kNames, "7 kana name: ヤマダ and a lone lead byte 83 at the end (the 7-bit name would hold ETX)", 7,
     "ヤマダ\x83"},
    {"N03", kNames, "7 kana name: ヤマダ　タロウ in UTF-8", 7, u8"ヤマダ　タロウ"},
    {"N04", kNames, "6 kanji name: 山田太郎 in UTF-8", 6, u8"山田太郎"},
    {"N05", kNames, "7 kana name: a stray 80 inside (the 7-bit name would hold a NUL and end there)", 7,
     "ヤマダ\x80タロウ"},
    {"N06", kNames, "7 kana name: FD, a byte that begins no character", 7, "ヤマダ\xFD"},
    {"N07", kNames, "6 kanji name: ETX (03) inside", 6, "山田\x03太郎"},
    {"N08", kNames, "7 kana name: ETX (03) inside", 7, "ヤマダ\x03タロウ"},
    {"N09", kNames, "6 kanji name: ESC H inside (would close the kanji field early)", 6, "山田\x1BH太郎"},
    {"N10", kNames, "7 kana name: SO and SI inside", 7, "ヤマ\x0E\x0Fダ"},
    {"N11", kNames, "5 patient number: STX (02) inside", 5, "123\x02" "45"},
    {"N12", kNames, "8 sex: ETX (03)", 8, "\x03"},
    {"N13", kNames, "9 birth date: a tab inside", 9, "1970\t0101"},
    {"N14", kNames, "10 first visit: DEL (7F) inside", 10, "2024\x7F" "0401"},
};
INSTANTIATE_TEST_SUITE_P(BadInput, ArgRefused, ::testing::ValuesIn(kArgRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

// ---- bitmap files ---------------------------------------------------------------------

// A 1-bit 16 x 8 file with a palette, to be broken by the case.
std::string Mono16x8() { return vt::MonoBmp(std::vector<std::string>(8, "#.#.#.#.##..##..")); }

std::string Patched(std::string a_sFile, size_t a_iAt, uint32_t a_iVal, bool a_b16 = false)
{
    if (a_b16) {
        vt::PutLe16(a_sFile, a_iAt, static_cast<uint16_t>(a_iVal));
    } else {
        vt::PutLe32(a_sFile, a_iAt, a_iVal);
    }
    return a_sFile;
}

// Offsets in a file with a 40-byte info header.
constexpr size_t kOffData = 10, kInfoLen = 14, kWidth = 18, kHeight = 22, kBits = 28;
// and with the 12-byte core header.
constexpr size_t kCoreHeight = 20, kCoreBits = 24;

std::string Pic(int64_t a_iW, int64_t a_iH, uint16_t a_iBits, uint32_t a_iInfo = 40)
{
    vt::BmpPicture p;
    p.width = a_iW;
    p.height = a_iH;
    p.bitCnt = a_iBits;
    p.infoLen = a_iInfo;
    if (a_iBits == 1) {
        p.palette = vt::MonoPalette();
    }
    return vt::BuildBmp(p);
}

// A file whose header promises dimensions or a bit count that its few bytes
// of pixels cannot hold.
std::string Claims(size_t a_iAt, uint32_t a_iVal, bool a_b16 = false)
{
    return Patched(Mono16x8(), a_iAt, a_iVal, a_b16);
}

struct BmpRow {
    const char *szId;
    const char *szWhat;
    std::function<std::string()> fFile;  // nullptr: no file at all
    std::string sErr;                    // standard error; FILE stands for the path
    bool bDir = false;                   // the path names a folder
    size_t iPathLen = 0;                 // a path of this many bytes instead
};

void PrintTo(const BmpRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class BmpRefused : public ::testing::TestWithParam<BmpRow> {};

TEST_P(BmpRefused, EndsBeforeTheMachine)
{
    const BmpRow &c = GetParam();
    badin::Listener tListen;
    vt::TempDir dir;
    std::string sPath = dir.file("card.bmp");
    if (c.bDir) {
        ASSERT_EQ(mkdir(sPath.c_str(), 0700), 0);
    } else if (c.iPathLen > 0) {
        sPath = dir.path() + "/" + std::string(c.iPathLen - dir.path().size() - 1, 'p');
    } else if (c.fFile) {
        vt::WriteFile(sPath, c.fFile());
    }
    e2e::Result r = e2e::Vestrun(e2e::Args(tListen.Port(), sPath), 30);

    EXPECT_EQ(r.iStatus, 157);
    EXPECT_EQ(badin::AfterEcho(r), std::vector<std::string>{badin::kBmpLine});
    const std::string sErr = badin::Replace(r.sErr, sPath, "FILE");
    EXPECT_EQ(sErr, c.sErr);
    Seen s{Status(r.iStatus), badin::Join(badin::AfterEcho(r)), sErr, Nothing(tListen)};
    badin::Emit(c.szId, "Bitmap files", c.szWhat, s);
}

const std::string kRead = "Error: FILE read error.";
const std::string kTooLarge = "CreateImageDatBuff:Allocation error\n";

std::string Refused(const char *a_szFound)
{
    return std::string("vestrun: FILE: ") + a_szFound +
           "; the machine takes 1 bit per pixel, at most 480 x 512 pixels\n";
}

const BmpRow kBmpRows[] = {
    {"B01", "no such file", nullptr, "Error: FILE could not read."},
    {"B02", "a folder", nullptr, kRead, true},
    {"B03", "a path of 5000 bytes", nullptr, "Error: FILE could not read.", false, 5000},
    {"B04", "empty file", [] { return std::string(); }, kRead},
    {"B05", "file header cut at 10 bytes", [] { return Mono16x8().substr(0, 10); }, kRead},
    {"B06", "signature BA", [] { return "BA" + Mono16x8().substr(2); }, "Error: FILE is not Bitmap file."},
    {"B07", "info header cut after 10 of its 40 bytes", [] { return Mono16x8().substr(0, 28); }, kRead},
    {"B08", "info header length 0", [] { return Claims(kInfoLen, 0); }, ""},
    {"B09", "info header length 11", [] { return Claims(kInfoLen, 11); }, ""},
    {"B10", "info header length 13", [] { return Claims(kInfoLen, 13); }, ""},
    {"B11", "info header length 2^32-1", [] { return Claims(kInfoLen, 0xFFFFFFFFu); }, kRead},
    {"B12", "info header length 2^31-16 (past the end)", [] { return Claims(kInfoLen, 0x7FFFFFF0u); }, kRead},
    {"B13", "pixel rows cut short by 5 bytes",
     [] {
         std::string f = Mono16x8();
         return f.substr(0, f.size() - 5);
     },
     kRead},
    {"B14", "pixel-data offset 2^32-1", [] { return Claims(kOffData, 0xFFFFFFFFu); }, kRead},
    {"B15", "pixel-data offset 2^31 past the headers", [] { return Claims(kOffData, 62u + 0x80000000u); }, kRead},
    {"B16", "pixel-data offset at the end of the file (the colour table eats the rows)",
     [] { return Claims(kOffData, static_cast<uint32_t>(Mono16x8().size())); }, kRead},
    {"B17", "pixel-data offset 8 bytes into the rows", [] { return Claims(kOffData, 62 + 8); }, kRead},
    {"B18", "width 2^31-1 and 8 rows (2 GiB of pixels)", [] { return Claims(kWidth, 0x7FFFFFFFu); }, kTooLarge},
    {"B19", "width -8", [] { return Claims(kWidth, static_cast<uint32_t>(-8)); }, kTooLarge},
    {"B20", "height -8 (rows stored top down)", [] { return Claims(kHeight, static_cast<uint32_t>(-8)); }, kTooLarge},
    {"B21", "height -2^31", [] { return Claims(kHeight, 0x80000000u); }, kTooLarge},
    {"B22", "24 bits, 65536 x 65536 (12 GiB of pixels)",
     [] { return Patched(Patched(Claims(kBits, 24, true), kWidth, 65536), kHeight, 65536); }, kTooLarge},
    {"B23", "32 bits, 2^30 x 1 (the 32-bit size wraps to 0)",
     [] { return Patched(Patched(Claims(kBits, 32, true), kWidth, 0x40000000u), kHeight, 1); }, kTooLarge},
    {"B24", "bit count 0", [] { return Claims(kBits, 0, true); }, ""},
    {"B25", "bit count 2", [] { return Claims(kBits, 2, true); }, ""},
    {"B26", "bit count 7", [] { return Claims(kBits, 7, true); }, ""},
    {"B27", "bit count 9", [] { return Claims(kBits, 9, true); }, ""},
    {"B28", "bit count 16", [] { return Pic(16, 8, 16); }, ""},
    {"B29", "bit count 64", [] { return Claims(kBits, 64, true); }, ""},
    {"B30", "4 bits, 16 x 8", [] { return Pic(16, 8, 4); }, Refused("4 bits per pixel, 16 x 8 pixels")},
    {"B31", "8 bits, 16 x 8", [] { return Pic(16, 8, 8); }, Refused("8 bits per pixel, 16 x 8 pixels")},
    {"B32", "24 bits, 16 x 8", [] { return Pic(16, 8, 24); }, Refused("24 bits per pixel, 16 x 8 pixels")},
    {"B33", "32 bits, 16 x 8", [] { return Pic(16, 8, 32); }, Refused("32 bits per pixel, 16 x 8 pixels")},
    {"B34", "1 bit, 481 x 8 (one column too wide)", [] { return Pic(481, 8, 1); },
     Refused("1 bits per pixel, 481 x 8 pixels")},
    {"B35", "1 bit, 8 x 513 (one row too high)", [] { return Pic(8, 513, 1); },
     Refused("1 bits per pixel, 8 x 513 pixels")},
    {"B36", "core header, 1 bit, 481 x 1", [] { return Pic(481, 1, 1, 12); },
     Refused("1 bits per pixel, 481 x 1 pixels")},
    {"B37", "core header, 1 bit, 65535 x 1", [] { return Pic(65535, 1, 1, 12); },
     Refused("1 bits per pixel, 65535 x 1 pixels")},
    {"B38", "core header, 24 bits, 8 x 8", [] { return Pic(8, 8, 24, 12); },
     Refused("24 bits per pixel, 8 x 8 pixels")},
    {"B39", "core header, bit count 0", [] { return Patched(Pic(8, 8, 1, 12), kCoreBits, 0, true); }, ""},
    {"B40", "core header, 1 bit, 8 x 65535 with 8 rows",
     [] { return Patched(Pic(8, 8, 1, 12), kCoreHeight, 65535, true); }, kRead},
};
INSTANTIATE_TEST_SUITE_P(BadInput, BmpRefused, ::testing::ValuesIn(kBmpRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
