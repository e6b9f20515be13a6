// Era dates and the date style of the print style file. A missing or
// unreadable style file is shown with the character set command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "head.h"
#include "testutil.h"

namespace {

// Runs iDateChg in a private working folder whose printstyle.txt is style;
// the output, or "(unchanged)" when nothing was written.
std::string Convert(const std::string &style, const std::string &date, int want_ret = 0)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("printstyle.txt"), style);
    char cwd[PATH_MAX];
    EXPECT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(chdir(dir.path().c_str()), 0);
    char buf[64];
    memset(buf, 'Q', sizeof buf);
    EXPECT_EQ(iDateChg(date.c_str(), buf), want_ret) << date;
    EXPECT_EQ(chdir(cwd), 0);
    if (buf[0] == 'Q') {
        return "(unchanged)";
    }
    const size_t n = strnlen(buf, sizeof buf);
    for (size_t i = n + 1; i < sizeof buf; i++) {
        EXPECT_EQ(buf[i], 'Q') << date << ": written past the terminator";
    }
    return std::string(buf, n);
}

std::string Style(char style) { return std::string("0,\n") + style + ",\n0,\n"; }

TEST(DateChg, ErasAndForms)
{
    const struct {
        char style;
        const char *date;
        int ret;
        const char *want;
    } cases[] = {
        {'1', "19890108", 0, "平成 1年 1月 8日"},
        {'2', "19890107", 0, "S64年 1月 7日"},
        {'1', "19261225", 0, "昭和 1年12月25日"},
        {'3', "19261224", 0, "大正15/12/24"},
        {'1', "19120730", 0, "大正 1年 7月30日"},
        {'0', "19120729", 0, "M45/ 7/29"},
        {'1', "18680908", 0, "明治 1年 9月 8日"},
        {'1', "18680907", -1, "(unchanged)"},
        // Heisei ends on 30 April 2019; Reiwa follows.
        {'1', "20190430", 0, "平成31年 4月30日"},
        {'0', "20190501", 0, "R 1/ 5/ 1"},
        {'1', "20251205", 0, "令和 7年12月 5日"},
        {'x', "19890108", 0, "H 1/ 1/ 8"},           // any other style: letter and slashes
        {'1', "99999999", 0, "令和7981年99月99日"},  // the longest output: 18 bytes
        // Eight characters read as a number.
        {'1', "19890108 extra", 0, "平成 1年 1月 8日"},
        {'1', "1989-01-08", -1, "(unchanged)"},
        {'1', "", -1, "(unchanged)"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(vt::ToHex(Convert(Style(c.style), c.date, c.ret)), vt::ToHex(c.want)) << c.date << " " << c.style;
    }
    // Era names and units are Shift_JIS on the card.
    EXPECT_EQ(vt::ToHex(Convert(Style('1'), "19890108")), "95 BD 90 AC 20 31 94 4E 20 31 8C 8E 20 38 93 FA");
    EXPECT_EQ(vt::ToHex(Convert(Style('1'), "20190501")).substr(0, 11), "97 DF 98 61");  // 令和
}

// The first field of counted line 1 is the style; without one, letter and slashes.
TEST(DateChg, StyleIsCountedLineOne)
{
    const struct {
        std::string file;
        const char *want;
    } cases[] = {
        {";a\n0,\n1,\n", "平成 1年 1月 8日"},
        {"0,\n\n1,\n", "H 1/ 1/ 8"},  // a blank line is counted
        {"1,\n", "H 1/ 1/ 8"},
        {"0,\n,,,\n", "H 1/ 1/ 8"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(vt::ToHex(Convert(c.file, "19890108")), vt::ToHex(c.want)) << c.file.substr(0, 20);
    }
}

}  // namespace
