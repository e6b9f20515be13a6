// The printer commands: the magnetic record, the image frames, the character
// set layout, and each command's frames and log lines on a fake line.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

#include "fakeline.h"
#include "frames.h"
#include "head.h"
#include "link.h"
#include "picture.h"
#include "sample_card.h"
#include "sock.h"
#include "testutil.h"

namespace {

using Bytes = std::string;
using Lines = std::vector<std::string>;
using sample::Patient;
using vt::Repeat;

Bytes Frame(const Bytes &body) { return "\x02" + body + "\x03"; }
// Lines (or, in hex, the units of a line) parted by '|'.
Bytes Join(const Lines &lines, bool hex = false)
{
    Bytes s;
    for (const auto &l : lines) s += (s.empty() ? "" : "|") + (hex ? vt::ToHex(l) : l);
    return s;
}
int Collect(void *ctx, char *snd, int len)
{
    static_cast<std::vector<Bytes> *>(ctx)->emplace_back(snd, static_cast<size_t>(len));
    return 0;
}

// A 1-bit picture already in column form, white but for the bytes inked, in the sample patient's record.
struct ColPic {
    std::vector<unsigned char> data;
    T_PAT_INF pat = Patient();
    ColPic(uint32_t w, uint32_t h, uint32_t bits = 1, int first = 0) : data(w * ((h + 7) / 8) + 1, 0)
    {
        pat.stImg = {h, w, bits, data.data()};
        data[0] = static_cast<unsigned char>(first);
    }
    void Ink(int col, int byteRow, int v) { data[col * ((pat.stImg.height + 7) / 8) + byteRow] = uint8_t(v); }
};

Bytes Acked(const Bytes &frame) { return frame + "|06"; }  // a frame and the ACK that answers it
Bytes W(const Bytes &body) { return sample::Wire(body); }
// A whole-picture command on a picture of w x h whose first byte is `first`.
std::function<int(int)> Set(int (*set)(T_PAT_INF, int), uint32_t w, uint32_t h, uint32_t bits = 1, int first = 0)
{
    return [=](int s) { return set(ColPic(w, h, bits, first).pat, s); };
}

TEST(KanaField, LaysTheNameBetweenShiftCodes)
{
    const Bytes k = "123456789:;<=>?@ABCDEF", g = "PQRSTUVWXYZ[\\]^_";  // 22 and 16 kana codes
    const std::pair<Bytes, Bytes> cases[] = {
        // name, field before its fill of blanks
        {"TO@^ @[3", "\x0ETO@^\x0F \x0E@[3\x0F"},
        {"TO@^  @[3", "\x0ETO@^\x0F \x0E@[3\x0F"},  // two blanks count as one
        {"TO@^", "\x0ETO@^\x0F \x0E\x0F"},
        {"TO!@^", "\x0ETO\x0F \x0E@^\x0F"},  // the full stop parts the name
        {k + "GH", "\x0E" + k + "\x0F"},     // 24 bytes, no blank: cut
        {k.substr(0, 10) + " " + g, "\x0E" + k.substr(0, 10) + "\x0F \x0E" + g.substr(0, 9) + "\x0F"},
        // The cut would leave these shifted out; the last byte shifts them in.
        {k.substr(0, 20), "\x0E" + k.substr(0, 20) + "\x0F  "},
        {k.substr(0, 10) + " " + k.substr(10, 10), "\x0E" + k.substr(0, 10) + "\x0F \x0E" + k.substr(10, 9) + "\x0F"},
        // A full stop behind the 24 bytes is left alone, so no second blank follows the last one.
        {k.substr(0, 21) + "   !", "\x0E" + k.substr(0, 21) + "\x0F "},
    };
    for (const auto &[name, field] : cases) {
        char out[25];
        EXPECT_EQ(iKanaField(name.c_str(), out), 24);
        EXPECT_EQ(vt::ToHex(Bytes(out, 25)), vt::ToHex(field + Bytes(24 - field.size(), ' ') + '\0')) << name;
    }
}

// The sample patient's record with one field changed: short fields are
// filled; a record that cannot go on a stripe whole is refused, never cut (a
// cut patient number names another patient).
TEST(MagRecord, FieldsFilledOrTheRecordRefused)
{
    using S = sample::Stripe;
    const std::tuple<void (*)(T_PAT_INF &), Bytes S::*, Bytes> cases[] = {
        {[](T_PAT_INF &p) { strcpy(p.szBirthDate, "197001"); }, &S::sBirth, "197001  "},
        {[](T_PAT_INF &p) { p.szNameKANJI[0] = 0; }, &S::sKanji, Bytes(14, '!')},  // ideographic blanks
        {[](T_PAT_INF &p) { memcpy(p.szID, "12345678901", 11); }, nullptr, "11-byte number"},
        {[](T_PAT_INF &p) { strcpy(p.szID, "12\x03"); }, nullptr, "ETX"},  // it would end the frame early
    };
    for (const auto &[edit, field, value] : cases) {
        T_PAT_INF p = Patient();
        edit(p);
        S want;
        if (field) want.*field = value;
        char snd[128] = {}, jis[256] = {};
        const int len = iMagRecord(&p, snd, sizeof snd, jis, sizeof jis);
        EXPECT_EQ(vt::ToHex(len > 0 ? Bytes(snd, len) : std::to_string(len)),
                  vt::ToHex(field ? Frame("9" + want.Bytes()) : "-99"))
            << value;
    }
}

// Each frame names the first column and byte-row of its band's span and the
// band's height in byte-rows: the frames show the bands and spans found.
TEST(ImageBlk, BandsSpansAndFramesOfThePicture)
{
    using Ink = std::array<int, 4>;  // first column, last column, byte-row, value
    const std::tuple<uint32_t, uint32_t, std::vector<Ink>, std::vector<Bytes>> cases[] = {
        {16, 64, {{5, 5, 3, 0x81}}, {Frame("M5,3,2,18000000")}},
        // 15 empty columns between two spans join them, 16 do not.
        {64, 8, {{0, 0, 0, 1}, {16, 16, 0, 1}}, {Frame("M0,0,1,10" + Bytes(30, '0') + "1000")}},
        {64, 8, {{0, 0, 0, 1}, {17, 17, 0, 1}}, {Frame("M0,0,1,1000"), Frame("M17,0,1,1000")}},
        // Two bands, each cut into spans by its own byte-rows alone.
        {64, 24, {{0, 0, 0, 1}, {40, 40, 2, 1}}, {Frame("M0,0,2,10000000"), Frame("M40,2,1,1000")}},
        // A band of 4 byte-rows, a span of 250 columns: 100 columns a frame.
        {300,
         64,
         {{20, 268, 1, 0xFF}, {20, 268, 2, 0xFF}, {20, 268, 3, 0xFF}},
         {Frame("M20,1,4," + Repeat("FFFFFF00", 100)), Frame("M120,1,4," + Repeat("FFFFFF00", 100)),
          Frame("M220,1,4," + Repeat("FFFFFF00", 49) + "00000000")}},
        // One byte a column: 400 columns a frame; band and span end at the edges.
        {480, 16, {{0, 479, 1, 0x80}}, {Frame("M0,1,1," + Repeat("08", 400)), Frame("M400,1,1," + Repeat("08", 80))}},
        {480, 512, {}, {}},  // no ink: no band, not a failure
    };
    for (const auto &[w, h, ink, frames] : cases) {
        ColPic pic(w, h);
        for (const Ink &i : ink)
            for (int col = i[0]; col <= i[1]; col++) pic.Ink(col, i[2], i[3]);
        int n = -1;
        ImgBlock *blk = m_GetImageBlk(pic.pat, &n);
        ASSERT_NE(blk, nullptr) << w << " x " << h;
        std::vector<Bytes> got;
        EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, blk, n, Collect, &got), 0);
        EXPECT_EQ(got, frames) << w << " x " << h;
        vImgBlkFree(blk, n);
    }
}

// Bands and spans handed in that leave the picture send nothing, not even
// the frames of what is inside it.
TEST(ImageBlk, BlocksOutsideThePictureSendNothing)
{
    ColPic pic(200, 32);  // 4 byte-rows
    const std::array<int, 5> cases[] = {
        // band start, band end, span start, span end, result
        {0, 3, 0, 199, 0},  {0, 3, 0, 200, -99}, {0, 3, -1, 3, -99}, {0, 3, 5, 4, -99},
        {-1, 2, 0, 3, -99}, {2, 1, 0, 3, -99},   {0, 4, 0, 3, -99},
    };
    for (const auto &[y0, y1, x0, x1, ret] : cases) {
        BlockX x{x0, x1};
        ImgBlock b{1, y0, y1, &x};
        std::vector<Bytes> frames;
        EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, &b, 1, Collect, &frames), ret)
            << y0 << ".." << y1 << ", " << x0 << ".." << x1;
        EXPECT_EQ(frames.size(), ret == 0 ? 2u : 0u);  // 100 columns a frame
    }
    // Nor a band count below 0, bands without their array, or a picture without its pixels.
    ImgBlock none{};
    EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, &none, -1, Collect, nullptr), -99);
    EXPECT_EQ(iImageBlkFrames(&pic.pat.stImg, nullptr, 1, Collect, nullptr), -99);
    pic.pat.stImg.data = nullptr;
    int n = -1;
    EXPECT_EQ(m_GetImageBlk(pic.pat, &n), nullptr);
}

// The machine answers every frame with ACK and the row's result reply; each
// command's frames byte for byte, its result and its own log lines (the
// link's traffic is on the line's log, left out here).
TEST(Commands, FramesAndLog)
{
    const Bytes R(20, 'R'), zeros(12, '0'), sts = "ステータスチェック開始|ステータスチェック成功";
    const Bytes image = "外部イメージ展開開始|外部イメージ展開成功",
                noImage = "外部イメージ展開開始|× 外部イメージ展開失敗";
    // The run's own commands show in the fault matrix; these are the ones it
    // never sends, and the refusals and status answers it cannot reach.
    const std::tuple<std::function<int(int)>, Bytes, int, Bytes, Bytes> rows[] = {
        // command, result reply (in a status, byte 12 the card, 16 the cover), result, wire, log
        {m_iBufClear, R, 0, Acked("02 40 03 43"), "バッファクリア開始|バッファクリア成功"},
        {[](int s) { return m_iCardPut(Patient('\0'), s); }, R, 0, Acked(sample::kRewrite),
         "カード出力開始|　リライト|カード出力成功"},
        {m_iStsChk, zeros + "00001", -4, Acked(sample::kStatus),
         sts + "|カードを挿入してください|カバ－が開いています"},
        {m_iStsChk, zeros + "20000", -3, Acked(sample::kStatus), sts + "|発行機に抜き取り待ちのカ－ドがあります"},
        // A reply too short to hold both the card and the cover is no status.
        {m_iStsChk, zeros + "1000", -1, Acked(sample::kStatus), "ステータスチェック開始|× ステータスチェック失敗"},
        // Whole pictures: one "C" frame a column (of up to 59 bytes, which still
        // fit the 128 of a frame), "M" frames of whole columns (up to 63 bytes).
        {Set(m_iImageLSet, 1, 472, 1, 0x12), R, 0, Acked(W("C0,0,21" + Bytes(116, '0'))), image},
        {Set(m_iImageLSet, 3, 16), R, 0,
         Acked(W("C0,0,0000")) + "|" + Acked(W("C1,0,0000")) + "|" + Acked(W("C2,0,0000")), image},
        {Set(m_iImageBSet, 1, 8, 1, 0x81), R, 0, Acked(W("M0,0,1,18")), image},
        {Set(m_iImageBSet, 4, 0), R, 0, "", image},
        {Set(m_iImageLSet, 4, 473), R, -99, "", noImage},
        {Set(m_iImageLSet, 4, 8, 8), R, -99, "", noImage},
        {Set(m_iImageBSet, 4, 505), R, -99, "", noImage},
        {Set(m_iImageBSet, 4, 8, 4), R, -99, "", noImage},
    };
    for (const auto &[fn, reply, ret, wire, log] : rows) {
        vt::FakeLine line;
        line.on_unit = [answer = reply](vt::FakeLine &l, const std::string &unit) {
            if (unit != "\x06") l.ReplyIn(0, vt::Answer(SCK_ACK)), l.ReplyIn(1, answer);
        };
        const LnkLine ll = line.Line();
        LNK_vReroute(&ll);
        vt::CaptureFd cap(1);
        const int got = fn(99);
        LNK_vReroute(nullptr);
        EXPECT_EQ(std::make_tuple(got, Join(line.Units(), true), Join(vt::LogMessages(cap.Finish()))),
                  std::make_tuple(ret, wire, log));
    }
}

}  // namespace
