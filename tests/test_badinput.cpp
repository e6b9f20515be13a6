// Bad input, one row a case: argument counts and limits, broken names and
// broken picture files end the run before the machine (each a whole run in
// this process, against a listener nobody may call); broken settings files
// give the character set frame they give, or nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bmpfile.h"
#include "frames.h"
#include "head.h"
#include "sample_card.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using vt::Repeat;

// A file or a settings file that is not there, and a folder in its place.
const std::string kMissing("\0missing", 8), kFolder("\0folder", 7);

void Place(const std::string &a_sPath, const std::string &a_sBytes)
{
    ASSERT_TRUE(a_sBytes != kFolder || mkdir(a_sPath.c_str(), 0700) == 0);
    if (a_sBytes != kFolder && a_sBytes != kMissing) vt::WriteFile(a_sPath, a_sBytes);
}

// ---- runs that end before the machine ------------------------------------------

struct RunRow {
    const char *szWhat;
    int iArg;  // argument replaced by sVal; 0: sVal is the picture file; -n: argc n
    std::string sVal;
    // Standard error, the picture's path written FILE. An argument that
    // passes the check is shown by a run that goes on to a missing picture.
    std::string sErr = "";
};

// A 16 x 8 1-bit file, to be broken.
const std::string kMono = vt::MonoBmp(Lines(8, "#.#.#.#.##..##.."));

std::string Pic(int64_t a_iW, int64_t a_iH, uint16_t a_iBits, uint32_t a_iInfo = 40)
{
    return vt::BuildBmp({a_iW, a_iH, a_iBits, {}, a_iBits == 1 ? vt::MonoPalette() : "", a_iInfo});
}

std::string Patch(std::string a_sFile, size_t a_iAt, uint32_t a_iVal, int a_iBytes = 4)
{
    vt::PutLe(a_sFile, a_iAt, a_iVal, size_t(a_iBytes));
    return a_sFile;
}

// Offsets in a file with the 40-byte info header, and in one with the 12-byte core header.
constexpr size_t kOffData = 10, kInfoLen = 14, kWidth = 18, kHeight = 22, kBits = 28, kPalette = 54, kCoreHeight = 20;

const std::string kNoFile = "Error: FILE could not read.";
const std::string kRead = "Error: FILE read error.", kTooLarge = "CreateImageDatBuff:Allocation error\n";
const std::string kHas = "Error: FILE has ", kInfo = " bytes; the reader takes 12, or 16 and more.";
const std::string kPerPixel = " bits per pixel; the reader takes 1, 4, 8, 24 or 32.";
const std::string kTaken = " pixels; the machine takes 1 bit per pixel, at most 480 x 512 pixels\n";
std::string Not(const char *a_szFound) { return "vestrun: FILE: " + std::string(a_szFound) + kTaken; }

const RunRow kRuns[] = {
    {"9 arguments", -10, ""},
    {"host: 63 bytes", 1, std::string(63, 'h'), kNoFile},
    {"host: 64 bytes", 1, std::string(64, 'h')},
    {"print style: 2 bytes", 3, "01"},
    {"patient number: 11 digits", 5, "12345678901"},
    {"kanji name: 128 bytes", 6, Repeat("山", 64)},
    {"kanji name: trail bytes of both ranges, the last lead byte", 6, "表\x83\x80\xFC\xFC", kNoFile},
    {"kana name: 128 bytes", 7, Repeat("ヤ", 64)},
    {"kana name: half-width", 7, "ｶﾞｷﾞ ﾊﾟ", kNoFile},
    {"sex: empty", 8, ""},
    {"birth date: 16 bytes", 9, "1970-01-01T00:00"},
    {"first visit: 16 bytes", 10, std::string(16, '2')},
    {"kana name: a lone lead byte at the end (the 7-bit name would hold ETX)", 7, "ヤマダ\x83"},
    {"kana name: a stray 80 (the 7-bit name would end at a NUL)", 7, "ヤマダ\x80タロウ"},
    {"kana name: FD begins no character", 7, "ヤマダ\xFD"},
    {"kanji name: ETX", 6, "山田\x03太郎"},
    {"first visit: DEL", 10, "2024\1770401"},
    {"no such file", 0, kMissing, kNoFile},
    {"a folder", 0, kFolder, kRead},
    {"signature BA", 0, "BA" + kMono.substr(2), "Error: FILE is not Bitmap file."},
    {"info header length 13", 0, Patch(kMono, kInfoLen, 13), kHas + "an info header of 13" + kInfo},
    {"info header length 2^32-1", 0, Patch(kMono, kInfoLen, 0xFFFFFFFFu), kRead},
    {"pixel rows 5 bytes short", 0, kMono.substr(0, kMono.size() - 5), kRead},
    {"pixel-data offset 2^32-1", 0, Patch(kMono, kOffData, 0xFFFFFFFFu), kRead},
    {"width 2^31-1, 8 rows", 0, Patch(kMono, kWidth, 0x7FFFFFFFu), kTooLarge},
    {"height -8 (rows top down)", 0, Patch(kMono, kHeight, uint32_t(-8)), kTooLarge},
    // Sizes past 2^31 bytes, or a 32-bit size that wraps to 0.
    {"32 bits, 2^30 x 1", 0, Patch(Patch(Patch(kMono, kBits, 32, 2), kWidth, 1u << 30), kHeight, 1), kTooLarge},
    {"bit count 0", 0, Patch(kMono, kBits, 0, 2), kHas + "0" + kPerPixel},
    {"bit count 16", 0, Pic(16, 8, 16), kHas + "16" + kPerPixel},
    {"4 bits", 0, Pic(16, 8, 4), Not("4 bits per pixel, 16 x 8")},
    {"481 columns", 0, Pic(481, 8, 1), Not("1 bits per pixel, 481 x 8")},
    {"513 rows", 0, Pic(8, 513, 1), Not("1 bits per pixel, 8 x 513")},
    {"core header, 65535 rows claimed, 8 there", 0, Patch(Pic(8, 8, 1, 12), kCoreHeight, 65535, 2), kRead},
    {"24 bits, 65536 x 10923", 0, Patch(Patch(Patch(kMono, kBits, 24, 2), kWidth, 1 << 16), kHeight, 10923), kTooLarge},
    {"1500000000 x 9", 0, Patch(Patch(kMono, kWidth, 1500000000u), kHeight, 9), kTooLarge},  // columns, rows not
};

TEST(BadInput, RunEndsBeforeTheMachineWithOneLogLine)
{
    const std::string kUsage =
        "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] "
        "[カナ氏名] [生年月日] [性別] [初診日] ";
    for (const RunRow &c : kRuns) {
        SCOPED_TRACE(c.szWhat);
        vt::Listener tListen;
        vt::TempDir dir;
        const std::string sPath = dir.file("card.bmp");
        Place(sPath, c.iArg == 0 ? c.sVal : c.sErr.empty() ? vt::MonoBmp({"#..#", ".##."}) : kMissing);
        std::vector<std::string> args = sample::Args(tListen.Port(), sPath);
        if (c.iArg > 0) args[size_t(c.iArg - 1)] = c.sVal;
        args.insert(args.begin(), "vestrun");
        if (c.iArg < 0) args.resize(size_t(-c.iArg));
        vt::CaptureFd out(1), err(2);
        std::vector<char *> argv(args.size() + 1);  // ends in a null pointer, as a program is started
        for (size_t i = 0; i < args.size(); i++) argv[i] = &args[i][0];
        const int iStatus = vestrun_main(int(args.size()), argv.data());
        std::string sErr = err.Finish();
        for (size_t i; (i = sErr.find(sPath)) != std::string::npos;) sErr.replace(i, sPath.size(), "FILE");
        EXPECT_EQ(sErr, c.sErr);
        EXPECT_FALSE(tListen.Called());
        // The usage line alone, or the echo of the arguments and the one line that tells.
        Lines vWant;
        for (size_t i = 1; i <= 10 && c.iArg >= 0; i++) vWant.push_back(std::to_string(i) + "=" + args[i]);
        vWant.push_back(c.iArg < 0                     ? kUsage
                        : c.iArg > 0 && c.sErr.empty() ? "× 引数" + std::to_string(c.iArg) + "が不正です"
                                                       : "× bmpファイルを読み込むことができません。処理不可能n");
        EXPECT_EQ(iStatus, c.iArg < 0 ? 0 : -99);
        EXPECT_EQ(vt::LogMessages(out.Finish()), vWant);
    }
}

// ---- settings files ------------------------------------------------------------

constexpr char kGoodStyle[] = "x,\n1,\n0,\n";  // era in kanji with units, short sex words
constexpr char kGoodLayout[] = "0,\n10,20,K,\n100,50,K,\n100,80,K,\n200,80,K,\n";
constexpr char kKanjiDate[] = "昭和45年 1月 1日", kLetterDate[] = "S45/ 1/ 1";
constexpr char kName[] = "A0,10,20,\033EK12345\033X100\033Y050\033EK山田太郎";  // kGoodLayout's first fields

// The "A" frame of kGoodLayout for the sample patient, from the letter on.
std::string Good(const std::string &a_sBirth, const std::string &a_sSex)
{
    return kName + std::string("\033X100\033Y080\033EK") + a_sBirth + "\033X200\033Y080\033EK" + a_sSex;
}

// The character set command's frame as it is built from the two files, or
// its refusal (-99) before anything is sent.
TEST(BadInput, SettingsFilesGiveTheirFrameOrNothing)
{
    const std::string kStart = "キャラクタセット開始", kSex = "性別設定", kMan = "　男";
    const std::string kStyle2 = "× 設定ファイル２を読み込むことができません。処理不可能n";
    const Lines kShort = {kSex, kMan}, kLong = {kSex, "　男性"}, kNoStyle = {kStart, kStyle2, kStyle2};
    const Lines kNoLayout = {kStart, kSex, kMan, "× 設定ファイルを読み込むことができません。処理不可能n"};
    const Lines kTooBig = {kStart, kSex, kMan, "× キャラクタセット失敗"};
    const struct {
        std::string sStyle, sLayout;
        Lines vLog;
        std::string sBody;  // the frame from the letter on; empty: refused
    } cases[] = {
        {kMissing, kGoodLayout, kNoStyle, ""},
        {kFolder, kGoodLayout, kNoStyle, ""},
        {"", kGoodLayout, kLong, Good(kLetterDate, "男性")},  // empty: letter era with slashes, long sex words
        {"x\n1\n0\n", kGoodLayout, kShort, Good(kKanjiDate, "男")},
        {kGoodStyle, kMissing, kNoLayout, ""},
        {kGoodStyle, kFolder, kNoLayout, ""},
        {kGoodStyle, "", kShort, "A"},
        // Without trailing commas the last field keeps its line feed.
        {kGoodStyle, "0\n10,20,K\n100,50,K\n", kShort, "A0\n,10,20,\033EK\n12345\033X100\033Y050\033EK\n山田太郎"},
        // The number line without attribute (no number), the kana line, and line 6 with positions only.
        {kGoodStyle, "\n5,6,\n\n1,2,a,\n3,4,b,\n5,6,c,\n9,8,K,\n", kShort,
         "A,5,6\033X001\033Y002\033Ea" + std::string(kKanjiDate) +
             "\033X003\033Y004\033Eb男\033X005\033Y006\033Ecヤマダ　タロウ\033X009\033Y008"},
        {kGoodStyle, "0,\r\n10,20,K,\r\n100,50,K,\r\n", kShort, kName},
        // Positions held at the int range.
        {kGoodStyle, "0,\n\n99999999999999999999,-99999999999999999999,K,\n", kShort,
         "A0\033X2147483647\033Y-2147483648\033EK山田太郎"},
        {kGoodStyle, std::string("\0junk\n", 6) + "\xFF\xFE,\033\033,\x7F,\n", kShort,
         "A,\xFF\xFE,\033\033,\033E\17712345"},
        {kGoodStyle, "0,\n10,20,\x03,\n", kTooBig, ""},  // ETX or STX in an attribute
        {kGoodStyle, "0,\n10,20,\x02,\n", kTooBig, ""},
        // 895 bytes and the block check fill the frame; one byte more does not fit.
        {kGoodStyle, "00,\n\n" + Repeat("1,2,\n", 89), kShort, "A00" + Repeat("\033X001\033Y002", 89)},
        {kGoodStyle, "000,\n\n" + Repeat("1,2,\n", 89), kTooBig, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(vt::ToHex(c.sStyle.substr(0, 16)) + " / " + vt::ToHex(c.sLayout.substr(0, 16)));
        vt::TempDir dir;
        Place(dir.file("printstyle.txt"), c.sStyle);
        Place(dir.file("printsetting.txt"), c.sLayout);
        T_PAT_INF p = sample::Patient();
        char cSnd[896] = {};
        char *szCwd = getcwd(nullptr, 0);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        vt::CaptureFd cap(1);
        // -1: no machine; a refusal must not try to send.
        const int iRet = c.sBody.empty() ? m_iCharSet(p, -1) : iCharSetBuild(&p, cSnd, sizeof cSnd);
        EXPECT_EQ(vt::LogMessages(cap.Finish()), c.vLog);
        EXPECT_EQ(chdir(szCwd), 0);
        free(szCwd);
        const std::string sWant = c.sBody.empty() ? "" : "\x02" + c.sBody + "\x03";
        EXPECT_EQ(iRet, c.sBody.empty() ? -99 : int(sWant.size()));
        EXPECT_EQ(vt::ToHex(std::string(cSnd, iRet > 0 ? size_t(iRet) : 0)), vt::ToHex(sWant));
    }
}

}  // namespace
