// Card pictures: reading and writing uncompressed BMP files, the column form
// that the machine takes, and the bands and spans of ink that are sent to it.
//
// The BMP reader is the one parser here that reads a file an operator hands
// us, so every field of the file is treated as hostile: sizes are worked out
// in 64 bits and checked against 32-bit limits (and against the length of the
// file when it is a plain file) before anything is allocated or read.
#include "bitmap.h"

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cfile.h"

namespace {

constexpr int64_t kMaxBlock = INT32_MAX;  // every block and size must fit a signed 32-bit int

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeDeleter>;

// The library's messages on standard error, each written from one place.
constexpr char MSG_DATA_ALLOC[] = "CreateImageDatBuff:Allocation error\n";
constexpr char MSG_HEADER_ALLOC[] = "CreatImageHeader:Allocation error\n";
constexpr char MSG_READ_ALLOC[] = "ReadBmp: Allocation error.\n";
constexpr char MSG_COL_NULL[] = "GetImageCol:Image = NULL\n";
constexpr char MSG_COL_ALLOC[] = "GetImageCol:Allocation error\n";

void vSay(const char *a_szMsg) { fputs(a_szMsg, stderr); }

// a_szWho cannot lay out a picture of a_iBits bits per pixel.
void vSayBits(const char *a_szWho, uint32_t a_iBits)
{
    fprintf(
        stderr,
        "%s:\x94\x46\x8E\xAF\x82\xC5\x82\xAB\x82\xC8\x82\xA2\x83\x43\x83\x81\x81\x5B\x83\x57(%dbit)\n" /* %s:認識できないイメージ(%dbit)\n */
        ,
        a_szWho, static_cast<int>(a_iBits));
}

// a_szWho has no column a_iCol.
void vSayNoColumn(const char *a_szWho, int a_iCol)
{
    fprintf(
        stderr,
        "%s:%d\x94\xD4\x96\xDA\x97\xF1\x83\x66\x81\x5B\x83\x5E\x82\xCD\x91\xB6\x8D\xDD\x82\xB5\x82\xDC\x82\xB9\x82\xF1.\n" /* %s:%d番目列データは存在しません.\n */
        ,
        a_szWho, a_iCol);
}

// malloc(0) may give null; a block of nothing is still a valid block.
unsigned char *pAlloc(int64_t iSize)
{
    return static_cast<unsigned char *>(malloc(iSize > 0 ? static_cast<size_t>(iSize) : 1));
}

uint32_t iLe32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t iLe16(const unsigned char *p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

// a * b when both are >= 0 and the product fits a signed 32-bit int; -1 otherwise.
int64_t iMul32(int64_t a, int64_t b)
{
    if (a < 0 || b < 0) {
        return -1;
    }
    if (a != 0 && b > kMaxBlock / a) {
        return -1;
    }
    return a * b;
}

// Bit counts that have a layout in memory. 16-bit pictures are laid out like
// 24-bit ones (3 bytes a pixel); the reader and writer still refuse them.
bool bKnownBits(uint32_t iBits)
{
    return iBits == 1 || iBits == 4 || iBits == 8 || iBits == 16 || iBits == 24 || iBits == 32;
}

// Bit counts that the reader takes from a file and the writer puts into one.
bool bFileBits(uint32_t iBits) { return iBits == 1 || iBits == 4 || iBits == 8 || iBits == 24 || iBits == 32; }

int iPixelBytes(uint32_t iBits) { return iBits == 32 ? 4 : 3; }

// The sizes of one picture's arrangements, all in 64 bits; -1 where a size
// does not fit a signed 32-bit int.
struct Sizes {
    int64_t iRowBytes;  // bytes of one row in memory (row form)
    int64_t iStride;    // bytes of one row in the file, with its fill
    int64_t iColBytes;  // bytes of one column (column form)
    int64_t iRowForm;   // height x iRowBytes
    int64_t iColForm;   // width x iColBytes
};

// Only for known bit counts and dimensions below 2^31.
Sizes stSizesOf(int64_t iWidth, int64_t iHeight, uint32_t iBits)
{
    Sizes s{};
    if (iBits <= 8) {
        int64_t iPer = 8 / iBits;
        s.iRowBytes = (iWidth + iPer - 1) / iPer;
        s.iStride = (s.iRowBytes + 3) / 4 * 4;
        s.iColBytes = (iHeight + iPer - 1) / iPer;
    } else {
        int iPix = iPixelBytes(iBits);
        s.iRowBytes = iWidth * iPix;
        s.iStride = (iBits == 32) ? s.iRowBytes : s.iRowBytes + iWidth % 4;
        s.iColBytes = iHeight * iPix;
    }
    s.iRowForm = iMul32(s.iRowBytes, iHeight);
    s.iColForm = iMul32(s.iColBytes, iWidth);
    if (s.iRowBytes > kMaxBlock) {
        s.iRowBytes = -1;
    }
    if (s.iStride > kMaxBlock) {
        s.iStride = -1;
    }
    if (s.iColBytes > kMaxBlock) {
        s.iColBytes = -1;
    }
    return s;
}

// Every size of the picture fits: the rows, the file rows, the columns, both forms.
bool bSizesFit(const Sizes &s)
{
    return s.iRowBytes >= 0 && s.iStride >= 0 && s.iColBytes >= 0 && s.iRowForm >= 0 && s.iColForm >= 0;
}

// The sizes of an image in memory, or false when it has no layout or is too large.
bool bImageSizes(const Image *img, Sizes *s)
{
    if (!bKnownBits(img->bitCnt) || img->width > static_cast<uint32_t>(INT32_MAX) ||
        img->height > static_cast<uint32_t>(INT32_MAX)) {
        return false;
    }
    *s = stSizesOf(img->width, img->height, img->bitCnt);
    return bSizesFit(*s);
}

// One column of the row form, packed vertically into iColBytes bytes at cOut.
// For up to 8 bits a byte holds 8 / bits rows, the upper row in the lower bits;
// wider pixels are copied whole, top row first.
void vBuildColumn(const Image *img, const Sizes &s, int64_t iCol, unsigned char *cOut)
{
    const unsigned char *pData = img->data;
    const int64_t iHeight = img->height;
    const uint32_t iBits = img->bitCnt;
    if (iBits == 32) {
        const unsigned char *p = pData + iCol * 4;
        for (int64_t r = 0; r < iHeight; r++, p += s.iRowBytes) {
            memcpy(cOut + r * 4, p, 4);
        }
        return;
    }
    if (iBits > 8) {
        const unsigned char *p = pData + iCol * 3;
        for (int64_t r = 0; r < iHeight; r++, p += s.iRowBytes) {
            memcpy(cOut + r * 3, p, 3);
        }
        return;
    }
    const int64_t iPer = 8 / iBits;
    const int64_t iByte = iCol * iBits / 8;
    const int iShift = 8 - static_cast<int>(iBits) - static_cast<int>(iCol * iBits % 8);
    const unsigned iMask = (1u << iBits) - 1;
    const unsigned char *p = pData + iByte;
    for (int64_t g = 0; g < s.iColBytes; g++) {
        unsigned iOut = 0;
        const int64_t iRows = (iHeight - g * iPer < iPer) ? iHeight - g * iPer : iPer;
        for (int64_t j = 0; j < iRows; j++, p += s.iRowBytes) {
            iOut |= ((*p >> iShift) & iMask) << (j * iBits);
        }
        cOut[g] = static_cast<unsigned char>(iOut);
    }
}

// 1-bit pictures are the card's own. Eight rows of one source byte make an
// 8 x 8 block of pixels whose transpose is the byte of each of the eight
// columns, so the column form is built a block at a time.
uint64_t iTranspose8(uint64_t x)
{
    // Bit 8r + c goes to 8c + r: three rounds of swapping 1x1, 2x2 and 4x4 blocks.
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    return x;
}

void vColumns1Bit(const Image *img, const Sizes &s, unsigned char *cOut)
{
    const int64_t iWidth = img->width;
    const int64_t iHeight = img->height;
    for (int64_t g = 0; g < s.iColBytes; g++) {
        const int64_t iRows = (iHeight - g * 8 < 8) ? iHeight - g * 8 : 8;
        const unsigned char *pRow = img->data + g * 8 * s.iRowBytes;
        for (int64_t b = 0; b < s.iRowBytes; b++) {
            // Byte j of the block is row 8g + j; rows below the picture are empty.
            uint64_t iBlock = 0;
            for (int64_t j = 0; j < iRows; j++) {
                iBlock |= static_cast<uint64_t>(pRow[j * s.iRowBytes + b]) << (8 * j);
            }
            // After the transpose byte i holds, in bit j, pixel 7 - i of row j:
            // the leftmost pixel is the top bit of a row byte.
            iBlock = iTranspose8(iBlock);
            const int64_t iFirst = b * 8;
            const int64_t iN = (iWidth - iFirst < 8) ? iWidth - iFirst : 8;
            unsigned char *p = cOut + iFirst * s.iColBytes + g;
            for (int64_t k = 0; k < iN; k++, p += s.iColBytes) {
                *p = static_cast<unsigned char>(iBlock >> (8 * (7 - k)));
            }
        }
    }
}

}  // namespace

// ---- blocks -----------------------------------------------------------------

unsigned char *CreateImageDatBuff(int width, int height, int bitCnt)
{
    int64_t iSize = 0;
    bool bOk = width >= 0 && height >= 0;
    if (bOk && bKnownBits(static_cast<uint32_t>(bitCnt))) {
        Sizes s = stSizesOf(width, height, static_cast<uint32_t>(bitCnt));
        iSize = s.iRowForm;
        bOk = s.iRowBytes >= 0 && s.iRowForm >= 0;
    }
    unsigned char *p = bOk ? pAlloc(iSize) : nullptr;
    if (p == nullptr) {
        vSay(MSG_DATA_ALLOC);
    }
    return p;
}

unsigned char *CreateImageHeader(int l)
{
    unsigned char *p = (l >= 0) ? pAlloc(l) : nullptr;
    if (p == nullptr) {
        vSay(MSG_HEADER_ALLOC);
    }
    return p;
}

void FreeImage(Image *img)
{
    if (img != nullptr && img->data != nullptr) {
        free(img->data);
        img->data = nullptr;
    }
}

void FreeHeader(HeaderInfo *h)
{
    if (h == nullptr) {
        return;
    }
    free(h->fileHeader);
    free(h->infoHeader);
    free(h->clrPallet);
    h->fileHeader = nullptr;
    h->infoHeader = nullptr;
    h->clrPallet = nullptr;
}

// ---- files ------------------------------------------------------------------

namespace {

// Width, height and bit count sit at offsets 4..11 of the 12-byte core header
// and 4..15 of every longer one: anything shorter holds no picture.
bool bInfoLenOk(int64_t iInfoLen) { return iInfoLen == 12 || (iInfoLen >= 16 && iInfoLen <= kMaxBlock); }

// A BMP file being read. A plain file tells its length: a size in the headers
// that reaches past the end is a short file, found before any block is
// allocated for it. Every step below writes its own message when it fails
// and returns -1; the blocks it filled free themselves.
class BmpReader {
public:
    BmpReader(FILE *a_fp, const char *a_szName) : m_fp(a_fp), m_szName(a_szName)
    {
        struct stat st;
        if (fstat(fileno(a_fp), &st) == 0 && S_ISREG(st.st_mode)) {
            m_iLeft = st.st_size;
        }
    }
    // n more bytes can be in the file.
    bool Fits(int64_t n) const { return m_iLeft < 0 || n <= m_iLeft; }
    bool Read(unsigned char *p, int64_t n)
    {
        if (n <= 0) {
            return true;
        }
        size_t iGot = fread(p, 1, static_cast<size_t>(n), m_fp.get());
        if (m_iLeft >= 0) {
            m_iLeft -= static_cast<int64_t>(iGot);
        }
        return iGot == static_cast<size_t>(n);
    }
    int iReadError() const
    {
        fprintf(stderr, "Error: %s read error.", m_szName);
        return -1;
    }
    const char *Name() const { return m_szName; }

private:
    CFile m_fp;
    const char *m_szName;
    int64_t m_iLeft = -1;
};

// What the headers say of the picture.
struct BmpGeometry {
    int64_t iWidth;
    int64_t iHeight;
    uint32_t iBits;
    Sizes s;
};

// The 14-byte file header, which must begin with "BM".
int iBmpFileHeader(BmpReader &a_tIn, Block &a_fh)
{
    a_fh.reset(CreateImageHeader(14));
    if (!a_fh) {
        return -1;
    }
    if (!a_tIn.Read(a_fh.get(), 14)) {
        return a_tIn.iReadError();
    }
    if (a_fh.get()[0] != 'B' || a_fh.get()[1] != 'M') {
        fprintf(stderr, "Error: %s is not Bitmap file.", a_tIn.Name());
        return -1;
    }
    return 0;
}

// The info header, as long as its first four bytes say.
int iBmpInfoHeader(BmpReader &a_tIn, Block &a_ih, int64_t &a_iInfoLen)
{
    unsigned char cLen[4];
    if (!a_tIn.Read(cLen, 4)) {
        return a_tIn.iReadError();
    }
    a_iInfoLen = iLe32(cLen);
    if (a_iInfoLen < 12 || (a_iInfoLen > 12 && a_iInfoLen < 16)) {
        fprintf(stderr, "Error: %s has an info header of %lld bytes; the reader takes 12, or 16 and more.",
                a_tIn.Name(), static_cast<long long>(a_iInfoLen));
        return -1;
    }
    if (!a_tIn.Fits(a_iInfoLen - 4)) {
        return a_tIn.iReadError();
    }
    if (!bInfoLenOk(a_iInfoLen)) {
        vSay(MSG_HEADER_ALLOC);
        return -1;
    }
    a_ih.reset(CreateImageHeader(static_cast<int>(a_iInfoLen)));
    if (!a_ih) {
        return -1;
    }
    memcpy(a_ih.get(), cLen, 4);
    return a_tIn.Read(a_ih.get() + 4, a_iInfoLen - 4) ? 0 : a_tIn.iReadError();
}

// Width, height and bit count from the info header, and the sizes they give.
int iBmpGeometry(const BmpReader &a_tIn, const unsigned char *a_pInfo, int64_t a_iInfoLen, BmpGeometry &a_tGeo)
{
    const bool bCore = a_iInfoLen == 12;
    a_tGeo.iWidth = bCore ? iLe16(a_pInfo + 4) : iLe32(a_pInfo + 4);
    a_tGeo.iHeight = bCore ? iLe16(a_pInfo + 6) : iLe32(a_pInfo + 8);
    a_tGeo.iBits = iLe16(a_pInfo + (bCore ? 10 : 14));
    if (!bFileBits(a_tGeo.iBits)) {
        fprintf(stderr, "Error: %s has %u bits per pixel; the reader takes 1, 4, 8, 24 or 32.", a_tIn.Name(),
                static_cast<unsigned>(a_tGeo.iBits));
        return -1;
    }
    // A negative height (rows stored top down) or width reads as 2^31 or
    // more; such a picture, and one whose rows or columns do not fit a 32-bit
    // size, cannot be held.
    if (a_tGeo.iWidth <= kMaxBlock && a_tGeo.iHeight <= kMaxBlock) {
        a_tGeo.s = stSizesOf(a_tGeo.iWidth, a_tGeo.iHeight, a_tGeo.iBits);
        if (bSizesFit(a_tGeo.s)) {
            return 0;
        }
    }
    vSay(MSG_DATA_ALLOC);
    return -1;
}

// Whatever lies between the info header and the pixel rows, kept as it is.
// The rows are read right after it, wherever the offset points.
int iBmpGap(BmpReader &a_tIn, const unsigned char *a_pFile, int64_t a_iInfoLen, Block &a_pal)
{
    const int64_t iGap = static_cast<int64_t>(iLe32(a_pFile + 10)) - 14 - a_iInfoLen;
    if (iGap <= 0) {
        return 0;
    }
    if (!a_tIn.Fits(iGap)) {
        return a_tIn.iReadError();
    }
    if (iGap <= kMaxBlock) {
        a_pal.reset(pAlloc(iGap));
    }
    if (!a_pal) {
        vSay(MSG_READ_ALLOC);
        return -1;
    }
    return a_tIn.Read(a_pal.get(), iGap) ? 0 : a_tIn.iReadError();
}

// The pixel rows into a new data block: stored bottom up, the row form is
// top down without fill. The picture's dimensions go into a_img once the
// block is there; its data stays null until the whole read has succeeded.
int iBmpRows(BmpReader &a_tIn, const BmpGeometry &a_tGeo, Image *a_img, Block &a_data)
{
    const Sizes &s = a_tGeo.s;
    const int64_t iHeight = a_tGeo.iHeight;
    if (!a_tIn.Fits(s.iStride * iHeight)) {
        return a_tIn.iReadError();
    }
    Block line;
    if (iHeight > 0) {
        line.reset(pAlloc(s.iStride));
        if (!line) {
            vSay(MSG_READ_ALLOC);
            return -1;
        }
    }
    a_data.reset(
        CreateImageDatBuff(static_cast<int>(a_tGeo.iWidth), static_cast<int>(iHeight), static_cast<int>(a_tGeo.iBits)));
    if (!a_data) {
        return -1;
    }
    a_img->width = static_cast<uint32_t>(a_tGeo.iWidth);
    a_img->height = static_cast<uint32_t>(iHeight);
    a_img->bitCnt = a_tGeo.iBits;
    for (int64_t i = 0; i < iHeight && s.iStride > 0; i++) {
        if (!a_tIn.Read(line.get(), s.iStride)) {
            a_img->data = nullptr;
            return a_tIn.iReadError();
        }
        memcpy(a_data.get() + (iHeight - 1 - i) * s.iRowBytes, line.get(), static_cast<size_t>(s.iRowBytes));
    }
    return 0;
}

}  // namespace

int ReadBmp(const char *filename, HeaderInfo *header, Image *img)
{
    if (filename == nullptr || header == nullptr || img == nullptr) {
        return -1;
    }
    FILE *pFile = fopen(filename, "rb");
    if (pFile == nullptr) {
        fprintf(stderr, "Error: %s could not read.", filename);
        return -1;
    }
    BmpReader tIn(pFile, filename);
    // No block of ours survives a failure; the caller's pointers come back null.
    header->fileHeader = nullptr;
    header->infoHeader = nullptr;
    header->clrPallet = nullptr;
    Block fh, ih, pal, data;
    int64_t iInfoLen = 0;
    BmpGeometry tGeo{};
    if (iBmpFileHeader(tIn, fh) != 0 || iBmpInfoHeader(tIn, ih, iInfoLen) != 0 ||
        iBmpGeometry(tIn, ih.get(), iInfoLen, tGeo) != 0 || iBmpGap(tIn, fh.get(), iInfoLen, pal) != 0) {
        return -1;
    }
    if (iBmpRows(tIn, tGeo, img, data) != 0) {
        return -1;
    }
    header->fileHeader = fh.release();
    header->infoHeader = ih.release();
    header->clrPallet = pal.release();
    img->data = data.release();
    return 0;
}

int WriteBmp(const char *filename, HeaderInfo *header, Image *img)
{
    // Only a picture that the reader could have produced is written; anything
    // else is refused before the file is touched.
    if (filename == nullptr || header == nullptr || img == nullptr || header->fileHeader == nullptr ||
        header->infoHeader == nullptr || !bFileBits(img->bitCnt)) {
        return 1;
    }
    const int64_t iInfoLen = iLe32(header->infoHeader);
    if (!bInfoLenOk(iInfoLen)) {
        return 1;
    }
    const int64_t iGap = static_cast<int64_t>(iLe32(header->fileHeader + 10)) - 14 - iInfoLen;
    if (iGap > 0 && header->clrPallet == nullptr) {
        return 1;
    }
    Sizes s;
    if (!bImageSizes(img, &s) || (img->data == nullptr && s.iRowForm > 0)) {
        return 1;
    }

    FILE *pFile = fopen(filename, "wb");
    if (pFile == nullptr) {
        fprintf(stderr, "WriteBmp: %s could not open.", filename);
        return 1;
    }
    CFile fp(pFile);
    // A full disk or a broken medium shows in any one write or in the close.
    auto bWrite = [&fp](const unsigned char *p, int64_t n) {
        return n <= 0 || fwrite(p, 1, static_cast<size_t>(n), fp.get()) == static_cast<size_t>(n);
    };
    bool bOk = bWrite(header->fileHeader, 14) && bWrite(header->infoHeader, iInfoLen);
    if (bOk && iGap > 0) {
        bOk = bWrite(header->clrPallet, iGap);
    }
    if (!bOk) {
        return 1;
    }
    // A picture without rows needs no line, however wide it claims to be.
    const int64_t iHeight = img->height;
    Block line;
    if (iHeight > 0) {
        line.reset(pAlloc(s.iStride));
        if (!line) {
            fprintf(stderr, "WriteBmp: Allocation error.\n");
            return 1;
        }
        memset(line.get(), 0, static_cast<size_t>(s.iStride));
    }
    for (int64_t r = iHeight - 1; r >= 0 && s.iStride > 0; r--) {
        memcpy(line.get(), img->data + r * s.iRowBytes, static_cast<size_t>(s.iRowBytes));
        if (!bWrite(line.get(), s.iStride)) {
            return 1;
        }
    }
    return fclose(fp.release()) == 0 ? 0 : 1;
}

// ---- rows and columns ---------------------------------------------------------

unsigned char *GetImageRow(Image *src, int row, int *bytes)
{
    Sizes s;
    if (src == nullptr || !bImageSizes(src, &s) || src->data == nullptr || row < 1 ||
        static_cast<int64_t>(row) > static_cast<int64_t>(src->height)) {
        return nullptr;
    }
    unsigned char *p = pAlloc(s.iRowBytes);
    if (p == nullptr) {
        fprintf(stderr, "GetImageRow:Allocation error\n");
        return nullptr;
    }
    memcpy(p, src->data + static_cast<int64_t>(row - 1) * s.iRowBytes, static_cast<size_t>(s.iRowBytes));
    if (bytes != nullptr) {
        *bytes = static_cast<int>(s.iRowBytes);
    }
    return p;
}

unsigned char *GetImageCol(Image *src, int col, int *bytes)
{
    if (src == nullptr) {
        vSay(MSG_COL_NULL);
        return nullptr;
    }
    const uint32_t iBits = src->bitCnt;
    if (!bKnownBits(iBits)) {
        vSayBits("GetImageCol", iBits);
        return nullptr;
    }
    // The byte of the row that holds the column, as the operator would see it
    // in a message: counted from 0, so column 0 and below give a negative index.
    const int64_t iIndex =
        (iBits <= 8) ? (static_cast<int64_t>(col) * iBits + 7) / 8 - 1 : static_cast<int64_t>(col) - 1;
    if (col < 1 || static_cast<int64_t>(col) > static_cast<int64_t>(src->width)) {
        fprintf(
            stderr,
            "GetImageCol:\x83\x43\x83\x93\x83\x66\x83\x62\x83\x4E\x83\x58\x8C\x76\x8E\x5A\x83\x47\x83\x89\x81\x5B(%lld)\n" /* GetImageCol:インデックス計算エラー(%lld)\n */
            ,
            static_cast<long long>(iIndex));
        return nullptr;
    }
    Sizes s;
    if (!bImageSizes(src, &s)) {
        vSay(MSG_COL_ALLOC);
        return nullptr;
    }
    if (src->data == nullptr) {
        vSay(MSG_COL_NULL);
        return nullptr;
    }
    unsigned char *p = pAlloc(s.iColBytes);
    if (p == nullptr) {
        vSay(MSG_COL_ALLOC);
        return nullptr;
    }
    vBuildColumn(src, s, col - 1, p);
    if (bytes != nullptr) {
        *bytes = static_cast<int>(s.iColBytes);
    }
    return p;
}

// Called for every column of every band: the column's length comes from the
// bit count and height alone, and the whole column form must fit 32 bits.
unsigned char *GetDatCol(Image *img, int col, int *bytes)
{
    if (img != nullptr && !bKnownBits(img->bitCnt)) {
        vSayBits("GetDatCol", img->bitCnt);
        return nullptr;
    }
    int64_t iColBytes = -1;
    if (img != nullptr) {
        const int64_t iHeight = img->height;
        iColBytes = img->bitCnt <= 8 ? (iHeight * img->bitCnt + 7) / 8 : iHeight * iPixelBytes(img->bitCnt);
        if (iColBytes > kMaxBlock || iColBytes * img->width > kMaxBlock) {
            iColBytes = -1;
        }
    }
    if (iColBytes < 0 || img->data == nullptr || col < 0 ||
        static_cast<int64_t>(col) >= static_cast<int64_t>(img->width)) {
        vSayNoColumn("GetDatCol", col);
        return nullptr;
    }
    if (bytes != nullptr) {
        *bytes = static_cast<int>(iColBytes);
    }
    return img->data + static_cast<int64_t>(col) * iColBytes;
}

// The column form can be larger than the row form (a 1-bit 480 x 100 picture
// takes 6240 bytes in columns and 6000 in rows), so it is built in a block of
// its own size. When it fits the old block it is copied back, and `data` keeps
// its address; otherwise the new block takes the old one's place.
int ImageRowToCol(Image *img)
{
    if (img == nullptr) {
        return -1;
    }
    if (!bKnownBits(img->bitCnt)) {
        vSayBits("GetImageCol", img->bitCnt);
        vSayNoColumn("ImageRowToCol", 1);
        return -1;
    }
    Sizes s;
    if (!bImageSizes(img, &s)) {
        vSay(MSG_DATA_ALLOC);
        return -1;
    }
    if (s.iRowForm == 0) {
        return 0;  // no pixels: nothing to rearrange, however wide the picture
    }
    if (img->data == nullptr) {
        vSay(MSG_COL_NULL);
        vSayNoColumn("ImageRowToCol", 1);
        return -1;
    }
    Block work(pAlloc(s.iColForm));
    if (!work) {
        vSay(MSG_DATA_ALLOC);
        return -1;
    }
    if (img->bitCnt == 1) {
        vColumns1Bit(img, s, work.get());
    } else {
        for (int64_t c = 0; c < img->width; c++) {
            vBuildColumn(img, s, c, work.get() + c * s.iColBytes);
        }
    }
    if (s.iColForm <= s.iRowForm) {
        memcpy(img->data, work.get(), static_cast<size_t>(s.iColForm));
    } else {
        free(img->data);
        img->data = work.release();
    }
    return 0;
}

void BinaryToAscii(const unsigned char *src, char *txt, int n)
{
    if (src == nullptr || txt == nullptr) {
        return;
    }
    static constexpr char kDigit[] = "0123456789ABCDEF";
    // Low four bits first: in a 1-bit column that is the upper four rows.
    for (int i = 0; i < n; i++) {
        txt[2 * i] = kDigit[src[i] & 0x0F];
        txt[2 * i + 1] = kDigit[src[i] >> 4];
    }
}

// ---- bands and spans ------------------------------------------------------------

void GetHist(Image *img, int stx, int sty, int endx, int endy, int *hist, char flg)
{
    if (img == nullptr || hist == nullptr) {
        return;
    }
    const bool bByColumn = (flg & 1) != 0;
    for (int x = stx; x < endx; x++) {
        int iBytes = 0;
        const unsigned char *pCol = GetDatCol(img, x, &iBytes);
        if (pCol == nullptr) {
            continue;
        }
        // Byte-rows beyond the column hold no ink: never read past it.
        const int iFrom = sty < 0 ? 0 : sty;
        const int iTo = endy < iBytes ? endy : iBytes;
        if (bByColumn) {
            int iInk = 0;
            for (int y = iFrom; y < iTo; y++) {
                iInk += pCol[y] != 0;
            }
            hist[x] += iInk;
        } else {
            for (int y = iFrom; y < iTo; y++) {
                hist[y] += pCol[y] != 0;
            }
        }
    }
}

int GetBlkNum(const int *hist, int hist_length)
{
    if (hist == nullptr) {
        return 0;
    }
    int iRuns = 0;
    for (int i = 0; i < hist_length; i++) {
        if (hist[i] > 0 && (i + 1 == hist_length || hist[i + 1] <= 0)) {
            iRuns++;
        }
    }
    return iRuns;
}

// A run's end is the first empty entry after it, or the last entry when the
// run reaches the end: the machine is sent both ends inclusive.
void GetBlk(const int *hist, int hist_length, int *blk)
{
    if (hist == nullptr || blk == nullptr) {
        return;
    }
    bool bIn = false;
    int iOut = 0;
    for (int i = 0; i < hist_length; i++) {
        if (hist[i] > 0 && !bIn) {
            blk[iOut++] = i;
            bIn = true;
        } else if (hist[i] <= 0 && bIn) {
            blk[iOut++] = i;
            bIn = false;
        }
    }
    if (bIn) {
        blk[iOut] = hist_length - 1;
    }
}

// Spans with fewer than th empty entries between them become one; a merged
// span is compared again with the one after it, so a row of close spans folds
// into one however long it is.
BlockX *ModifyBlock(int *blk, int th, int *size)
{
    if (size == nullptr) {
        return nullptr;
    }
    int n = *size > 0 ? *size : 0;
    if (n > 0 && blk == nullptr) {
        return nullptr;
    }
    int iKept = 0;
    for (int i = 1; i < n; i++) {
        const int64_t iGap = static_cast<int64_t>(blk[2 * i]) - blk[2 * iKept + 1];
        if (iGap < th) {
            blk[2 * iKept + 1] = blk[2 * i + 1];
        } else {
            iKept++;
            blk[2 * iKept] = blk[2 * i];
            blk[2 * iKept + 1] = blk[2 * i + 1];
        }
    }
    if (n > 0) {
        n = iKept + 1;
    }
    // A band without ink has no spans: an array of none, not a failure.
    BlockX *pOut = static_cast<BlockX *>(malloc(n > 0 ? sizeof(BlockX) * static_cast<size_t>(n) : sizeof(BlockX)));
    if (pOut == nullptr) {
        fprintf(stderr, "ModifyBlock:Allocation error\n");
        return nullptr;
    }
    for (int k = 0; k < n; k++) {
        pOut[k].blkStX = blk[2 * k];
        pOut[k].blkEndX = blk[2 * k + 1];
    }
    *size = n;
    return pOut;
}
