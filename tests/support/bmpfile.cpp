#include "bmpfile.h"

#include <algorithm>

namespace vt {

void PutLe(std::string &file, size_t offset, uint32_t value, size_t n)
{
    if (file.size() < offset + n) file.resize(offset + n, '\0');
    for (size_t i = 0; i < n; i++) file[offset + i] = static_cast<char>(value >> (8 * i));
}

std::string BuildBmp(const BmpPicture &pic)
{
    // Bytes of a row in memory: 16-bit pixels take 3 bytes, as in the tool.
    const int64_t rowBytes = pic.bitCnt == 16 ? pic.width * 3 : (pic.width * pic.bitCnt + 7) / 8;
    const int64_t height = std::max<int64_t>(pic.height, 0);
    // Rows of up to 8 bits fill to 4 bytes; 24-bit rows carry width % 4 bytes of fill.
    const int64_t stride = pic.bitCnt <= 8 ? (rowBytes + 3) / 4 * 4 : rowBytes + (pic.bitCnt == 32 ? 0 : pic.width % 4);
    const size_t n = pic.infoLen == 12 ? 2 : 4;  // bytes of width and height
    std::string info;
    PutLe(info, 0, pic.infoLen, 4);
    PutLe(info, 4, static_cast<uint32_t>(pic.width), n);
    PutLe(info, 4 + n, static_cast<uint32_t>(pic.height), n);
    PutLe(info, 4 + 2 * n, 1, 2);
    PutLe(info, 6 + 2 * n, pic.bitCnt, 2);
    info.resize(std::max<size_t>(pic.infoLen, info.size()));  // the fields behind the bit count stay zero
    std::string pixels;
    for (int64_t r = height - 1; r >= 0; r--) {
        std::string row = r < static_cast<int64_t>(pic.rows.size()) ? pic.rows[r] : std::string();
        row.resize(static_cast<size_t>(rowBytes), '\0');
        pixels += row.append(static_cast<size_t>(stride - rowBytes), '\0');
    }
    const uint32_t offset = static_cast<uint32_t>(14 + info.size() + pic.palette.size());
    std::string file = "BM";
    PutLe(file, 2, static_cast<uint32_t>(offset + pixels.size()), 4);
    PutLe(file, 10, offset, 4);
    return file + info + pic.palette + pixels;
}

std::string MonoPalette() { return std::string("\xFF\xFF\xFF\x00\x00\x00\x00\x00", 8); }

std::string MonoBmp(const std::vector<std::string> &art)
{
    BmpPicture pic{art.empty() ? 0 : int64_t(art[0].size()), int64_t(art.size()), 1, {}, MonoPalette()};
    for (const auto &line : art) {
        std::string &row = pic.rows.emplace_back(static_cast<size_t>(pic.width + 7) / 8, '\0');
        for (size_t x = 0; x < line.size(); x++)
            if (line[x] == '#') row[x / 8] = static_cast<char>(row[x / 8] | 0x80 >> (x % 8));
    }
    return BuildBmp(pic);
}

}  // namespace vt
