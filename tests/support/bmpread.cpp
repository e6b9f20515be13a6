#include "bmpread.h"

#include <cstdint>

namespace vt {

std::vector<std::string> ReadMonoBmp(const std::string &file)
{
    auto le = [&file](size_t at, int n) {  // little-endian, n bytes
        uint32_t v = 0;
        while (n-- > 0) v = v << 8 | static_cast<unsigned char>(file[at + n]);
        return v;
    };
    if (file.size() < 34 || file.compare(0, 2, "BM") != 0) return {};
    const uint32_t offset = le(10, 4);
    const int64_t width = static_cast<int32_t>(le(18, 4)), rows = static_cast<int32_t>(le(22, 4));
    const int64_t stride = (width + 31) / 32 * 4;
    if (le(14, 4) < 40 || le(28, 2) != 1 || le(30, 4) != 0 || width < 1 || rows < 1 || width > 65536 || rows > 65536 ||
        offset + static_cast<uint64_t>(stride * rows) > file.size())
        return {};
    std::vector<std::string> art(static_cast<size_t>(rows), std::string(static_cast<size_t>(width), '.'));
    for (int64_t y = 0; y < rows; y++) {
        const size_t row = offset + static_cast<size_t>((rows - 1 - y) * stride);  // the bottom row first
        for (int64_t x = 0; x < width; x++)
            if ((static_cast<unsigned char>(file[row + x / 8]) >> (7 - x % 8)) & 1) art[y][x] = '#';
    }
    return art;
}

}  // namespace vt
