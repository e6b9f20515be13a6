// The run log's lines, the settings-file reader and the era dates. (Whole
// settings files, broken ones too, are the bad input table's.)
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

TEST(RunLog, LinesPadMonthAndDayWithBlanksAndLeaveWholeAtOnce)
{
    const struct {
        int mon, mday, hour, min, sec;
        const char *msg, *want;
    } cases[] = {
        {3, 5, 9, 7, 2, "x", " 3/ 5 09:07:02 x\n"},
        {12, 31, 23, 59, 59, nullptr, "12/31 23:59:59 \n"},
        // A Shift_JIS message passes byte for byte, 0x5C inside a character included.
        {7, 14, 12, 0, 0, "\x83\x5C\x83\x74", " 7/14 12:00:00 \x83\x5C\x83\x74\n"},
    };
    for (const auto &c : cases) {
        struct tm t = {};
        t.tm_mon = c.mon - 1, t.tm_mday = c.mday, t.tm_hour = c.hour, t.tm_min = c.min, t.tm_sec = c.sec;
        char buf[128];
        EXPECT_EQ(iLogFormat(buf, sizeof buf, &t, c.msg), int(strlen(c.want)));
        EXPECT_EQ(std::string(buf), c.want);
    }
    // Each line leaves at once (an operator watches a long wait through a
    // pipe), a long one whole; "－" (U+FF0D) only CP932 maps.
    const std::string sLong(600, 'L');
    vt::CaptureFd cap(1);
    vLogAdd("接続完了");
    EXPECT_EQ(__fpending(stdout), 0u);
    vLogAdd("× カ－ド");
    vLogAdd(sLong.c_str());
    EXPECT_EQ(__fpending(stdout), 0u);
    const std::vector<std::string> msgs = vt::LogMessages(cap.Finish());
    EXPECT_EQ(msgs, (std::vector<std::string>{"\x90\xDA\x91\xB1\x8A\xAE\x97\xB9", "\x81\x7E \x83\x4A\x81\x7C\x83\x68",
                                              sLong}));
}

TEST(SettingsReader, CountedLinesAndFields)
{
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
        // A long line is read in 127-byte pieces that count as lines; a piece
        // that happens to begin with ';' is a comment.
        {std::string(127, 'y') + ";z,\n5,\n", {{std::string(127, 'y')}, {"5"}}},
        {vt::Repeat("a,", 63) + "a", {std::vector<std::string>(64, "a")}},  // 64 fields: the array holds them all
    };
    for (const auto &c : cases) {
        FILE *fp = fmemopen(const_cast<char *>(c.text.data()), c.text.size(), "r");
        L lines;
        T_SET_LINE line = {};
        while (iSetLineRead(fp, &line)) {
            EXPECT_EQ(line.iLine, int(lines.size()));
            lines.emplace_back(line.szFld, line.szFld + line.iFldN);
        }
        fclose(fp);
        EXPECT_EQ(lines, c.want) << c.text.substr(0, 20);
    }
}

// Output in a buffer filled with Q: the text, its terminator, nothing more.
TEST(EraDates, ErasAndForms)
{
    const struct {
        char style;
        const char *date;
        const char *want;  // nullptr: -1, nothing written
    } cases[] = {
        {'1', "19890108", "平成 1年 1月 8日"},
        {'2', "19890107", "S64年 1月 7日"},
        {'1', "19261225", "昭和 1年12月25日"},
        {'3', "19261224", "大正15/12/24"},
        {'1', "19120730", "大正 1年 7月30日"},
        {'0', "19120729", "M45/ 7/29"},
        {'1', "18680908", "明治 1年 9月 8日"},
        {'1', "18680907", nullptr},
        {'1', "20190430", "平成31年 4月30日"},  // Heisei ends on 30 April 2019; Reiwa follows
        {'0', "20190501", "R 1/ 5/ 1"},
        {'1', "20251205", "令和 7年12月 5日"},
        {'x', "19890108", "H 1/ 1/ 8"},               // any other style: letter and slashes
        {'1', "99999999", "令和7981年99月99日"},      // the longest: 18 bytes
        {'1', "19890108 extra", "平成 1年 1月 8日"},  // eight characters read as a number
        {'1', "1989-01-08", nullptr},
        {'1', "", nullptr},
    };
    for (const auto &c : cases) {
        char buf[32];
        memset(buf, 'Q', sizeof buf);
        EXPECT_EQ(iDateForm(c.date, c.style, buf), c.want ? 0 : -1) << c.date;
        const std::string want = c.want ? std::string(c.want) + '\0' : "";
        EXPECT_EQ(vt::ToHex(std::string(buf, sizeof buf)), vt::ToHex(want + std::string(32 - want.size(), 'Q')))
            << c.date << " " << c.style;
    }
    // Era names and units are Shift_JIS on the card: 平成 1年, 令和.
    char buf[32];
    iDateForm("20190501", '1', buf);
    EXPECT_EQ(vt::ToHex(std::string(buf, 4)), "97 DF 98 61");
    iDateForm("19890108", '1', buf);
    EXPECT_EQ(vt::ToHex(std::string(buf, 8)), "95 BD 90 AC 20 31 94 4E");
}

}  // namespace
