// The issuing run in the test process (vestrun_main), where its flow alone is
// what a case shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"
#include "sample_card.h"
#include "testutil.h"

namespace {

// Nothing listening: the run logs the failed connect, frees the picture it
// read (the sanitizer build checks) and ends with -1.
TEST(RunFlow, UnreachableMachineEndsAfterTheConnect)
{
    std::vector<std::string> args =
        sample::Args(vt::ClosedPort(), std::string(VESTRUN_SOURCE_DIR) + "/examples/card.bmp");
    args.insert(args.begin(), "vestrun");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    vt::CaptureFd out(1);
    EXPECT_EQ(vestrun_main(static_cast<int>(args.size()), argv.data()), -1);
    EXPECT_EQ(e2e::AfterEcho(out.Finish()), (std::vector<std::string>{"接続処理開始", "× 接続異常"}));
}

}  // namespace
