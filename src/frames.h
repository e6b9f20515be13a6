// Inside the printer commands: the frames they build, without a machine on
// the other end. The commands of head.h are made of these; the tests and the
// fuzz targets drive them directly.
#ifndef VESTRUN_FRAMES_H
#define VESTRUN_FRAMES_H

#include <cstdio>

#include "define.h"

// ---- magnetic record ----------------------------------------------------
// Kana name field of the magnetic record: the 7-bit name a_szNameKANA
// (NUL-terminated) as 24 bytes between shift codes, always ending shifted in,
// and a NUL in a_cField[24]. Returns 24.
int iKanaField(const char *a_szNameKANA, char *a_cField);
// The magnetic record frame "9" from STX through ETX into a_cSnd (a_iSize
// bytes, room left for the block check): 72 on success. -99 when the record
// cannot go on a stripe whole (patient number over 10 bytes, no sex, a NUL,
// STX or ETX in a field), -1 when a_cSnd is too small. The kanji name in JIS
// codes goes to a_szJis (a_iJisSize bytes, may be null) for the trace file.
int iMagRecord(const T_PAT_INF *a_tPat, char *a_cSnd, int a_iSize, char *a_szJis, int a_iJisSize);

// ---- image frames -------------------------------------------------------
// Takes one image frame (STX through ETX, a_iLen bytes, with room for the
// block check behind) and sends it; 0 when the machine took it.
typedef int (*T_FRAME_SINK)(void *a_pCtx, char *a_cSnd, int a_iLen);
// The "M" frames of m_iImageBlkSet, the "C" frames of m_iImageLSet and the
// "M" frames of m_iImageBSet, each handed to a_pSink in order. 0 when every
// frame was taken; -99 when the picture (or a band) cannot be sent and no
// frame went out, or a column could not be had; else the sink's result.
int iImageBlkFrames(const Image *a_stImg, const ImgBlock *a_stBlk, int a_iBlkN, T_FRAME_SINK a_pSink, void *a_pCtx);
int iImageLFrames(const Image *a_stImg, T_FRAME_SINK a_pSink, void *a_pCtx);
int iImageBFrames(const Image *a_stImg, T_FRAME_SINK a_pSink, void *a_pCtx);

// ---- character set ------------------------------------------------------
// The sex word (Shift_JIS) for a_cSEX in the sex style a_iStyle.
const char *szSexWord(char a_cSEX, int a_iStyle);
// The "A" frame laid out from the layout file, from STX through ETX, into
// a_cSnd (a_iSize bytes, room left for the block check). Returns its length,
// or -1 when the layout would not fit or would put an STX or ETX inside the
// frame.
int iCharSetLayout(FILE *a_fpLayout, const T_PAT_INF *a_tPat, const char *a_szBirth, const char *a_szSex, char *a_cSnd,
                   int a_iSize);
// The whole "A" frame from printstyle.txt and printsetting.txt in the working
// folder, with the run-log lines of m_iCharSet up to the exchange. Its length;
// -99 when a settings file cannot be opened or read (logged), -1 when it does
// not fit.
int iCharSetBuild(const T_PAT_INF *a_tPat, char *a_cSnd, int a_iSize);

#endif
