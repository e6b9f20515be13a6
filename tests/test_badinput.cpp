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
using Lines = std::vector<std::string>;

std::string Exit(const badin::Run &r) { return "exit " + std::to_string(r.iStatus); }

// ---- how many arguments ------------------------------------------------------

class Usage : public ::testing::TestWithParam<size_t> {};

TEST_P(Usage, OnlyTheUsageLine)
{
    const std::string kUsage = "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] "
                               "[カナ氏名] [生年月日] [性別] [初診日] \n";
    badin::Listener tListen;
    auto args = sample::Args(tListen.Port(), "p.bmp");
    args.resize(GetParam());
    badin::Run r = badin::Vestrun(args, 30);
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.sOut, kUsage);
    EXPECT_EQ(r.sErr, "");
    Seen s{Exit(r), r.sOut == kUsage ? "the usage line alone" : r.sOut, r.sErr, tListen.Nothing()};
    badin::Emit(GetParam() == 0 ? "U01" : "U02", "How many arguments", std::to_string(GetParam()) + " arguments", s);
}

INSTANTIATE_TEST_SUITE_P(BadInput, Usage, ::testing::Values(size_t(0), size_t(9)),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param == 0 ? "U01" : "U02"); });

// ---- arguments and bitmap files refused ----------------------------------------

// A 1-bit 16 x 8 file with a colour table, to be broken by the case.
std::string Mono16x8() { return vt::MonoBmp(Lines(8, "#.#.#.#.##..##..")); }

std::string Patched(std::string a_sFile, size_t a_iAt, uint32_t a_iVal, bool a_b16 = false)
{
    if (a_b16) {
        vt::PutLe16(a_sFile, a_iAt, static_cast<uint16_t>(a_iVal));
    } else {
        vt::PutLe32(a_sFile, a_iAt, a_iVal);
    }
    return a_sFile;
}

// Offsets of the file with a 40-byte info header, and of the 12-byte core header.
constexpr size_t kOffData = 10, kInfoLen = 14, kWidth = 18, kHeight = 22, kBits = 28, kPalette = 54;
constexpr size_t kCoreHeight = 20, kCoreBits = 24;

std::string Pic(int64_t a_iW, int64_t a_iH, uint16_t a_iBits, uint32_t a_iInfo = 40)
{
    vt::BmpPicture p;
    p.width = a_iW;
    p.height = a_iH;
    p.bitCnt = a_iBits;
    p.infoLen = a_iInfo;
    if (a_iBits == 1) p.palette = vt::MonoPalette();
    return vt::BuildBmp(p);
}

// The 16 x 8 file whose header claims what its few bytes of pixels cannot hold.
std::string Claims(size_t a_iAt, uint32_t a_iVal, bool a_b16 = false) { return Patched(Mono16x8(), a_iAt, a_iVal, a_b16); }

struct Row {
    const char *szId, *szWhat;
    int iArg;  // the argument replaced by sVal; 0: none
    std::string sVal;
    std::function<std::string()> fFile = nullptr;  // the bitmap; nullptr: the good one (B rows: no file)
    std::string sErr = "";                         // standard error; FILE stands for the path
    bool bDir = false;                             // the path names a folder
    size_t iPathLen = 0;                           // a path of this many bytes instead
};

void PrintTo(const Row &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Refused : public ::testing::TestWithParam<Row> {};

// Refused before the machine: one log line (the argument named right after
// the echo, before the picture is read; or the picture), no connection.
TEST_P(Refused, OneLineAndNothingSent)
{
    const Row &c = GetParam();
    badin::Listener tListen;
    vt::TempDir dir;
    std::string sPath = dir.file("card.bmp");
    if (c.bDir) {
        ASSERT_EQ(mkdir(sPath.c_str(), 0700), 0);
    } else if (c.iPathLen > 0) {
        sPath = dir.path() + "/" + std::string(c.iPathLen - dir.path().size() - 1, 'p');
    } else if (c.fFile || c.iArg > 0) {
        vt::WriteFile(sPath, c.fFile ? c.fFile() : vt::MonoBmp({"#..#", ".##.", ".##.", "#..#"}));
    }
    auto args = sample::Args(tListen.Port(), sPath);
    if (c.iArg > 0) args[static_cast<size_t>(c.iArg - 1)] = c.sVal;
    badin::Run r = badin::Vestrun(args, 30);

    EXPECT_EQ(r.iStatus, 157);
    const std::string sLine = c.iArg > 0 ? "× 引数" + std::to_string(c.iArg) + "が不正です"
                                         : "× bmpファイルを読み込むことができません。処理不可能n";
    EXPECT_EQ(r.AfterEcho(), Lines{sLine});
    std::string sErr = r.sErr;
    for (size_t i; (i = sErr.find(sPath)) != std::string::npos;) sErr.replace(i, sPath.size(), "FILE");
    EXPECT_EQ(sErr, c.sErr);
    const char *szGroup = c.szId[0] == 'A' ? "Argument limits (one over)"
                          : c.szId[0] == 'N' ? "Names and stripe text" : "Bitmap files";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{Exit(r), badin::Join(r.AfterEcho()), sErr, tListen.Nothing()});
}

const std::string kRead = "Error: FILE read error.";
const std::string kTooLarge = "CreateImageDatBuff:Allocation error\n";

std::string NotTaken(const char *a_szFound)
{
    return std::string("vestrun: FILE: ") + a_szFound + "; the machine takes 1 bit per pixel, at most 480 x 512 pixels\n";
}

const Row kRows[] = {
    {"A01", "1 host: 64 bytes (63 fit)", 1, std::string(64, 'h')},
    {"A02", "3 print style: 2 bytes (1 fits)", 3, "01"},
    {"A03", "5 patient number: 11 digits (10 fit)", 5, "12345678901"},
    {"A04", "6 kanji name: 128 bytes, 山 x 64 (127 fit)", 6, badin::Repeat("山", 64)},
    {"A05", "7 kana name: 128 bytes, ヤ x 64 (127 fit)", 7, badin::Repeat("ヤ", 64)},
    {"A06", "8 sex: empty (exactly 1 byte fits)", 8, ""},
    {"A07", "8 sex: the birth date, where the usage line's labels put it", 8, "19700101"},
    {"A08", "9 birth date: 16 bytes (15 fit)", 9, "1970-01-01T00:00"},
    {"A09", "10 first visit: 16 bytes (15 fit)", 10, std::string(16, '2')},
    {"N01", "7 kana name: ヤマダ and a lone lead byte 83 at the end (the 7-bit name would hold ETX)", 7, "ヤマダ\x83"},
    {"N02", "7 kana name: ヤマダ　タロウ in UTF-8", 7, u8"ヤマダ　タロウ"},
    {"N03", "7 kana name: a stray 80 inside (the 7-bit name would hold a NUL and end there)", 7, "ヤマダ\x80タロウ"},
    {"N04", "7 kana name: FD, a byte that begins no character", 7, "ヤマダ\xFD"},
    {"N05", "6 kanji name: ETX (03) inside", 6, "山田\x03太郎"},
    {"N06", "6 kanji name: ESC H inside (would close the kanji field early)", 6, "山田\x1BH太郎"},
    {"N07", "7 kana name: SO and SI inside", 7, "ヤマ\x0E\x0Fダ"},
    {"N08", "5 patient number: STX (02) inside", 5, "123\x02" "45"},
    {"N09", "8 sex: ETX (03)", 8, "\x03"},
    {"N10", "9 birth date: a tab inside", 9, "1970\t0101"},
    {"N11", "10 first visit: DEL (7F) inside", 10, "2024\x7F" "0401"},
    {"B01", "no such file", 0, "", nullptr, "Error: FILE could not read."},
    {"B02", "a folder", 0, "", nullptr, kRead, true},
    {"B03", "a path of 5000 bytes", 0, "", nullptr, "Error: FILE could not read.", false, 5000},
    {"B04", "empty file", 0, "", [] { return std::string(); }, kRead},
    {"B05", "signature BA", 0, "", [] { return "BA" + Mono16x8().substr(2); }, "Error: FILE is not Bitmap file."},
    {"B06", "info header cut after 10 of its 40 bytes", 0, "", [] { return Mono16x8().substr(0, 28); }, kRead},
    {"B07", "info header length 11", 0, "", [] { return Claims(kInfoLen, 11); }, ""},
    {"B08", "info header length 13", 0, "", [] { return Claims(kInfoLen, 13); }, ""},
    {"B09", "info header length 2^32-1", 0, "", [] { return Claims(kInfoLen, 0xFFFFFFFFu); }, kRead},
    {"B10", "pixel rows cut short by 5 bytes", 0, "", [] { return Mono16x8().substr(0, Mono16x8().size() - 5); }, kRead},
    {"B11", "pixel-data offset 2^32-1", 0, "", [] { return Claims(kOffData, 0xFFFFFFFFu); }, kRead},
    {"B12", "pixel-data offset at the end of the file (the colour table eats the rows)", 0, "",
     [] { return Claims(kOffData, static_cast<uint32_t>(Mono16x8().size())); }, kRead},
    {"B13", "width 2^31-1 and 8 rows (2 GiB of pixels)", 0, "", [] { return Claims(kWidth, 0x7FFFFFFFu); }, kTooLarge},
    {"B14", "width -8", 0, "", [] { return Claims(kWidth, static_cast<uint32_t>(-8)); }, kTooLarge},
    {"B15", "height -8 (rows stored top down)", 0, "", [] { return Claims(kHeight, static_cast<uint32_t>(-8)); }, kTooLarge},
    {"B16", "32 bits, 2^30 x 1 (the 32-bit size wraps to 0)", 0, "",
     [] { return Patched(Patched(Claims(kBits, 32, true), kWidth, 0x40000000u), kHeight, 1); }, kTooLarge},
    {"B17", "bit count 0", 0, "", [] { return Claims(kBits, 0, true); }, ""},
    {"B18", "bit count 16", 0, "", [] { return Pic(16, 8, 16); }, ""},
    {"B19", "bit count 64", 0, "", [] { return Claims(kBits, 64, true); }, ""},
    {"B20", "4 bits, 16 x 8", 0, "", [] { return Pic(16, 8, 4); }, NotTaken("4 bits per pixel, 16 x 8 pixels")},
    {"B21", "24 bits, 16 x 8", 0, "", [] { return Pic(16, 8, 24); }, NotTaken("24 bits per pixel, 16 x 8 pixels")},
    {"B22", "1 bit, 481 x 8 (one column too wide)", 0, "", [] { return Pic(481, 8, 1); },
     NotTaken("1 bits per pixel, 481 x 8 pixels")},
    {"B23", "1 bit, 8 x 513 (one row too high)", 0, "", [] { return Pic(8, 513, 1); },
     NotTaken("1 bits per pixel, 8 x 513 pixels")},
    {"B24", "core header, 1 bit, 481 x 1", 0, "", [] { return Pic(481, 1, 1, 12); }, NotTaken("1 bits per pixel, 481 x 1 pixels")},
    {"B25", "core header, bit count 0", 0, "", [] { return Patched(Pic(8, 8, 1, 12), kCoreBits, 0, true); }, ""},
    {"B26", "core header, 1 bit, 8 x 65535 with 8 rows", 0, "", [] { return Patched(Pic(8, 8, 1, 12), kCoreHeight, 65535, true); },
     kRead},
    {"B27", "colour table cut short", 0, "", [] { return Mono16x8().substr(0, kPalette + 5); }, kRead},
    {"B28", "24 bits, 65536 x 10923 (rows past 2^31 bytes)", 0, "",
     [] { return Patched(Patched(Claims(kBits, 24, true), kWidth, 0x10000), kHeight, 0x2AAB); }, kTooLarge},
    {"B29", "1 bit, 1500000000 x 9 (columns past 2^31 bytes, rows not)", 0, "",
     [] { return Patched(Patched(Mono16x8(), kWidth, 1500000000u), kHeight, 9); }, kTooLarge},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Refused, ::testing::ValuesIn(kRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
