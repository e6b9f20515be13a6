// The run log's line format and the settings-file reader.
#include <gtest/gtest.h>
#include <stdio_ext.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "head.h"
#include "runlog.h"
#include "settings.h"
#include "testutil.h"

namespace {

TEST(RunLog, LineFormatPadsMonthAndDayWithBlanks)
{
    const struct {
        int mon, mday, hour, min, sec;
        const char *msg, *want;
    } cases[] = {
        {3, 5, 9, 7, 2, "x", " 3/ 5 09:07:02 x\n"},
        {12, 31, 23, 59, 59, "", "12/31 23:59:59 \n"},
        // A Shift_JIS message passes byte for byte, 0x5C inside a character included.
        {7, 14, 12, 0, 0, "\x83\x5C\x83\x74\x83\x67", " 7/14 12:00:00 \x83\x5C\x83\x74\x83\x67\n"},
    };
    for (const auto &c : cases) {
        struct tm t;
        memset(&t, 0, sizeof t);
        t.tm_mon = c.mon - 1;
        t.tm_mday = c.mday;
        t.tm_hour = c.hour;
        t.tm_min = c.min;
        t.tm_sec = c.sec;
        char buf[128];
        iLogFormat(buf, sizeof buf, &t, c.msg);
        EXPECT_EQ(std::string(buf), c.want);
    }
}

// Each line leaves at once (an operator watches a long wait through a pipe),
// and the messages are Shift_JIS as compiled: "－" (U+FF0D) only CP932 maps.
TEST(RunLog, WritesEachLineFlushedInShiftJis)
{
    vt::CaptureFd cap(1);
    vLogAdd("接続完了");
    EXPECT_EQ(__fpending(stdout), 0u);
    vLogAdd("× カ－ド");
    EXPECT_EQ(__fpending(stdout), 0u);
    auto msgs = vt::LogMessages(cap.Finish());
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(vt::ToHex(msgs[0]), "90 DA 91 B1 8A AE 97 B9");
    EXPECT_EQ(vt::ToHex(msgs[1]), "81 7E 20 83 4A 81 7C 83 68");
}

std::vector<std::vector<std::string>> ReadAll(const std::string &text)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("s.txt"), text);
    FILE *fp = fopen(dir.file("s.txt").c_str(), "r");
    std::vector<std::vector<std::string>> lines;
    T_SET_LINE line;
    memset(&line, 0, sizeof line);
    while (iSetLineRead(fp, &line)) {
        EXPECT_EQ(line.iLine, static_cast<int>(lines.size()));
        lines.emplace_back(line.szFld, line.szFld + line.iFldN);
    }
    fclose(fp);
    return lines;
}

TEST(SettingsReader, CountedLinesAndFields)
{
    std::string fields64;  // 127 bytes, 64 fields: the field array holds them all
    for (int i = 0; i < 63; i++) {
        fields64 += "a,";
    }
    using L = std::vector<std::vector<std::string>>;
    const struct {
        std::string text;
        L want;
    } cases[] = {
        {";a\n;b\n0,\n1,\n", {{"0"}, {"1"}}},
        {"\n1,\n", {{}, {"1"}}},                 // a blank line is counted
        {",,10,,20,K,\n", {{"10", "20", "K"}}},  // empty fields skipped
        {"1,\n2", {{"1"}, {"2"}}},               // last line without line feed
        {";only\n", {}},
        // A long line is read in 127-byte pieces that count as lines (the bad
        // input table shows them); a piece that happens to begin with ';' is a comment.
        {std::string(127, 'y') + ";z,\n5,\n", {{std::string(127, 'y')}, {"5"}}},
        {fields64 + "a", {std::vector<std::string>(64, "a")}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ReadAll(c.text), c.want) << c.text.substr(0, 20);
    }
}

}  // namespace
