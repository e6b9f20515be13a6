// Builds BMP files byte by byte for the tests: any width, height and bit
// count, the 12-byte core header or a longer info header, any colour table,
// and fields that can be patched afterwards to make a file hostile.
#ifndef VESTRUN_TEST_BMPFILE_H
#define VESTRUN_TEST_BMPFILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vt {

struct BmpPicture {
    int64_t width = 0;
    int64_t height = 0;     // rows stored bottom up in the file, as usual
    uint16_t bitCnt = 1;
    // Rows top first, each as it is held in memory (BmpRowBytes long, no
    // fill); the row fill is added as zeros. Missing rows are all zero.
    std::vector<std::string> rows;
    // Bytes between the info header and the pixel rows (colour table and gap).
    std::string palette;
    // 12 gives the core header (16-bit width and height); 40, 108, 124 or any
    // other length gives the 32-bit layout, padded with zeros.
    uint32_t infoLen = 40;
};

// Bytes of one row in memory and in the file.
int64_t BmpRowBytes(int64_t width, int bitCnt);
int64_t BmpStride(int64_t width, int bitCnt);

// The whole file.
std::string BuildBmp(const BmpPicture &pic);

// A black-and-white colour table of 8 bytes (index 0 white, 1 black).
std::string MonoPalette();

// 1-bit rows from a drawing: one string a row, '#' is ink, anything else is
// not; every row is as wide as the longest.
std::vector<std::string> MonoRows(const std::vector<std::string> &art);

// A 1-bit file of a drawing, with MonoPalette().
std::string MonoBmp(const std::vector<std::string> &art);

// Little-endian patches of a built file (offsets from the start of the file).
void PutLe16(std::string &file, size_t offset, uint16_t value);
void PutLe32(std::string &file, size_t offset, uint32_t value);

}  // namespace vt

#endif
