#include "bmpfile.h"

#include <algorithm>

namespace vt {

int64_t BmpRowBytes(int64_t width, int bitCnt)
{
    const int64_t per = bitCnt > 0 && bitCnt <= 8 ? 8 / bitCnt : 0;  // pixels a byte
    return per ? (width + per - 1) / per : width * (bitCnt == 32 ? 4 : 3);
}

void PutLe16(std::string &file, size_t offset, uint16_t value)
{
    if (file.size() < offset + 2) {
        file.resize(offset + 2, '\0');
    }
    file[offset] = static_cast<char>(value & 0xFF);
    file[offset + 1] = static_cast<char>(value >> 8);
}

void PutLe32(std::string &file, size_t offset, uint32_t value)
{
    PutLe16(file, offset, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(file, offset + 2, static_cast<uint16_t>(value >> 16));
}

std::string BuildBmp(const BmpPicture &pic)
{
    const int64_t rowBytes = BmpRowBytes(pic.width, pic.bitCnt);
    // Rows of up to 8 bits fill to 4 bytes; 24-bit rows carry width % 4 bytes of fill.
    const int64_t stride = pic.bitCnt <= 8 ? (rowBytes + 3) / 4 * 4 : rowBytes + (pic.bitCnt == 32 ? 0 : pic.width % 4);
    const int64_t height = std::max<int64_t>(pic.height, 0);

    std::string info;
    PutLe32(info, 0, pic.infoLen);
    if (pic.infoLen == 12) {
        PutLe16(info, 4, static_cast<uint16_t>(pic.width));
        PutLe16(info, 6, static_cast<uint16_t>(pic.height));
        PutLe16(info, 8, 1);
        PutLe16(info, 10, pic.bitCnt);
    } else {
        PutLe32(info, 4, static_cast<uint32_t>(pic.width));
        PutLe32(info, 8, static_cast<uint32_t>(pic.height));
        PutLe16(info, 12, 1);
        PutLe16(info, 14, pic.bitCnt);
        PutLe32(info, 20, static_cast<uint32_t>(stride * height));
        PutLe32(info, 24, 2835);
        PutLe32(info, 28, 2835);
        PutLe32(info, 36, 0);
        info.resize(std::max<size_t>(pic.infoLen, 16));
    }

    std::string pixels;
    for (int64_t r = height - 1; r >= 0; r--) {
        std::string row = r < static_cast<int64_t>(pic.rows.size()) ? pic.rows[r] : std::string();
        row.resize(static_cast<size_t>(rowBytes), '\0');
        row.resize(static_cast<size_t>(stride), '\0');
        pixels += row;
    }

    const uint32_t offset = static_cast<uint32_t>(14 + info.size() + pic.palette.size());
    std::string file = "BM";
    PutLe32(file, 2, static_cast<uint32_t>(offset + pixels.size()));
    PutLe32(file, 6, 0);
    PutLe32(file, 10, offset);
    return file + info + pic.palette + pixels;
}

std::string MonoPalette() { return std::string("\xFF\xFF\xFF\x00\x00\x00\x00\x00", 8); }

std::vector<std::string> MonoRows(const std::vector<std::string> &art)
{
    size_t width = 0;
    for (const auto &line : art) {
        width = std::max(width, line.size());
    }
    std::vector<std::string> rows;
    for (const auto &line : art) {
        std::string row((width + 7) / 8, '\0');
        for (size_t x = 0; x < line.size(); x++) {
            row[x / 8] = static_cast<char>(row[x / 8] | (line[x] == '#' ? 0x80 >> (x % 8) : 0));
        }
        rows.push_back(row);
    }
    return rows;
}

std::string MonoBmp(const std::vector<std::string> &art)
{
    BmpPicture pic;
    pic.rows = MonoRows(art);
    for (const auto &line : art) {
        pic.width = std::max<int64_t>(pic.width, static_cast<int64_t>(line.size()));
    }
    pic.height = static_cast<int64_t>(art.size());
    pic.palette = MonoPalette();
    return BuildBmp(pic);
}

}  // namespace vt
