// The issuing run's own work before the machine: the argument check, the kana
// name pipeline and the trace file. (Each argument limit and each broken
// name is a row of the bad input table.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "patient.h"
#include "testutil.h"
#include "trace.h"

namespace {

std::vector<std::string> GoodArgs()
{
    return {"vestrun",  "127.0.0.1",      "9100", "0",        "card.bmp", "12345",
            "山田太郎", "ヤマダ　タロウ", "1",    "19700101", "20240401"};
}

int Check(std::vector<std::string> a_vArgs, int a_iArgc = 11)
{
    std::vector<char *> argv;
    for (auto &s : a_vArgs) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return iArgCheck(a_iArgc, argv.data());
}

// What the bad input table does not show: text that must pass, arguments
// without a limit or a stripe to protect, and which argument is named.
TEST(ArgCheck, PassesWholeCharactersAndNamesTheFirstBadArgument)
{
    struct Case {
        int iArg;
        std::string sVal;
        int iWant;
    } cases[] = {
        {7, "ｶﾞｷﾞ ﾊﾟ", 0},             // half-width kana
        {6, "表\x83\x80\xFC\xFC", 0},  // trail bytes in both ranges, the last lead byte
        {3, "\x03", 0},                // style flag and host never reach the stripe
        {1, "host\x01", 0},
        {2, std::string(200, '9'), 0},  // port and bitmap path have no limit of their own
        {4, std::string(300, 'p'), 0},
        {7, "ヤマダ\x83 ", 7},  // a lead byte before a blank
    };
    for (const auto &c : cases) {
        auto args = GoodArgs();
        args[c.iArg] = c.sVal;
        EXPECT_EQ(Check(args), c.iWant) << "argument " << c.iArg << ": " << vt::ToHex(c.sVal);
    }
    auto args = GoodArgs();
    args[5] = "123456789012";
    args[9] = "1970-01-01-XXXX-YYYY";
    EXPECT_EQ(Check(args), 5);
    EXPECT_EQ(Check(args, 10), 1);  // too few: nothing past argc is read
}

// Full-width kana to 7-bit half-width codes; zeros behind the name, and the
// longest name stays inside its 128 bytes.
TEST(KanaPipeline, FullWidthKanaBecomesSevenBitHalfWidthCodes)
{
    std::string sLong;
    for (int i = 0; i < 63; i++) sLong += "ア";
    struct Case {
        std::string sZen, sWant;
    } cases[] = {
        {"テスト　データ", vt::Hex("43 3D 44 20 43 5E 30 40")},
        {"ガ", vt::Hex("36 5E")},                      // voiced: base kana and the voicing mark
        {"パ", vt::Hex("4A 5F")},                      // semi-voiced
        {"AB12", "AB12"},                              // ASCII passes unchanged
        {sLong + "A", std::string(63, '\x31') + "A"},  // 127 bytes
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
    const std::string sPath = dir.file("jisTest.txt");
    const std::string sLong(400, 'K');
    vt::WriteFile(sPath, std::string(500, 'x'));  // an older, longer trace is replaced
    ASSERT_EQ(iKanaTrace(sPath.c_str(), "\x43\x3D\x44\x20\x43\x5E\x30\x40"), 0);
    ASSERT_EQ(iJisTraceAppend(sPath.c_str(), "\x3B\x33"), 0);
    EXPECT_EQ(vt::ToHex(vt::ReadFile(sPath)), "1B 28 49 43 3D 44 20 43 5E 30 40 0A 1B 24 42 3B 33 0A");
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
