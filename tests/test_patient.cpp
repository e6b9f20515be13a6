// The issuing run's own work before the machine: argument limits, the record,
// the kana name pipeline, the kana trace line and the picture bounds.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "testutil.h"

namespace {

// A good set of ten arguments (Shift_JIS names), with one of them replaced.
struct Args {
    std::vector<std::string> sArg = {"vestrun", "127.0.0.1", "9100", "0", "card.bmp", "12345",
                                     "山田太郎", "ヤマダ　タロウ", "1", "19700101", "20240401"};
    std::vector<char *> Argv()
    {
        std::vector<char *> p;
        for (auto &s : sArg) {
            p.push_back(s.data());
        }
        p.push_back(nullptr);
        return p;
    }
};

std::string Kana(const char *a_szZen)
{
    char cOut[128];
    memset(cOut, 0x55, sizeof cOut);  // anything left over would show
    vKanaPipeline(a_szZen, cOut);
    return std::string(cOut, strnlen(cOut, sizeof cOut));
}

TEST(ArgCheck, RefusesWhatTheRecordCannotHoldWhole)
{
    const std::string s127(127, 'a');
    struct Case {
        int iArg;
        std::string sVal;
        int iWant;
    } cases[] = {
        {0, "", 0},  // the good set as it stands
        {1, std::string(63, 'h'), 0},
        {1, std::string(64, 'h'), 1},
        {3, "", 0},   // empty style: rewrite
        {3, "1", 0},
        {3, "01", 3},
        {5, "1234567890", 0},
        {5, "12345678901", 5},  // never cut: a cut number names another patient
        {6, s127, 0},
        {6, s127 + "a", 6},
        {7, s127, 0},
        {7, s127 + "a", 7},
        {8, "", 8},          // the stripe's sex byte cannot be NUL
        {8, "12", 8},
        {8, "19700101", 8},  // birth date given where the usage line's labels put it
        {9, std::string(15, '1'), 0},
        {9, std::string(16, '1'), 9},
        {10, std::string(15, '2'), 0},
        {10, std::string(16, '2'), 10},
        // Port and bitmap path have no byte limit of their own.
        {2, std::string(200, '9'), 0},
        {4, std::string(300, 'p'), 0},
    };
    for (const auto &c : cases) {
        Args a;
        if (c.iArg != 0) {
            a.sArg[c.iArg] = c.sVal;
        }
        auto argv = a.Argv();
        EXPECT_EQ(iArgCheck(11, argv.data()), c.iWant) << "argument " << c.iArg << " of " << c.sVal.size() << " bytes";
    }
    // The first bad one is named; short lists are refused without reading past argc.
    Args a;
    a.sArg[5] = "123456789012";
    a.sArg[9] = "1970-01-01-XXXX-YYYY";
    auto argv = a.Argv();
    EXPECT_EQ(iArgCheck(11, argv.data()), 5);
    EXPECT_EQ(iArgCheck(10, argv.data()), 1);
}

// Text that would break the stripe is refused with its argument, before the
// operator is asked for a card, instead of failing at the magnetic write or
// going onto the card cut short.
TEST(ArgCheck, RefusesNamesThatAreNotShiftJisAndControlBytesOnTheStripe)
{
    struct Case {
        int iArg;
        std::string sVal;
        int iWant;
    } cases[] = {
        {6, "山田\x88", 6},                     // lead byte at the end
        {7, "ヤマダ\x83", 7},                   // would become ETX in the 7-bit name
        {7, "ヤマダ\x83 ", 7},                  // lead byte before a blank
        {7, "\x80タロウ", 7},                    // would become a NUL and cut the name
        {6, "\xA0", 6},                         // no character begins with these
        {6, "\xFD\x40", 6},
        {7, u8"ヤマダ　タロウ", 7},               // UTF-8 that breaks as Shift_JIS
        {6, "山\x03田", 6},
        {7, "ヤマ\x0Eダ", 7},
        {6, "山田\x7F", 6},
        {5, "123\x02", 5},
        {8, "\x1B", 8},
        {9, "1970\t0101", 9},
        {10, "2024\x0F", 10},
        // Whole characters of every kind pass: half-width kana, ASCII, kanji,
        // trail bytes in both ranges, the last lead byte.
        {7, "ｶﾞｷﾞ ﾊﾟ", 0},
        {6, "Yamada Taro", 0},
        {6, "表\x83\x80\xFC\xFC", 0},
        {3, "\x03", 0},  // the style flag and the host never reach the stripe
        {1, "host\x01", 0},
    };
    for (const auto &c : cases) {
        Args a;
        a.sArg[c.iArg] = c.sVal;
        auto argv = a.Argv();
        EXPECT_EQ(iArgCheck(11, argv.data()), c.iWant) << "argument " << c.iArg << ": " << vt::ToHex(c.sVal);
    }
}

TEST(KanaPipeline, FullWidthKanaBecomesSevenBitHalfWidthCodes)
{
    struct Case {
        const char *szZen;
        std::string sWant;
    } cases[] = {
        {"テスト　データ", vt::Hex("43 3D 44 20 43 5E 30 40")},
        {"ヤマダ　タロウ", vt::Hex("54 4F 40 5E 20 40 5B 33")},
        {"ガ", vt::Hex("36 5E")},  // voiced: base kana and the voicing mark
        {"パ", vt::Hex("4A 5F")},  // semi-voiced
        {"AB12", "AB12"},          // ASCII passes unchanged
        {"ヤマダ 1", vt::Hex("54 4F 40 5E 20 31")},
        {"", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(vt::ToHex(Kana(c.szZen)), vt::ToHex(c.sWant)) << c.szZen;
    }
}

TEST(KanaPipeline, EverythingBehindTheNameIsZero)
{
    char cOut[128];
    memset(cOut, 0x7F, sizeof cOut);
    vKanaPipeline("ガ", cOut);
    for (size_t i = 2; i < sizeof cOut; i++) {
        ASSERT_EQ(cOut[i], 0) << i;
    }
    // A name of the longest argument stays inside the field and is terminated.
    std::string sLong;
    for (int i = 0; i < 63; i++) {
        sLong += "ア";
    }
    sLong += "A";  // 127 bytes
    memset(cOut, 0x7F, sizeof cOut);
    vKanaPipeline(sLong.c_str(), cOut);
    EXPECT_EQ(strnlen(cOut, sizeof cOut), 64u);
    EXPECT_EQ(cOut[0], 0x31);
    EXPECT_EQ(cOut[63], 'A');
}

TEST(PatFill, FieldsComeFromTheirArguments)
{
    Args a;
    a.sArg[3] = "";
    a.sArg[5] = "1234567890";
    auto argv = a.Argv();
    T_PAT_INF tPat;
    memset(&tPat, 0x5A, sizeof tPat);
    unsigned char cPix = 0;
    tPat.stImg = Image{2, 3, 1, &cPix};
    vPatFill(&tPat, argv.data());

    EXPECT_EQ(tPat.cStyFlg, '\0');  // empty: the rewrite output
    EXPECT_EQ(std::string(tPat.szID), "1234567890");
    EXPECT_EQ(std::string(tPat.szNameKANJI), "山田太郎");
    EXPECT_EQ(std::string(tPat.szNameKanaZen), "ヤマダ　タロウ");
    EXPECT_EQ(vt::ToHex(tPat.szNameKANA), "54 4F 40 5E 20 40 5B 33");
    EXPECT_EQ(tPat.cSEX, '1');
    EXPECT_EQ(std::string(tPat.szBirthDate), "19700101");
    EXPECT_EQ(std::string(tPat.szFirstDate), "20240401");
    // Behind each text only zero bytes, as the magnetic write expects.
    for (size_t i = strlen(tPat.szNameKANJI); i < sizeof tPat.szNameKANJI; i++) {
        ASSERT_EQ(tPat.szNameKANJI[i], 0);
    }
    for (size_t i = 8; i < sizeof tPat.szFirstDate; i++) {
        ASSERT_EQ(tPat.szFirstDate[i], 0);
    }
    // The picture belongs to the bitmap read, not to the arguments.
    EXPECT_EQ(tPat.stImg.data, &cPix);
    EXPECT_EQ(tPat.stImg.width, 3u);
}

TEST(KanaTrace, WritesTheDesignationTheNameAndANewline)
{
    vt::TempDir dir;
    std::string sPath = dir.file("jisTest.txt");
    vt::WriteFile(sPath, std::string(500, 'x'));  // an older, longer trace is replaced
    char cKana[128];
    vKanaPipeline("テスト　データ", cKana);
    ASSERT_EQ(iKanaTrace(sPath.c_str(), cKana), 0);
    EXPECT_EQ(vt::ToHex(vt::ReadFile(sPath)), "1B 28 49 43 3D 44 20 43 5E 30 40 0A");

    // However long the name, the line is written whole.
    std::string sLong(400, 'K');
    ASSERT_EQ(iKanaTrace(sPath.c_str(), sLong.c_str()), 0);
    EXPECT_EQ(vt::ReadFile(sPath), "\x1B(I" + sLong + "\n");
}

TEST(KanaTrace, LeavesLinksPipesAndMissingFoldersAlone)
{
    vt::TempDir dir;
    std::string sTarget = dir.file("victim");
    vt::WriteFile(sTarget, "keep me");
    std::string sLink = dir.file("link");
    ASSERT_EQ(symlink(sTarget.c_str(), sLink.c_str()), 0);
    EXPECT_EQ(iKanaTrace(sLink.c_str(), "ABC"), -1);
    EXPECT_EQ(vt::ReadFile(sTarget), "keep me");

    // A pipe nobody reads must not hold the run up.
    std::string sFifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0644), 0);
    EXPECT_EQ(iKanaTrace(sFifo.c_str(), "ABC"), -1);

    EXPECT_EQ(iKanaTrace(dir.file("no/such/folder").c_str(), "ABC"), -1);
}

TEST(BmpCheck, OnlyWhatThePictureBufferTakes)
{
    struct Case {
        uint32_t iBits, iW, iH;
        int iWant;
    } cases[] = {
        {1, 480, 512, 0}, {1, 1, 1, 0},     {1, 481, 512, -1}, {1, 480, 513, -1},
        {24, 100, 100, -1}, {4, 100, 100, -1}, {8, 480, 512, -1}, {1, 0xFFFFFFFFu, 1, -1},
    };
    for (const auto &c : cases) {
        Image img{c.iH, c.iW, c.iBits, nullptr};
        char cWhy[160] = "";
        EXPECT_EQ(iBmpCheck(&img, cWhy, sizeof cWhy), c.iWant) << c.iBits << " " << c.iW << "x" << c.iH;
        if (c.iWant != 0) {
            // The reason names what was found and what is taken.
            std::string sWhy = cWhy;
            EXPECT_NE(sWhy.find(std::to_string(c.iBits) + " bit"), std::string::npos) << sWhy;
            EXPECT_NE(sWhy.find(std::to_string(c.iW) + " x " + std::to_string(c.iH)), std::string::npos) << sWhy;
            EXPECT_NE(sWhy.find("480 x 512"), std::string::npos) << sWhy;
        }
    }
}

}  // namespace
