// Bad input that does reach the machine: arguments at their limits, names and
// pictures that are odd but can be carried, each issued as a whole card
// against vestrun-sim with its stripe and picture checked; and broken
// settings files for the character set command, whose frame (or its absence)
// is checked on the wire of the scripted peer. The refusals before the
// machine are in test_badinput.cpp; docs/bad-input.md is made from both.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "badinput.h"
#include "bitmap.h"
#include "bmpfile.h"
#include "slow_command.h"

namespace {

using badin::Seen;

// ---- the card as the machine kept it ---------------------------------------------

// The picture of the cards below unless a case brings its own: 16 x 8, two
// bands of ink in one byte-row.
const std::vector<std::string> kDrawing = {
    "#...#..#######..", "#...#.....#.....", "#...#.....#.....", ".#.#......#.....",
    ".#.#......#.....", "..#.......#.....", "..#.......#.....", "................",
};

// Fields of the stripe, each at its width.
struct Stripe {
    std::string sNumber = "     12345";
    std::string sKana = vt::Hex("0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F") + std::string(12, ' ');
    std::string sBirth = "19700101";
    std::string sSex = "1";
    std::string sKanji = vt::Hex("3B 33 45 44 42 40 4F 3A") + std::string(6, '!');
    std::string sFirst = "20240401";
    std::string Bytes() const
    {
        return sNumber + sKana + sBirth + sSex + "\x1BK" + sKanji + "\x1BH" + sFirst;
    }
};

// A field for the table: plain text where it is, hex where it is not.
std::string Field(const std::string &a_s)
{
    for (unsigned char c : a_s) {
        if (c < 0x20 || c > 0x7E) {
            return vt::ToHex(a_s);
        }
    }
    return "'" + a_s + "'";
}

std::string StripeText(const std::string &a_sStripe)
{
    if (a_sStripe.size() != 69) {
        return "stripe of " + std::to_string(a_sStripe.size()) + " bytes: " + vt::ToHex(a_sStripe);
    }
    return "number " + Field(a_sStripe.substr(0, 10)) + ", kana " + Field(a_sStripe.substr(10, 24)) + ", birth " +
           Field(a_sStripe.substr(34, 8)) + ", sex " + Field(a_sStripe.substr(42, 1)) + ", kanji " +
           Field(a_sStripe.substr(45, 14)) + ", first " + Field(a_sStripe.substr(61, 8));
}

std::string RecordFrame(const std::string &a_sStripe) { return cmdtest::Wire("9" + a_sStripe); }

int Ink(const Image &a_stImg, uint32_t x, uint32_t y)
{
    if (x >= a_stImg.width || y >= a_stImg.height) {
        return 0;
    }
    uint32_t iRowBytes = (a_stImg.width + 7) / 8;
    return (a_stImg.data[y * iRowBytes + x / 8] >> (7 - x % 8)) & 1;
}

// Pixels where the card's picture and the drawing differ; -1 when the card
// has no picture of the machine's size.
int PictureDiff(const std::string &a_sPath, const std::vector<std::string> &a_vArt, int *a_iInk)
{
    HeaderInfo tHead = {nullptr, nullptr, nullptr};
    Image tImg = {0, 0, 0, nullptr};
    int iDiff = -1;
    *a_iInk = 0;
    if (ReadBmp(a_sPath.c_str(), &tHead, &tImg) == 0 && tImg.bitCnt == 1 && tImg.width == 480 &&
        tImg.height == 512) {
        iDiff = 0;
        for (uint32_t y = 0; y < 512; y++) {
            for (uint32_t x = 0; x < 480; x++) {
                int iWant = y < a_vArt.size() && x < a_vArt[y].size() && a_vArt[y][x] == '#';
                int iGot = Ink(tImg, x, y);
                iDiff += iWant != iGot;
                *a_iInk += iGot;
            }
        }
    }
    FreeImage(&tImg);
    FreeHeader(&tHead);
    return iDiff;
}

// ---- cards -------------------------------------------------------------------------------

struct CardRow {
    const char *szId;
    const char *szGroup;
    const char *szWhat;
    std::vector<std::pair<int, std::string>> vArgs;  // arguments put over the sample patient's
    Stripe tStripe;                                  // what the stripe must hold
    std::function<std::string()> fPicture = nullptr; // the bitmap file; nullptr: kDrawing
    std::vector<std::string> vInk = {};              // the card's picture, top left; with fPicture
    const char *szOutput = e2e::kAppend;
};

void PrintTo(const CardRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

class Card : public ::testing::TestWithParam<CardRow> {};

// The whole run goes through: every command answered, the stripe and the
// picture that the machine kept are the ones asked for.
TEST_P(Card, IssuedWithItsStripeAndPicture)
{
    const CardRow &c = GetParam();
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    const std::string sPath = m.tDir.file("card.bmp");
    vt::WriteFile(sPath, c.fPicture ? c.fPicture() : vt::MonoBmp(kDrawing));
    auto args = e2e::Args(m.Port(), sPath);
    for (const auto &a : c.vArgs) {
        args[static_cast<size_t>(a.first - 1)] = a.second;
    }
    e2e::Result r = e2e::Vestrun(args);
    m.Finish();

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    EXPECT_EQ(r.sErr, "");
    const std::string sStripe = c.tStripe.Bytes();
    ASSERT_EQ(sStripe.size(), 69u) << "the case's own stripe";
    const std::vector<std::string> vWant = {e2e::kClearAll,        e2e::kLedOn, e2e::kStatus, RecordFrame(sStripe),
                                            e2e::kWriteStandby, c.szOutput,  e2e::kLedOff};
    auto frames = m.Frames();
    EXPECT_EQ(e2e::Commands(frames), vWant);
    int iImage = 0;
    for (const auto &f : frames) {
        iImage += f.compare(0, 5, "02 4D") == 0;
    }
    const std::string sKept = vt::ReadFile(m.Card("stripe.bin"));
    EXPECT_EQ(vt::ToHex(sKept), vt::ToHex(sStripe));
    int iInk = 0;
    const int iDiff = PictureDiff(m.Card("picture.bmp"), c.fPicture ? c.vInk : kDrawing, &iInk);
    EXPECT_EQ(iDiff, 0) << "pixels where the card and the picture asked for differ";

    std::string sMachine = std::string("card ") + (c.szOutput == e2e::kAppend ? "G1" : "F1") + ", image frames: " +
                           std::to_string(iImage) + ", pixels inked: " + std::to_string(iInk) +
                           (iDiff == 0 ? " as drawn" : ", " + std::to_string(iDiff) + " wrong") + "; stripe: " +
                           StripeText(sKept);
    Seen s{"exit " + std::to_string(r.iStatus), r.Last(), r.sErr, sMachine};
    badin::Emit(c.szId, c.szGroup, c.szWhat, s);
}

const char kAtLimit[] = "Argument limits (at the limit)";
const char kOddNames[] = "Names the stripe takes as they are";
const char kOddPictures[] = "Pictures the reader takes";

std::string Repeat(const std::string &a_s, int a_iN)
{
    std::string out;
    for (int i = 0; i < a_iN; i++) {
        out += a_s;
    }
    return out;
}

Stripe With(std::function<void(Stripe &)> a_fSet)
{
    Stripe s;
    a_fSet(s);
    return s;
}

std::string Mono(int64_t a_iW, int64_t a_iH, const std::vector<std::string> &a_vArt, uint32_t a_iInfo = 40)
{
    vt::BmpPicture p;
    p.width = a_iW;
    p.height = a_iH;
    p.rows = vt::MonoRows(a_vArt);
    p.palette = vt::MonoPalette();
    p.infoLen = a_iInfo;
    return vt::BuildBmp(p);
}

const std::vector<std::string> kBars(8, "#.#.#.#.##..##..");
// The same rows read from the wrong place: the colour table (white, black)
// is taken for the bottom two rows and the picture moves up by two.
const std::vector<std::string> kBarsShifted = {
    "#.#.#.#.##..##..", "#.#.#.#.##..##..", "#.#.#.#.##..##..", "#.#.#.#.##..##..",
    "#.#.#.#.##..##..", "#.#.#.#.##..##..", "................", "################",
};
const std::vector<std::string> kCore = {
    "#...............................#",
    ".#.............................#.",
    "..#############################..",
};
std::vector<std::string> Corners()
{
    std::vector<std::string> art(512, std::string(480, '.'));
    for (size_t y : {size_t(0), size_t(511)}) {
        art[y][0] = art[y][479] = '#';
    }
    return art;
}
std::vector<std::string> Inverted()
{
    std::vector<std::string> art = kDrawing;
    for (auto &row : art) {
        for (auto &ch : row) {
            ch = ch == '#' ? '.' : '#';
        }
    }
    return art;
}

const CardRow kCardRows[] = {
    {"L01", kAtLimit, "1 host: 63 bytes (127.0.0.1 written 0000...0177.1)",
     {{1, std::string(58, '0') + "177.1"}}, Stripe()},
    {"L02", kAtLimit, "3 print style: empty (rewrite)", {{3, ""}}, Stripe(), nullptr, {}, e2e::kRewrite},
    {"L03", kAtLimit, "3 print style: 1 byte, \"1\" (rewrite)", {{3, "1"}}, Stripe(), nullptr, {}, e2e::kRewrite},
    {"L04", kAtLimit, "5 patient number: 10 digits", {{5, "1234567890"}},
     With([](Stripe &s) { s.sNumber = "1234567890"; })},
    {"L05", kAtLimit, "6 kanji name: 127 bytes, 山 x 63 and a", {{6, Repeat("山", 63) + "a"}},
     With([](Stripe &s) { s.sKanji = Repeat("\x3B\x33", 7); })},
    {"L06", kAtLimit, "7 kana name: 127 bytes, ヤ x 63 and A", {{7, Repeat("ヤ", 63) + "A"}},
     With([](Stripe &s) { s.sKana = "\x0E" + std::string(22, '\x54') + "\x0F"; })},
    {"L07", kAtLimit, "8 sex: 1 byte, \"2\"", {{8, "2"}}, With([](Stripe &s) { s.sSex = "2"; })},
    {"L08", kAtLimit, "9 birth date: 15 bytes, 19991231 (Fri.)", {{9, "19991231 (Fri.)"}},
     With([](Stripe &s) { s.sBirth = "19991231"; })},
    {"L09", kAtLimit, "10 first visit: 15 bytes, 20240401T093000", {{10, "20240401T093000"}}, Stripe()},
    {"K01", kOddNames, "7 kana name: lone half-width voicing marks ﾞﾟ", {{7, "ﾞﾟ"}},
     With([](Stripe &s) { s.sKana = vt::Hex("0E 5E 5F 0F 20 0E 0F") + std::string(17, ' '); })},
    {"K02", kOddNames, "7 kana name: ヵヶヮヰヱ, which have no half-width form (their JIS codes go on)",
     {{7, "ヵヶヮヰヱ"}},
     With([](Stripe &s) { s.sKana = vt::Hex("0E 25 75 25 76 25 6E 25 70 25 71 0F 20 0E 0F") + std::string(9, ' '); })},
    {"K03", kOddNames, "6 and 7: アイウ in UTF-8, which happens to read as Shift_JIS", {{6, u8"アイウ"}, {7, u8"アイウ"}},
     With([](Stripe &s) {
         s.sKana = vt::Hex("0E 65 62 22 65 62 24 65 62 26 0F 20 0E 0F") + std::string(10, ' ');
         s.sKanji = vt::Hex("65 62 A2 65 62 A4 65 62 A6") + std::string(5, '!');
     })},
    {"K04", kOddNames, "6 kanji name: half-width katakana ﾔﾏﾀﾞ ﾀﾛｳ (single bytes go on unchanged)", {{6, "ﾔﾏﾀﾞ ﾀﾛｳ"}},
     With([](Stripe &s) { s.sKanji = vt::Hex("D4 CF C0 DE 20 C0 DB B3") + std::string(6, '!'); })},
    {"P01", kOddPictures, "1 bit, width 0", {}, Stripe(), [] { return Mono(0, 8, {}); }, {}},
    {"P02", kOddPictures, "1 bit, height 0", {}, Stripe(), [] { return Mono(16, 0, {}); }, {}},
    {"P03", kOddPictures, "core header, 1 bit, 33 x 3", {}, Stripe(), [] { return Mono(33, 3, kCore, 12); }, kCore},
    {"P04", kOddPictures, "pixel-data offset 0 (rows read right after the info header)", {}, Stripe(),
     [] {
         std::string f = Mono(16, 8, kBars);
         vt::PutLe32(f, 10, 0);
         return f;
     },
     kBarsShifted},
    {"P05", kOddPictures, "a colour table of 70000 bytes before the rows", {}, Stripe(),
     [] {
         vt::BmpPicture p;
         p.width = 16;
         p.height = 8;
         p.rows = vt::MonoRows(kBars);
         p.palette = vt::MonoPalette() + std::string(70000 - 8, '\x55');
         return vt::BuildBmp(p);
     },
     kBars},
    {"P06", kOddPictures, "1 bit, 480 x 512, ink in the four corners", {}, Stripe(),
     [] { return vt::MonoBmp(Corners()); }, Corners()},
    {"P07", kOddPictures, "colour table black, white: index 1 is ink whatever its colour", {}, Stripe(),
     [] {
         vt::BmpPicture p;
         p.width = 16;
         p.height = 8;
         p.rows = vt::MonoRows(Inverted());
         p.palette = std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8);
         return vt::BuildBmp(p);
     },
     Inverted()},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Card, ::testing::ValuesIn(kCardRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

// ---- settings files ------------------------------------------------------------------

constexpr char kStyle2[] = "× 設定ファイル２を読み込むことができません。処理不可能n";
constexpr char kLayoutMsg[] = "× 設定ファイルを読み込むことができません。処理不可能n";
constexpr char kGoodStyle[] = "x,\n1,\n0,\n";  // era in kanji with units, short sex words
constexpr char kGoodLayout[] = "0,\n10,20,K,\n100,50,K,\n100,80,K,\n200,80,K,\n";
constexpr char kKanjiDate[] = "平成 1年 1月 8日";
constexpr char kLetterDate[] = "H 1/ 1/ 8";

// The "A" frame of kGoodLayout for the patient below.
std::string GoodBody(const std::string &a_sBirth, const std::string &a_sSex)
{
    return "A0,10,20,\x1B" "EK12345\x1BX100\x1BY050\x1B" "EK山田太郎\x1BX100\x1BY080\x1B" "EK" + a_sBirth +
           "\x1BX200\x1BY080\x1B" "EK" + a_sSex;
}

// A settings file: its bytes, or a folder in its place, or nothing.
struct SetFile {
    enum Kind { kMissing, kBytes, kFolder } eKind = kMissing;
    std::string sBytes;
};
SetFile Bytes(const std::string &a_s) { return {SetFile::kBytes, a_s}; }
const SetFile kMissing = {SetFile::kMissing, ""};
const SetFile kFolder = {SetFile::kFolder, ""};

struct SetRow {
    const char *szId;
    const char *szGroup;
    const char *szWhat;
    SetFile tStyle;
    SetFile tLayout;
    int iRet;
    std::vector<std::string> vLog;  // the command's own lines
    std::string sBody;              // the frame from the letter on; empty: nothing sent
};

void PrintTo(const SetRow &a_tRow, std::ostream *a_os) { *a_os << a_tRow.szId; }

// A frame for the table: text where it is text, <XX> for the other bytes; a
// long one keeps its first and last pieces.
std::string FrameText(const std::string &a_sFrame)
{
    std::vector<std::string> vPiece;
    for (size_t i = 0; i < a_sFrame.size(); i++) {
        unsigned char c = static_cast<unsigned char>(a_sFrame[i]);
        bool bLead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        unsigned char n = i + 1 < a_sFrame.size() ? static_cast<unsigned char>(a_sFrame[i + 1]) : 0;
        if (bLead && ((n >= 0x40 && n <= 0x7E) || (n >= 0x80 && n <= 0xFC))) {
            vPiece.push_back(a_sFrame.substr(i, 2));
            i++;
        } else if (c >= 0x20 && c < 0x7F && c != '<') {
            vPiece.push_back(std::string(1, static_cast<char>(c)));
        } else {
            char cHex[8];
            snprintf(cHex, sizeof cHex, "<%02X>", c);
            vPiece.push_back(cHex);
        }
    }
    std::string out;
    for (size_t i = 0; i < vPiece.size(); i++) {
        if (vPiece.size() > 120 && i == 80) {
            out += " ... ";
            i = vPiece.size() - 30;
        }
        out += vPiece[i];
    }
    return out;
}

class Settings : public ::testing::TestWithParam<SetRow> {};

TEST_P(Settings, CharacterSetFrameOrNothing)
{
    const SetRow &c = GetParam();
    vt::TempDir dir;
    auto put = [&dir](const char *a_szName, const SetFile &a_tFile) {
        if (a_tFile.eKind == SetFile::kBytes) {
            vt::WriteFile(dir.file(a_szName), a_tFile.sBytes);
        } else if (a_tFile.eKind == SetFile::kFolder) {
            ASSERT_EQ(mkdir(dir.file(a_szName).c_str(), 0700), 0);
        }
    };
    put("printstyle.txt", c.tStyle);
    put("printsetting.txt", c.tLayout);

    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    strcpy(p.szID, "12345");
    strcpy(p.szNameKANJI, "山田太郎");
    strcpy(p.szNameKanaZen, "ヤマダ　タロウ");
    p.cSEX = '1';
    strcpy(p.szBirthDate, "19890108");

    vt::Peer peer;
    if (!c.sBody.empty()) {
        cmdtest::Accept(peer);
    }
    char *szCwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    cmdtest::CmdRun r = cmdtest::RunCmd(peer, [&](int s) { return m_iCharSet(p, s); });
    EXPECT_EQ(chdir(szCwd), 0);
    free(szCwd);

    EXPECT_EQ(r.iRet, c.iRet);
    EXPECT_EQ(r.log, c.vLog);
    std::vector<std::string> vWire;
    if (!c.sBody.empty()) {
        vWire = {cmdtest::Wire(c.sBody), "06"};
    }
    EXPECT_EQ(r.wire, vWire);

    std::string sMachine = "nothing";
    if (!r.wire.empty()) {
        // The frame through its ETX as text, then its block check.
        std::string sFrame = vt::Hex(r.wire[0]);
        std::string sText = FrameText(sFrame.substr(0, sFrame.size() - 1));
        char cBcc[8];
        snprintf(cBcc, sizeof cBcc, "%02X", static_cast<unsigned char>(sFrame.back()));
        sMachine = "frame " + sText + ", block check " + cBcc + " (" + std::to_string(sFrame.size()) + " bytes)";
    }
    Seen s{"result " + std::to_string(r.iRet), badin::Join(r.log), "", sMachine};
    badin::Emit(c.szId, c.szGroup, c.szWhat, s);
}

const char kStyleGroup[] = "Print style file (printstyle.txt)";
const char kLayoutGroup[] = "Layout file (printsetting.txt)";

const std::vector<std::string> kSentShort = {"キャラクタセット開始", "性別設定", "　男", "キャラクタセット成功"};
const std::vector<std::string> kSentLong = {"キャラクタセット開始", "性別設定", "　男性", "キャラクタセット成功"};
const std::vector<std::string> kNoStyle = {"キャラクタセット開始", kStyle2, kStyle2};
const std::vector<std::string> kNoLayout = {"キャラクタセット開始", "性別設定", "　男", kLayoutMsg};
const std::vector<std::string> kTooBig = {"キャラクタセット開始", "性別設定", "　男", "× キャラクタセット失敗"};

std::string Lines(const std::string &a_sLine, int a_iN) { return Repeat(a_sLine, a_iN); }

// Files with NUL bytes in them, whole.
template <size_t N>
std::string Raw(const char (&a_c)[N])
{
    return std::string(a_c, N - 1);
}
constexpr char kStyleJunk[] = "\0\xFF\xFE\n\x1B\x03\x02,\n\xFF" "0,\n";
constexpr char kLayoutJunk[] = "\0junk\n\xFF\xFE,\x1B\x1B,\x7F,\n";

const SetRow kSetRows[] = {
    {"S01", kStyleGroup, "missing", kMissing, Bytes(kGoodLayout), -99, kNoStyle, ""},
    {"S02", kStyleGroup, "empty (letter era with slashes, long sex words)", Bytes(""), Bytes(kGoodLayout), 0,
     kSentLong, GoodBody(kLetterDate, "男性")},
    {"S03", kStyleGroup, "comments only", Bytes(";a\n;b\n;c\n"), Bytes(kGoodLayout), 0, kSentLong,
     GoodBody(kLetterDate, "男性")},
    {"S04", kStyleGroup, "a first line of 200 bytes: its pieces count as lines 0 and 1", 
     Bytes(std::string(200, 'x') + ",\n1,\n0,\n"), Bytes(kGoodLayout), 0, kSentLong, GoodBody(kLetterDate, "男性")},
    {"S05", kStyleGroup, "no trailing commas", Bytes("x\n1\n0\n"), Bytes(kGoodLayout), 0, kSentShort,
     GoodBody(kKanjiDate, "男")},
    {"S06", kStyleGroup, "Windows line ends", Bytes("x,\r\n1,\r\n0,\r\n"), Bytes(kGoodLayout), 0, kSentShort,
     GoodBody(kKanjiDate, "男")},
    {"S07", kStyleGroup, "huge numbers (only the first character counts)",
     Bytes("x,\n99999999999999999999,\n-99999999999999999999,\n"), Bytes(kGoodLayout), 0, kSentLong,
     GoodBody(kLetterDate, "男性")},
    {"S08", kStyleGroup, "binary junk: NUL, ESC, ETX, STX, FF", Bytes(Raw(kStyleJunk)),
     Bytes(kGoodLayout), 0, kSentLong, GoodBody(kLetterDate, "男性")},
    {"S09", kStyleGroup, "a folder of that name", kFolder, Bytes(kGoodLayout), -99, kNoStyle, ""},
    {"T01", kLayoutGroup, "missing", Bytes(kGoodStyle), kMissing, -99, kNoLayout, ""},
    {"T02", kLayoutGroup, "empty", Bytes(kGoodStyle), Bytes(""), 0, kSentShort, "A"},
    {"T03", kLayoutGroup, "comments only", Bytes(kGoodStyle), Bytes(";head\n;number\n"), 0, kSentShort, "A"},
    {"T04", kLayoutGroup, "a first line of 204 bytes: its second piece becomes line 1",
     Bytes(kGoodStyle), Bytes("0," + std::string(200, 'A') + ",\n100,50,K,\n"), 0, kSentShort,
     "A0," + std::string(75, 'A') + "\x1BX100\x1BY050\x1B" "EK山田太郎"},
    {"T05", kLayoutGroup, "no trailing commas: the last field keeps its line feed", Bytes(kGoodStyle),
     Bytes("0\n10,20,K\n100,50,K\n"), 0, kSentShort,
     "A0\n,10,20,\x1B" "EK\n12345\x1BX100\x1BY050\x1B" "EK\n山田太郎"},
    {"T06", kLayoutGroup, "Windows line ends after trailing commas", Bytes(kGoodStyle),
     Bytes("0,\r\n10,20,K,\r\n100,50,K,\r\n"), 0, kSentShort,
     "A0,10,20,\x1B" "EK12345\x1BX100\x1BY050\x1B" "EK山田太郎"},
    {"T07", kLayoutGroup, "huge positions (held at the int range)", Bytes(kGoodStyle),
     Bytes("0,\n\n99999999999999999999,-99999999999999999999,K,\n"), 0, kSentShort,
     "A0\x1BX2147483647\x1BY-2147483648\x1B" "EK山田太郎"},
    {"T08", kLayoutGroup, "binary junk: NUL, FF FE, ESC, DEL", Bytes(kGoodStyle),
     Bytes(Raw(kLayoutJunk)), 0, kSentShort,
     "A,\xFF\xFE,\x1B\x1B,\x1B" "E\x7F" "12345"},
    {"T09", kLayoutGroup, "ETX (03) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x03,\n"), -99, kTooBig, ""},
    {"T10", kLayoutGroup, "STX (02) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x02,\n"), -99, kTooBig, ""},
    {"T11", kLayoutGroup, "a folder of that name", Bytes(kGoodStyle), kFolder, -99, kNoLayout, ""},
    {"T12", kLayoutGroup, "a layout that fills the frame: 895 bytes and the block check", Bytes(kGoodStyle),
     Bytes("00,\n\n" + Lines("1,2,\n", 89)), 0, kSentShort, "A00" + Lines("\x1BX001\x1BY002", 89)},
    {"T13", kLayoutGroup, "one byte more than the frame holds", Bytes(kGoodStyle),
     Bytes("000,\n\n" + Lines("1,2,\n", 89)), -99, kTooBig, ""},
    {"T14", kLayoutGroup, "10000 position lines", Bytes(kGoodStyle), Bytes("0,\n\n" + Lines("1,2,\n", 10000)), -99,
     kTooBig, ""},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Settings, ::testing::ValuesIn(kSetRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
