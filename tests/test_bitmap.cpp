// Card pictures: BMP layouts read and written back, and the column form the
// machine takes. (Broken files are rows of the bad input table, which runs
// the whole tool; bands and spans show in the image frames.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <random>

#include "bitmap.h"
#include "bmpfile.h"
#include "picture.h"
#include "testutil.h"

namespace {

struct Loaded {
    HeaderInfo header{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    vt::TempDir dir;  // the file read, and any written back
    ~Loaded() { FreeImage(&img), FreeHeader(&header); }
    int Read(const std::string &file)
    {
        vt::WriteFile(dir.file("in.bmp"), file);
        return ReadBmp(dir.file("in.bmp").c_str(), &header, &img);
    }
};

// A picture in row form on the heap, as ReadBmp leaves it.
struct Owned {
    Image img;
    Owned(uint32_t w, uint32_t h, uint32_t bits, const std::string &b)
        : img{h, w, bits, static_cast<unsigned char *>(memcpy(malloc(b.size() + 1), b.data(), b.size()))}
    {
    }
    ~Owned() { FreeImage(&img); }
};

std::string Random(int64_t n)
{
    static std::mt19937 rng(7);
    std::string s(static_cast<size_t>(n), '\0');
    for (auto &c : s) c = static_cast<char>(rng());
    return s;
}
std::string Str(const unsigned char *p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }
// A row or column the library handed over, as bytes; freed when it is the caller's.
std::string Take(unsigned char *p, const int &n, bool owned)
{
    std::string s = p ? Str(p, static_cast<size_t>(n)) : "<null>";
    if (owned) free(p);
    return s;
}

TEST(BmpFile, EveryLayoutReadsTopRowFirstAndWritesBackByteForByte)
{
    // Widths 1, 5, 31, 33 give every amount of row fill; 16 bytes of info header hold the bit count.
    const int layouts[][5] = {
        // bits, width, height, info header, colour table bytes
        {1, 1, 3, 40, 8},  {1, 5, 4, 16, 8},  {1, 31, 2, 40, 8},  {1, 33, 5, 40, 8}, {1, 33, 3, 12, 6},
        {1, 16, 2, 40, 0}, {4, 5, 3, 40, 64}, {8, 3, 2, 124, 16}, {24, 5, 3, 40, 0}, {24, 31, 2, 108, 0},
        {24, 2, 2, 12, 0}, {32, 3, 2, 40, 0}, {1, 8, 0, 40, 8},   {1, 0, 8, 40, 8},
    };
    for (const auto &l : layouts) {
        SCOPED_TRACE(testing::PrintToString(std::vector<int>(l, l + 5)));
        vt::BmpPicture pic{l[1], l[2], static_cast<uint16_t>(l[0]), {}, Random(l[4]), static_cast<uint32_t>(l[3])};
        std::string rows;
        for (int r = 0; r < l[2]; r++) rows += pic.rows.emplace_back(Random((l[1] * l[0] + 7) / 8));
        const std::string file = vt::BuildBmp(pic);
        Loaded in;
        ASSERT_EQ(in.Read(file), 0);
        EXPECT_EQ(std::vector<uint32_t>({in.img.bitCnt, in.img.width, in.img.height}), std::vector<uint32_t>(l, l + 3));
        EXPECT_EQ(vt::ToHex(Str(in.img.data, rows.size())), vt::ToHex(rows));
        EXPECT_EQ(in.header.clrPallet ? Str(in.header.clrPallet, pic.palette.size()) : "-", l[4] ? pic.palette : "-");
        ASSERT_EQ(WriteBmp(in.dir.file("out.bmp").c_str(), &in.header, &in.img), 0);
        EXPECT_EQ(vt::ReadFile(in.dir.file("out.bmp")), file);
        FreeImage(&in.img), FreeHeader(&in.header);  // the destructor's second release does nothing
    }
}

TEST(BmpFile, RefusalsOfTheWriterAndOfBuffersPast31Bits)
{
    Loaded in;
    ASSERT_EQ(in.Read(vt::MonoBmp({"#.", ".#"})), 0);
    const std::string noDir = in.dir.file("no/such.bmp"), out = in.dir.file("out.bmp");
    vt::CaptureFd err(2);
    // The full disk shows when the file is closed; no headers, or a bit count without a file layout, is refused
    // before the file is made.
    std::string got = std::to_string(WriteBmp(noDir.c_str(), &in.header, &in.img)) +
                      std::to_string(WriteBmp("/dev/full", &in.header, &in.img));
    got += std::to_string(WriteBmp(out.c_str(), nullptr, &in.img));  // no headers
    for (uint32_t bits : {0u, 2u, 16u, 33u})
        in.img.bitCnt = bits, got += std::to_string(WriteBmp(out.c_str(), &in.header, &in.img));
    EXPECT_EQ(got + (access(out.c_str(), F_OK) == 0 ? " and a file" : ""), "1111111");
    // Rows that fit 31 bits do not make a picture that does: 2^28 bytes a row, 2^31 in all.
    EXPECT_EQ(CreateImageDatBuff(0x7FFFFFFF, 8, 1), nullptr);
    EXPECT_EQ(err.Finish(), "WriteBmp: " + noDir + " could not open.CreateImageDatBuff:Allocation error\n");
}

// Random pictures up to the machine's 480 x 512 (where the column form takes
// more bytes than the rows) against the test's own packing: up to 8 bits a
// pixel, byte k of a column packs the 8 / bits rows from row k * 8 / bits, the
// upper row in the low bits; wider pixels are kept whole. Rows and columns cut
// from the row form. (Columns of the column form show in the image frames.)
TEST(ImageColumns, PicturesOfEveryDepthAgainstTheTestsOwnPacking)
{
    const uint32_t sizes[][3] = {{1, 1, 1}, {9, 17, 1}, {33, 10, 1}, {16, 1, 1}, {480, 100, 1}, {480, 512, 1},
                                 {0, 5, 1}, {5, 0, 1},  {3, 5, 4},   {3, 2, 8},  {2, 3, 24},    {5, 3, 24}};
    for (const auto &sz : sizes) {
        const uint32_t w = sz[0], h = sz[1], bits = sz[2], px = bits < 8 ? 1 : bits / 8, per = bits < 8 ? 8 / bits : 1;
        const uint32_t rowBytes = (w * bits + 7) / 8, colBytes = (h + per - 1) / per * px;
        SCOPED_TRACE(testing::Message() << w << " x " << h << " x " << bits);
        const std::string rows = Random(rowBytes * h);
        std::string want(colBytes * w, '\0');
        for (uint32_t x = 0; x < w; x++)
            for (uint32_t y = 0; y < h; y++)
                if (bits < 8)
                    want[x * colBytes + y / per] |=
                        (static_cast<uint8_t>(rows[y * rowBytes + x * bits / 8]) >> (8 - bits - x * bits % 8) &
                         ((1 << bits) - 1))
                        << y % per * bits;
                else
                    want.replace(x * colBytes + y * px, px, rows, y * rowBytes + x * px, px);
        Owned o(w, h, bits, rows);
        int n = -1;
        for (uint32_t y = 1; w > 0 && y <= h; y += 7)
            EXPECT_EQ(Take(GetImageRow(&o.img, int(y), &n), n, true), rows.substr((y - 1) * rowBytes, rowBytes));
        for (uint32_t x = 0; x < w; x += 7)
            ASSERT_EQ(Take(GetImageCol(&o.img, int(x + 1), &n), n, true), want.substr(x * colBytes, colBytes));
        ASSERT_EQ(ImageRowToCol(&o.img), 0);
        EXPECT_EQ(vt::ToHex(Str(o.img.data, want.size())), vt::ToHex(want));
    }
}

// Columns count from 1 in the row form and from 0 in the column form, rows
// from 1 (in silence); no layout, no pixels: no block. A band without spans
// is an array of none.
TEST(ImageColumns, IndexesLayoutsAndMissingPixelsAreRefused)
{
    // c: GetImageCol, d: GetDatCol, r: GetImageRow, t: ImageRowToCol; bits, argument, pixels, message
    const std::tuple<char, uint32_t, int, bool, const char *> cases[] = {
        {'c', 1, 0, true, "GetImageCol:インデックス計算エラー(-1)\n"},
        {'c', 1, 17, true, "GetImageCol:インデックス計算エラー(2)\n"},
        {'c', 24, INT_MIN, true, "GetImageCol:インデックス計算エラー(-2147483649)\n"},
        {'c', 2, 1, true, "GetImageCol:認識できないイメージ(2bit)\n"},
        {'d', 1, 16, true, "GetDatCol:16番目列データは存在しません.\n"},
        {'d', 9, 0, true, "GetDatCol:認識できないイメージ(9bit)\n"},
        {'r', 1, 0, true, ""},
        {'r', 1, 9, true, ""},
        {'r', 2, 1, true, ""},
        {'r', 1, 1, false, ""},
        {'t', 7, 0, true, "GetImageCol:認識できないイメージ(7bit)\nImageRowToCol:1番目列データは存在しません.\n"},
        {'t', 1, 0, false, "GetImageCol:Image = NULL\nImageRowToCol:1番目列データは存在しません.\n"}};
    for (const auto &[op, bits, arg, pixels, message] : cases) {
        Owned o(16, 8, bits, std::string(512, '\x5A'));
        if (!pixels) FreeImage(&o.img);
        vt::CaptureFd err(2);
        int n = 0;
        const std::string got = op == 't'   ? std::to_string(ImageRowToCol(&o.img))
                                : op == 'r' ? Take(GetImageRow(&o.img, arg, &n), n, true)
                                : op == 'c' ? Take(GetImageCol(&o.img, arg, &n), n, true)
                                            : Take(GetDatCol(&o.img, arg, &n), n, false);
        EXPECT_EQ(got, op == 't' ? "-1" : "<null>") << op << bits << " " << arg;
        EXPECT_EQ(err.Finish(), message);
    }
    // Counting ink by byte-row never reads past a column: columns 01 00 | 00 00 | FF 10.
    Owned o(3, 16, 1, vt::Hex("01 00 00 00 FF 10"));
    int rows[4] = {0, 0, 0, 0}, none = 0;
    GetHist(&o.img, 0, 0, 3, 4, rows, 0);
    EXPECT_EQ(std::vector<int>(rows, rows + 4), (std::vector<int>{2, 1, 0, 0}));
    BlockX *spans = ModifyBlock(nullptr, 16, &none);
    EXPECT_NE(spans, nullptr);
    free(spans);
}

}  // namespace
