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
    int64_t width = 0, height = 0;  // rows stored bottom up in the file, as usual
    uint16_t bitCnt = 1;
    std::vector<std::string> rows;  // top first, as held in memory; fill added, missing rows zero
    std::string palette;            // bytes between the info header and the rows
    uint32_t infoLen = 40;          // 12: the core header (16-bit sizes); else the 32-bit layout
};

std::string BuildBmp(const BmpPicture &pic);
std::string MonoPalette();  // 8 bytes: index 0 white, 1 black
// A 1-bit file of a drawing (rows of one length, '#' ink), with MonoPalette().
std::string MonoBmp(const std::vector<std::string> &art);
// A little-endian patch of n bytes at an offset of a built file (grown to hold it).
void PutLe(std::string &file, size_t offset, uint32_t value, size_t n);

}  // namespace vt

#endif
