// The column form that the machine takes, the hexadecimal text of columns,
// and the runs and merged spans from which bands and spans of ink are cut.
#include <gtest/gtest.h>

#include <climits>
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
    Owned(uint32_t width, uint32_t height, uint32_t bits, const std::string &bytes) : img{height, width, bits, nullptr}
    {
        img.data = static_cast<unsigned char *>(malloc(bytes.size() + 1));
        memcpy(img.data, bytes.data(), bytes.size());
    }
    ~Owned() { FreeImage(&img); }
};

std::string Bytes(const unsigned char *p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }

// One column as text bytes: cut from the row form (from 1) or found in the column form (from 0).
std::string Col(Image *img, int col, bool rowForm)
{
    int n = -1;
    unsigned char *p = rowForm ? GetImageCol(img, col, &n) : GetDatCol(img, col, &n);
    if (p == nullptr) {
        return "<null>";
    }
    std::string s = Bytes(p, static_cast<size_t>(n));
    if (rowForm) {
        free(p);
    }
    return s;
}

TEST(ImageColumns, SmallPicturesTakeTheMachinesColumnForm)
{
    const struct {
        const char *name;
        uint32_t width, height, bits;
        std::string rows, columns;
    } cases[] = {
        // Upper rows sit in the low bits of a column byte.
        {"top_row", 8, 8, 1, "FF 00 00 00 00 00 00 00", "01 01 01 01 01 01 01 01"},
        {"bottom_row", 8, 8, 1, "00 00 00 00 00 00 00 FF", "80 80 80 80 80 80 80 80"},
        // Rows 8 and 9 fill only the two low bits of a second byte.
        {"ten_high", 2, 10, 1, "C0 00 00 00 00 00 00 00 00 C0", "01 02 01 02"},
        // Pixel 9 of a row is the top bit of the row's second byte.
        {"pixel_9", 16, 1, 1, "00 80", "00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"nibbles", 2, 3, 4, "12 34 56", "31 05 42 06"},
        {"bytes", 3, 2, 8, "0A 0B 0C 1A 1B 1C", "0A 1A 0B 1B 0C 1C"},
        {"rgb_2x2", 2, 2, 24, "01 02 03 04 05 06 11 12 13 14 15 16", "01 02 03 11 12 13 04 05 06 14 15 16"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Owned o(c.width, c.height, c.bits, vt::Hex(c.rows));
        vt::CaptureFd err(2);
        ASSERT_EQ(ImageRowToCol(&o.img), 0);
        EXPECT_EQ(err.Finish(), "");
        EXPECT_EQ(vt::ToHex(Bytes(o.img.data, vt::Hex(c.columns).size())), c.columns);
    }
}

TEST(ImageColumns, ColumnTextRunsLowNibbleFirst)
{
    const unsigned char src[3] = {0x01, 0xA0, 0xFF};
    char txt[8] = "xxxxxxx";
    BinaryToAscii(src, txt, 0);
    BinaryToAscii(nullptr, txt, 3);
    EXPECT_STREQ(txt, "xxxxxxx");
    BinaryToAscii(src, txt, 3);
    EXPECT_STREQ(txt, "100AFFx");
}

// Random 1-bit pictures up to the machine's 480 x 512 (where the column form
// takes more bytes than the rows) against the tests' own packing: byte k of a
// column holds rows 8k to 8k+7, the upper row in the low bit. The column cut
// from the rows and the column found after the conversion are both that one.
TEST(ImageColumns, OneBitPicturesAgainstTheTestsOwnPacking)
{
    const uint32_t sizes[][2] = {{1, 1}, {9, 17}, {33, 10}, {480, 100}, {480, 512}, {0, 5}, {5, 0}};
    std::mt19937 rng(42);
    for (const auto &sz : sizes) {
        const uint32_t w = sz[0], h = sz[1], rowBytes = (w + 7) / 8, colBytes = (h + 7) / 8;
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        std::string rows(rowBytes * h, '\0'), want(colBytes * w, '\0');
        for (auto &c : rows) c = static_cast<char>(rng());
        for (uint32_t x = 0; x < w; x++) {
            for (uint32_t y = 0; y < h; y++) {
                if ((static_cast<unsigned char>(rows[y * rowBytes + x / 8]) >> (7 - x % 8)) & 1) {
                    want[x * colBytes + y / 8] = static_cast<char>(want[x * colBytes + y / 8] | 1 << (y % 8));
                }
            }
        }
        Owned o(w, h, 1, rows);
        for (uint32_t x = 0; x < w; x += 7)
            ASSERT_EQ(Col(&o.img, static_cast<int>(x + 1), true), want.substr(x * colBytes, colBytes));
        ASSERT_EQ(ImageRowToCol(&o.img), 0);
        EXPECT_EQ(vt::ToHex(Bytes(o.img.data, want.size())), vt::ToHex(want));
        for (uint32_t x = 0; x < w; x += 7)
            EXPECT_EQ(Col(&o.img, static_cast<int>(x), false), want.substr(x * colBytes, colBytes));
    }
}

TEST(ImageColumns, IndexesAndLayoutsOutsideThePictureAreRefused)
{
    const struct {
        uint32_t bits;
        int col;
        bool rowForm;
        const char *message;
    } cases[] = {
        {1, 0, true, "GetImageCol:インデックス計算エラー(-1)\n"},
        {1, 17, true, "GetImageCol:インデックス計算エラー(2)\n"},
        {24, INT_MIN, true, "GetImageCol:インデックス計算エラー(-2147483649)\n"},
        {2, 1, true, "GetImageCol:認識できないイメージ(2bit)\n"},
        {1, 16, false, "GetDatCol:16番目列データは存在しません.\n"},
        {9, 0, false, "GetDatCol:認識できないイメージ(9bit)\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Owned o(16, 8, c.bits, std::string(512, '\x5A'));
        vt::CaptureFd err(2);
        EXPECT_EQ(Col(&o.img, c.col, c.rowForm), "<null>");
        EXPECT_EQ(err.Finish(), c.message);
    }

    // Rows count from 1, in silence.
    Owned o(8, 2, 1, vt::Hex("81 42"));
    int n = 0;
    vt::CaptureFd err(2);
    EXPECT_EQ(GetImageRow(&o.img, 0, &n), nullptr);
    EXPECT_EQ(GetImageRow(&o.img, 3, &n), nullptr);
    EXPECT_EQ(err.Finish(), "");
    unsigned char *row = GetImageRow(&o.img, 2, &n);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(Bytes(row, static_cast<size_t>(n)), "\x42");
    free(row);

    Owned odd(4, 4, 7, std::string(16, '\x33'));
    vt::CaptureFd err2(2);
    EXPECT_EQ(ImageRowToCol(&odd.img), -1);
    EXPECT_EQ(err2.Finish(), "GetImageCol:認識できないイメージ(7bit)\nImageRowToCol:1番目列データは存在しません.\n");
    EXPECT_EQ(Bytes(odd.img.data, 16), std::string(16, '\x33'));
}

TEST(Segmentation, RunsEndAtTheFirstEmptyEntryOrAtTheLastOne)
{
    const struct {
        std::vector<int> hist, runs;
    } cases[] = {
        {{0, 3, 0, 0, 5, 5}, {1, 2, 4, 5}},
        {{2, 0, 1}, {0, 1, 2, 2}},
        {{0, 0, 0}, {}},
        {{1, 9, 4, 2}, {0, 3}},
        {{-1, 2, -5, 3}, {1, 2, 3, 3}},
        {{}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.hist));
        const int len = static_cast<int>(c.hist.size());
        EXPECT_EQ(GetBlkNum(c.hist.data(), len), static_cast<int>(c.runs.size() / 2));
        std::vector<int> blk(c.runs.size() + 2, -7), want = c.runs;
        want.resize(blk.size(), -7);  // nothing written past the runs
        GetBlk(c.hist.data(), len, blk.data());
        EXPECT_EQ(blk, want);
    }
}

TEST(Segmentation, CloseSpansMergeAndAMergedSpanIsComparedAgain)
{
    const struct {
        std::vector<int> pairs;
        int th;
        std::vector<int> spans;
    } cases[] = {
        {{0, 5, 10, 20, 40, 41}, 16, {0, 20, 40, 41}},
        {{0, 2, 5, 7, 10, 12}, 16, {0, 12}},
        {{0, 10, 25, 30, 46, 50}, 16, {0, 30, 46, 50}},  // 15 empty columns merge, 16 do not
        {{0, 1, 2, 3, 4, 5}, 1, {0, 1, 2, 3, 4, 5}},
        {{7, 9}, 16, {7, 9}},
        {{}, 16, {}},  // a band without spans is an array of none, not a failure
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.pairs));
        std::vector<int> blk = c.pairs;
        blk.push_back(0);
        int size = static_cast<int>(c.pairs.size() / 2);
        BlockX *out = ModifyBlock(blk.data(), c.th, &size);
        ASSERT_NE(out, nullptr);
        std::vector<int> got;
        for (int k = 0; k < size; k++) {
            got.insert(got.end(), {out[k].blkStX, out[k].blkEndX});
        }
        free(out);
        EXPECT_EQ(got, c.spans);
    }
}

TEST(Segmentation, HistogramsCountInkedBytesPerByteRowOrPerColumn)
{
    Owned o(3, 16, 1, vt::Hex("01 00 00 00 FF 10"));  // columns 01 00 | 00 00 | FF 10
    int rows[4] = {0, 0, 0, 0}, cols[3] = {0, 0, 0};
    GetHist(&o.img, 0, 0, 3, 4, rows, 0);  // byte-rows past the column are not read
    GetHist(&o.img, 0, 0, 3, 2, cols, 1);
    GetHist(&o.img, 0, 1, 3, 2, cols, 1);  // counts add to what is there
    EXPECT_EQ(std::vector<int>(rows, rows + 4), (std::vector<int>{2, 1, 0, 0}));
    EXPECT_EQ(std::vector<int>(cols, cols + 3), (std::vector<int>{1, 0, 3}));
}

}  // namespace
