// Card pictures from BMP files: reading every accepted layout, writing them
// back byte for byte, and refusing hostile files with the operator's message
// (or none) and nothing left allocated.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitmap.h"
#include "bmpfile.h"
#include "testutil.h"

namespace {

// A picture read from a file, released whatever the test does.
struct Loaded {
    HeaderInfo header{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    ~Loaded()
    {
        FreeImage(&img);
        FreeHeader(&header);
    }
};

std::string RandomBytes(std::mt19937 &rng, size_t n)
{
    std::string s(n, '\0');
    for (auto &c : s) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return s;
}

std::string Bytes(const unsigned char *p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }

struct Layout {
    const char *name;
    int bitCnt;
    int width;
    int height;
    uint32_t infoLen;
    size_t palette;  // bytes of colour table
};

// Widths that exercise every amount of row fill, each bit count, the core
// header and the longer info headers, with and without a colour table.
const Layout kLayouts[] = {
    {"mono_w1", 1, 1, 3, 40, 8},      {"mono_w5", 1, 5, 4, 40, 8},     {"mono_w31", 1, 31, 2, 40, 8},
    {"mono_w33", 1, 33, 5, 40, 8},    {"mono_core_w33", 1, 33, 3, 12, 6}, {"mono_no_table", 1, 16, 2, 40, 0},
    {"nibble_w5", 4, 5, 3, 40, 64},   {"byte_w5", 8, 5, 3, 40, 1024},  {"byte_v5_w3", 8, 3, 2, 124, 16},
    {"rgb_w1", 24, 1, 2, 40, 0},      {"rgb_w5", 24, 5, 3, 40, 0},     {"rgb_w31", 24, 31, 2, 108, 0},
    {"rgb_core_w2", 24, 2, 2, 12, 0}, {"rgba_w3", 32, 3, 2, 40, 0},    {"empty_rows", 1, 8, 0, 40, 8},
};

TEST(BmpRead, EveryLayoutReadsRowsTopFirstAndWritesBackByteForByte)
{
    vt::TempDir dir;
    std::mt19937 rng(7);
    for (const auto &l : kLayouts) {
        SCOPED_TRACE(l.name);
        vt::BmpSpec spec;
        spec.width = l.width;
        spec.height = l.height;
        spec.bitCnt = static_cast<uint16_t>(l.bitCnt);
        spec.infoLen = l.infoLen;
        spec.palette = RandomBytes(rng, l.palette);
        std::string want;
        const size_t rowBytes = static_cast<size_t>(vt::BmpRowBytes(l.width, l.bitCnt));
        for (int r = 0; r < l.height; r++) {
            spec.rows.push_back(RandomBytes(rng, rowBytes));
            want += spec.rows.back();
        }
        const std::string file = vt::BuildBmp(spec);
        const std::string path = dir.file(std::string(l.name) + ".bmp");
        vt::WriteFile(path, file);

        Loaded in;
        vt::CaptureFd err(2);
        ASSERT_EQ(ReadBmp(path.c_str(), &in.header, &in.img), 0);
        EXPECT_EQ(err.Finish(), "");
        EXPECT_EQ(in.img.width, static_cast<uint32_t>(l.width));
        EXPECT_EQ(in.img.height, static_cast<uint32_t>(l.height));
        EXPECT_EQ(in.img.bitCnt, static_cast<uint32_t>(l.bitCnt));
        ASSERT_NE(in.img.data, nullptr);
        EXPECT_EQ(vt::ToHex(Bytes(in.img.data, want.size())), vt::ToHex(want));
        EXPECT_EQ(Bytes(in.header.fileHeader, 14), file.substr(0, 14));
        EXPECT_EQ(Bytes(in.header.infoHeader, l.infoLen), file.substr(14, l.infoLen));
        if (l.palette == 0) {
            EXPECT_EQ(in.header.clrPallet, nullptr);
        } else {
            ASSERT_NE(in.header.clrPallet, nullptr);
            EXPECT_EQ(Bytes(in.header.clrPallet, l.palette), spec.palette);
        }

        const std::string out = dir.file(std::string(l.name) + ".out.bmp");
        ASSERT_EQ(WriteBmp(out.c_str(), &in.header, &in.img), 0);
        EXPECT_EQ(vt::ReadFile(out), file);
    }
}

TEST(BmpRead, FillBytesAreDroppedAndWrittenBackAsZeros)
{
    vt::TempDir dir;
    // 24-bit, 5 wide: 15 bytes a row and one byte of fill, here 0xEE.
    vt::BmpSpec spec;
    spec.width = 5;
    spec.height = 2;
    spec.bitCnt = 24;
    spec.rows = {std::string(15, '\x11'), std::string(15, '\x22')};
    std::string file = vt::BuildBmp(spec);
    std::string clean = file;
    const size_t pix = 14 + 40;
    file[pix + 15] = '\xEE';
    file[pix + 31] = '\xEE';
    vt::WriteFile(dir.file("in.bmp"), file);

    Loaded in;
    ASSERT_EQ(ReadBmp(dir.file("in.bmp").c_str(), &in.header, &in.img), 0);
    EXPECT_EQ(Bytes(in.img.data, 30), std::string(15, '\x11') + std::string(15, '\x22'));
    ASSERT_EQ(WriteBmp(dir.file("out.bmp").c_str(), &in.header, &in.img), 0);
    EXPECT_EQ(vt::ReadFile(dir.file("out.bmp")), clean);
}

TEST(BmpRead, RowsFollowTheInfoHeaderWhenTheOffsetPointsIntoIt)
{
    vt::TempDir dir;
    vt::BmpSpec spec;
    spec.width = 8;
    spec.height = 2;
    spec.rows = {"\x81", "\x42"};
    std::string file = vt::BuildBmp(spec);
    vt::PutLe32(file, 10, 20);  // before the end of the info header
    vt::WriteFile(dir.file("a.bmp"), file);

    Loaded in;
    ASSERT_EQ(ReadBmp(dir.file("a.bmp").c_str(), &in.header, &in.img), 0);
    EXPECT_EQ(in.header.clrPallet, nullptr);
    EXPECT_EQ(Bytes(in.img.data, 2), std::string("\x81\x42"));
}

struct Refusal {
    const char *name;
    std::string file;
    std::string message;  // "%s" stands for the path
};

std::string Mono(int64_t width, int64_t height)
{
    vt::BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.palette = vt::MonoPalette();
    return vt::BuildBmp(spec);
}

std::string WithInfoLen(uint32_t len)
{
    std::string f = Mono(8, 2);
    vt::PutLe32(f, 14, len);
    return f;
}

std::string WithBits(uint16_t bits)
{
    std::string f = Mono(8, 2);
    vt::PutLe16(f, 28, bits);
    return f;
}

std::string WithSize(uint32_t width, uint32_t height, uint16_t bits)
{
    std::string f = Mono(8, 2);
    vt::PutLe32(f, 18, width);
    vt::PutLe32(f, 22, height);
    vt::PutLe16(f, 28, bits);
    return f;
}

std::vector<Refusal> Refusals()
{
    const std::string kReadError = "Error: %s read error.";
    const std::string kTooLarge = "CreateImageDatBuff:Allocation error\n";
    std::string ba = Mono(8, 2);
    ba[1] = 'A';
    std::string hugeGap = Mono(8, 2);
    vt::PutLe32(hugeGap, 10, 0xFFFFFFF0u);
    std::string truncRows = Mono(8, 4);
    truncRows.resize(truncRows.size() - 1);
    std::string truncTable = Mono(8, 2).substr(0, 14 + 40 + 5);
    std::vector<Refusal> v = {
        {"ten_bytes", Mono(8, 2).substr(0, 10), kReadError},
        {"no_length", Mono(8, 2).substr(0, 16), kReadError},
        {"short_info", Mono(8, 2).substr(0, 30), kReadError},
        {"short_table", truncTable, kReadError},
        {"short_rows", truncRows, kReadError},
        {"gap_past_end", hugeGap, kReadError},
        {"info_past_end", WithInfoLen(0x7FFFFFF0u), kReadError},
        {"signature_BA", ba, "Error: %s is not Bitmap file."},
        {"info_len_0", WithInfoLen(0), ""},
        {"info_len_1", WithInfoLen(1), ""},
        {"info_len_11", WithInfoLen(11), ""},
        {"info_len_13", WithInfoLen(13), ""},
        {"info_len_15", WithInfoLen(15), ""},
        // Top-down rows, and dimensions whose sizes do not fit 32 bits
        // (also where a 32-bit product would wrap to 0 or a small number).
        {"negative_height", WithSize(8, 0xFFFFFFFFu, 1), kTooLarge},
        {"negative_width", WithSize(0x80000000u, 1, 24), kTooLarge},
        {"height_2e31_width_0", WithSize(0, 0x80000000u, 1), kTooLarge},
        {"wraps_to_zero", WithSize(65536, 65536, 8), kTooLarge},
        {"wraps_to_small", WithSize(0x40000001u, 4, 8), kTooLarge},
        {"rgb_over_2e31", WithSize(0x10000, 0x2AAB, 24), kTooLarge},
        {"columns_over_2e31", WithSize(1500000000u, 9, 1), kTooLarge},
    };
    for (int bits : {0, 2, 3, 5, 6, 7, 9, 15, 16, 17, 31, 33, 0xFFFF}) {
        v.push_back({"bits", WithBits(static_cast<uint16_t>(bits)), ""});
    }
    return v;
}

std::string Expand(const std::string &message, const std::string &path)
{
    std::string out = message;
    size_t at = out.find("%s");
    if (at != std::string::npos) {
        out.replace(at, 2, path);
    }
    return out;
}

TEST(BmpRead, HostileFilesAreRefusedWithTheirMessageAndNothingAllocated)
{
    vt::TempDir dir;
    for (const auto &r : Refusals()) {
        SCOPED_TRACE(r.name);
        const std::string path = dir.file("bad.bmp");
        vt::WriteFile(path, r.file);
        Loaded in;
        vt::CaptureFd err(2);
        EXPECT_EQ(ReadBmp(path.c_str(), &in.header, &in.img), -1);
        EXPECT_EQ(err.Finish(), Expand(r.message, path));
        EXPECT_EQ(in.header.fileHeader, nullptr);
        EXPECT_EQ(in.header.infoHeader, nullptr);
        EXPECT_EQ(in.header.clrPallet, nullptr);
        EXPECT_EQ(in.img.data, nullptr);
    }
}

TEST(BmpRead, MissingFileIsReportedWithoutLineEnd)
{
    vt::TempDir dir;
    const std::string path = dir.file("none.bmp");
    Loaded in;
    vt::CaptureFd err(2);
    EXPECT_EQ(ReadBmp(path.c_str(), &in.header, &in.img), -1);
    EXPECT_EQ(err.Finish(), "Error: " + path + " could not read.");
}

TEST(BmpRead, ReleasingTwiceDoesNothingTheSecondTime)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("a.bmp"), vt::MonoBmp({"#.", ".#"}));
    Loaded in;
    ASSERT_EQ(ReadBmp(dir.file("a.bmp").c_str(), &in.header, &in.img), 0);
    for (int i = 0; i < 2; i++) {
        FreeImage(&in.img);
        FreeHeader(&in.header);
        EXPECT_EQ(in.img.data, nullptr);
        EXPECT_EQ(in.header.fileHeader, nullptr);
        EXPECT_EQ(in.img.width, 2u);  // only the block goes
    }
}

TEST(BmpWrite, RefusesWhatTheReaderWouldNotGiveBeforeTouchingTheFile)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("a.bmp"), vt::MonoBmp({"#.", ".#"}));
    Loaded in;
    ASSERT_EQ(ReadBmp(dir.file("a.bmp").c_str(), &in.header, &in.img), 0);
    const std::string out = dir.file("out.bmp");
    for (uint32_t bits : {0u, 2u, 9u, 16u, 33u}) {
        SCOPED_TRACE(bits);
        in.img.bitCnt = bits;
        vt::CaptureFd err(2);
        EXPECT_EQ(WriteBmp(out.c_str(), &in.header, &in.img), 1);
        EXPECT_EQ(err.Finish(), "");
        struct stat st;
        EXPECT_NE(stat(out.c_str(), &st), 0);
    }
}

TEST(BmpWrite, FailedOpenAndFullDiskGiveOne)
{
    vt::TempDir dir;
    vt::WriteFile(dir.file("a.bmp"), vt::MonoBmp({"#.", ".#"}));
    Loaded in;
    ASSERT_EQ(ReadBmp(dir.file("a.bmp").c_str(), &in.header, &in.img), 0);

    const std::string noDir = dir.file("no/such/dir.bmp");
    vt::CaptureFd err(2);
    EXPECT_EQ(WriteBmp(noDir.c_str(), &in.header, &in.img), 1);
    EXPECT_EQ(err.Finish(), "WriteBmp: " + noDir + " could not open.");

    // The writes are buffered: a full disk shows only when the file is closed.
    EXPECT_EQ(WriteBmp("/dev/full", &in.header, &in.img), 1);
}

}  // namespace
