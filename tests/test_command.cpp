// The printer commands' pure parts: the magnetic record, the image frames and
// the character set layout, and the refusals that send nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fakeline.h"
#include "frames.h"
#include "head.h"
#include "link.h"
#include "picture.h"
#include "sample_card.h"
#include "settings.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Bytes = std::string;
using Lines = std::vector<std::string>;
using sample::Patient;

// A 1-bit picture already in column form, all white.
struct ColPic {
    std::vector<unsigned char> data;
    T_PAT_INF pat;
    ColPic(uint32_t w, uint32_t h, uint32_t bits = 1) : data(w * ((h + 7) / 8) + 1, 0)
    {
        memset(&pat, 0, sizeof pat);
        pat.stImg = {h, w, bits, data.data()};
    }
    void Ink(int col, int byteRow, unsigned char v) { data[col * ((pat.stImg.height + 7) / 8) + byteRow] = v; }
};

int Collect(void *ctx, char *snd, int len)
{
    static_cast<std::vector<Bytes> *>(ctx)->emplace_back(snd, static_cast<size_t>(len));
    return 0;
}

Bytes Frame(const Bytes &body) { return "\x02" + body + "\x03"; }

using vt::Repeat;

// ---- magnetic record ---------------------------------------------------------

TEST(KanaField, LaysTheNameBetweenShiftCodes)
{
    const Bytes k22 = "\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3A\x3B\x3C\x3D\x3E\x3F\x40\x41\x42\x43\x44\x45\x46";
    const Bytes fam10 = k22.substr(0, 10);
    const Bytes giv16 = "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5A\x5B\x5C\x5D\x5E\x5F";
    struct Case {
        const char *what;
        Bytes name, field;
    } cases[] = {
        {"two parts", "\x54\x4F\x40\x5E\x20\x40\x5B\x33",
         "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x40\x5B\x33\x0F" + Bytes(12, ' ')},
        {"two blanks count as one", "\x54\x4F\x40\x5E\x20\x20\x40\x5B\x33",
         "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x40\x5B\x33\x0F" + Bytes(12, ' ')},
        {"one part", "\x54\x4F\x40\x5E", "\x0E\x54\x4F\x40\x5E\x0F\x20\x0E\x0F" + Bytes(15, ' ')},
        {"0x21 parts the name", "\x54\x4F\x21\x40\x5E", "\x0E\x54\x4F\x0F\x20\x0E\x40\x5E\x0F" + Bytes(15, ' ')},
        {"24 bytes, no blank: cut", k22 + "\x47\x48", "\x0E" + k22 + "\x0F"},
        {"10 + blank + 16: cut", fam10 + " " + giv16, "\x0E" + fam10 + "\x0F\x20\x0E" + giv16.substr(0, 9) + "\x0F"},
        // The cut would leave these shifted out; the last byte shifts them in.
        {"one part of 20", k22.substr(0, 20), "\x0E" + k22.substr(0, 20) + "\x0F\x20\x20"},
        {"two parts of 10", fam10 + " " + k22.substr(10, 10),
         "\x0E" + fam10 + "\x0F\x20\x0E" + k22.substr(10, 9) + "\x0F"},
    };
    for (const auto &c : cases) {
        char field[25];
        EXPECT_EQ(iKanaField(c.name.c_str(), field), 24);
        EXPECT_EQ(vt::ToHex(Bytes(field, 24)), vt::ToHex(c.field)) << c.what;
        EXPECT_EQ(field[24], '\0');
    }
}

Bytes MagRecord(const T_PAT_INF &p, int *ret = nullptr)
{
    char snd[128] = {};
    int len = iMagRecord(&p, snd, sizeof snd, nullptr, 0);
    if (ret != nullptr) *ret = len;
    return len > 0 ? Bytes(snd, static_cast<size_t>(len)) : Bytes();
}

TEST(MagRecord, SamplePatientByteForByte)
{
    char jis[256] = {};
    char snd[128] = {};
    T_PAT_INF p = Patient();
    ASSERT_EQ(iMagRecord(&p, snd, sizeof snd, jis, sizeof jis), 72);
    EXPECT_EQ(vt::ToHex(Bytes(snd, 72)), vt::ToHex(Frame("9" + sample::Stripe().Bytes())));
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
        {"10-byte birth date", [](T_PAT_INF &p) { strcpy(p.szBirthDate, "1970/01/01"); }, 36, "1970/01/"},
        {"6-byte birth date", [](T_PAT_INF &p) { strcpy(p.szBirthDate, "197001"); }, 36, "197001  "},
        {"empty first visit", [](T_PAT_INF &p) { p.szFirstDate[0] = 0; }, 63, Bytes(8, ' ')},
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

// A record that cannot go on a stripe whole is refused, never cut: a cut
// patient number names another patient. m_iWrite then sends nothing.
TEST(MagRecord, RefusesWhatCannotGoOnAStripeWhole)
{
    void (*edits[])(T_PAT_INF &) = {
        [](T_PAT_INF &p) { memcpy(p.szID, "12345678901", 11); }, [](T_PAT_INF &p) { p.cSEX = 0; },
        [](T_PAT_INF &p) { strcpy(p.szID, "12\x03"); },  // an ETX would end the frame early
    };
    for (auto edit : edits) {
        T_PAT_INF p = Patient();
        edit(p);
        int ret = 0;
        EXPECT_EQ(MagRecord(p, &ret), "");
        EXPECT_EQ(ret, -99);
        vt::CaptureFd cap(1);
        EXPECT_EQ(m_iWrite(p, -1), -99);  // -1: any send would fail and log
        EXPECT_EQ(vt::LogMessages(cap.Finish()), (Lines{"磁気書込開始", "× 磁気書込失敗"}));
    }
}

// ---- image block transfer -------------------------------------------------------

struct Blocks {
    ImgBlock *blk = nullptr;
    int n = -1;
    explicit Blocks(const T_PAT_INF &pat) { blk = m_GetImageBlk(pat, &n); }
    ~Blocks() { vImgBlkFree(blk, n); }
};

// Each frame names the first column and byte-row of its band's span and the
// band's height in byte-rows: the frames show the bands and spans found.
TEST(ImageBlk, BandsSpansAndFramesOfThePicture)
{
    struct Case {
        const char *what;
        uint32_t w, h;
        std::vector<std::array<int, 4>> ink;  // first column, last column, byte-row, value
        std::vector<Bytes> frames;
    } cases[] = {
        {"one inked byte", 16, 64, {{5, 5, 3, 0x81}}, {Frame("M5,3,2,18000000")}},
        {"15 empty columns: one span",
         64,
         8,
         {{0, 0, 0, 1}, {16, 16, 0, 1}},
         {Frame("M0,0,1,10" + Bytes(30, '0') + "1000")}},
        {"16 empty columns: two spans",
         64,
         8,
         {{0, 0, 0, 1}, {17, 17, 0, 1}},
         {Frame("M0,0,1,1000"), Frame("M17,0,1,1000")}},
        // A band of 4 byte-rows, a span of 250 columns: 100 columns a frame.
        {"span of 250 columns",
         300,
         64,
         {{20, 268, 1, 0xFF}, {20, 268, 2, 0xFF}, {20, 268, 3, 0xFF}},
         {Frame("M20,1,4," + Repeat("FFFFFF00", 100)), Frame("M120,1,4," + Repeat("FFFFFF00", 100)),
          Frame("M220,1,4," + Repeat("FFFFFF00", 49) + "00000000")}},
        // One byte a column: 400 columns a frame; band and span end at the edges.
        {"last byte-row",
         480,
         16,
         {{0, 479, 1, 0x80}},
         {Frame("M0,1,1," + Repeat("08", 400)), Frame("M400,1,1," + Repeat("08", 80))}},
        {"no ink: no band, not a failure", 480, 512, {}, {}},
    };
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h);
        for (const auto &i : c.ink) {
            for (int col = i[0]; col <= i[1]; col++) pic.Ink(col, i[2], static_cast<unsigned char>(i[3]));
        }
        Blocks b(pic.pat);
        ASSERT_NE(b.blk, nullptr) << c.what;
        std::vector<Bytes> frames;
        EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, b.blk, b.n, Collect, &frames), 0);
        EXPECT_EQ(frames, c.frames) << c.what;
    }
}

// Spans handed in that leave the picture send nothing, not even the frames
// of their columns that are inside it.
TEST(ImageBlk, SpansOutsideThePictureSendNothing)
{
    ColPic pic(200, 32);  // a band of 4 byte-rows: 100 columns a frame
    for (const auto &span : {std::array<int, 2>{0, 200}, {-1, 3}, {5, 4}}) {
        BlockX x{span[0], span[1]};
        ImgBlock b{1, 0, 3, &x};
        std::vector<Bytes> frames;
        EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, &b, 1, Collect, &frames), -99) << span[0] << "-" << span[1];
        EXPECT_TRUE(frames.empty());
    }
}

// What the machine's picture buffer cannot take gets no bands at all.
TEST(ImageBlk, RefusesPicturesBeyondTheMachine)
{
    const std::array<uint32_t, 3> cases[] = {{481, 8, 1}, {16, 513, 1}, {16, 8, 4}};  // width, height, bits
    for (const auto &c : cases) {
        ColPic pic(c[0], c[1], c[2]);
        pic.Ink(0, 0, 0xFF);
        vt::CaptureFd err(2);
        Blocks b(pic.pat);
        err.Finish();
        EXPECT_EQ(b.blk, nullptr) << c[0] << "x" << c[1] << "x" << c[2];
    }
}

// ---- whole-image transfer ------------------------------------------------------

TEST(WholeImage, FramesOfThePicture)
{
    struct Case {
        const char *what;
        int (*build)(const Image *, T_FRAME_SINK, void *);
        uint32_t w, h;
        std::vector<std::array<int, 3>> ink;  // column, byte-row, value
        size_t n;
        std::vector<std::pair<size_t, Bytes>> some;  // frame number, frame
    } cases[] = {
        // Only the first 480 columns go; a column of 59 bytes still fits the
        // 128 bytes of a frame with its block check.
        {"C: 500 x 472",
         iImageLFrames,
         500,
         472,
         {{479, 58, 0x12}, {480, 0, 0xFF}},
         480,
         {{0, Frame("C0,0," + Bytes(118, '0'))}, {479, Frame("C479,0," + Bytes(116, '0') + "21")}}},
        // 100 columns of 8 characters a frame, each frame naming its first column.
        {"M: 250 x 32",
         iImageBFrames,
         250,
         32,
         {{249, 3, 0x0A}},
         3,
         {{0, Frame("M0,0,4," + Bytes(800, '0'))},
          {1, Frame("M100,0,4," + Bytes(800, '0'))},
          {2, Frame("M200,0,4," + Bytes(398, '0') + "A0")}}},
    };
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h);
        for (const auto &i : c.ink) pic.Ink(i[0], i[1], static_cast<unsigned char>(i[2]));
        std::vector<Bytes> frames;
        EXPECT_EQ(c.build(&pic.pat.stImg, Collect, &frames), 0) << c.what;
        ASSERT_EQ(frames.size(), c.n) << c.what;
        for (const auto &f : c.some) EXPECT_EQ(frames[f.first], f.second) << c.what << " frame " << f.first;
    }
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
    };
    for (const auto &c : cases) {
        ColPic pic(c.w, c.h, c.bits);
        vt::CaptureFd cap(1);
        EXPECT_EQ(c.fn(pic.pat, -1), c.ret) << c.what;  // -1: any send would fail and log
        EXPECT_EQ(vt::LogMessages(cap.Finish()), (Lines{"外部イメージ展開開始", c.last})) << c.what;
    }
}

// ---- character set ------------------------------------------------------------------
// (The frames of the head, number, kanji name, birth date and sex lines, and
// of broken and oversized settings files, are rows of the bad input table.)

TEST(CharSetLayout, PiecesOfEachCountedLine)
{
    T_PAT_INF p = Patient();
    strcpy(p.szNameKANJI, "漢字");
    struct Case {
        const char *what;
        std::string file;
        Bytes wire;  // through ETX
    } cases[] = {
        {"zero-padded positions", "\n\n7,1234,\n", Frame("A\x1BX007\x1BY1234")},
        {"number line without attribute: no number", "\n5,6,\n", Frame("A,5,6")},
        {"birth, sex, kana", "\n\n\n1,2,a,\n3,4,b,\n5,6,c,\n",
         Frame("A\x1BX001\x1BY002\x1B"
               "EaB\x1BX003\x1BY004\x1B"
               "EbS\x1BX005\x1BY006\x1B"
               "Ecヤマダ　タロウ")},
        {"line 6 has positions only", "\n\n\n\n\n\n9,8,K,\n", Frame("A\x1BX009\x1BY008")},
    };
    for (const auto &c : cases) {
        FILE *fp = fmemopen(const_cast<char *>(c.file.data()), c.file.size(), "r");
        char snd[896] = {};
        int len = iCharSetLayout(fp, &p, "B", "S", snd, sizeof snd);
        fclose(fp);
        ASSERT_GT(len, 0) << c.what;
        Bytes got(snd, static_cast<size_t>(len));
        EXPECT_EQ(vt::ToHex(got), vt::ToHex(c.wire)) << c.what;
    }
    char empty[] = "0,\n", tiny[3];
    FILE *fp = fmemopen(empty, strlen(empty), "r");
    EXPECT_EQ(iCharSetLayout(fp, &p, "B", "S", tiny, sizeof tiny), -1);  // no room for STX, ETX and block check
    fclose(fp);
}

// The sex word follows counted line 2 of the print style file; without a
// value there, the long words.
TEST(CharSet, SexWordFollowsThePrintStyle)
{
    struct Case {
        std::string style;
        char sex;
        const char *word;
    } cases[] = {
        {"x,\n1,\n0,\n", '1', "男"},  {";c\n;c\nx,\n1,\n0,\n", '2', "女"}, {"x,\n1,\n1,\n", '2', "女性"},
        {"x,\n1,\n,\n", '1', "男性"}, {"x,\n1,\n", '2', "女性"},
    };
    for (const auto &c : cases) {
        FILE *fp = fmemopen(const_cast<char *>(c.style.data()), c.style.size(), "r");
        EXPECT_STREQ(szSexWord(c.sex, iSexStyle(fp)), c.word) << c.style;
        fclose(fp);
    }
}

// ---- each command on the line --------------------------------------------------

// The machine answers every frame with ACK and the row's result reply; each
// command's frames byte for byte, its result and its own log lines (the
// link's traffic is on the line's log, left out here).
TEST(Commands, FramesAndLog)
{
    auto status = [](char card, char cover, size_t len) {
        std::string s(17, '0');
        s[12] = card, s[16] = cover;  // byte 12 the card, byte 16 the cover
        return s.substr(0, len);
    };
    // A picture in column form, for the whole-image commands.
    auto picture = [](uint32_t w, uint32_t h, unsigned char first, int (*fn)(T_PAT_INF, int)) {
        return [=](int s) {
            std::vector<unsigned char> data(w * ((h + 7) / 8), 0);
            data[0] = first;
            T_PAT_INF p = Patient();
            p.stImg = {h, w, 1, data.data()};
            return fn(p, s);
        };
    };
    using sample::Wire;
    const Lines kClear = {"バッファクリア開始", "バッファクリア成功"}, kLed = {"LED設定開始", "LED設定成功"};
    const Lines kSts = {"ステータスチェック開始", "ステータスチェック成功"}, kStsWire = {sample::kStatus, "06"};
    const Lines kImageLog = {"外部イメージ展開開始", "外部イメージ展開成功"};
    const std::string R(20, 'R');
    struct Row {
        const char *name;
        std::function<int(int)> fn;
        std::string reply;  // the result reply
        int ret;
        Lines wire, log;
    } rows[] = {
        {"ClearAll", m_iBufClearAll, R, 0, {sample::kClearAll, "06"}, kClear},
        {"Clear", m_iBufClear, R, 0, {"02 40 03 43", "06"}, kClear},
        {"LedOn", [](int s) { return m_iLEDSet(s, 1); }, R, 0, {sample::kLedOn, "06"}, kLed},
        {"LedOff", [](int s) { return m_iLEDSet(s, 0); }, R, 0, {sample::kLedOff, "06"}, kLed},
        {"Reset", m_iPrtReset, R, 0, {sample::kReset, "06"}, {"プリンターリセット", "プリンターリセット成功"}},
        {"AppendCard",
         [](int s) { return m_iCardPut(Patient('0'), s); },
         R,
         0,
         {sample::kAppend, "06"},
         {"カード出力開始", "　追記カード", "カード出力成功"}},
        {"Rewrite",
         [](int s) { return m_iCardPut(Patient('1'), s); },
         R,
         0,
         {sample::kRewrite, "06"},
         {"カード出力開始", "　リライト", "カード出力成功"}},
        {"RewriteWithoutAStyle",
         [](int s) { return m_iCardPut(Patient('\0'), s); },
         R,
         0,
         {sample::kRewrite, "06"},
         {"カード出力開始", "　リライト", "カード出力成功"}},
        {"MagneticWriteThenStandBy",
         [](int s) { return m_iWrite(Patient(), s); },
         R,
         0,
         {sample::Record(), "06", sample::kWriteStandby, "06"},
         {"磁気書込開始", "磁気書込成功", "磁気書込＋待機開始", "磁気書込＋待機成功"}},
        // A reply too short to hold both the card and the cover is no status.
        {"StatusNoCardCoverOpen",
         m_iStsChk,
         status('0', '1', 17),
         -4,
         kStsWire,
         {"ステータスチェック開始", "ステータスチェック成功", "カードを挿入してください", "カバ－が開いています"}},
        {"StatusCardWaiting",
         m_iStsChk,
         status('2', '0', 17),
         -3,
         kStsWire,
         {"ステータスチェック開始", "ステータスチェック成功", "発行機に抜き取り待ちのカ－ドがあります"}},
        {"StatusCardReady", m_iStsChk, status('1', '0', 17), 0, kStsWire, kSts},
        {"StatusShortReply",
         m_iStsChk,
         status('1', '0', 16),
         -1,
         kStsWire,
         {"ステータスチェック開始", "× ステータスチェック失敗"}},
        // Whole pictures: one "C" frame a column, "M" frames of whole columns.
        {"ImageLThreeColumns",
         picture(3, 16, 0, m_iImageLSet),
         R,
         0,
         {Wire("C0,0,0000"), "06", Wire("C1,0,0000"), "06", Wire("C2,0,0000"), "06"},
         kImageLog},
        {"ImageBOneColumnOfEightRows", picture(1, 8, 0x81, m_iImageBSet), R, 0, {Wire("M0,0,1,18"), "06"}, kImageLog},
    };
    for (const Row &c : rows) {
        vt::FakeLine line;
        line.on_unit = [&c](vt::FakeLine &l, const std::string &unit) {
            if (unit == "\x06") return;
            l.ReplyIn(0, vt::Answer(SCK_ACK));
            l.ReplyIn(1, c.reply);
        };
        const LnkLine ll = line.Line();
        LNK_vReroute(&ll);
        vt::CaptureFd cap(1);
        const int ret = c.fn(99);
        const Lines log = vt::LogMessages(cap.Finish());
        LNK_vReroute(nullptr);
        EXPECT_EQ(ret, c.ret) << c.name;
        Lines wire;
        for (const auto &u : line.Units()) wire.push_back(vt::ToHex(u));
        EXPECT_EQ(wire, c.wire) << c.name;
        EXPECT_EQ(log, c.log) << c.name;
    }
}

}  // namespace
