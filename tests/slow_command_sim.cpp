// A card made by the commands that the issuing run does not use (whole
// columns, the character set) plus the stripe and the card output, against
// vestrun-sim: the card it keeps carries the columns, the decoded layout
// text and the stripe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "simproc.h"
#include "sock.h"
#include "testutil.h"

namespace {

bool bHasLine(const std::string &a_sText, const std::string &a_sLine)
{
    return ("\n" + a_sText).find("\n" + a_sLine + "\n") != std::string::npos;
}

TEST(SimCard, ColumnsLayoutAndStripeReachTheCard)
{
    vt::TempDir out;
    vt::TempDir work;
    const std::string src = std::string(VESTRUN_SOURCE_DIR) + "/examples/";
    vt::WriteFile(work.file("printstyle.txt"), vt::ReadFile(src + "printstyle.txt"));
    vt::WriteFile(work.file("printsetting.txt"), vt::ReadFile(src + "printsetting.txt"));

    vt::SimProcess sim;
    ASSERT_TRUE(sim.Start({"--out", out.path(), "--once"})) << sim.Stderr();

    // Three columns 16 rows high; ink at the top of column 1 and the foot of column 2.
    std::vector<unsigned char> cols(3 * 2 + 1, 0);
    cols[1 * 2 + 0] = 0x01;
    cols[2 * 2 + 1] = 0x80;
    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    strcpy(p.szID, "12345");
    memcpy(p.szNameKANA, "\x54\x4F\x40\x5E\x20\x40\x5B\x33", 8);
    strcpy(p.szBirthDate, "19700101");
    p.cSEX = '1';
    p.cStyFlg = '0';
    strcpy(p.szNameKANJI, "山田太郎");
    strcpy(p.szFirstDate, "20240401");
    strcpy(p.szNameKanaZen, "ヤマダ　タロウ");
    p.stImg = {16, 3, 1, cols.data()};

    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(work.path().c_str()), 0);
    vt::CaptureFd cap(1);
    int sock = -1;
    int rOpen = SCK_iOpen(&sock, "127.0.0.1", sim.port());
    int rCols = rOpen == 0 ? m_iImageLSet(p, sock) : -100;
    int rChar = rOpen == 0 ? m_iCharSet(p, sock) : -100;
    int rMag = rOpen == 0 ? m_iWrite(p, sock) : -100;
    int rPut = rOpen == 0 ? m_iCardPut(p, sock) : -100;
    if (rOpen == 0) {
        SCK_iClose(sock);
    }
    std::string log = cap.Finish();
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(sim.Wait(10000), 0) << sim.Stderr();
    ASSERT_EQ(rOpen, 0);
    EXPECT_EQ(rCols, 0);
    EXPECT_EQ(rChar, 0);
    EXPECT_EQ(rMag, 0);
    EXPECT_EQ(rPut, 0);

    const std::string card = out.file("card-0001");
    const std::string charset = vt::ReadFile(card + "/charset.txt");
    for (const char *line : {u8"head: 0,40,40,", u8"text: K12345", u8"x: 040", u8"y: 100", u8"text: K山田太郎",
                             u8"text: K昭和45年 1月 1日", u8"x: 320", u8"text: K男性", u8"text: Kヤマダ　タロウ"}) {
        EXPECT_TRUE(bHasLine(charset, line)) << line << "\n" << charset;
    }
    const std::string text = vt::ReadFile(card + "/card.txt");
    for (const char *line : {u8"output: append", u8"patient_number: 12345", u8"kanji_name: 山田太郎"}) {
        EXPECT_TRUE(bHasLine(text, line)) << line << "\n" << text;
    }
    EXPECT_EQ(vt::ReadFile(card + "/stripe.bin").size(), 69u);

    HeaderInfo hdr{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    vt::CaptureFd err(2);
    ASSERT_EQ(ReadBmp((card + "/picture.bmp").c_str(), &hdr, &img), 0) << err.Finish();
    err.Finish();
    ASSERT_EQ(img.bitCnt, 1u);
    auto ink = [&](uint32_t x, uint32_t y) { return (img.data[y * ((img.width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1; };
    EXPECT_EQ(ink(1, 0), 1);
    EXPECT_EQ(ink(2, 15), 1);
    EXPECT_EQ(ink(0, 0), 0);
    EXPECT_EQ(ink(1, 1), 0);
    EXPECT_EQ(ink(3, 0), 0);
    FreeImage(&img);
    FreeHeader(&hdr);
}

}  // namespace
