// Era dates and the date style of the print style file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "testutil.h"

namespace {

using vt::ToHex;

// A private working folder holding printstyle.txt (or not) for one test.
class StyleDir {
public:
    StyleDir()
    {
        char buf[PATH_MAX];
        saved_ = getcwd(buf, sizeof buf) ? buf : "/";
        EXPECT_EQ(chdir(dir_.path().c_str()), 0);
    }
    ~StyleDir() { EXPECT_EQ(chdir(saved_.c_str()), 0); }
    void Write(const std::string &text) { vt::WriteFile(dir_.file("printstyle.txt"), text); }
    void Remove() { unlink(dir_.file("printstyle.txt").c_str()); }

private:
    vt::TempDir dir_;
    std::string saved_;
};

struct Out {
    int ret;
    std::string text;  // the output, or "(unchanged)" when nothing was written
};

Out Convert(const std::string &date)
{
    char buf[64];
    memset(buf, 'Q', sizeof buf);
    int ret = iDateChg(date.c_str(), buf);
    if (buf[0] == 'Q') {
        return {ret, "(unchanged)"};
    }
    size_t n = strnlen(buf, sizeof buf);
    EXPECT_LE(n, 18u) << date;
    // Nothing beyond the terminator is touched.
    for (size_t i = n + 1; i < sizeof buf; i++) {
        EXPECT_EQ(buf[i], 'Q') << date;
    }
    return {ret, std::string(buf, n)};
}

std::string StyleFile(char style)
{
    return std::string("0,\n") + style + ",\n0,\n";
}

TEST(DateChg, ErasAndForms)
{
    struct Case {
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
        {'3', "20251205", 0, "令和 7/12/ 5"},
        // Month and day are taken as they stand.
        {'1', "19891399", 0, "平成 1年13月99日"},
        {'1', "99999999", 0, "令和7981年99月99日"},  // the longest output: 18 bytes
        // Any style but 1, 2 and 3: letter and slashes.
        {'x', "19890108", 0, "H 1/ 1/ 8"},
        // The date text: eight characters read as a number.
        {'1', "19890108 extra", 0, "平成 1年 1月 8日"},
        {'1', "1989-01-08", -1, "(unchanged)"},
        {'1', " 19890108", -1, "(unchanged)"},  // reads as 1989010
        {'1', "1989", -1, "(unchanged)"},
        {'1', "", -1, "(unchanged)"},
    };
    StyleDir dir;
    for (const auto &c : cases) {
        dir.Write(StyleFile(c.style));
        Out o = Convert(c.date);
        EXPECT_EQ(o.ret, c.ret) << c.date << " style " << c.style;
        EXPECT_EQ(ToHex(o.text), ToHex(c.want)) << c.date << " style " << c.style;
    }
    // The card's bytes: era names and units in Shift_JIS.
    dir.Write(StyleFile('1'));
    EXPECT_EQ(ToHex(Convert("19890108").text), "95 BD 90 AC 20 31 94 4E 20 31 8C 8E 20 38 93 FA");
    EXPECT_EQ(ToHex(Convert("20190501").text).substr(0, 11), "97 DF 98 61");  // 令和
}

// Which counted line is the date style, and what happens without one.
TEST(DateChg, StyleFileLines)
{
    struct Case {
        const char *what;
        std::string file;
        const char *want;
    } cases[] = {
        {"comments are not counted", ";a\n;b\n0,\n1,\n", "平成 1年 1月 8日"},
        {"a blank line is counted", "0,\n\n1,\n", "H 1/ 1/ 8"},
        {"empty fields are skipped", "0,\n,,2,,\n", "H 1年 1月 8日"},
        {"no comma", "0,\n3\n", "平成 1/ 1/ 8"},
        {"no final line feed", "0,\n1", "平成 1年 1月 8日"},
        {"CR LF lines", "0,\r\n1,\r\n", "平成 1年 1月 8日"},
        {"one line only", "1,\n", "H 1/ 1/ 8"},
        {"empty file", "", "H 1/ 1/ 8"},
        {"line 1 is only commas", "0,\n,,,\n", "H 1/ 1/ 8"},
        // A long line is read in 127-byte pieces that count as lines: the
        // second piece of line 0 becomes line 1.
        {"long line 0", std::string(130, 'x') + ",\n1,\n", "H 1/ 1/ 8"},
        {"long line 0, piece holds a style", std::string(127, '0') + "1,\n2,\n", "平成 1年 1月 8日"},
    };
    StyleDir dir;
    for (const auto &c : cases) {
        dir.Write(c.file);
        Out o = Convert("19890108");
        EXPECT_EQ(o.ret, 0) << c.what;
        EXPECT_EQ(ToHex(o.text), ToHex(c.want)) << c.what;
    }
}

TEST(DateChg, MissingStyleFile)
{
    StyleDir dir;
    dir.Remove();
    for (const char *date : {"19890108", "18000101"}) {
        vt::CaptureFd out(1);
        Out o = Convert(date);
        auto lines = vt::LogMessages(out.Finish());
        EXPECT_EQ(o.ret, -99) << date;
        EXPECT_EQ(o.text, "(unchanged)");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "× 設定ファイル２を読み込むことができません。処理不可能n");
    }
}

// One that opens but cannot be read tells no style either: the same line and
// result, not the default form.
TEST(DateChg, StyleFileThatCannotBeReadIsLikeAMissingOne)
{
    StyleDir dir;
    dir.Remove();
    ASSERT_EQ(mkdir("printstyle.txt", 0700), 0);
    vt::CaptureFd out(1);
    Out o = Convert("19890108");
    EXPECT_EQ(o.ret, -99);
    EXPECT_EQ(o.text, "(unchanged)");
    EXPECT_EQ(vt::LogMessages(out.Finish()),
              std::vector<std::string>{"× 設定ファイル２を読み込むことができません。処理不可能n"});
    rmdir("printstyle.txt");
}

}  // namespace
