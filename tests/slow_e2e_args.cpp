// The command line, end to end: the usage line for anything short of ten
// arguments, and arguments that their field cannot hold refused before the
// picture is read and before the machine is called.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slow_e2e.h"

namespace {

const std::string kUsage =
    "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] [カナ氏名] [生年月日] [性別] "
    "[初診日] \n";

TEST(EndToEndArgs, FewerThanTenArgumentsPrintOnlyTheUsageLine)
{
    auto full = e2e::Args(9, e2e::SamplePicture());
    for (size_t n = 0; n < full.size(); n++) {
        std::vector<std::string> args(full.begin(), full.begin() + static_cast<long>(n));
        e2e::Result r = e2e::Vestrun(args, 30);
        EXPECT_EQ(r.iStatus, 0) << n << " arguments";
        EXPECT_EQ(r.sOut, kUsage) << n << " arguments";
        EXPECT_EQ(r.sErr, "") << n << " arguments";
    }
}

TEST(EndToEndArgs, ArgumentTooLongForItsFieldIsRefusedBeforeAnythingElse)
{
    struct Case {
        int iArg;
        std::string sVal;
    } cases[] = {
        {1, std::string(64, 'h')},
        {3, "01"},
        {5, "12345678901"},
        {6, std::string(64, '\x88') + std::string(64, '\x9F')},  // 128 bytes
        {7, std::string(128, 'A')},
        {8, ""},
        {8, "19700101"},  // the birth date where the usage line's labels put it
        {9, "1970-01-01T00:00"},
        {10, std::string(16, '2')},
    };
    e2e::Machine m;
    ASSERT_TRUE(m.Start());
    for (const auto &c : cases) {
        auto args = e2e::Args(m.Port(), e2e::SamplePicture());
        args[static_cast<size_t>(c.iArg - 1)] = c.sVal;
        e2e::Result r = e2e::Vestrun(args, 30);
        EXPECT_EQ(r.iStatus, 157) << "argument " << c.iArg;
        auto msgs = r.Log();
        ASSERT_GE(msgs.size(), 11u) << r.sOut;
        EXPECT_EQ(msgs[10], "× 引数" + std::to_string(c.iArg) + "が不正です");
        EXPECT_EQ(msgs.size(), 11u) << "one log line after the echo, then the end: " << r.sOut;
        EXPECT_EQ(r.sErr, "") << "the picture is not even read";
    }
    m.tSim.Stop();  // it never had a connection to end
    EXPECT_TRUE(m.Frames().empty()) << "nothing went to the machine";
}

}  // namespace
