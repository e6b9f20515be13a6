#include "bmpread.h"

#include <cstdint>
#include <cstdlib>

namespace vt {

namespace {

uint32_t Le(const std::string &file, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) {
        v = v << 8 | static_cast<unsigned char>(file[at + i]);
    }
    return v;
}

}  // namespace

std::vector<std::string> ReadMonoBmp(const std::string &file)
{
    if (file.size() < 26 || file.compare(0, 2, "BM") != 0) {
        return {};
    }
    const uint32_t offset = Le(file, 10, 4), info = Le(file, 14, 4);
    int64_t width, height;
    uint32_t bits, compression = 0;
    if (info == 12) {
        width = Le(file, 18, 2);
        height = static_cast<int16_t>(Le(file, 20, 2));
        bits = Le(file, 24, 2);
    } else if (info >= 40 && file.size() >= 34) {
        width = static_cast<int32_t>(Le(file, 18, 4));
        height = static_cast<int32_t>(Le(file, 22, 4));
        bits = Le(file, 28, 2);
        compression = Le(file, 30, 4);
    } else {
        return {};
    }
    const int64_t rows = std::llabs(height), stride = (width + 31) / 32 * 4;
    if (bits != 1 || compression != 0 || width < 1 || rows < 1 || width > 65536 || rows > 65536 ||
        offset + static_cast<uint64_t>(stride * rows) > file.size()) {
        return {};
    }
    std::vector<std::string> art(static_cast<size_t>(rows), std::string(static_cast<size_t>(width), '.'));
    for (int64_t y = 0; y < rows; y++) {
        // A positive height stores the bottom row first.
        const size_t row = offset + static_cast<size_t>((height > 0 ? rows - 1 - y : y) * stride);
        for (int64_t x = 0; x < width; x++) {
            if ((static_cast<unsigned char>(file[row + x / 8]) >> (7 - x % 8)) & 1) {
                art[y][x] = '#';
            }
        }
    }
    return art;
}

}  // namespace vt
