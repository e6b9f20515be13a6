// The picture commands and the character set command against a scripted
// machine: every frame on the wire, byte for byte.
#include "slow_command.h"

#include <cstdlib>

namespace {

using namespace cmdtest;

// A 1-bit picture in column form.
struct ColPic {
    std::vector<unsigned char> data;
    T_PAT_INF pat;
    ColPic(uint32_t a_w, uint32_t a_h) : data(a_w * ((a_h + 7) / 8) + 1, 0)
    {
        memset(&pat, 0, sizeof pat);
        pat.stImg = {a_h, a_w, 1, data.data()};
    }
    void Ink(int a_col, int a_row, unsigned char a_v)
    {
        data[static_cast<size_t>(a_col) * ((pat.stImg.height + 7) / 8) + a_row] = a_v;
    }
};

TEST(ImageLSet, ThreeEmptyColumnsGoOutAsThreeCFrames)
{
    ColPic pic(3, 16);
    vt::Peer peer;
    for (int i = 0; i < 3; i++) {
        Accept(peer);
    }
    CmdRun r = RunCmd(peer, [&](int s) { return m_iImageLSet(pic.pat, s); });
    EXPECT_EQ(r.iRet, 0);
    EXPECT_EQ(r.wire, (Lines{Wire("C0,0,0000"), "06", Wire("C1,0,0000"), "06", Wire("C2,0,0000"), "06"}));
    EXPECT_EQ(r.log, (Lines{"外部イメージ展開開始", "外部イメージ展開成功"}));
}

TEST(ImageLSet, OnlyTheFirst480ColumnsAreSent)
{
    ColPic pic(500, 8);
    pic.Ink(479, 0, 0xA5);
    pic.Ink(480, 0, 0xFF);
    vt::Peer peer;
    for (int i = 0; i < 480; i++) {
        Accept(peer, "R");
    }
    CmdRun r = RunCmd(peer, [&](int s) { return m_iImageLSet(pic.pat, s); });
    EXPECT_EQ(r.iRet, 0);
    ASSERT_EQ(r.wire.size(), 960u);
    EXPECT_EQ(r.wire[0], Wire("C0,0,00"));
    EXPECT_EQ(r.wire[958], Wire("C479,0,5A"));
}

TEST(ImageBSet, Picture250By32GoesOutInThreeFrames)
{
    ColPic pic(250, 32);
    pic.Ink(249, 3, 0x0A);
    vt::Peer peer;
    for (int i = 0; i < 3; i++) {
        Accept(peer);
    }
    CmdRun r = RunCmd(peer, [&](int s) { return m_iImageBSet(pic.pat, s); });
    EXPECT_EQ(r.iRet, 0);
    // 100 columns of 8 characters a frame, each frame naming its first column.
    EXPECT_EQ(r.wire, (Lines{Wire("M0,0,4," + std::string(800, '0')), "06", Wire("M100,0,4," + std::string(800, '0')),
                             "06", Wire("M200,0,4," + std::string(398, '0') + "A0"), "06"}));
    EXPECT_EQ(r.log, (Lines{"外部イメージ展開開始", "外部イメージ展開成功"}));
}

TEST(ImageBSet, OneColumnOfEightRows)
{
    ColPic pic(1, 8);
    pic.Ink(0, 0, 0x81);
    vt::Peer peer;
    Accept(peer);
    CmdRun r = RunCmd(peer, [&](int s) { return m_iImageBSet(pic.pat, s); });
    EXPECT_EQ(r.iRet, 0);
    EXPECT_EQ(r.wire, (Lines{Wire("M0,0,1,18"), "06"}));
}

TEST(ImageBlkSet, DleOnTheSecondFrameEndsTheTransfer)
{
    ColPic pic(64, 8);
    pic.Ink(0, 0, 0x01);
    pic.Ink(30, 0, 0x01);
    pic.Ink(60, 0, 0x01);
    int n = 0;
    ImgBlock *blk = m_GetImageBlk(pic.pat, &n);
    ASSERT_NE(blk, nullptr);
    ASSERT_EQ(n, 1);
    ASSERT_EQ(blk[0].blkN, 3);
    vt::Peer peer;
    Accept(peer);
    Refuse(peer);
    CmdRun r = RunCmd(peer, [&](int s) { return m_iImageBlkSet(pic.pat, s, blk, n); });
    vImgBlkFree(blk, n);
    EXPECT_EQ(r.iRet, -3);
    EXPECT_EQ(r.wire, (Lines{Wire("M0,0,1,1000"), "06", Wire("M30,0,1,1000")}));
    EXPECT_EQ(r.log, (Lines{"外部イメージ展開開始", "イメージ送信開始", "イメージ送信開始", "× 外部イメージ展開失敗"}));
}

TEST(CharSet, LayoutExampleOnTheWire)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("printstyle.txt"), ";styles\nx,\n1,\n0,\n");
    vt::WriteFile(dir.file("printsetting.txt"), ";head\n0,\n;number\n10,20,K,\n;kanji name\n100,50,K,\n");
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    strcpy(p.szID, "12345");
    strcpy(p.szNameKANJI, "漢字");
    p.cSEX = '1';
    strcpy(p.szBirthDate, "19890108");
    vt::Peer peer;
    Accept(peer);
    CmdRun r = RunCmd(peer, [&](int s) { return m_iCharSet(p, s); });
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(r.iRet, 0);
    EXPECT_EQ(r.wire, (Lines{"02 41 30 2C 31 30 2C 32 30 2C 1B 45 4B 31 32 33 34 35 1B 58 31 30 30 1B 59 30 35 30 1B 45 "
                             "4B 8A BF 8E 9A 03 48",
                             "06"}));
    EXPECT_EQ(r.log, (Lines{"キャラクタセット開始", "性別設定", "　男", "キャラクタセット成功"}));
}

}  // namespace
