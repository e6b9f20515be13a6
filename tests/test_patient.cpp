// The issuing run's own work before the machine: what the argument check lets
// through, the port, the kana name pipeline and the trace file. (What it
// refuses is the bad input table's.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "patient.h"
#include "sample_card.h"
#include "testutil.h"
#include "trace.h"

namespace {

using vt::Hex;
using vt::Repeat;

// Arguments at their limits and text that must pass; which argument is named.
TEST(ArgCheck, LetsWholeCharactersAndFieldsAtTheirLimitThrough)
{
    const struct {
        int iArg;
        std::string sVal;
        int iWant;
    } cases[] = {
        {1, std::string(63, 'h'), 0},
        {3, "", 0},
        {5, "1234567890", 0},
        {6, Repeat("山", 63) + "a", 0},
        {7, Repeat("ヤ", 63) + "A", 0},
        {8, "2", 0},
        {9, "19991231 (Fri.)", 0},
        {10, "20240401T093000", 0},
        {7, "ｶﾞｷﾞ ﾊﾟ", 0},
        {6, "表\x83\x80\xFC\xFC", 0},  // trail bytes of both ranges, the last lead
        {3, "\x03", 0},
        {1, "host\x01", 0},  // style flag and host never reach the stripe
        {2, std::string(200, '9'), 0},
        {4, std::string(300, 'p'), 0},  // no limit of their own
        {7, "ヤマダ\x83 ", 7},          // a lead byte before a blank
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = sample::Args(9100, "card.bmp");
        args.insert(args.begin(), "vestrun");
        args[size_t(c.iArg)] = c.sVal;
        std::vector<char *> argv;
        for (auto &s : args) argv.push_back(&s[0]);
        EXPECT_EQ(iArgCheck(11, argv.data()), c.iWant) << c.iArg << ": " << vt::ToHex(c.sVal);
        argv[9][0] = '\x7F', argv[5][0] = '\x01';  // two bad: the first is named
        EXPECT_EQ(iArgCheck(11, argv.data()), 5) << c.iArg;
        EXPECT_EQ(iArgCheck(10, argv.data()), 1);  // too few: nothing past argc is read
    }
    EXPECT_EQ(iArgCheck(11, nullptr), 1);
}

TEST(PortRead, LeadingBlanksSignAndDigitsUpToTheFirstOtherByte)
{
    EXPECT_EQ(iPortRead("9100"), 9100);
    EXPECT_EQ(iPortRead("  +12x5"), 12);
    EXPECT_EQ(iPortRead("-1"), -1);
    EXPECT_EQ(iPortRead("port"), 0);
    EXPECT_EQ(iPortRead(nullptr), 0);
}

// Full-width kana to 7-bit half-width codes; zeros behind the name, and the
// longest name stays inside its 128 bytes.
TEST(KanaPipeline, FullWidthKanaBecomesSevenBitHalfWidthCodes)
{
    const struct {
        std::string sZen, sWant;
    } cases[] = {
        {"テスト　データ", Hex("43 3D 44 20 43 5E 30 40")},
        {"ガパ", Hex("36 5E 4A 5F")},  // voiced and semi-voiced: base kana and mark
        {"AB12", "AB12"},
        {Repeat("ア", 63) + "A", std::string(63, '\x31') + "A"},  // 127 bytes
        {"ﾞﾟ", Hex("5E 5F")},                                     // lone voicing marks
        {"ヵヶヮヰヱ", Hex("25 75 25 76 25 6E 25 70 25 71")},     // no half-width form: their JIS codes
        {u8"アイウ", Hex("65 62 22 65 62 24 65 62 26")},          // UTF-8 that happens to read as Shift_JIS
    };
    for (const auto &c : cases) {
        char cOut[128];
        memset(cOut, 0x7F, sizeof cOut);
        vKanaPipeline(c.sZen.c_str(), cOut);
        EXPECT_EQ(vt::ToHex(std::string(cOut, sizeof cOut)),
                  vt::ToHex(c.sWant + std::string(128 - c.sWant.size(), '\0')))
            << c.sZen;
    }
}

// Both trace lines are written whole whatever the length of the name; a
// symbolic link is never followed, and a pipe or a missing folder is skipped.
TEST(TraceFile, WholeLinesAndNothingButAPlainFile)
{
    vt::TempDir dir;
    const std::string sPath = dir.file("jisTest.txt"), sLong(400, 'K');
    vt::WriteFile(sPath, std::string(500, 'x'));  // an older, longer trace is replaced
    ASSERT_EQ(iKanaTrace(sPath.c_str(), "\x43\x3D\x44\x20"), 0);
    ASSERT_EQ(iJisTraceAppend(sPath.c_str(), "\x3B\x33"), 0);
    EXPECT_EQ(vt::ToHex(vt::ReadFile(sPath)), "1B 28 49 43 3D 44 20 0A 1B 24 42 3B 33 0A");
    ASSERT_EQ(iKanaTrace(sPath.c_str(), sLong.c_str()), 0);
    ASSERT_EQ(iJisTraceAppend(sPath.c_str(), sLong.c_str()), 0);
    EXPECT_EQ(vt::ReadFile(sPath), "\x1B(I" + sLong + "\n\x1B$B" + sLong + "\n");
    const std::string sTarget = dir.file("victim"), sLink = dir.file("link"), sFifo = dir.file("fifo");
    vt::WriteFile(sTarget, "keep me");
    ASSERT_EQ(symlink(sTarget.c_str(), sLink.c_str()), 0);
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0644), 0);  // nobody reads it: a plain open would block the run
    for (const std::string &sBad : {sLink, sFifo, dir.file("no/such/folder")}) {
        EXPECT_EQ(iKanaTrace(sBad.c_str(), "ABC"), -1) << sBad;
        EXPECT_EQ(iJisTraceAppend(sBad.c_str(), "ABC"), -1) << sBad;
    }
    EXPECT_EQ(vt::ReadFile(sTarget), "keep me");
}

}  // namespace
