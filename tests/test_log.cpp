// The run log's line format and the settings-file reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "head.h"
#include "testutil.h"

namespace {

struct tm At(int mon, int mday, int hour, int min, int sec)
{
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_mon = mon - 1;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

TEST(RunLog, LineFormatPadsMonthAndDayWithBlanks)
{
    struct Case {
        struct tm when;
        const char *msg;
        const char *want;
    } cases[] = {
        {At(3, 5, 9, 7, 2), "x", " 3/ 5 09:07:02 x\n"},
        {At(12, 31, 23, 59, 59), "y", "12/31 23:59:59 y\n"},
        {At(1, 1, 0, 0, 0), "", " 1/ 1 00:00:00 \n"},
        // A Shift_JIS message passes byte for byte, 0x5C inside a character included.
        {At(7, 14, 12, 0, 0), "\x83\x5C\x83\x74\x83\x67", " 7/14 12:00:00 \x83\x5C\x83\x74\x83\x67\n"},
    };
    for (const auto &c : cases) {
        char buf[128];
        iLogFormat(buf, sizeof buf, &c.when, c.msg);
        EXPECT_EQ(std::string(buf), c.want);
    }
}

TEST(RunLog, WritesOneFlushedLineToStdout)
{
    vt::CaptureFd cap(1);
    vLogAdd("接続完了");
    vLogAdd("");
    std::string out = cap.Finish();
    auto msgs = vt::LogMessages(out);
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0], "\x90\xDA\x91\xB1\x8A\xAE\x97\xB9");  // 接続完了 in Shift_JIS
    EXPECT_EQ(msgs[1], "");
    EXPECT_EQ(out.size(), 2 * 15 + 8 + 2u);
}

TEST(RunLog, ExecCharsetIsCp932)
{
    // "カ－ド" holds U+FF0D, which only CP932 maps (to 81 7C); "×" is 81 7E.
    EXPECT_EQ(vt::ToHex("カ－ド"), "83 4A 81 7C 83 68");
    EXPECT_EQ(vt::ToHex("× "), "81 7E 20");
    EXPECT_EQ(vt::ToHex("　"), "81 40");
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
        std::vector<std::string> fields;
        for (int i = 0; i < line.iFldN; i++) {
            fields.push_back(line.szFld[i]);
        }
        lines.push_back(fields);
    }
    fclose(fp);
    return lines;
}

TEST(SettingsReader, CommentsBlankLinesAndFields)
{
    using L = std::vector<std::vector<std::string>>;
    struct Case {
        const char *text;
        L want;
    } cases[] = {
        {";a\n;b\n0,\n1,\n", {{"0"}, {"1"}}},
        {"\n1,\n", {{}, {"1"}}},                         // a blank line is counted
        {",,10,,20,K,\n", {{"10", "20", "K"}}},          // empty fields skipped
        {"100,50,K\n", {{"100", "50", "K\n"}}},          // no trailing comma: the line feed stays
        {"1,\n2", {{"1"}, {"2"}}},                       // last line without line feed
        {"a,\n,\n", {{"a"}, {}}},
        {";only\n", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ReadAll(c.text), c.want) << c.text;
    }
}

TEST(SettingsReader, LongLinesAreReadInPiecesThatCount)
{
    std::string longLine(200, 'x');
    auto lines = ReadAll(longLine + ",\n9,\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0][0], std::string(127, 'x'));
    EXPECT_EQ(lines[1][0], std::string(73, 'x'));
    EXPECT_EQ(lines[2][0], "9");
    // A piece that happens to begin with ';' is a comment.
    auto withSemi = ReadAll(std::string(127, 'y') + ";z,\n5,\n");
    ASSERT_EQ(withSemi.size(), 2u);
    EXPECT_EQ(withSemi[1][0], "5");
}

TEST(SettingsReader, FieldArrayCannotOverflow)
{
    std::string many;
    for (int i = 0; i < 63; i++) {
        many += "a,";
    }
    many += "a";  // 127 bytes, 64 fields
    auto lines = ReadAll(many);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 64u);
}

}  // namespace
