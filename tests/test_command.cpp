// The printer commands' pure parts: the magnetic record, the image frames and
// the character set layout, plus the refusals that send nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "head.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Bytes = std::string;

// A 1-bit picture already in column form, all white.
struct ColPic {
    std::vector<unsigned char> data;
    Image img{};
    ColPic(uint32_t w, uint32_t h, uint32_t bits = 1) : data(w * ((h + 7) / 8) + 1, 0)
    {
        img = {h, w, bits, data.data()};
    }
    int colBytes() const { return static_cast<int>((img.height + 7) / 8); }
    void Ink(int col, int byteRow, unsigned char v = 0xFF) { data[col * colBytes() + byteRow] = v; }
};

struct Frames {
    std::vector<Bytes> got;
};

int Collect(void *ctx, char *snd, int len)
{
    static_cast<Frames *>(ctx)->got.emplace_back(snd, static_cast<size_t>(len));
    return 0;
}

Bytes Frame(const Bytes &body) { return "\x02" + body + "\x03"; }

Bytes Repeat(const Bytes &piece, int n)
{
    Bytes out;
    for (int i = 0; i < n; i++) {
        out += piece;
    }
    return out;
}

int Bcc(Bytes frame)
{
    frame.push_back('\0');
    SCK_iSetBcc(&frame[0], static_cast<int>(frame.size()) - 1);
    return static_cast<unsigned char>(frame.back());
}

T_PAT_INF Patient()
{
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
    return p;
}

Bytes MagRecord(const T_PAT_INF &p, int *ret = nullptr)
{
    char snd[128] = {};
    int len = iMagRecord(&p, snd, sizeof snd, nullptr, 0);
    if (ret != nullptr) {
        *ret = len;
    }
    return len > 0 ? Bytes(snd, static_cast<size_t>(len)) : Bytes();
}

std::vector<std::string> Logged(const std::string &out) { return vt::LogMessages(out); }

// ---- magnetic record -----------------------------------------------------------

TEST(KanaField, LaysTheNameBetweenShiftCodes)
{
    const Bytes k22 = "\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3A\x3B\x3C\x3D\x3E\x3F\x40\x41\x42\x43\x44\x45\x46";
    const Bytes fam10 = k22.substr(0, 10);
    const Bytes giv16 = "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5A\x5B\x5C\x5D\x5E\x5F";
    struct Case {
        const char *what;
        Bytes name;
        Bytes field;
    } cases[] = {
        {"two parts", "\x54\x4F\x40\x5E\x20\x40\x5B\x33", "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x40\x5B\x33\x0F" + Bytes(12, ' ')},
        {"two blanks count as one", "\x54\x4F\x40\x5E\x20\x20\x40\x5B\x33",
         "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x40\x5B\x33\x0F" + Bytes(12, ' ')},
        {"one part", "\x54\x4F\x40\x5E", "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x0F" + Bytes(15, ' ')},
        {"0x21 parts the name", "\x54\x4F\x21\x40\x5E", "\x0E\x54\x4F\x0F\x20\x0E\x40\x5E\x0F" + Bytes(15, ' ')},
        {"24 bytes, no blank", k22 + "\x47\x48", "\x0E" + k22 + "\x0F"},
        {"10 + blank + 16", fam10 + " " + giv16, "\x0E" + fam10 + "\x0F\x20\x0E" + giv16.substr(0, 9) + "\x0F"},
        {"empty", "", "\x0E\x0F\x20\x0E\x0F" + Bytes(19, ' ')},
        // The cut would leave these shifted out; the last byte closes them.
        {"one part of 20", k22.substr(0, 20), "\x0E" + k22.substr(0, 20) + "\x0F\x20\x20"},
        {"two parts of 10", fam10 + " " + k22.substr(10, 10),
         "\x0E" + fam10 + "\x0F\x20\x0E" + k22.substr(10, 9) + "\x0F"},
        {"19 + blank + 2", k22.substr(0, 19) + " \x50\x51", "\x0E" + k22.substr(0, 19) + "\x0F\x20\x0E\x0F"},
        {"one part of 22", k22, "\x0E" + k22 + "\x0F"},
        {"one part of 21", k22.substr(0, 21), "\x0E" + k22.substr(0, 21) + "\x0F\x20"},
    };
    for (const auto &c : cases) {
        char field[25];
        EXPECT_EQ(iKanaField(c.name.c_str(), field), 24);
        EXPECT_EQ(vt::ToHex(Bytes(field, 24)), vt::ToHex(c.field)) << c.what;
        EXPECT_EQ(field[24], '\0');
    }
}

TEST(MagRecord, WorkedExampleByteForByte)
{
    char jis[256] = {};
    char snd[128] = {};
    T_PAT_INF p = Patient();
    ASSERT_EQ(iMagRecord(&p, snd, sizeof snd, jis, sizeof jis), 72);
    EXPECT_EQ(vt::ToHex(Bytes(snd, 72)),
              "02 39 20 20 20 20 20 31 32 33 34 35 0E 54 4F 40 5E 0F 20 0E 40 5B 33 0F 20 20 20 20 20 20 20 20 "
              "20 20 20 20 31 39 37 30 30 31 30 31 31 1B 4B 3B 33 45 44 42 40 4F 3A 21 21 21 21 21 21 1B 48 "
              "32 30 32 34 30 34 30 31 03");
    EXPECT_EQ(Bcc(Bytes(snd, 72)), 0x64);
    EXPECT_EQ(vt::ToHex(jis), "3B 33 45 44 42 40 4F 3A");
}

TEST(MagRecord, FieldsAreCutAndFilled)
{
    struct Case {
        const char *what;
        void (*edit)(T_PAT_INF &);
        size_t at;
        Bytes want;
    } cases[] = {
        {"10-byte number", [](T_PAT_INF &p) { strcpy(p.szID, "1234567890"); }, 2, "1234567890"},
        {"3-byte number", [](T_PAT_INF &p) { strcpy(p.szID, "123"); }, 2, "       123"},
        {"empty number", [](T_PAT_INF &p) { p.szID[0] = 0; }, 2, Bytes(10, ' ')},
        {"10-byte birth date", [](T_PAT_INF &p) { strcpy(p.szBirthDate, "1970/01/01"); }, 36, "1970/01/"},
        {"6-byte birth date", [](T_PAT_INF &p) { strcpy(p.szBirthDate, "197001"); }, 36, "197001  "},
        {"empty first visit", [](T_PAT_INF &p) { p.szFirstDate[0] = 0; }, 63, Bytes(8, ' ')},
        {"sex as stored", [](T_PAT_INF &p) { p.cSEX = '2'; }, 44, "2"},
        {"8 kanji keep 7", [](T_PAT_INF &p) { strcpy(p.szNameKANJI, "山田太郎山田太郎"); }, 45,
         "\x1B\x4B\x3B\x33\x45\x44\x42\x40\x4F\x3A\x3B\x33\x45\x44\x42\x40\x1B\x48"},
        {"no kanji: ideographic blanks", [](T_PAT_INF &p) { p.szNameKANJI[0] = 0; }, 47, Bytes(14, '!')},
    };
    for (const auto &c : cases) {
        T_PAT_INF p = Patient();
        c.edit(p);
        Bytes rec = MagRecord(p);
        ASSERT_EQ(rec.size(), 72u) << c.what;
        EXPECT_EQ(vt::ToHex(rec.substr(c.at, c.want.size())), vt::ToHex(c.want)) << c.what;
    }
}

TEST(MagRecord, RefusesWhatCannotGoOnAStripeWhole)
{
    struct Case {
        const char *what;
        void (*edit)(T_PAT_INF &);
    } cases[] = {
        {"11-byte number", [](T_PAT_INF &p) { memcpy(p.szID, "12345678901", 11); }},
        {"no sex", [](T_PAT_INF &p) { p.cSEX = 0; }},
        {"ETX in the number", [](T_PAT_INF &p) { strcpy(p.szID, "12\x03"); }},
        {"STX in the date", [](T_PAT_INF &p) { strcpy(p.szFirstDate, "2024\x02"); }},
        {"ETX as sex", [](T_PAT_INF &p) { p.cSEX = 3; }},
    };
    for (const auto &c : cases) {
        T_PAT_INF p = Patient();
        c.edit(p);
        int ret = 0;
        EXPECT_EQ(MagRecord(p, &ret), "") << c.what;
        EXPECT_EQ(ret, -99) << c.what;
    }
    // Nothing is sent and the socket is never touched.
    T_PAT_INF p = Patient();
    p.cSEX = 0;
    vt::CaptureFd cap(1);
    EXPECT_EQ(m_iWrite(p, -1), -99);
    EXPECT_EQ(Logged(cap.Finish()), (std::vector<std::string>{"磁気書込開始", "× 磁気書込失敗"}));
}

TEST(JisTrace, AppendsWholeLinesAndNeverFollowsALink)
{
    vt::TempDir dir;
    std::string path = dir.file("jisTest.txt");
    vt::WriteFile(path, "kana\n");
    std::string longName(300, 'A');
    EXPECT_EQ(iJisTraceAppend(path.c_str(), "\x3B\x33"), 0);
    EXPECT_EQ(iJisTraceAppend(path.c_str(), longName.c_str()), 0);
    EXPECT_EQ(vt::ReadFile(path), "kana\n\x1B$B\x3B\x33\n\x1B$B" + longName + "\n");

    std::string target = dir.file("victim");
    vt::WriteFile(target, "keep");
    std::string link = dir.file("link.txt");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(iJisTraceAppend(link.c_str(), "\x3B\x33"), -1);
    EXPECT_EQ(vt::ReadFile(target), "keep");

    // A FIFO without a reader would block a plain open for writing forever.
    std::string fifo = dir.file("fifo.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(iJisTraceAppend(fifo.c_str(), "\x3B\x33"), -1);
}

// ---- image block transfer -----------------------------------------------------------

struct Blocks {
    ImgBlock *blk = nullptr;
    int n = -1;
    explicit Blocks(const Image &img)
    {
        T_PAT_INF p;
        memset(&p, 0, sizeof p);
        p.stImg = img;
        blk = m_GetImageBlk(p, &n);
    }
    ~Blocks() { vImgBlkFree(blk, n); }
    // "rows 3-4: 5-6 9-12; rows ..." for a readable comparison.
    std::string Text() const
    {
        std::string t;
        for (int k = 0; k < n; k++) {
            t += (k ? "; rows " : "rows ") + std::to_string(blk[k].blkStY) + "-" + std::to_string(blk[k].blkEndY) + ":";
            for (int s = 0; s < blk[k].blkN; s++) {
                t += " " + std::to_string(blk[k].blkX[s].blkStX) + "-" + std::to_string(blk[k].blkX[s].blkEndX);
            }
        }
        return t;
    }
    std::vector<Bytes> Frames(const Image &img) const
    {
        ::Frames f;
        EXPECT_EQ(iImageBlkFrames(&img, blk, n, Collect, &f), 0);
        return f.got;
    }
};

TEST(ImageBlk, BandsSpansAndFramesOfThePicture)
{
    struct Case {
        const char *what;
        uint32_t w, h;
        std::vector<std::array<int, 4>> ink;  // first column, last column, byte-row, value
        std::string blocks;
        std::vector<Bytes> frames;
    } cases[] = {
        {"one inked byte", 16, 64, {{5, 5, 3, 0x81}}, "rows 3-4: 5-6", {Frame("M5,3,2,18000000")}},
        {"15 empty columns: one span", 64, 8, {{0, 0, 0, 1}, {16, 16, 0, 1}}, "rows 0-0: 0-17",
         {Frame("M0,0,1,10" + Bytes(30, '0') + "1000")}},
        {"16 empty columns: two spans", 64, 8, {{0, 0, 0, 1}, {17, 17, 0, 1}}, "rows 0-0: 0-1 17-18",
         {Frame("M0,0,1,1000"), Frame("M17,0,1,1000")}},
        // A band of 4 byte-rows, a span of 250 columns: 100 columns a frame.
        {"span of 250 columns", 300, 64, {{20, 268, 1, 0xFF}, {20, 268, 2, 0xFF}, {20, 268, 3, 0xFF}},
         "rows 1-4: 20-269",
         {Frame("M20,1,4," + Repeat("FFFFFF00", 100)), Frame("M120,1,4," + Repeat("FFFFFF00", 100)),
          Frame("M220,1,4," + Repeat("FFFFFF00", 49) + "00000000")}},
        // Ink in the last byte-row only: one byte a column, 400 columns a
        // frame, and the band and span end at the picture's edges.
        {"last byte-row", 480, 16, {{0, 479, 1, 0x80}}, "rows 1-1: 0-479",
         {Frame("M0,1,1," + Repeat("08", 400)), Frame("M400,1,1," + Repeat("08", 80))}},
        {"no ink", 480, 512, {}, "", {}},
    };
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h);
        for (const auto &i : c.ink) {
            for (int col = i[0]; col <= i[1]; col++) {
                pic.Ink(col, i[2], static_cast<unsigned char>(i[3]));
            }
        }
        Blocks b(pic.img);
        ASSERT_NE(b.blk, nullptr) << c.what;
        EXPECT_EQ(b.Text(), c.blocks) << c.what;
        EXPECT_EQ(b.Frames(pic.img), c.frames) << c.what;
    }
}

TEST(ImageBlk, PictureWithoutInkLogsStartAndEnd)
{
    ColPic pic(480, 512);
    Blocks b(pic.img);
    T_PAT_INF p;
    memset(&p, 0, sizeof p);
    p.stImg = pic.img;
    vt::CaptureFd cap(1);
    EXPECT_EQ(m_iImageBlkSet(p, -1, b.blk, b.n), 0);
    EXPECT_EQ(Logged(cap.Finish()), (std::vector<std::string>{"外部イメージ展開開始", "外部イメージ展開完了"}));
}

TEST(ImageBlk, RefusesPicturesAndBandsBeyondTheMachine)
{
    struct Case {
        uint32_t w, h, bits;
    } cases[] = {{481, 8, 1}, {16, 513, 1}, {16, 8, 4}, {16, 8, 24}};
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h, c.bits);
        pic.Ink(0, 0);
        vt::CaptureFd err(2);
        Blocks b(pic.img);
        err.Finish();
        EXPECT_EQ(b.blk, nullptr) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_EQ(b.n, -1);
        Frames f;
        ImgBlock band{1, 0, 0, nullptr};
        BlockX span{0, 0};
        band.blkX = &span;
        EXPECT_EQ(iImageBlkFrames(&pic.img, &band, 1, Collect, &f), -99);
        EXPECT_TRUE(f.got.empty());
    }
    // Bands that name columns or byte-rows outside the picture.
    ColPic pic(16, 16);
    BlockX inside{0, 15}, wide{0, 16};
    ImgBlock bad[] = {{1, 1, 2, &inside}, {1, 0, 1, &wide}, {1, -1, 0, &inside}, {1, 0, 0, nullptr}};
    for (auto &band : bad) {
        Frames f;
        EXPECT_EQ(iImageBlkFrames(&pic.img, &band, 1, Collect, &f), -99);
        EXPECT_TRUE(f.got.empty());
    }
}

// ---- whole-image transfer -------------------------------------------------------

TEST(ImageL, ColumnsOf59BytesStillFitTheFrame)
{
    ColPic pic(500, 472);
    pic.Ink(479, 58, 0x12);
    Frames f;
    EXPECT_EQ(iImageLFrames(&pic.img, Collect, &f), 0);
    ASSERT_EQ(f.got.size(), 480u);
    EXPECT_EQ(f.got[479], Frame("C479,0," + Bytes(116, '0') + "21"));  // 127 bytes, 128 with its block check
}

TEST(WholeImage, RefusalsAndEmptyPicturesSendNothing)
{
    struct Case {
        const char *what;
        uint32_t w, h, bits;
        int (*fn)(T_PAT_INF, int);
        int ret;
        const char *last;
    } cases[] = {
        {"L: 60-byte columns", 4, 473, 1, m_iImageLSet, -99, "× 外部イメージ展開失敗"},
        {"L: 8 bits", 4, 8, 8, m_iImageLSet, -99, "× 外部イメージ展開失敗"},
        {"B: 64-byte columns", 4, 505, 1, m_iImageBSet, -99, "× 外部イメージ展開失敗"},
        {"B: 4 bits", 4, 8, 4, m_iImageBSet, -99, "× 外部イメージ展開失敗"},
        {"B: height 0", 4, 0, 1, m_iImageBSet, 0, "外部イメージ展開成功"},
        {"B: width 0", 0, 8, 1, m_iImageBSet, 0, "外部イメージ展開成功"},
        {"L: width 0", 0, 8, 1, m_iImageLSet, 0, "外部イメージ展開成功"},
    };
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h, c.bits);
        T_PAT_INF p;
        memset(&p, 0, sizeof p);
        p.stImg = pic.img;
        vt::CaptureFd cap(1);
        EXPECT_EQ(c.fn(p, -1), c.ret) << c.what;  // -1: any send would fail and log
        EXPECT_EQ(Logged(cap.Finish()), (std::vector<std::string>{"外部イメージ展開開始", c.last})) << c.what;
    }
}

// ---- character set ----------------------------------------------------------------

Bytes Layout(const std::string &file, const T_PAT_INF &p, const char *birth = "B", const char *sex = "S",
             int size = 896, int *ret = nullptr)
{
    FILE *fp = fmemopen(const_cast<char *>(file.data()), file.size(), "r");
    char snd[896] = {};
    int len = iCharSetLayout(fp, &p, birth, sex, snd, size);
    fclose(fp);
    if (ret != nullptr) {
        *ret = len;
    }
    return len > 0 ? Bytes(snd, static_cast<size_t>(len)) : Bytes();
}

TEST(CharSetLayout, PiecesOfEachCountedLine)
{
    T_PAT_INF p = Patient();
    strcpy(p.szNameKANJI, "漢字");
    struct Case {
        const char *what;
        std::string file;
        Bytes frame;
    } cases[] = {
        {"worked example", "0,\n10,20,K,\n100,50,K,\n",
         "\x02\x41\x30\x2C\x31\x30\x2C\x32\x30\x2C\x1B\x45\x4B\x31\x32\x33\x34\x35\x1B\x58\x31\x30\x30\x1B\x59\x30"
         "\x35\x30\x1B\x45\x4B\x8A\xBF\x8E\x9A\x03"},
        {"comments only", ";head\n;number\n", "\x02\x41\x03"},
        {"zero-padded positions", "\n\n7,1234,\n", Frame("A\x1BX007\x1BY1234")},
        {"signs and junk in positions", "\n\n -5,+12x,\n3,,abc,\n", Frame("A\x1BX-05\x1BY012\x1BX003\x1BY000")},
        {"birth, sex, kana", "\n\n\n1,2,a,\n3,4,b,\n5,6,c,\n",
         Frame("A\x1BX001\x1BY002\x1B" "EaB\x1BX003\x1BY004\x1B" "EbS\x1BX005\x1BY006\x1B" "Ecヤマダ　タロウ")},
        {"line 6 has positions only", "\n\n\n\n\n\n9,8,K,\n", Frame("A\x1BX009\x1BY008")},
        {"no trailing comma keeps the line feed", "\n\n100,50,K\n", Frame("A\x1BX100\x1BY050\x1B" "EK\n漢字")},
        {"fewer fields, fewer pieces", "H,X,\n10,\n100,\n", Frame("AH,10\x1BX100")},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(vt::ToHex(Layout(c.file, p)), vt::ToHex(c.frame)) << c.what;
    }
    EXPECT_EQ(Bcc(cases[0].frame), 0x48);
    EXPECT_EQ(Bcc(cases[1].frame), 0x42);
}

TEST(CharSetLayout, FrameMustFitWithItsBlockCheck)
{
    // Ten bytes per positions line: the head decides whether 896 is reached.
    std::string lines;
    for (int i = 0; i < 89; i++) {
        lines += "1,2,\n";
    }
    T_PAT_INF p = Patient();
    int ret = 0;
    EXPECT_EQ(Layout("00,\n\n" + lines, p, "B", "S", 896, &ret).size(), 895u);
    EXPECT_EQ(Layout("000,\n\n" + lines, p, "B", "S", 896, &ret), "");
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(Layout("0,\n", p, "B", "S", 4, &ret), "");  // no room for the head
    EXPECT_EQ(Layout("\x03,\n", p, "B", "S", 896, &ret), "");  // an ETX would end the frame
}

// The machine starts a new frame at an STX: one in an attribute field would
// cut the character set in two, so such a layout is refused like an ETX.
TEST(CharSetLayout, StxInAnAttributeIsRefused)
{
    int ret = 0;
    EXPECT_EQ(Layout("0,\n10,20,K\x02,\n", Patient(), "B", "S", 896, &ret), "");
    EXPECT_EQ(ret, -1);
}

// The working folder holds the settings files for the duration of a case.
class InDir {
public:
    InDir()
    {
        char *cwd = getcwd(nullptr, 0);
        old_ = cwd;
        free(cwd);
        EXPECT_EQ(chdir(dir_.path().c_str()), 0);
    }
    ~InDir() { EXPECT_EQ(chdir(old_.c_str()), 0); }
    void Put(const std::string &name, const std::string &bytes) { vt::WriteFile(dir_.file(name), bytes); }

private:
    vt::TempDir dir_;
    std::string old_;
};

TEST(CharSetBuild, SexWordAndBirthDateFollowThePrintStyle)
{
    struct Case {
        const char *style;
        char sex;
        const char *birth;
        const char *birthText;
        const char *word;
        const char *log;
    } cases[] = {
        {"x,\n1,\n0,\n", '1', "19890108", "平成 1年 1月 8日", "男", "　男"},
        {"x,\n1,\n1,\n", '2', "18000101", "18000101", "女性", "　女性"},
        {"x,\n1,\n", '1', "19890108", "平成 1年 1月 8日", "男性", "　男性"},  // no sex style: long words
        {"x,\n1,\n,\n", '2', "19890108", "平成 1年 1月 8日", "女性", "　女性"},
        {";c\n;c\nx,\n1,\n0,\n", '0', "20190501", "令和 1年 5月 1日", "女", "　女"},
    };
    for (const auto &c : cases) {
        InDir dir;
        dir.Put("printstyle.txt", c.style);
        dir.Put("printsetting.txt", "\n\n\n1,2,a,\n3,4,b,\n");
        T_PAT_INF p = Patient();
        p.cSEX = c.sex;
        strcpy(p.szBirthDate, c.birth);
        char snd[896] = {};
        vt::CaptureFd cap(1);
        int len = iCharSetBuild(&p, snd, sizeof snd);
        auto log = Logged(cap.Finish());
        ASSERT_GT(len, 0) << c.style;
        Bytes want = Frame(std::string("A\x1BX001\x1BY002\x1B" "Ea") + c.birthText + "\x1BX003\x1BY004\x1B" "Eb" + c.word);
        EXPECT_EQ(vt::ToHex(Bytes(snd, static_cast<size_t>(len))), vt::ToHex(want)) << c.style;
        EXPECT_EQ(log, (std::vector<std::string>{"性別設定", c.log})) << c.style;
    }
}

TEST(CharSet, MissingFilesOrOversizeLayoutSendNothing)
{
    const std::string style2 = "× 設定ファイル２を読み込むことができません。処理不可能n";
    std::string big;
    for (int i = 0; i < 100; i++) {
        big += "1,2,\n";
    }
    struct Case {
        const char *what;
        const char *style;
        std::string layout;
        std::vector<std::string> log;
    } cases[] = {
        {"no print style", nullptr, "0,\n", {"キャラクタセット開始", style2, style2}},
        {"no layout", "x,\n1,\n", "", {"キャラクタセット開始", "性別設定", "　男性",
                                        "× 設定ファイルを読み込むことができません。処理不可能n"}},
        {"layout too long", "x,\n1,\n", big, {"キャラクタセット開始", "性別設定", "　男性", "× キャラクタセット失敗"}},
    };
    for (const auto &c : cases) {
        InDir dir;
        if (c.style != nullptr) {
            dir.Put("printstyle.txt", c.style);
        }
        if (!c.layout.empty()) {
            dir.Put("printsetting.txt", c.layout);
        }
        vt::CaptureFd cap(1);
        EXPECT_EQ(m_iCharSet(Patient(), -1), -99) << c.what;  // -1: a send would fail and log
        EXPECT_EQ(Logged(cap.Finish()), c.log) << c.what;
    }
}

// A settings file that opens but cannot be read (here a folder of that name)
// is reported like a missing one, never sent as an empty character set.
TEST(CharSet, SettingsFileThatCannotBeReadSendsNothing)
{
    const std::string style2 = "× 設定ファイル２を読み込むことができません。処理不可能n";
    struct Case {
        const char *folder;
        std::vector<std::string> log;
    } cases[] = {
        {"printstyle.txt", {"キャラクタセット開始", style2, style2}},
        {"printsetting.txt",
         {"キャラクタセット開始", "性別設定", "　男性", "× 設定ファイルを読み込むことができません。処理不可能n"}},
    };
    for (const auto &c : cases) {
        InDir dir;
        dir.Put("printstyle.txt", "x,\n1,\n");
        dir.Put("printsetting.txt", "0,\n");
        ASSERT_EQ(unlink(c.folder), 0);
        ASSERT_EQ(mkdir(c.folder, 0700), 0);
        vt::CaptureFd cap(1);
        EXPECT_EQ(m_iCharSet(Patient(), -1), -99) << c.folder;  // -1: a send would fail and log
        EXPECT_EQ(Logged(cap.Finish()), c.log) << c.folder;
    }
}

}  // namespace
