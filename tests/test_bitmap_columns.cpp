// The column form that the machine takes, the hexadecimal text of columns,
// and the cutting of a picture into bands and spans of ink.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bmpfile.h"
#include "testutil.h"

namespace {

// A picture in row form on the heap, as ReadBmp leaves it.
struct Owned {
    Image img{0, 0, 0, nullptr};
    Owned(uint32_t width, uint32_t height, uint32_t bits, const std::string &rows)
    {
        img.width = width;
        img.height = height;
        img.bitCnt = bits;
        img.data = static_cast<unsigned char *>(malloc(rows.size() ? rows.size() : 1));
        memcpy(img.data, rows.data(), rows.size());
    }
    ~Owned() { FreeImage(&img); }
    std::string Data(size_t n) const { return std::string(reinterpret_cast<const char *>(img.data), n); }
};

std::string Col(Image *img, int col, bool rowForm)
{
    int n = -1;
    unsigned char *p = rowForm ? GetImageCol(img, col, &n) : GetDatCol(img, col, &n);
    if (p == nullptr) {
        return "<null>";
    }
    std::string s(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
    if (rowForm) {
        free(p);
    }
    return s;
}

std::string Ascii(const std::string &bytes)
{
    std::string txt(bytes.size() * 2, '?');
    BinaryToAscii(reinterpret_cast<const unsigned char *>(bytes.data()), &txt[0], static_cast<int>(bytes.size()));
    return txt;
}

struct Arrangement {
    const char *name;
    uint32_t width, height, bits;
    std::string rows;     // row form, top row first
    std::string columns;  // column form, leftmost column first
};

TEST(ImageColumns, SmallPicturesTakeTheMachinesColumnForm)
{
    const std::string eight = std::string(8, '\0');
    const Arrangement cases[] = {
        // Upper rows sit in the low bits of a column byte.
        {"top_row", 8, 8, 1, "\xFF" + std::string(7, '\0'), std::string(8, '\x01')},
        {"bottom_row", 8, 8, 1, std::string(7, '\0') + "\xFF", std::string(8, '\x80')},
        // Rows 8 and 9 make a second byte with only its two low bits used.
        {"ten_high", 8, 10, 1, "\xFF" + std::string(8, '\0') + "\xFF", vt::Hex("01 02 01 02 01 02 01 02 01 02 01 02 01 02 01 02")},
        // Pixel 9 of a row is the top bit of the row's second byte.
        {"pixel_9", 16, 1, 1, vt::Hex("00 80"), eight + "\x01" + std::string(7, '\0')},
        {"nibbles", 2, 3, 4, vt::Hex("12 34 56"), vt::Hex("31 05 42 06")},
        {"bytes", 3, 2, 8, vt::Hex("0A 0B 0C 1A 1B 1C"), vt::Hex("0A 1A 0B 1B 0C 1C")},
        {"rgb_2x2", 2, 2, 24, vt::Hex("01 02 03 04 05 06 11 12 13 14 15 16"),
         vt::Hex("01 02 03 11 12 13 04 05 06 14 15 16")},
        {"rgba_2x1", 2, 1, 32, vt::Hex("01 02 03 04 05 06 07 08"), vt::Hex("01 02 03 04 05 06 07 08")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Owned o(c.width, c.height, c.bits, c.rows);
        vt::CaptureFd err(2);
        ASSERT_EQ(ImageRowToCol(&o.img), 0);
        EXPECT_EQ(err.Finish(), "");
        EXPECT_EQ(vt::ToHex(o.Data(c.columns.size())), vt::ToHex(c.columns));
        EXPECT_EQ(o.img.width, c.width);
        EXPECT_EQ(o.img.height, c.height);
    }
}

TEST(ImageColumns, ColumnTextRunsLowNibbleFirst)
{
    EXPECT_EQ(Ascii(vt::Hex("01 A0 FF")), "100AFF");
    EXPECT_EQ(Ascii(std::string(1, '\x01')), "10");  // top row of eight inked
    EXPECT_EQ(Ascii(std::string(1, '\x80')), "08");  // bottom row of eight inked
    char txt[4] = {'x', 'x', 'x', 'x'};
    const unsigned char src[1] = {0x12};
    BinaryToAscii(src, txt, 0);
    BinaryToAscii(src, txt, -3);
    BinaryToAscii(nullptr, txt, 1);
    EXPECT_EQ(std::string(txt, 4), "xxxx");
}

// For random pictures of every bit count, the column that GetImageCol cuts out
// of the row form is the one GetDatCol finds after the conversion. The sizes
// include pictures whose column form is larger than their row form
// (480 x 100 and 480 x 300 at 1 bit), which must not overrun either block.
TEST(ImageColumns, ConversionAgreesWithColumnAccessOnRandomPictures)
{
    struct Size {
        uint32_t width, height, bits;
    } sizes[] = {
        {1, 1, 1},    {7, 3, 1},    {8, 8, 1},   {9, 17, 1},   {33, 10, 1},  {480, 100, 1}, {480, 300, 1},
        {480, 512, 1}, {5, 7, 4},   {6, 1, 4},   {5, 3, 8},    {3, 4, 24},   {4, 3, 32},    {1, 9, 16},
        {0, 5, 1},    {5, 0, 1},
    };
    std::mt19937 rng(42);
    for (const auto &sz : sizes) {
        SCOPED_TRACE(testing::Message() << sz.width << "x" << sz.height << "x" << sz.bits);
        const int64_t rowBytes = vt::BmpRowBytes(sz.width, sz.bits == 16 ? 24 : sz.bits);
        std::string rows(static_cast<size_t>(rowBytes * sz.height), '\0');
        for (auto &c : rows) {
            c = static_cast<char>(rng() & 0xFF);
        }
        Owned o(sz.width, sz.height, sz.bits, rows);
        std::vector<std::string> before;
        for (uint32_t c = 1; c <= sz.width; c++) {
            before.push_back(Col(&o.img, static_cast<int>(c), true));
        }
        ASSERT_EQ(ImageRowToCol(&o.img), 0);
        for (uint32_t c = 0; c < sz.width; c++) {
            ASSERT_EQ(vt::ToHex(Col(&o.img, static_cast<int>(c), false)), vt::ToHex(before[c])) << "column " << c;
        }
    }
}

TEST(ImageColumns, BitsBelowThePictureAreZeroInTheLastByte)
{
    // 1 x 10, every pixel inked: the second byte holds rows 8 and 9 only.
    Owned o(1, 10, 1, std::string(10, '\xFF'));
    ASSERT_EQ(ImageRowToCol(&o.img), 0);
    EXPECT_EQ(vt::ToHex(o.Data(2)), vt::ToHex(vt::Hex("FF 03")));
}

struct AccessCase {
    const char *name;
    uint32_t bits;
    int col;
    bool rowForm;
    std::string message;
};

TEST(ImageColumns, IndexesOutsideThePictureAreRefused)
{
    const AccessCase cases[] = {
        {"col_0_mono", 1, 0, true, "GetImageCol:インデックス計算エラー(-1)\n"},
        {"col_past_mono", 1, 17, true, "GetImageCol:インデックス計算エラー(2)\n"},
        {"col_far_left_mono", 1, -20, true, "GetImageCol:インデックス計算エラー(-2)\n"},
        {"col_0_rgb", 24, 0, true, "GetImageCol:インデックス計算エラー(-1)\n"},
        {"col_min_rgb", 24, INT32_MIN, true, "GetImageCol:インデックス計算エラー(-2147483649)\n"},
        {"col_past_rgb", 24, 17, true, "GetImageCol:インデックス計算エラー(16)\n"},
        {"bits_9_row", 9, 1, true, "GetImageCol:認識できないイメージ(9bit)\n"},
        {"bits_2_row", 2, 1, true, "GetImageCol:認識できないイメージ(2bit)\n"},
        {"dat_minus_1", 1, -1, false, "GetDatCol:-1番目列データは存在しません.\n"},
        {"dat_width", 1, 16, false, "GetDatCol:16番目列データは存在しません.\n"},
        {"dat_bits_0", 0, 0, false, "GetDatCol:認識できないイメージ(0bit)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Owned o(16, 8, c.bits, std::string(16 * 8 * 4, '\x5A'));
        vt::CaptureFd err(2);
        EXPECT_EQ(Col(&o.img, c.col, c.rowForm), "<null>");
        EXPECT_EQ(err.Finish(), c.message);
    }
}

TEST(ImageColumns, MissingPictureOrRowIsRefused)
{
    vt::CaptureFd err(2);
    int n = 0;
    EXPECT_EQ(GetImageCol(nullptr, 1, &n), nullptr);
    Image empty{8, 8, 1, nullptr};
    EXPECT_EQ(GetDatCol(&empty, 3, &n), nullptr);
    EXPECT_EQ(err.Finish(), "GetImageCol:Image = NULL\nGetDatCol:3番目列データは存在しません.\n");

    Owned o(8, 2, 1, vt::Hex("81 42"));
    vt::CaptureFd quiet(2);
    EXPECT_EQ(GetImageRow(&o.img, 0, &n), nullptr);
    EXPECT_EQ(GetImageRow(&o.img, 3, &n), nullptr);
    EXPECT_EQ(GetImageRow(nullptr, 1, &n), nullptr);
    unsigned char *row = GetImageRow(&o.img, 2, &n);
    EXPECT_EQ(quiet.Finish(), "");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(row[0], 0x42);
    free(row);
}

TEST(ImageColumns, ConversionOfAnUnknownLayoutLeavesTheDataAlone)
{
    Owned o(4, 4, 7, std::string(16, '\x33'));
    unsigned char *before = o.img.data;
    vt::CaptureFd err(2);
    EXPECT_EQ(ImageRowToCol(&o.img), -1);
    EXPECT_EQ(err.Finish(),
              "GetImageCol:認識できないイメージ(7bit)\nImageRowToCol:1番目列データは存在しません.\n");
    EXPECT_EQ(o.img.data, before);
    EXPECT_EQ(o.Data(16), std::string(16, '\x33'));
}

// ---- bands and spans ----------------------------------------------------------

struct RunCase {
    const char *name;
    std::vector<int> hist;
    std::vector<int> runs;
};

TEST(Segmentation, RunsEndAtTheFirstEmptyEntryOrTheLastOne)
{
    const RunCase cases[] = {
        {"two_runs", {0, 3, 0, 0, 5, 5}, {1, 2, 4, 5}},
        {"edges", {2, 0, 1}, {0, 1, 2, 2}},
        {"all_empty", {0, 0, 0, 0}, {}},
        {"all_ink", {1, 9, 4, 2, 7}, {0, 4}},
        {"single", {4}, {0, 0}},
        {"negative_is_empty", {-1, 2, -5, 3}, {1, 2, 3, 3}},
        {"nothing", {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const int len = static_cast<int>(c.hist.size());
        EXPECT_EQ(GetBlkNum(c.hist.data(), len), static_cast<int>(c.runs.size() / 2));
        std::vector<int> blk(c.runs.size() + 4, -7);
        GetBlk(c.hist.data(), len, blk.data());
        std::vector<int> want = c.runs;
        want.resize(blk.size(), -7);  // nothing written past the runs
        EXPECT_EQ(blk, want);
    }
    EXPECT_EQ(GetBlkNum(nullptr, 4), 0);
}

struct MergeCase {
    const char *name;
    std::vector<int> pairs;
    int th;
    std::vector<int> spans;
};

TEST(Segmentation, CloseSpansMergeAndAMergedSpanIsComparedAgain)
{
    const MergeCase cases[] = {
        {"first_two", {0, 5, 10, 20, 40, 41}, 16, {0, 20, 40, 41}},
        {"chain_of_three", {0, 2, 5, 7, 10, 12}, 16, {0, 12}},
        {"gap_15_merges", {0, 10, 25, 30}, 16, {0, 30}},
        {"gap_16_stays", {0, 10, 26, 30}, 16, {0, 10, 26, 30}},
        {"threshold_1", {0, 1, 2, 3, 4, 5}, 1, {0, 1, 2, 3, 4, 5}},
        {"threshold_0", {0, 1, 2, 3}, 0, {0, 1, 2, 3}},
        {"merge_then_gap", {0, 1, 3, 4, 100, 101, 103, 104}, 16, {0, 4, 100, 104}},
        {"one_pair", {7, 9}, 16, {7, 9}},
        {"no_pairs", {}, 16, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> blk = c.pairs;
        blk.push_back(0);  // never null, even for no pairs
        int size = static_cast<int>(c.pairs.size() / 2);
        BlockX *out = ModifyBlock(blk.data(), c.th, &size);
        ASSERT_NE(out, nullptr);
        std::vector<int> got;
        for (int k = 0; k < size; k++) {
            got.push_back(out[k].blkStX);
            got.push_back(out[k].blkEndX);
        }
        free(out);
        EXPECT_EQ(got, c.spans);
    }
}

TEST(Segmentation, HistogramsCountInkedBytesPerByteRowOrPerColumn)
{
    // Three columns of two bytes: 01 00 | 00 00 | FF 10.
    Owned o(3, 16, 1, std::string());
    free(o.img.data);
    o.img.data = static_cast<unsigned char *>(malloc(6));
    memcpy(o.img.data, "\x01\x00\x00\x00\xFF\x10", 6);

    int rows[2] = {0, 0};
    GetHist(&o.img, 0, 0, 3, 2, rows, 0);
    EXPECT_EQ(std::vector<int>(rows, rows + 2), (std::vector<int>{2, 1}));
    int cols[3] = {0, 0, 0};
    GetHist(&o.img, 0, 0, 3, 2, cols, 1);
    EXPECT_EQ(std::vector<int>(cols, cols + 3), (std::vector<int>{1, 0, 2}));
    // Counts add to what is there; only the byte-rows asked for count.
    GetHist(&o.img, 0, 1, 3, 2, cols, 1);
    EXPECT_EQ(std::vector<int>(cols, cols + 3), (std::vector<int>{1, 0, 3}));
    // Byte-rows past the column are not read.
    int wide[8] = {0};
    GetHist(&o.img, 0, 0, 3, 8, wide, 0);
    EXPECT_EQ(std::vector<int>(wide, wide + 8), (std::vector<int>{2, 1, 0, 0, 0, 0, 0, 0}));
}

// A card picture read from its file, turned into columns and cut as the card
// run cuts it: bands of byte-rows, then spans of columns merged at 16.
TEST(Segmentation, CardPictureFromFileGivesItsBandsAndSpans)
{
    std::vector<std::string> art(24, std::string(64, '.'));
    art[2][3] = '#';    // band 0: byte-row 0
    art[2][19] = '#';   // 15 empty columns after column 3: same span
    art[5][40] = '#';   // 20 empty columns after column 19: a span of its own
    art[17][63] = '#';  // band 1: byte-row 2, the last one, rightmost column
    vt::TempDir dir;
    vt::WriteFile(dir.file("card.bmp"), vt::MonoBmp(art));
    HeaderInfo header{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    ASSERT_EQ(ReadBmp(dir.file("card.bmp").c_str(), &header, &img), 0);
    ASSERT_EQ(ImageRowToCol(&img), 0);

    const int width = static_cast<int>(img.width);
    const int byteRows = static_cast<int>((img.height + 7) / 8);
    std::vector<int> hist(480, 0);
    GetHist(&img, 0, 0, width, byteRows, hist.data(), 0);
    const int bands = GetBlkNum(hist.data(), byteRows);
    ASSERT_EQ(bands, 2);
    std::vector<int> blkY(2 * bands);
    GetBlk(hist.data(), byteRows, blkY.data());
    EXPECT_EQ(blkY, (std::vector<int>{0, 1, 2, 2}));

    std::vector<std::vector<int>> spans;
    for (int k = 0; k < bands; k++) {
        std::fill(hist.begin(), hist.end(), 0);
        GetHist(&img, 0, blkY[2 * k], width, blkY[2 * k + 1] + 1, hist.data(), 1);
        int n = GetBlkNum(hist.data(), width);
        std::vector<int> blkX(2 * n + 1);
        GetBlk(hist.data(), width, blkX.data());
        BlockX *x = ModifyBlock(blkX.data(), 16, &n);
        ASSERT_NE(x, nullptr);
        std::vector<int> s;
        for (int i = 0; i < n; i++) {
            s.push_back(x[i].blkStX);
            s.push_back(x[i].blkEndX);
        }
        free(x);
        spans.push_back(s);
    }
    EXPECT_EQ(spans[0], (std::vector<int>{3, 20, 40, 41}));
    EXPECT_EQ(spans[1], (std::vector<int>{63, 63}));
    FreeImage(&img);
    FreeHeader(&header);
}

}  // namespace
