// Bad input that does reach the machine: arguments at their limits, names and
// pictures that are odd but can be carried, each issued as a whole card
// against vestrun-sim with its stripe and picture checked; and broken
// settings files for the character set command, whose frame (or its absence)
// is checked on the wire of the scripted peer. The refusals before the
// machine are in test_badinput.cpp; docs/bad-input.md is made from both.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "badinput.h"
#include "bmpfile.h"
#include "command_peer.h"
#include "slow_e2e.h"

namespace {

using badin::Repeat;
using sample::Stripe;
using badin::Seen;

// ---- cards -----------------------------------------------------------------------

// The picture of the cards below unless a case brings its own: 16 x 8, two
// bands of ink in one byte-row.
const std::vector<std::string> kDrawing = {
    "#...#..#######..", "#...#.....#.....", "#...#.....#.....", ".#.#......#.....",
    ".#.#......#.....", "..#.......#.....", "..#.......#.....", "................",
};

// The stripe for the table, field by field: text where it is text, else hex.
std::string StripeText(const std::string &a_sStripe)
{
    if (a_sStripe.size() != 69) {
        return "stripe of " + std::to_string(a_sStripe.size()) + " bytes: " + vt::ToHex(a_sStripe);
    }
    static const struct {
        const char *szName;
        size_t iAt, iLen;
    } kFields[] = {{"number", 0, 10}, {"kana", 10, 24}, {"birth", 34, 8}, {"sex", 42, 1}, {"kanji", 45, 14}, {"first", 61, 8}};
    std::string out;
    for (const auto &f : kFields) {
        const std::string v = a_sStripe.substr(f.iAt, f.iLen);
        bool bText = true;
        for (unsigned char c : v) bText = bText && c >= 0x20 && c <= 0x7E;
        out += (out.empty() ? "" : ", ") + std::string(f.szName) + " " + (bText ? "'" + v + "'" : vt::ToHex(v));
    }
    return out;
}

struct CardRow {
    const char *szId, *szWhat;
    std::vector<std::pair<int, std::string>> vArgs;  // arguments put over the sample patient's
    Stripe tStripe;                                  // what the stripe must hold
    std::function<std::string()> fPicture = nullptr; // the bitmap file; nullptr: kDrawing
    std::vector<std::string> vInk = {};              // the card's picture, top left; with fPicture
    const char *szOutput = sample::kAppend;
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
    auto args = sample::Args(m.Port(), sPath);
    for (const auto &a : c.vArgs) args[static_cast<size_t>(a.first - 1)] = a.second;
    badin::Run r = badin::Vestrun(args);
    m.Finish();

    EXPECT_EQ(r.iStatus, 0) << r.sErr;
    EXPECT_EQ(r.Last(), "切断");
    EXPECT_EQ(r.sErr, "");
    const std::string sStripe = c.tStripe.Bytes();
    auto frames = m.Frames();
    EXPECT_EQ(e2e::Commands(frames), (std::vector<std::string>{sample::kClearAll, sample::kLedOn, sample::kStatus,
                                                               sample::Wire("9" + sStripe), sample::kWriteStandby,
                                                               c.szOutput, sample::kLedOff}));
    const std::string sKept = vt::ReadFile(m.Card("stripe.bin"));
    EXPECT_EQ(vt::ToHex(sKept), vt::ToHex(sStripe));
    // The card's picture against the one asked for, pixel by pixel.
    const auto vGot = e2e::Art(m.Card("picture.bmp"));
    const auto &vArt = c.fPicture ? c.vInk : kDrawing;
    int iInk = 0, iDiff = vGot.size() == 512 && vGot[0].size() == 480 ? 0 : -1;
    for (size_t y = 0; y < 512 && iDiff >= 0; y++) {
        for (size_t x = 0; x < 480; x++) {
            iInk += vGot[y][x] == '#';
            iDiff += (vGot[y][x] == '#') != (y < vArt.size() && x < vArt[y].size() && vArt[y][x] == '#');
        }
    }
    EXPECT_EQ(iDiff, 0) << "pixels where the card and the picture asked for differ";

    int iImage = 0;
    for (const auto &f : frames) iImage += f.compare(0, 5, "02 4D") == 0;
    std::string sMachine = std::string("card ") + (c.szOutput == sample::kAppend ? "G1" : "F1") + ", image frames: " +
                           std::to_string(iImage) + ", pixels inked: " + std::to_string(iInk) +
                           (iDiff == 0 ? " as drawn" : ", " + std::to_string(iDiff) + " wrong") + "; stripe: " +
                           StripeText(sKept);
    const char *szGroup = c.szId[0] == 'L'   ? "Argument limits (at the limit)"
                          : c.szId[0] == 'K' ? "Names the stripe takes as they are"
                                             : "Pictures the reader takes";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{"exit " + std::to_string(r.iStatus), r.Last(), r.sErr, sMachine});
}

Stripe With(std::function<void(Stripe &)> a_fSet)
{
    Stripe s;
    a_fSet(s);
    return s;
}

std::string Mono(int64_t a_iW, int64_t a_iH, const std::vector<std::string> &a_vArt, uint32_t a_iInfo = 40,
                 const std::string &a_sPalette = vt::MonoPalette())
{
    vt::BmpPicture p;
    p.width = a_iW;
    p.height = a_iH;
    p.rows = vt::MonoRows(a_vArt);
    p.palette = a_sPalette;
    p.infoLen = a_iInfo;
    return vt::BuildBmp(p);
}

const std::vector<std::string> kBars(8, "#.#.#.#.##..##..");
// The same rows read from the wrong place: the colour table (white, black)
// is taken for the bottom two rows and the picture moves up by two.
const std::vector<std::string> kBarsShifted = {
    kBars[0], kBars[0], kBars[0], kBars[0], kBars[0], kBars[0], "................", "################",
};
const std::vector<std::string> kCore = {
    "#...............................#",
    ".#.............................#.",
    "..#############################..",
};
std::vector<std::string> Corners()
{
    std::vector<std::string> art(512, std::string(480, '.'));
    art[0][0] = art[0][479] = art[511][0] = art[511][479] = '#';
    return art;
}
std::vector<std::string> Inverted()
{
    std::vector<std::string> art = kDrawing;
    for (auto &row : art) {
        for (auto &ch : row) ch = ch == '#' ? '.' : '#';
    }
    return art;
}

const CardRow kCardRows[] = {
    {"L01", "1 host: 63 bytes (127.0.0.1 written 0000...0177.1)", {{1, std::string(58, '0') + "177.1"}}, Stripe()},
    {"L02", "3 print style: empty (rewrite)", {{3, ""}}, Stripe(), nullptr, {}, sample::kRewrite},
    {"L03", "5 patient number: 10 digits", {{5, "1234567890"}}, With([](Stripe &s) { s.sNumber = "1234567890"; })},
    {"L04", "6 kanji name: 127 bytes, 山 x 63 and a", {{6, Repeat("山", 63) + "a"}},
     With([](Stripe &s) { s.sKanji = Repeat("\x3B\x33", 7); })},
    {"L05", "7 kana name: 127 bytes, ヤ x 63 and A", {{7, Repeat("ヤ", 63) + "A"}},
     With([](Stripe &s) { s.sKana = "\x0E" + std::string(22, '\x54') + "\x0F"; })},
    {"L06", "8 sex: 1 byte, \"2\"", {{8, "2"}}, With([](Stripe &s) { s.sSex = "2"; })},
    {"L07", "9 birth date: 15 bytes, 19991231 (Fri.)", {{9, "19991231 (Fri.)"}},
     With([](Stripe &s) { s.sBirth = "19991231"; })},
    {"L08", "10 first visit: 15 bytes, 20240401T093000", {{10, "20240401T093000"}}, Stripe()},
    {"K01", "7 kana name: lone half-width voicing marks ﾞﾟ", {{7, "ﾞﾟ"}},
     With([](Stripe &s) { s.sKana = vt::Hex("0E 5E 5F 0F 20 0E 0F") + std::string(17, ' '); })},
    {"K02", "7 kana name: ヵヶヮヰヱ, which have no half-width form (their JIS codes go on)", {{7, "ヵヶヮヰヱ"}},
     With([](Stripe &s) { s.sKana = vt::Hex("0E 25 75 25 76 25 6E 25 70 25 71 0F 20 0E 0F") + std::string(9, ' '); })},
    {"K03", "6 and 7: アイウ in UTF-8, which happens to read as Shift_JIS", {{6, u8"アイウ"}, {7, u8"アイウ"}},
     With([](Stripe &s) {
         s.sKana = vt::Hex("0E 65 62 22 65 62 24 65 62 26 0F 20 0E 0F") + std::string(10, ' ');
         s.sKanji = vt::Hex("65 62 A2 65 62 A4 65 62 A6") + std::string(5, '!');
     })},
    {"K04", "6 kanji name: half-width katakana ﾔﾏﾀﾞ ﾀﾛｳ (single bytes go on unchanged)", {{6, "ﾔﾏﾀﾞ ﾀﾛｳ"}},
     With([](Stripe &s) { s.sKanji = vt::Hex("D4 CF C0 DE 20 C0 DB B3") + std::string(6, '!'); })},
    {"P01", "1 bit, width 0", {}, Stripe(), [] { return Mono(0, 8, {}); }, {}},
    {"P02", "1 bit, height 0", {}, Stripe(), [] { return Mono(16, 0, {}); }, {}},
    {"P03", "core header, 1 bit, 33 x 3", {}, Stripe(), [] { return Mono(33, 3, kCore, 12); }, kCore},
    {"P04", "pixel-data offset 0 (rows read right after the info header)", {}, Stripe(),
     [] {
         std::string f = Mono(16, 8, kBars);
         vt::PutLe32(f, 10, 0);
         return f;
     },
     kBarsShifted},
    {"P05", "a colour table of 70000 bytes before the rows", {}, Stripe(),
     [] { return Mono(16, 8, kBars, 40, vt::MonoPalette() + std::string(70000 - 8, '\x55')); }, kBars},
    {"P06", "1 bit, 480 x 512, ink in the four corners", {}, Stripe(), [] { return vt::MonoBmp(Corners()); }, Corners()},
    {"P07", "colour table black, white: index 1 is ink whatever its colour", {}, Stripe(),
     [] { return Mono(16, 8, Inverted(), 40, std::string("\x00\x00\x00\x00\xFF\xFF\xFF\x00", 8)); }, Inverted()},
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
    enum Kind { kMissing, kBytes, kFolder } eKind;
    std::string sBytes;
};
SetFile Bytes(const std::string &a_s) { return {SetFile::kBytes, a_s}; }
const SetFile kMissing = {SetFile::kMissing, ""};
const SetFile kFolder = {SetFile::kFolder, ""};

struct SetRow {
    const char *szId, *szWhat;
    SetFile tStyle, tLayout;
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
        unsigned char n = i + 1 < a_sFrame.size() ? static_cast<unsigned char>(a_sFrame[i + 1]) : 0;
        char cHex[8];
        snprintf(cHex, sizeof cHex, "<%02X>", c);
        if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && n >= 0x40 && n <= 0xFC && n != 0x7F) {
            vPiece.push_back(a_sFrame.substr(i++, 2));
        } else {
            vPiece.push_back(c >= 0x20 && c < 0x7F && c != '<' ? std::string(1, static_cast<char>(c)) : cHex);
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
    for (const auto &f : {std::make_pair("printstyle.txt", c.tStyle), std::make_pair("printsetting.txt", c.tLayout)}) {
        if (f.second.eKind == SetFile::kBytes) {
            vt::WriteFile(dir.file(f.first), f.second.sBytes);
        } else if (f.second.eKind == SetFile::kFolder) {
            ASSERT_EQ(mkdir(dir.file(f.first).c_str(), 0700), 0);
        }
    }
    T_PAT_INF p = sample::Patient();
    strcpy(p.szBirthDate, "19890108");
    vt::Peer peer;
    if (!c.sBody.empty()) cmdtest::Accept(peer);
    char *szCwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    cmdtest::CmdRun r = cmdtest::RunCmd(peer, [&](int s) { return m_iCharSet(p, s); });
    EXPECT_EQ(chdir(szCwd), 0);
    free(szCwd);

    EXPECT_EQ(r.iRet, c.iRet);
    EXPECT_EQ(r.log, c.vLog);
    const cmdtest::Lines vWire = c.sBody.empty() ? cmdtest::Lines{} : cmdtest::Lines{sample::Wire(c.sBody), "06"};
    EXPECT_EQ(r.wire, vWire);

    std::string sMachine = "nothing";
    if (!r.wire.empty()) {
        // The frame through its ETX as text, then its block check.
        std::string sFrame = vt::Hex(r.wire[0]);
        sMachine = "frame " + FrameText(sFrame.substr(0, sFrame.size() - 1)) + ", block check " +
                   vt::ToHex(sFrame.substr(sFrame.size() - 1)) + " (" + std::to_string(sFrame.size()) + " bytes)";
    }
    const char *szGroup = c.szId[0] == 'S' ? "Print style file (printstyle.txt)" : "Layout file (printsetting.txt)";
    badin::Emit(c.szId, szGroup, c.szWhat, Seen{"result " + std::to_string(r.iRet), badin::Join(r.log), "", sMachine});
}

const std::vector<std::string> kSentShort = {"キャラクタセット開始", "性別設定", "　男", "キャラクタセット成功"};
const std::vector<std::string> kSentLong = {"キャラクタセット開始", "性別設定", "　男性", "キャラクタセット成功"};
const std::vector<std::string> kNoStyle = {"キャラクタセット開始", kStyle2, kStyle2};
const std::vector<std::string> kNoLayout = {"キャラクタセット開始", "性別設定", "　男", kLayoutMsg};
const std::vector<std::string> kTooBig = {"キャラクタセット開始", "性別設定", "　男", "× キャラクタセット失敗"};
const std::string kLayoutJunk = std::string("\0junk\n", 6) + "\xFF\xFE,\x1B\x1B,\x7F,\n";

const SetRow kSetRows[] = {
    {"S01", "missing", kMissing, Bytes(kGoodLayout), -99, kNoStyle, ""},
    {"S02", "empty (letter era with slashes, long sex words)", Bytes(""), Bytes(kGoodLayout), 0,
     kSentLong, GoodBody(kLetterDate, "男性")},
    {"S03", "a first line of 200 bytes: its pieces count as lines 0 and 1", 
     Bytes(std::string(200, 'x') + ",\n1,\n0,\n"), Bytes(kGoodLayout), 0, kSentLong, GoodBody(kLetterDate, "男性")},
    {"S04", "no trailing commas", Bytes("x\n1\n0\n"), Bytes(kGoodLayout), 0, kSentShort,
     GoodBody(kKanjiDate, "男")},
    {"S05", "Windows line ends", Bytes("x,\r\n1,\r\n0,\r\n"), Bytes(kGoodLayout), 0, kSentShort,
     GoodBody(kKanjiDate, "男")},
    {"S06", "huge numbers (only the first character counts)",
     Bytes("x,\n99999999999999999999,\n-99999999999999999999,\n"), Bytes(kGoodLayout), 0, kSentLong,
     GoodBody(kLetterDate, "男性")},
    {"S07", "a folder of that name", kFolder, Bytes(kGoodLayout), -99, kNoStyle, ""},
    {"T01", "missing", Bytes(kGoodStyle), kMissing, -99, kNoLayout, ""},
    {"T02", "empty", Bytes(kGoodStyle), Bytes(""), 0, kSentShort, "A"},
    {"T03", "a first line of 204 bytes: its second piece becomes line 1",
     Bytes(kGoodStyle), Bytes("0," + std::string(200, 'A') + ",\n100,50,K,\n"), 0, kSentShort,
     "A0," + std::string(75, 'A') + "\x1BX100\x1BY050\x1B" "EK山田太郎"},
    {"T04", "no trailing commas: the last field keeps its line feed", Bytes(kGoodStyle),
     Bytes("0\n10,20,K\n100,50,K\n"), 0, kSentShort,
     "A0\n,10,20,\x1B" "EK\n12345\x1BX100\x1BY050\x1B" "EK\n山田太郎"},
    {"T05", "Windows line ends after trailing commas", Bytes(kGoodStyle),
     Bytes("0,\r\n10,20,K,\r\n100,50,K,\r\n"), 0, kSentShort,
     "A0,10,20,\x1B" "EK12345\x1BX100\x1BY050\x1B" "EK山田太郎"},
    {"T06", "huge positions (held at the int range)", Bytes(kGoodStyle),
     Bytes("0,\n\n99999999999999999999,-99999999999999999999,K,\n"), 0, kSentShort,
     "A0\x1BX2147483647\x1BY-2147483648\x1B" "EK山田太郎"},
    {"T07", "binary junk: NUL, FF FE, ESC, DEL", Bytes(kGoodStyle),
     Bytes(kLayoutJunk), 0, kSentShort,
     "A,\xFF\xFE,\x1B\x1B,\x1B" "E\x7F" "12345"},
    {"T08", "ETX (03) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x03,\n"), -99, kTooBig, ""},
    {"T09", "STX (02) in an attribute", Bytes(kGoodStyle), Bytes("0,\n10,20,\x02,\n"), -99, kTooBig, ""},
    {"T10", "a folder of that name", Bytes(kGoodStyle), kFolder, -99, kNoLayout, ""},
    {"T11", "a layout that fills the frame: 895 bytes and the block check", Bytes(kGoodStyle),
     Bytes("00,\n\n" + Repeat("1,2,\n", 89)), 0, kSentShort, "A00" + Repeat("\x1BX001\x1BY002", 89)},
    {"T12", "one byte more than the frame holds", Bytes(kGoodStyle),
     Bytes("000,\n\n" + Repeat("1,2,\n", 89)), -99, kTooBig, ""},
};
INSTANTIATE_TEST_SUITE_P(BadInput, Settings, ::testing::ValuesIn(kSetRows),
                         [](const auto &a_tInfo) { return std::string(a_tInfo.param.szId); });

}  // namespace
