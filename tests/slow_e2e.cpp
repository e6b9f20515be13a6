// The issuing run end to end: the real vestrun against a vestrun-sim of its
// own, each case one whole run. (Every frame under every fault is the fault
// matrix; refused arguments, pictures and settings are the bad input table.)
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "bmpfile.h"
#include "bmpread.h"
#include "sample_card.h"
#include "testutil.h"

namespace {

using Lines = std::vector<std::string>;
using namespace sample;
const std::string kPicture = std::string(VESTRUN_SOURCE_DIR) + "/examples/card.bmp";

// A stand-in of its own (--once) that keeps its card and every unit it
// receives in a private folder, and vestrun against it.
struct Issue {
    vt::TempDir dir;
    vt::Child sim, tool;
    int port = 0;

    explicit Issue(Lines sim_args = {})
    {
        sim_args.insert(sim_args.begin(), {"--once", "--out", dir.file("out"), "--frames", dir.file("frames.txt")});
        port = vt::StartSim(&sim, sim_args);
    }
    // The sample patient and picture unless told otherwise.
    bool Start(const Lines &args = {}, const std::vector<int> &closed = {})
    {
        return port > 0 && tool.Start(VESTRUN_BIN, args.empty() ? Args(port, kPicture) : args, closed);
    }
    int Finish()  // the exit status; the stand-in ends with the line
    {
        const int status = tool.Wait(240000);
        sim.Wait(10000);
        return status;
    }
    Lines Log() const { return vt::LogMessages(tool.Out()); }
    long Count(const std::string &msg) const
    {
        const Lines log = Log();
        return std::count(log.begin(), log.end(), msg);
    }
    // The commands received, letter and parameters (the record by its letter alone); image frames and ACKs left
    // out. Their block checks are the stand-in's to judge.
    Lines Frames() const
    {
        Lines out;
        std::istringstream in(vt::ReadFile(dir.file("frames.txt")));
        for (std::string l; std::getline(in, l);) {
            const std::string f = vt::Hex(l);  // STX, letter, parameters, ETX, block check
            if (f.size() > 3 && f[1] != 'M') out.push_back(f.substr(1, f[1] == '9' ? 1 : f.size() - 3));
        }
        return out;
    }
    std::string Card(const std::string &file) const { return vt::ReadFile(dir.file("out/card-0001/" + file)); }
};

// A drawing ('#' ink) as the machine's 480 x 512 buffer holds it.
Lines Buffer(Lines art)
{
    for (std::string &row : art) row.resize(480, '.');
    art.resize(512, std::string(480, '.'));
    return art;
}

// The card kept holds what was typed and drawn: voiced and semi-voiced kana,
// a box-drawing character in the kanji name, dates that differ in every place,
// a picture of odd size whose byte-rows differ top to bottom. (Every frame of
// a good run in order, each confirmed by a lone ACK: the fault matrix.)
TEST(EndToEnd, CardGoesOutAndReadsBackAsTyped)
{
    // 203 x 77: a frame, and a slope crossing every byte-row at a different height in each column.
    Lines art(77, std::string(203, '.'));
    for (size_t y = 0; y < art.size(); y++) art[y][0] = art[y][202] = art[y][(y * 5) % 200 + 1] = '#';
    art[0] = art[76] = std::string(203, '#');
    art[40].replace(20, 9, "#.##.###.");
    Issue run;
    vt::WriteFile(run.dir.file("slope.bmp"), vt::MonoBmp(art));
    // Past the tenth argument: neither echoed nor used.
    Lines args = {"127.0.0.1", std::to_string(run.port), "0", run.dir.file("slope.bmp"), "987"};
    args.insert(args.end(), {"学校━花子", "ガッコウ　パンダ", "2", "19851231", "20240115", "EXTRA"});
    ASSERT_TRUE(run.Start(args));
    EXPECT_EQ(run.Finish(), 0) << run.tool.Err();

    std::string echo;
    for (size_t i = 0; i < 10; i++) echo += std::to_string(i + 1) + "=" + args[i] + "\n";
    EXPECT_EQ(run.tool.Out().substr(0, echo.size()), echo);
    EXPECT_EQ(run.tool.Out().find("EXTRA"), std::string::npos);
    EXPECT_EQ(run.Log().back(), "切断");
    // ガ ｯ ｺ ｳ / ﾊﾟ ﾝ ﾀﾞ in 7-bit codes; 学 校 ━ (moved to row 12) 花 子 in JIS.
    const std::string stripe =
        "20 20 20 20 20 20 20 39 38 37 0E 36 5E 2F 3A 33 0F 20 0E 4A 5F 5D 40 5E 0F 20 20 20 20 20 20 20 20 20 "
        "31 39 38 35 31 32 33 31 32 1B 4B 33 58 39 3B 2C 25 32 56 3B 52 21 21 21 21 1B 48 32 30 32 34 30 31 31 35";
    EXPECT_EQ(vt::ToHex(run.Card("stripe.bin")), stripe);
    EXPECT_EQ(run.Card("card.txt"),
              u8"output: append\npatient_number: 987\nkana_name: ガッコウ パンダ\n"
              u8"birth_date: 19851231\nsex: 2\nkanji_name: 学校━花子\nfirst_visit: 20240115\n");
    EXPECT_EQ(vt::ReadMonoBmp(run.Card("picture.bmp")), Buffer(art));
}

// While the machine reports a status too short to read (zero fill never reads
// as "card ready"), a card waiting to be taken out, an open cover or no card,
// the run lights the LED again, pauses and asks again; then the card goes out.
// (What the log says of each status is the status check's own unit table.)
TEST(EndToEnd, WaitForACardGoesRoundUntilOneIsReady)
{
    Issue run({"--fault", "Y#1:short-result", "--card-waiting", "2", "--cover-open", "3", "--card-after", "4"});
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.Finish(), 0) << run.tool.Err();
    EXPECT_EQ(run.Frames(), (Lines{"I", "Z412", "Y", "Z412", "Y", "Z412", "Y", "Z412", "Y", "9", "12", "G1", "Z010"}));
}

// A refused stripe: no card goes out, the printer reset does. The run is
// started without standard output and errors (by a launcher or a service
// manager): no log line may reach the socket, which would take descriptor 1
// were it not reopened on /dev/null (the stand-in logs such bytes as stray).
// (The reset's log lines: the signal case below.)
TEST(EndToEnd, RefusedStripeEndsWithThePrinterResetEvenWithoutStandardStreams)
{
    Issue run({"--fault", "9:dle"});
    ASSERT_TRUE(run.Start({}, {1, 2}));
    EXPECT_EQ(run.Finish(), 0);
    EXPECT_EQ(run.sim.Err().find("stray"), std::string::npos) << run.sim.Err().substr(0, 400);
    EXPECT_EQ(run.Frames(), (Lines{"I", "Z412", "Y", "9", "_"}));
    EXPECT_EQ(run.Card("card.txt"), "");
}

// A machine that greets with 8 KiB of text, answers the first status request
// with random bytes, sends its answers to some commands a byte at a time and
// pads every other result to 1000 bytes: the run takes off what is not its
// answer, asks again, and the card goes out intact.
TEST(EndToEnd, HostileMachineStillGetsTheCardIntact)
{
    Issue run({"--greeting", "8192", "--fault", "Y#1:garbage", "--fault", "I:split", "--fault", "9:split", "--fault",
               "G:split", "--fault", "*:oversize"});
    ASSERT_TRUE(run.Start());
    EXPECT_EQ(run.Finish(), 0) << run.tool.Err();
    EXPECT_EQ(run.Frames(), (Lines{"I", "Z412", "Y", "Y", "Z412", "Y", "9", "12", "G1", "Z010"}));
    EXPECT_EQ(run.Count("× ステータスチェック失敗"), 1);
    EXPECT_EQ(run.Card("stripe.bin"), Stripe().Bytes());
    EXPECT_EQ(vt::ReadMonoBmp(run.Card("picture.bmp")), Buffer(vt::ReadMonoBmp(vt::ReadFile(kPicture))));
}

// SIGHUP in the pause between two passes of the wait for a card: the pause
// ends at once, the log says why, the printer reset reaches the machine and
// the status is 128 + the signal. Left is the reset's own exchange (3.5 s of
// fixed waits); sitting out the rest of the pause first would make 6.
TEST(EndToEnd, SignalInTheWaitForACardEndsWithTheReset)
{
    Issue run({"--card-after", "100000"});
    ASSERT_TRUE(run.Start());
    for (int i = 0; i < 1200 && run.Count("LED設定成功") < 2; i++) usleep(50000);  // relit: the pause begins
    usleep(500000);
    const auto t0 = std::chrono::steady_clock::now();
    run.tool.Signal(SIGHUP);
    EXPECT_EQ(run.Finish(), 128 + SIGHUP);
    EXPECT_LE(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    const Lines log = run.Log(), tail = {"× 中断されました（シグナル1）", "切断（プリンターリセット）"};
    EXPECT_NE(std::search(log.begin(), log.end(), tail.begin(), tail.end()), log.end());
    EXPECT_EQ(log.back(), "プリンターリセット成功");
    EXPECT_EQ(run.Frames().back(), "_");
}

}  // namespace
