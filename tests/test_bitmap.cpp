// Card pictures from BMP files: every accepted layout read and written back
// byte for byte, and the writer's refusals. (Broken files are rows of the
// bad input table, which runs the whole program on each.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bmpfile.h"
#include "picture.h"
#include "testutil.h"

namespace {

struct Loaded {
    HeaderInfo header{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    ~Loaded()
    {
        FreeImage(&img);
        FreeHeader(&header);
    }
    int Read(const std::string &path) { return ReadBmp(path.c_str(), &header, &img); }
};

std::string Bytes(const unsigned char *p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }

TEST(BmpFile, EveryLayoutReadsTopRowFirstAndWritesBackByteForByte)
{
    // Widths 1, 5, 31, 33 give every amount of row fill.
    const struct {
        int bits, width, height;
        uint32_t infoLen;
        size_t palette;
    } layouts[] = {
        {1, 1, 3, 40, 8},  {1, 5, 4, 40, 8},  {1, 31, 2, 40, 8},  {1, 33, 5, 40, 8}, {1, 33, 3, 12, 6},
        {1, 16, 2, 40, 0}, {4, 5, 3, 40, 64}, {8, 3, 2, 124, 16}, {24, 5, 3, 40, 0}, {24, 31, 2, 108, 0},
        {24, 2, 2, 12, 0}, {32, 3, 2, 40, 0}, {1, 8, 0, 40, 8},
    };
    vt::TempDir dir;
    std::mt19937 rng(7);
    auto random = [&rng](size_t n) {
        std::string s(n, '\0');
        for (auto &c : s) {
            c = static_cast<char>(rng());
        }
        return s;
    };
    for (const auto &l : layouts) {
        SCOPED_TRACE(testing::Message() << l.bits << " bit, " << l.width << " x " << l.height << ", info "
                                        << l.infoLen);
        vt::BmpPicture pic;
        pic.width = l.width;
        pic.height = l.height;
        pic.bitCnt = static_cast<uint16_t>(l.bits);
        pic.infoLen = l.infoLen;
        pic.palette = random(l.palette);
        std::string rows;
        for (int r = 0; r < l.height; r++) {
            pic.rows.push_back(random(static_cast<size_t>(vt::BmpRowBytes(l.width, l.bits))));
            rows += pic.rows.back();
        }
        const std::string file = vt::BuildBmp(pic);
        vt::WriteFile(dir.file("in.bmp"), file);

        Loaded in;
        vt::CaptureFd err(2);
        ASSERT_EQ(in.Read(dir.file("in.bmp")), 0);
        EXPECT_EQ(err.Finish(), "");
        EXPECT_EQ(
            std::to_string(in.img.width) + "x" + std::to_string(in.img.height) + "x" + std::to_string(in.img.bitCnt),
            std::to_string(l.width) + "x" + std::to_string(l.height) + "x" + std::to_string(l.bits));
        EXPECT_EQ(vt::ToHex(Bytes(in.img.data, rows.size())), vt::ToHex(rows));
        EXPECT_EQ(in.header.clrPallet ? Bytes(in.header.clrPallet, l.palette) : "<none>",
                  l.palette ? pic.palette : "<none>");

        ASSERT_EQ(WriteBmp(dir.file("out.bmp").c_str(), &in.header, &in.img), 0);
        EXPECT_EQ(vt::ReadFile(dir.file("out.bmp")), file);
        for (int i = 0; i < 2; i++) {  // releasing twice does nothing the second time
            FreeImage(&in.img);
            FreeHeader(&in.header);
        }
    }
}

// Files that are odd but hold a picture the machine takes: the drawing as the
// reader leaves it, read back by the tests' own unpacking (byte k of a row
// holds pixels 8k to 8k+7, the leftmost in the high bit; index 1 is ink).
TEST(BmpFile, OddFilesTheMachineTakesReadAsDrawn)
{
    const std::vector<std::string> bars(8, "#.#.#.#.##..##..");
    auto mono = [](int64_t w, int64_t h, const std::vector<std::string> &art, uint32_t info = 40,
                   const std::string &palette = vt::MonoPalette()) {
        vt::BmpPicture p;
        p.width = w, p.height = h, p.rows = vt::MonoRows(art), p.palette = palette, p.infoLen = info;
        return vt::BuildBmp(p);
    };
    std::vector<std::string> corners(512, std::string(480, '.')), inverted;
    corners[0][0] = corners[0][479] = corners[511][0] = corners[511][479] = '#';
    for (std::string row : bars) {
        for (auto &ch : row) ch = ch == '#' ? '.' : '#';
        inverted.push_back(row);
    }
    const std::vector<std::string> core = {"#...............................#", ".#.............................#.",
                                           "..#############################.."};
    std::string offset0 = mono(16, 8, bars);
    vt::PutLe32(offset0, 10, 0);
    const struct {
        const char *what;
        std::string file;
        int64_t width, height;
        std::vector<std::string> art;
    } cases[] = {
        {"width 0", mono(0, 8, {}), 0, 8, {}},
        {"height 0", mono(16, 0, {}), 16, 0, {}},
        {"core header, 33 x 3", mono(33, 3, core, 12), 33, 3, core},
        // The rows read from the wrong place: the colour table (white, black)
        // is taken for the bottom two rows and the picture moves up by two.
        {"pixel-data offset 0",
         offset0,
         16,
         8,
         {bars[0], bars[0], bars[0], bars[0], bars[0], bars[0], "................", "################"}},
        {"a colour table of 70000 bytes", mono(16, 8, bars, 40, vt::MonoPalette() + std::string(70000 - 8, '\x55')), 16,
         8, bars},
        {"480 x 512, ink in the corners", vt::MonoBmp(corners), 480, 512, corners},
        {"colour table black, white", mono(16, 8, inverted, 40, std::string("\0\0\0\0\xFF\xFF\xFF\0", 8)), 16, 8,
         inverted},
    };
    vt::TempDir dir;
    for (const auto &c : cases) {
        vt::WriteFile(dir.file("odd.bmp"), c.file);
        Loaded in;
        ASSERT_EQ(in.Read(dir.file("odd.bmp")), 0) << c.what;
        ASSERT_EQ(in.img.width, c.width) << c.what;
        ASSERT_EQ(in.img.height, c.height) << c.what;
        char why[128];
        EXPECT_EQ(iBmpCheck(&in.img, why, sizeof why), 0) << c.what << ": " << why;
        std::vector<std::string> art;
        const int64_t stride = vt::BmpRowBytes(c.width, 1);
        for (int64_t y = 0; y < c.height; y++) {
            art.emplace_back();
            for (int64_t x = 0; x < c.width; x++)
                art.back() += in.img.data[y * stride + x / 8] >> (7 - x % 8) & 1 ? '#' : '.';
        }
        EXPECT_EQ(art, c.height && c.width ? c.art : std::vector<std::string>(c.height, "")) << c.what;
    }
}

// Rows that fit 31 bits do not make a picture that does: 2^28 bytes a row, 2^31 in all.
TEST(BmpFile, PixelBufferPast31BitsIsRefusedNotCut)
{
    vt::CaptureFd err(2);
    EXPECT_EQ(CreateImageDatBuff(0x7FFFFFFF, 8, 1), nullptr);
    EXPECT_EQ(err.Finish(), "CreateImageDatBuff:Allocation error\n");
}

TEST(BmpFile, WriterRefusesUnreadableLayoutsFailedOpensAndFullDisks)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("a.bmp"), vt::MonoBmp({"#.", ".#"}));
    Loaded in;
    ASSERT_EQ(in.Read(dir.file("a.bmp")), 0);

    const std::string noDir = dir.file("no/such.bmp");
    vt::CaptureFd err(2);
    EXPECT_EQ(WriteBmp(noDir.c_str(), &in.header, &in.img), 1);
    EXPECT_EQ(err.Finish(), "WriteBmp: " + noDir + " could not open.");
    // Buffered writes meet the full disk when the file is closed.
    EXPECT_EQ(WriteBmp("/dev/full", &in.header, &in.img), 1);

    const std::string out = dir.file("out.bmp");
    for (uint32_t bits : {0u, 2u, 16u, 33u}) {
        in.img.bitCnt = bits;
        EXPECT_EQ(WriteBmp(out.c_str(), &in.header, &in.img), 1) << bits;
    }
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0);  // refused before the file was made
}

}  // namespace
