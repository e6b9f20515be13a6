// Inside the picture's way to the machine: what its picture buffer takes,
// and the band arrays that the block transfer is given.
#ifndef VESTRUN_PICTURE_H
#define VESTRUN_PICTURE_H

#include <cstddef>
#include <cstdint>

#include "bitmap.h"

// The machine's picture buffer: 480 columns of 512 pixel rows (64-byte
// columns of a 1-bit picture).
constexpr uint32_t PIC_MAX_W = 480;
constexpr uint32_t PIC_MAX_H = 512;

// 0 when the machine can take the picture (1 bit per pixel, at most
// PIC_MAX_W x PIC_MAX_H); otherwise -1 with the reason in a_szWhy (may be
// null): the bit count and size found and what the machine takes.
int iBmpCheck(const Image *a_stImg, char *a_szWhy, size_t a_iSize);
// Frees the band array of m_GetImageBlk with the spans of each band.
void vImgBlkFree(ImgBlock *a_stBlk, int a_iBlkN);

#endif
