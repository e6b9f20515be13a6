// Card pictures: uncompressed BMP files, their column form and the bands and
// spans of ink that are sent to the machine.
#ifndef VESTRUN_BITMAP_H
#define VESTRUN_BITMAP_H

#include <cstdint>

// A picture in memory. `data` is in row form after ReadBmp (top row first,
// no row fill) and in column form after ImageRowToCol.
struct Image {
    uint32_t height;
    uint32_t width;
    uint32_t bitCnt;
    unsigned char *data;
};

// The raw header blocks of a BMP file, each a heap block of its own.
struct HeaderInfo {
    unsigned char *fileHeader;  // 14 bytes
    unsigned char *infoHeader;  // its own length, from its first 4 bytes
    unsigned char *clrPallet;   // bytes between info header and pixels, or null
};

// One span of columns within a band.
struct BlockX {
    int blkStX;
    int blkEndX;
};

// One band of byte-rows holding ink, with its spans.
struct ImgBlock {
    int blkN;
    int blkStY;
    int blkEndY;
    BlockX *blkX;
};

int ReadBmp(const char *filename, HeaderInfo *header, Image *img);
int WriteBmp(const char *filename, HeaderInfo *header, Image *img);
unsigned char *CreateImageDatBuff(int width, int height, int bitCnt);
unsigned char *CreateImageHeader(int l);
void FreeImage(Image *img);
void FreeHeader(HeaderInfo *h);

unsigned char *GetImageRow(Image *src, int row, int *bytes);
unsigned char *GetImageCol(Image *src, int col, int *bytes);
unsigned char *GetDatCol(Image *img, int col, int *bytes);
// The column form can be larger than the row form; it then replaces `data`
// with a block of its own size, so a copy of the Image taken before the call
// must not be used after it.
int ImageRowToCol(Image *img);
void BinaryToAscii(const unsigned char *src, char *txt, int n);

void GetHist(Image *img, int stx, int sty, int endx, int endy, int *hist, char flg);
int GetBlkNum(const int *hist, int hist_length);
void GetBlk(const int *hist, int hist_length, int *blk);
BlockX *ModifyBlock(int *blk, int th, int *size);

#endif
