// Any file an operator might hand the card run as its picture: read it, write
// it back and read that again (the two must agree), turn it into columns
// (each must be the column cut from the rows before), and cut it into bands
// and spans of ink as the card run does for pictures of up to 480 columns and
// 480 byte-rows. Nothing may crash, overrun or leak.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bitmap.h"

namespace {

constexpr size_t kMaxInput = 1 << 20;     // larger inputs only measure memory
constexpr int64_t kMaxCompared = 1 << 22;  // column bytes kept for the comparison
constexpr int kMaxComparedColumns = 8192;
constexpr int kCardLimit = 480;            // columns and byte-rows of a card picture

void vCheck(bool bOk, const char *szWhat)
{
    if (!bOk) {
        fprintf(stderr, "fuzz_bmp: %s\n", szWhat);
        abort();
    }
}

// The files live in memory (memfd), reached through /proc/self/fd: no disk
// in the loop, and nothing left behind however the fuzzer ends.
struct TempFile {
    int fd = -1;
    std::string path;
    TempFile()
    {
        fd = memfd_create("fuzz_bmp", 0);
        vCheck(fd >= 0, "cannot make a file in memory");
        path = "/proc/self/fd/" + std::to_string(fd);
    }
};

struct Paths {
    TempFile in, out;
};

const Paths &stPaths()
{
    static Paths paths;
    return paths;
}

void vWriteInput(const uint8_t *data, size_t size)
{
    const int fd = stPaths().in.fd;
    vCheck(ftruncate(fd, 0) == 0, "cannot empty the input file");
    off_t iAt = 0;
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, iAt);
        vCheck(n > 0, "cannot write the input file");
        data += n;
        iAt += n;
        size -= static_cast<size_t>(n);
    }
}

struct Picture {
    HeaderInfo header{nullptr, nullptr, nullptr};
    Image img{0, 0, 0, nullptr};
    ~Picture()
    {
        FreeImage(&img);
        FreeHeader(&header);
    }
};

uint32_t iLe32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

int64_t iRowForm(const Image &img)
{
    const int64_t iW = img.width, iH = img.height;
    switch (img.bitCnt) {
    case 1: return (iW + 7) / 8 * iH;
    case 4: return (iW + 1) / 2 * iH;
    case 8: return iW * iH;
    case 24: return iW * 3 * iH;
    default: return iW * 4 * iH;
    }
}

// What was read is what is written and read again.
void vRoundTrip(Picture &p)
{
    vCheck(WriteBmp(stPaths().out.path.c_str(), &p.header, &p.img) == 0, "a picture read could not be written");
    Picture q;
    vCheck(ReadBmp(stPaths().out.path.c_str(), &q.header, &q.img) == 0, "a picture written could not be read");
    vCheck(q.img.width == p.img.width && q.img.height == p.img.height && q.img.bitCnt == p.img.bitCnt,
           "dimensions changed in the round trip");
    vCheck(memcmp(q.img.data, p.img.data, static_cast<size_t>(iRowForm(p.img))) == 0, "pixels changed");
    const uint32_t iInfo = iLe32(p.header.infoHeader);
    vCheck(memcmp(q.header.fileHeader, p.header.fileHeader, 14) == 0, "file header changed");
    vCheck(memcmp(q.header.infoHeader, p.header.infoHeader, iInfo) == 0, "info header changed");
    const int64_t iGap = static_cast<int64_t>(iLe32(p.header.fileHeader + 10)) - 14 - iInfo;
    vCheck((iGap > 0) == (q.header.clrPallet != nullptr), "colour table appeared or vanished");
    if (iGap > 0) {
        vCheck(memcmp(q.header.clrPallet, p.header.clrPallet, static_cast<size_t>(iGap)) == 0,
               "colour table changed");
    }
}

// Bands of byte-rows, then spans of columns merged at 16, each span's columns
// turned into the text the machine is sent.
void vSegment(Image &img, int iDatL)
{
    const int iWidth = static_cast<int>(img.width);
    int hist[kCardLimit];
    int blkY[kCardLimit + 2];
    int blkX[kCardLimit + 2];
    char cText[2 * kCardLimit + 2];

    memset(hist, 0, sizeof hist);
    GetHist(&img, 0, 0, iWidth, iDatL, hist, 0);
    const int iBands = GetBlkNum(hist, iDatL);
    vCheck(2 * iBands <= kCardLimit + 1, "more bands than byte-rows");
    GetBlk(hist, iDatL, blkY);
    for (int k = 0; k < iBands; k++) {
        const int iStY = blkY[2 * k], iEndY = blkY[2 * k + 1];
        vCheck(0 <= iStY && iStY <= iEndY && iEndY < iDatL, "band outside the picture");
        memset(hist, 0, sizeof hist);
        GetHist(&img, 0, iStY, iWidth, iEndY + 1, hist, 1);
        int iSpans = GetBlkNum(hist, iWidth);
        GetBlk(hist, iWidth, blkX);
        const int iRuns = iSpans;
        BlockX *pX = ModifyBlock(blkX, 16, &iSpans);
        vCheck(pX != nullptr, "spans could not be had");
        vCheck(iSpans <= iRuns && (iRuns == 0) == (iSpans == 0), "merging lost or made spans");
        for (int s = 0; s < iSpans; s++) {
            vCheck(0 <= pX[s].blkStX && pX[s].blkStX <= pX[s].blkEndX && pX[s].blkEndX < iWidth,
                   "span outside the picture");
            vCheck(s == 0 || pX[s].blkStX - pX[s - 1].blkEndX >= 16, "spans left unmerged");
            for (int x = pX[s].blkStX; x <= pX[s].blkEndX; x++) {
                int iBytes = 0;
                unsigned char *pCol = GetDatCol(&img, x, &iBytes);
                vCheck(pCol != nullptr && iBytes == iDatL, "a column of a span is missing");
                BinaryToAscii(pCol + iStY, cText, iEndY - iStY + 1);
            }
        }
        free(pX);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    vWriteInput(data, size);
    Picture p;
    if (ReadBmp(stPaths().in.path.c_str(), &p.header, &p.img) != 0) {
        vCheck(p.header.fileHeader == nullptr && p.header.infoHeader == nullptr && p.header.clrPallet == nullptr &&
                   p.img.data == nullptr,
               "a refused file left blocks behind");
        return 0;
    }
    vRoundTrip(p);

    // Rows again, then the columns cut from the row form, kept for comparison.
    const int iWidth = static_cast<int>(p.img.width);
    int iBytes = 0;
    if (p.img.height > 0) {
        unsigned char *pRow = GetImageRow(&p.img, static_cast<int>(p.img.height), &iBytes);
        vCheck(pRow != nullptr, "the bottom row is missing");
        free(pRow);
    }
    const unsigned iPix = p.img.bitCnt <= 8 ? 1 : p.img.bitCnt / 8;
    const int64_t iColBytes = p.img.bitCnt <= 8 ? (static_cast<int64_t>(p.img.height) * p.img.bitCnt + 7) / 8
                                                : static_cast<int64_t>(p.img.height) * iPix;
    const bool bCompare = iColBytes > 0 && iWidth <= kMaxComparedColumns && iColBytes * iWidth <= kMaxCompared;
    std::vector<unsigned char> before(bCompare ? static_cast<size_t>(iColBytes * iWidth) : 0);
    for (int c = 1; bCompare && c <= iWidth; c++) {
        unsigned char *pCol = GetImageCol(&p.img, c, &iBytes);
        vCheck(pCol != nullptr && iBytes == iColBytes, "a column of the rows is missing");
        memcpy(before.data() + (c - 1) * iColBytes, pCol, static_cast<size_t>(iBytes));
        free(pCol);
    }

    if (ImageRowToCol(&p.img) != 0) {
        return 0;  // only when memory runs out
    }
    for (int c = 0; bCompare && c < iWidth; c++) {
        unsigned char *pCol = GetDatCol(&p.img, c, &iBytes);
        vCheck(pCol != nullptr && iBytes == iColBytes, "a column of the column form is missing");
        vCheck(memcmp(pCol, before.data() + c * iColBytes, static_cast<size_t>(iBytes)) == 0, "columns disagree");
    }

    if (iWidth <= kCardLimit && iColBytes <= kCardLimit) {
        vSegment(p.img, static_cast<int>(iColBytes));
    }
    return 0;
}
