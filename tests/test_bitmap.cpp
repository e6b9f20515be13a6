// Card pictures from BMP files: every accepted layout read and written back
// byte for byte; hostile files refused with their message (or none) and
// nothing left allocated.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <iterator>
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
        {1, 1, 3, 40, 8},   {1, 5, 4, 40, 8},   {1, 31, 2, 40, 8}, {1, 33, 5, 40, 8}, {1, 33, 3, 12, 6},
        {1, 16, 2, 40, 0},  {4, 5, 3, 40, 64},  {8, 5, 3, 40, 1024}, {8, 3, 2, 124, 16}, {24, 1, 2, 40, 0},
        {24, 5, 3, 40, 0},  {24, 31, 2, 108, 0}, {24, 2, 2, 12, 0}, {32, 3, 2, 40, 0},  {1, 8, 0, 40, 8},
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
        EXPECT_EQ(Bytes(in.header.fileHeader, 14) + Bytes(in.header.infoHeader, l.infoLen),
                  file.substr(0, 14 + l.infoLen));
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

TEST(BmpFile, FillIsDroppedAndRowsFollowTheInfoHeaderWhateverTheOffset)
{
    vt::TempDir dir;
    vt::BmpPicture pic;
    pic.width = 5;  // 15 bytes a row and one of fill
    pic.height = 2;
    pic.bitCnt = 24;
    pic.rows = {std::string(15, '\x11'), std::string(15, '\x22')};
    const std::string clean = vt::BuildBmp(pic);
    std::string file = clean;
    file[54 + 15] = file[54 + 31] = '\xEE';
    vt::PutLe32(file, 10, 20);  // the pixel offset points into the info header
    vt::WriteFile(dir.file("in.bmp"), file);

    Loaded in;
    ASSERT_EQ(in.Read(dir.file("in.bmp")), 0);
    EXPECT_EQ(in.header.clrPallet, nullptr);
    EXPECT_EQ(Bytes(in.img.data, 30), std::string(15, '\x11') + std::string(15, '\x22'));
    ASSERT_EQ(WriteBmp(dir.file("out.bmp").c_str(), &in.header, &in.img), 0);
    std::string want = clean;
    vt::PutLe32(want, 10, 20);
    EXPECT_EQ(vt::ReadFile(dir.file("out.bmp")), want);  // fill written as zeros
}

std::string Mono(int64_t width, int64_t height)
{
    vt::BmpPicture pic;
    pic.width = width;
    pic.height = height;
    pic.palette = vt::MonoPalette();
    return vt::BuildBmp(pic);
}

std::string Patched(size_t offset, uint32_t value, int bytes = 4, std::string f = Mono(8, 2))
{
    bytes == 2 ? vt::PutLe16(f, offset, static_cast<uint16_t>(value)) : vt::PutLe32(f, offset, value);
    return f;
}

std::string Sized(uint32_t width, uint32_t height, uint16_t bits)
{
    return Patched(28, bits, 2, Patched(22, height, 4, Patched(18, width)));
}

TEST(BmpFile, HostileFilesAreRefusedWithTheirMessageAndNothingAllocated)
{
    const std::string kShort = "Error: %s read error.", kLarge = "CreateImageDatBuff:Allocation error\n";
    std::string ba = Mono(8, 2);
    ba[1] = 'A';
    const struct {
        const char *name;
        std::string file;  // "" for a missing file
        std::string message;
    } cases[] = {
        {"missing", "", "Error: %s could not read."},
        {"ten_bytes", Mono(8, 2).substr(0, 10), kShort},
        {"short_info", Mono(8, 2).substr(0, 30), kShort},
        {"short_table", Mono(8, 2).substr(0, 59), kShort},
        {"short_rows", Mono(8, 4).substr(0, 77), kShort},
        {"gap_past_end", Patched(10, 0xFFFFFFF0u), kShort},
        {"info_past_end", Patched(14, 0x7FFFFFF0u), kShort},
        {"signature_BA", ba, "Error: %s is not Bitmap file."},
        {"info_len_0", Patched(14, 0), ""},
        {"info_len_11", Patched(14, 11), ""},
        {"info_len_13", Patched(14, 13), ""},
        {"info_len_15", Patched(14, 15), ""},
        // Top-down rows, and sizes that do not fit 32 bits, also where a 32-bit
        // product would wrap to 0 or to a small number.
        {"negative_height", Sized(8, 0xFFFFFFFFu, 1), kLarge},
        {"negative_width", Sized(0x80000000u, 1, 24), kLarge},
        {"height_2e31", Sized(0, 0x80000000u, 1), kLarge},
        {"wraps_to_zero", Sized(65536, 65536, 8), kLarge},
        {"wraps_to_small", Sized(0x40000001u, 4, 8), kLarge},
        {"rgb_over_2e31", Sized(0x10000, 0x2AAB, 24), kLarge},
        {"columns_over_2e31", Sized(1500000000u, 9, 1), kLarge},
    };
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto &c : cases) {
        files.emplace_back(c.file, c.message);
    }
    for (uint32_t bits : {0, 2, 3, 5, 6, 7, 9, 15, 16, 17, 33}) {
        files.emplace_back(Patched(28, bits, 2), "");
    }
    vt::TempDir dir;
    for (size_t i = 0; i < files.size(); i++) {
        SCOPED_TRACE(i < std::size(cases) ? cases[i].name : "bits " + vt::ToHex(files[i].first.substr(28, 2)));
        const std::string path = dir.file("bad" + std::to_string(i) + ".bmp");
        if (!files[i].first.empty()) {
            vt::WriteFile(path, files[i].first);
        }
        std::string want = files[i].second;
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
    for (uint32_t bits : {0u, 2u, 9u, 16u, 33u}) {
        in.img.bitCnt = bits;
        EXPECT_EQ(WriteBmp(out.c_str(), &in.header, &in.img), 1) << bits;
    }
    struct stat st;
    EXPECT_NE(stat(out.c_str(), &st), 0);  // refused before the file was made
}

}  // namespace
