// The character set command with the shipped example settings files against
// vestrun-sim: the card it keeps shows the text laid out, decoded, beside the
// stripe.
#include <cstdlib>

#include "simproc.h"
#include "slow_command.h"

namespace {

TEST(SimCard, ExampleLayoutReachesTheCard)
{
    vt::TempDir out, work;
    const std::string src = std::string(VESTRUN_SOURCE_DIR) + "/examples/";
    for (const char *name : {"printstyle.txt", "printsetting.txt"}) {
        vt::WriteFile(work.file(name), vt::ReadFile(src + name));
    }
    vt::SimProcess sim;
    ASSERT_TRUE(sim.Start({"--out", out.path(), "--once"})) << sim.Stderr();

    const T_PAT_INF p = cmdtest::Patient();
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(work.path().c_str()), 0);
    vt::CaptureFd cap(1);
    int sock = -1;
    int ret = SCK_iOpen(&sock, "127.0.0.1", sim.port());
    if (ret == 0) {
        ret = m_iCharSet(p, sock) * 1000 + m_iWrite(p, sock) * 10 + m_iCardPut(p, sock);
        SCK_iClose(sock);
    }
    cap.Finish();
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(sim.Wait(10000), 0) << sim.Stderr();

    const std::string card = out.file("card-0001/");
    EXPECT_EQ(vt::ReadFile(card + "charset.txt"),
              u8"head: 0,40,40,\ntext: K12345\nx: 040\ny: 100\ntext: K山田太郎\nx: 040\ny: 160\n"
              u8"text: K昭和45年 1月 1日\nx: 320\ny: 160\ntext: K男性\nx: 040\ny: 070\ntext: Kヤマダ　タロウ\n");
    const std::string text = vt::ReadFile(card + "card.txt");
    EXPECT_NE(text.find(u8"output: append\n"), std::string::npos) << text;
    EXPECT_NE(text.find(u8"kanji_name: 山田太郎\n"), std::string::npos) << text;
}

}  // namespace
