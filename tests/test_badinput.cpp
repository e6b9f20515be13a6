// Bad input that must end a run before the machine is called: too few
// arguments, arguments their field cannot hold or the stripe cannot carry,
// and bitmap files of every broken kind; each case runs the real vestrun
// against a listener that must stay untouched. Arguments that pass but reach
// the machine only on the stripe, checked in the record built from them. And
// broken settings files of the character set command. Odd pictures that do
// go out are read in test_bitmap; docs/bad-input.md is made from this file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "badinput.h"
#include "bmpfile.h"
#include "frames.h"
#include "head.h"
#include "patient.h"

namespace {

using badin::Repeat;
using badin::Seen;
using sample::Stripe;
using Lines = std::vector<std::string>;

std::string Exit(const badin::Run &r) { return "exit " + std::to_string(r.iStatus); }

// ---- how many arguments ------------------------------------------------------

class Usage : public ::testing::TestWithParam<size_t> {};

TEST_P(Usage, OnlyTheUsageLine)
{
    const std::string kUsage =
        "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] "
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
std::string Claims(size_t a_iAt, uint32_t a_iVal, bool a_b16 = false)
{
    return Patched(Mono16x8(), a_iAt, a_iVal, a_b16);
}

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
    const char *szGroup = c.szId[0] == 'A'   ? "Argument limits (one over)"
                          : c.szId[0] == 'N' ? "Names and stripe text"
                                             : "Bitmap files";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{Exit(r), badin::Join(r.AfterEcho()), sErr, tListen.Nothing()});
}

const std::string kRead = "Error: FILE read error.";
const std::string kTooLarge = "CreateImageDatBuff:Allocation error\n";

// A file the reader does not take: the reason, in the reader's own form.
std::string Unread(const char *a_szWhy) { return std::string("Error: FILE has ") + a_szWhy + "."; }
const char *const kBits0 = "0 bits per pixel; the reader takes 1, 4, 8, 24 or 32";

std::string NotTaken(const char *a_szFound)
{
    return std::string("vestrun: FILE: ") + a_szFound +
           "; the machine takes 1 bit per pixel, at most 480 x 512 pixels\n";
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
    {"N08", "5 patient number: STX (02) inside", 5,
     "123\x02"
     "45"},
    {"N09", "8 sex: ETX (03)", 8, "\x03"},
    {"N10", "9 birth date: a tab inside", 9, "1970\t0101"},
    {"N11", "10 first visit: DEL (7F) inside", 10,
     "2024\x7F"
     "0401"},
    {"B01", "no such file", 0, "", nullptr, "Error: FILE could not read."},
    {"B02", "a folder", 0, "", nullptr, kRead, true},
    {"B03", "a path of 5000 bytes", 0, "", nullptr, "Error: FILE could not read.", false, 5000},
    {"B04", "empty file", 0, "", [] { return std::string(); }, kRead},
    {"B05", "signature BA", 0, "", [] { return "BA" + Mono16x8().substr(2); }, "Error: FILE is not Bitmap file."},
    {"B06", "info header cut after 10 of its 40 bytes", 0, "", [] { return Mono16x8().substr(0, 28); }, kRead},
    {"B07", "info header length 11", 0, "", [] { return Claims(kInfoLen, 11); },
     Unread("an info header of 11 bytes; the reader takes 12, or 16 and more")},
    {"B08", "info header length 13", 0, "", [] { return Claims(kInfoLen, 13); },
     Unread("an info header of 13 bytes; the reader takes 12, or 16 and more")},
    {"B09", "info header length 2^32-1", 0, "", [] { return Claims(kInfoLen, 0xFFFFFFFFu); }, kRead},
    {"B10", "pixel rows cut short by 5 bytes", 0, "", [] { return Mono16x8().substr(0, Mono16x8().size() - 5); },
     kRead},
    {"B11", "pixel-data offset 2^32-1", 0, "", [] { return Claims(kOffData, 0xFFFFFFFFu); }, kRead},
    {"B12", "pixel-data offset at the end of the file (the colour table eats the rows)", 0, "",
     [] { return Claims(kOffData, static_cast<uint32_t>(Mono16x8().size())); }, kRead},
    {"B13", "width 2^31-1 and 8 rows (2 GiB of pixels)", 0, "", [] { return Claims(kWidth, 0x7FFFFFFFu); }, kTooLarge},
    {"B14", "width -8", 0, "", [] { return Claims(kWidth, static_cast<uint32_t>(-8)); }, kTooLarge},
    {"B15", "height -8 (rows stored top down)", 0, "", [] { return Claims(kHeight, static_cast<uint32_t>(-8)); },
     kTooLarge},
    {"B16", "32 bits, 2^30 x 1 (the 32-bit size wraps to 0)", 0, "",
     [] { return Patched(Patched(Claims(kBits, 32, true), kWidth, 0x40000000u), kHeight, 1); }, kTooLarge},
    {"B17", "bit count 0", 0, "", [] { return Claims(kBits, 0, true); }, Unread(kBits0)},
    {"B18", "bit count 16", 0, "", [] { return Pic(16, 8, 16); },
     Unread("16 bits per pixel; the reader takes 1, 4, 8, 24 or 32")},
    {"B19", "bit count 64", 0, "", [] { return Claims(kBits, 64, true); },
     Unread("64 bits per pixel; the reader takes 1, 4, 8, 24 or 32")},
    {"B20", "4 bits, 16 x 8", 0, "", [] { return Pic(16, 8, 4); }, NotTaken("4 bits per pixel, 16 x 8 pixels")},
    {"B21", "24 bits, 16 x 8", 0, "", [] { return Pic(16, 8, 24); }, NotTaken("24 bits per pixel, 16 x 8 pixels")},
    {"B22", "1 bit, 481 x 8 (one column too wide)", 0, "", [] { return Pic(481, 8, 1); },
     NotTaken("1 bits per pixel, 481 x 8 pixels")},
    {"B23", "1 bit, 8 x 513 (one row too high)", 0, "", [] { return Pic(8, 513, 1); },
     NotTaken("1 bits per pixel, 8 x 513 pixels")},
    {"B24", "core header, 1 bit, 481 x 1", 0, "", [] { return Pic(481, 1, 1, 12); },
     NotTaken("1 bits per pixel, 481 x 1 pixels")},
    {"B25", "core header, bit count 0", 0, "", [] { return Patched(Pic(8, 8, 1, 12), kCoreBits, 0, true); },
     Unread(kBits0)},
    {"B26", "core header, 1 bit, 8 x 65535 with 8 rows", 0, "",
     [] { return Patched(Pic(8, 8, 1, 12), kCoreHeight, 65535, true); }, kRead},
    {"B27", "colour table cut short", 0, "", [] { return Mono16x8().substr(0, kPalette + 5); }, kRead},
    {"B28", "24 bits, 65536 x 10923 (rows past 2^31 bytes)", 0, "",
     [] { return Patched(Patched(Claims(kBits, 24, true), kWidth, 0x10000), kHeight, 0x2AAB); }, kTooLarge},
    {"B29", "1 bit, 1500000000 x 9 (columns past 2^31 bytes, rows not)", 0, "",
     [] { return Patched(Patched(Mono16x8(), kWidth, 1500000000u), kHeight, 9); }, kTooLarge},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Refused, ::testing::ValuesIn(kRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

// ---- arguments that reach only the stripe ------------------------------------------

struct StripeRow {
    const char *szId, *szWhat;
    std::vector<std::pair<int, std::string>> vArgs;  // arguments put over the sample patient's
    Stripe tStripe;                                  // what the stripe must hold
};

void PrintTo(const StripeRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Stripes : public ::testing::TestWithParam<StripeRow> {};

// Fields at their limits and odd names that the argument check lets through
// reach the machine only on the stripe: the magnetic record built from the
// command line holds them thus.
TEST_P(Stripes, PassTheCheckAndLandOnTheStripe)
{
    const StripeRow &c = GetParam();
    auto args = sample::Args(9100, "card.bmp");
    for (const auto &a : c.vArgs) args[static_cast<size_t>(a.first - 1)] = a.second;
    args.insert(args.begin(), "vestrun");
    std::vector<char *> argv;
    for (auto &s : args) argv.push_back(&s[0]);
    EXPECT_EQ(iArgCheck(static_cast<int>(argv.size()), argv.data()), 0);
    T_PAT_INF p{};
    vPatFill(&p, argv.data());
    char cSnd[73] = {};
    ASSERT_EQ(iMagRecord(&p, cSnd, sizeof cSnd, nullptr, 0), 72);
    const std::string sStripe(cSnd + 2, 69);
    EXPECT_EQ(vt::ToHex(sStripe), vt::ToHex(c.tStripe.Bytes()));
    const char *szGroup = c.szId[0] == 'L' ? "Argument limits (at the limit)" : "Names the stripe takes as they are";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{"accepted", "", "", "", sStripe});
}

Stripe With(std::function<void(Stripe &)> a_fSet)
{
    Stripe s;
    a_fSet(s);
    return s;
}

const StripeRow kStripeRows[] = {
    {"L03", "5 patient number: 10 digits", {{5, "1234567890"}}, With([](Stripe &s) { s.sNumber = "1234567890"; })},
    {"L04", "6 kanji name: 127 bytes, 山 x 63 and a", {{6, Repeat("山", 63) + "a"}}, With([](Stripe &s) {
         s.sKanji = Repeat("\x3B\x33", 7);
     })},
    {"L05", "7 kana name: 127 bytes, ヤ x 63 and A", {{7, Repeat("ヤ", 63) + "A"}}, With([](Stripe &s) {
         s.sKana = "\x0E" + std::string(22, '\x54') + "\x0F";
     })},
    {"L06", "8 sex: 1 byte, \"2\"", {{8, "2"}}, With([](Stripe &s) { s.sSex = "2"; })},
    {"L07", "9 birth date: 15 bytes, 19991231 (Fri.)", {{9, "19991231 (Fri.)"}}, With([](Stripe &s) {
         s.sBirth = "19991231";
     })},
    {"L08", "10 first visit: 15 bytes, 20240401T093000", {{10, "20240401T093000"}}, Stripe()},
    {"K01", "7 kana name: lone half-width voicing marks ﾞﾟ", {{7, "ﾞﾟ"}}, With([](Stripe &s) {
         s.sKana = vt::Hex("0E 5E 5F 0F 20 0E 0F") + std::string(17, ' ');
     })},
    {"K02",
     "7 kana name: ヵヶヮヰヱ, which have no half-width form (their JIS codes go on)",
     {{7, "ヵヶヮヰヱ"}},
     With([](Stripe &s) { s.sKana = vt::Hex("0E 25 75 25 76 25 6E 25 70 25 71 0F 20 0E 0F") + std::string(9, ' '); })},
    {"K03",
     "6 and 7: アイウ in UTF-8, which happens to read as Shift_JIS",
     {{6, u8"アイウ"}, {7, u8"アイウ"}},
     With([](Stripe &s) {
         s.sKana = vt::Hex("0E 65 62 22 65 62 24 65 62 26 0F 20 0E 0F") + std::string(10, ' ');
         s.sKanji = vt::Hex("65 62 A2 65 62 A4 65 62 A6") + std::string(5, '!');
     })},
    {"K04",
     "6 kanji name: half-width katakana ﾔﾏﾀﾞ ﾀﾛｳ (single bytes go on unchanged)",
     {{6, "ﾔﾏﾀﾞ ﾀﾛｳ"}},
     With([](Stripe &s) { s.sKanji = vt::Hex("D4 CF C0 DE 20 C0 DB B3") + std::string(6, '!'); })},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Stripes, ::testing::ValuesIn(kStripeRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

// ---- settings files ------------------------------------------------------------------

constexpr char kStyle2[] = "× 設定ファイル２を読み込むことができません。処理不可能n";
constexpr char kLayoutMsg[] = "× 設定ファイルを読み込むことができません。処理不可能n";
constexpr char kGoodStyle[] = "x,\n1,\n0,\n";  // era in kanji with units, short sex words
constexpr char kGoodLayout[] = "0,\n10,20,K,\n100,50,K,\n100,80,K,\n200,80,K,\n";
constexpr char kKanjiDate[] = "平成 1年 1月 8日";
constexpr char kLetterDate[] = "H 1/ 1/ 8";

// The "A" frame of kGoodLayout for the patient below, from the letter on.
std::string Good(const std::string &a_sBirth, const std::string &a_sSex)
{
    return "A0,10,20,\x1B"
           "EK12345\x1BX100\x1BY050\x1B"
           "EK山田太郎\x1BX100\x1BY080\x1B"
           "EK" +
           a_sBirth +
           "\x1BX200\x1BY080\x1B"
           "EK" +
           a_sSex;
}

// A settings file: its bytes, or a folder in its place, or nothing.
struct SetFile {
    enum Kind { kMissing, kBytes, kFolder } eKind;
    std::string sBytes;
};
SetFile Bytes(const std::string &a_s) { return {SetFile::kBytes, a_s}; }
const SetFile kMissing = {SetFile::kMissing, ""};
const SetFile kFolder = {SetFile::kFolder, ""};

struct SetRow {
    const char *szId, *szWhat;
    SetFile tStyle, tLayout;
    Lines vLog;         // the lines logged
    std::string sBody;  // the frame built, from the letter on; empty: the command fails with -99, nothing sent
};

void PrintTo(const SetRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Settings : public ::testing::TestWithParam<SetRow> {};

// The character set command's frame as it is built from the two files (the
// exchange is the link's business), or its refusal before anything is sent.
TEST_P(Settings, CharacterSetFrameOrNothing)
{
    const SetRow &c = GetParam();
    vt::TempDir dir;
    for (const auto &f : {std::make_pair("printstyle.txt", c.tStyle), std::make_pair("printsetting.txt", c.tLayout)}) {
        if (f.second.eKind == SetFile::kBytes) {
            vt::WriteFile(dir.file(f.first), f.second.sBytes);
        } else if (f.second.eKind == SetFile::kFolder) {
            ASSERT_EQ(mkdir(dir.file(f.first).c_str(), 0700), 0);
        }
    }
    T_PAT_INF p = sample::Patient();
    strcpy(p.szBirthDate, "19890108");
    char cSnd[896] = {};
    char *szCwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    vt::CaptureFd cap(1);
    // -1: no machine; a refusal must not try to send.
    const int iRet = c.sBody.empty() ? m_iCharSet(p, -1) : iCharSetBuild(&p, cSnd, sizeof cSnd);
    const Lines vLog = vt::LogMessages(cap.Finish());
    EXPECT_EQ(chdir(szCwd), 0);
    free(szCwd);

    const std::string sWant = c.sBody.empty() ? "" : "\x02" + c.sBody + "\x03";
    const std::string sBuilt = iRet > 0 ? std::string(cSnd, static_cast<size_t>(iRet)) : "";
    EXPECT_EQ(iRet, c.sBody.empty() ? -99 : static_cast<int>(sWant.size()));
    EXPECT_EQ(vLog, c.vLog);
    EXPECT_EQ(vt::ToHex(sBuilt), vt::ToHex(sWant));
    const char *szGroup = c.szId[0] == 'S' ? "Print style file (printstyle.txt)" : "Layout file (printsetting.txt)";
    badin::Emit(c.szId, szGroup, c.szWhat,
                Seen{iRet > 0 ? "built" : "result " + std::to_string(iRet), badin::Join(vLog), "",
                     iRet > 0 ? "" : "nothing sent", "", sBuilt});
}

const Lines kSentShort = {"性別設定", "　男"};
const Lines kSentLong = {"性別設定", "　男性"};
const Lines kNoStyle = {"キャラクタセット開始", kStyle2, kStyle2};
const Lines kNoLayout = {"キャラクタセット開始", "性別設定", "　男", kLayoutMsg};
const Lines kTooBig = {"キャラクタセット開始", "性別設定", "　男", "× キャラクタセット失敗"};
const std::string kLayoutJunk = std::string("\0junk\n", 6) + "\xFF\xFE,\x1B\x1B,\x7F,\n";

const SetRow kSetRows[] = {
    {"S01", "missing", kMissing, Bytes(kGoodLayout), kNoStyle, ""},
    {"S02", "empty (letter era with slashes, long sex words)", Bytes(""), Bytes(kGoodLayout), kSentLong,
     Good(kLetterDate, "男性")},
    {"S03", "a first line of 200 bytes: its pieces count as lines 0 and 1",
     Bytes(std::string(200, 'x') + ",\n1,\n0,\n"), Bytes(kGoodLayout), kSentLong, Good(kLetterDate, "男性")},
    {"S04", "no trailing commas", Bytes("x\n1\n0\n"), Bytes(kGoodLayout), kSentShort, Good(kKanjiDate, "男")},
    {"S05", "Windows line ends", Bytes("x,\r\n1,\r\n0,\r\n"), Bytes(kGoodLayout), kSentShort, Good(kKanjiDate, "男")},
    {"S06", "huge numbers (only the first character counts)",
     Bytes("x,\n99999999999999999999,\n-99999999999999999999,\n"), Bytes(kGoodLayout), kSentLong,
     Good(kLetterDate, "男性")},
    {"S07", "a folder of that name", kFolder, Bytes(kGoodLayout), kNoStyle, ""},
    {"T01", "missing", Bytes(kGoodStyle), kMissing, kNoLayout, ""},
    {"T02", "empty", Bytes(kGoodStyle), Bytes(""), kSentShort, "A"},
    {"T03", "a first line of 204 bytes: its second piece becomes line 1", Bytes(kGoodStyle),
     Bytes("0," + std::string(200, 'A') + ",\n100,50,K,\n"), kSentShort,
     "A0," + std::string(75, 'A') +
         "\x1BX100\x1BY050\x1B"
         "EK山田太郎"},
    {"T04", "no trailing commas: the last field keeps its line feed", Bytes(kGoodStyle),
     Bytes("0\n10,20,K\n100,50,K\n"), kSentShort,
     "A0\n,10,20,\x1B"
     "EK\n12345\x1BX100\x1BY050\x1B"
     "EK\n山田太郎"},
    {"T05", "Windows line ends after trailing commas", Bytes(kGoodStyle), Bytes("0,\r\n10,20,K,\r\n100,50,K,\r\n"),
     kSentShort,
     "A0,10,20,\x1B"
     "EK12345\x1BX100\x1BY050\x1B"
     "EK山田太郎"},
    {"T06", "huge positions (held at the int range)", Bytes(kGoodStyle),
     Bytes("0,\n\n99999999999999999999,-99999999999999999999,K,\n"), kSentShort,
     "A0\x1BX2147483647\x1BY-2147483648\x1B"
     "EK山田太郎"},
    {"T07", "binary junk: NUL, FF FE, ESC, DEL", Bytes(kGoodStyle), Bytes(kLayoutJunk), kSentShort,
     "A,\xFF\xFE,\x1B\x1B,\x1B"
     "E\x7F"
     "12345"},
    {"T08", "ETX (03) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x03,\n"), kTooBig, ""},
    {"T09", "STX (02) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x02,\n"), kTooBig, ""},
    {"T10", "a folder of that name", Bytes(kGoodStyle), kFolder, kNoLayout, ""},
    {"T11", "a layout that fills the frame: 895 bytes and the block check", Bytes(kGoodStyle),
     Bytes("00,\n\n" + Repeat("1,2,\n", 89)), kSentShort, "A00" + Repeat("\x1BX001\x1BY002", 89)},
    {"T12", "one byte more than the frame holds", Bytes(kGoodStyle), Bytes("000,\n\n" + Repeat("1,2,\n", 89)), kTooBig,
     ""},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Settings, ::testing::ValuesIn(kSetRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
