// Card pictures from BMP files: every accepted layout read and written back
// byte for byte, and the refusals that the bad-input table (which runs the
// whole program on broken files of every family) leaves out. Nothing is left
// allocated after a refusal.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bmpfile.h"
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
        {1, 1, 3, 40, 8},  {1, 5, 4, 40, 8},    {1, 31, 2, 40, 8},  {1, 33, 5, 40, 8}, {1, 33, 3, 12, 6},
        {1, 16, 2, 40, 0}, {4, 5, 3, 40, 64},   {8, 3, 2, 124, 16}, {24, 5, 3, 40, 0}, {24, 31, 2, 108, 0},
        {24, 2, 2, 12, 0}, {32, 3, 2, 40, 0},   {1, 8, 0, 40, 8},
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
        SCOPED_TRACE(testing::Message() << l.bits << " bit, " << l.width << " x " << l.height << ", info " << l.infoLen);
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
        EXPECT_EQ(std::to_string(in.img.width) + "x" + std::to_string(in.img.height) + "x" + std::to_string(in.img.bitCnt),
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

std::string Mono8x2() { return vt::MonoBmp({"#.......", "........"}); }

// A file with one field patched (16 bits for the bit count).
std::string Patched(size_t offset, uint32_t value, std::string f = Mono8x2())
{
    offset == 28 ? vt::PutLe16(f, offset, static_cast<uint16_t>(value)) : vt::PutLe32(f, offset, value);
    return f;
}

std::string Sized(uint32_t width, uint32_t height, uint16_t bits)
{
    return Patched(28, bits, Patched(22, height, Patched(18, width)));
}

TEST(BmpFile, HostileFilesAreRefusedWithTheirMessageAndNothingAllocated)
{
    const std::string kLarge = "CreateImageDatBuff:Allocation error\n";
    struct Case {
        std::string name;
        std::string file;
        std::string message;
    };
    std::vector<Case> cases = {
        {"colour table cut short", Mono8x2().substr(0, 59), "Error: %s read error."},
        {"info length 0", Patched(14, 0), "Error: %s has an info header of 0 bytes; the reader takes 12, or 16 and more."},
        {"info length 15", Patched(14, 15), "Error: %s has an info header of 15 bytes; the reader takes 12, or 16 and more."},
        // Sizes past 31 bits where a 32-bit product would wrap to a small number,
        // and a column form past them where the row form is not.
        {"8 bit, wraps to small", Sized(0x40000001u, 4, 8), kLarge},
        {"24 bit, over 2^31", Sized(0x10000, 0x2AAB, 24), kLarge},
        {"columns over 2^31", Sized(1500000000u, 9, 1), kLarge},
    };
    for (uint32_t bits : {2u, 3u, 5u, 6u, 7u}) {
        cases.push_back({"bit count " + std::to_string(bits), Patched(28, bits),
                         "Error: %s has " + std::to_string(bits) + " bits per pixel; the reader takes 1, 4, 8, 24 or 32."});
    }
    vt::TempDir dir;
    const std::string path = dir.file("bad.bmp");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        vt::WriteFile(path, c.file);
        std::string want = c.message;
        if (want.find("%s") != std::string::npos) {
            want.replace(want.find("%s"), 2, path);
        }
        Loaded in;
        vt::CaptureFd err(2);
        EXPECT_EQ(in.Read(path), -1);
        EXPECT_EQ(err.Finish(), want);
        EXPECT_TRUE(!in.header.fileHeader && !in.header.infoHeader && !in.header.clrPallet && !in.img.data);
    }
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
