// Prototypes shared by the issuing run, the printer commands and the text library.
#ifndef VESTRUN_HEAD_H
#define VESTRUN_HEAD_H

#include <cstddef>
#include <cstdio>
#include <ctime>

#include "define.h"

// ---- run log ------------------------------------------------------------
void vLogAdd(const char *a_szMsg);
// The log line for a given time, as vLogAdd writes it; snprintf's result.
int iLogFormat(char *a_szOut, size_t a_iSize, const struct tm *a_tTm, const char *a_szMsg);

// ---- trace file ---------------------------------------------------------
// Writes a_szDesig, a_szText and a newline to the trace file a_szPath, whole:
// appended when a_iAppend is non-zero, over the file otherwise. A symbolic
// link is not followed and only a plain file is written to. 0 when written,
// -1 when skipped.
int iTraceLine(const char *a_szPath, int a_iAppend, const char *a_szDesig, const char *a_szText);

// ---- settings files (printstyle.txt, printsetting.txt) --------------------
// One counted line of a settings file: comment lines (";") are skipped, a line
// longer than the 128-byte buffer is read in pieces that count as lines.
enum { SET_LINE_BUF = 128, SET_MAX_FIELDS = SET_LINE_BUF / 2 };
struct T_SET_LINE {
    int iLine;                      // number of this counted line, from 0
    int iFldN;                      // fields found on it
    char *szFld[SET_MAX_FIELDS];    // fields 1..iFldN at [0..iFldN-1], into cBuf
    char cBuf[SET_LINE_BUF];
    int iCount;                     // counted lines read so far
};
// Reads the next counted line into a_tLine (zero it before the first call).
// Returns 1 when a line was read, 0 at the end of the file.
int iSetLineRead(FILE *a_fp, T_SET_LINE *a_tLine);

// ---- era dates ----------------------------------------------------------
int iDateChg(const char *a_szYYYYMMDD, char *a_szWaYMD);

// ---- kana width conversion ------------------------------------------------
enum { JPCODE_SJIS = 0, JPCODE_EUC = 1 };
enum { JTP_SEITEN = 0, JTP_DAKUTEN = 1, JTP_HANDAKUTEN = 2 };

extern const unsigned char *const seihan;
extern const unsigned char *const sjis_seizen;
extern const unsigned char *const euc_seizen;
extern const unsigned char *const dakhan;
extern const unsigned char *const sjis_dakzen;
extern const unsigned char *const euc_dakzen;
extern const unsigned char *const sjis_dakzensei;
extern const unsigned char *const euc_dakzensei;
extern const unsigned char *const hathan;
extern const unsigned char *const sjis_hatzen;
extern const unsigned char *const euc_hatzen;
extern const unsigned char *const sjis_hatzensei;
extern const unsigned char *const euc_hatzensei;
extern const unsigned char *const sjis_dakuten;
extern const unsigned char *const sjis_handakuten;
extern const unsigned char *const euc_dakuten;
extern const unsigned char *const euc_handakuten;

int zentohan(unsigned char *newbuf, const unsigned char *buf, int incode, int srclen);
int hantozen(unsigned char *newbuf, const unsigned char *buf, int incode, int srclen, int dakutsuke);
int ustrindex(const unsigned char *ustr, unsigned char uc);
int ustrindex2(const unsigned char *ustr, const unsigned char *ut);

// ---- kanji code conversion ------------------------------------------------
int iSJIStoJIS(const unsigned char *c_bf, unsigned char *c_rt);
int iSJIStoEUC(const unsigned char *c_bf, unsigned char *c_rt);
int iEUCtoJIS(const unsigned char *c_bf, unsigned char *c_rt);
void EUCtoSJIS(unsigned char *c1, unsigned char *c2);
void vGrade423(unsigned char *cH, unsigned char *cL);

// ---- printer commands -----------------------------------------------------
int m_iStsChk(int a_iSock);
int m_iBufClear(int a_iSock);
int m_iBufClearAll(int a_iSock);
int m_iLEDSet(int a_iSock, int a_iFlg);
int m_iPrtReset(int a_iSock);
int m_iCardPut(T_PAT_INF a_tPat, int a_iSock);
int m_iWrite(T_PAT_INF a_tPat, int a_iSock);
ImgBlock *m_GetImageBlk(T_PAT_INF a_tPat, int *blkN);
int m_iImageBlkSet(T_PAT_INF a_tPat, int a_iSock, ImgBlock *stBlk, int blkNumY);
int m_iImageLSet(T_PAT_INF a_tPat, int a_iSock);
int m_iImageBSet(T_PAT_INF a_tPat, int a_iSock);
int m_iCharSet(T_PAT_INF a_tPat, int a_iSock);

// What the commands build, without a machine on the other end (for tests and
// fuzzers; the commands above are made of them).
// A status reply carries the card state at byte 12 and the cover at byte 16.
enum { STS_REPLY_MIN = 17 };
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
// Appends ESC $ B, a_szJis and a newline to the trace file a_szPath, whole.
// A symbolic link is not followed and only a plain file is written to.
// 0 when written, -1 otherwise.
int iJisTraceAppend(const char *a_szPath, const char *a_szJis);
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
// The sex style of a print style file: the first byte of counted line 2, or 0.
int iSexStyle(FILE *a_fp);
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

// ---- issuing run ----------------------------------------------------------
// One run takes ten arguments, argv[1] to argv[10].
enum { RUN_ARG_N = 10 };
// Number (1 to 10) of the first argument that its field cannot hold whole, or
// 0 when every one fits. Host at most 63 bytes, print style flag at most 1,
// patient number at most 10, each name at most 127, sex exactly 1, each date
// at most 15. Arguments 5 to 10 go onto the stripe and hold no control byte;
// the two names are whole Shift_JIS characters besides. a_iArgc counts
// argv[0]; fewer than eleven entries give 1.
int iArgCheck(int a_iArgc, char *const *a_szArgv);
// Argument 2 as a port number: leading blanks and a sign accepted, digits up
// to the first other byte, none give 0; no range test.
int iPortRead(const char *a_szArg);
// Fills the record's text fields from argv[3] and argv[5] to argv[10], the
// kana name through the kana pipeline; stImg is left as it is.
void vPatFill(T_PAT_INF *a_tPat, char *const *a_szArgv);
// Full-width kana name (Shift_JIS) to 7-bit half-width katakana codes in
// a_szNameKANA, which holds 128 bytes.
void vKanaPipeline(const char *a_szKanaZen, char *a_szNameKANA);
// The kana trace line (ESC ( I, the 7-bit name, a newline) written over the
// file at a_szPath. A symbolic link or anything but a plain file is left
// alone. 0 when written, -1 when skipped.
int iKanaTrace(const char *a_szPath, const char *a_szNameKANA);
// 0 when the machine can take the picture (1 bit per pixel, at most 480
// pixels wide and 512 high); otherwise -1 with the reason in a_szWhy.
int iBmpCheck(const Image *a_stImg, char *a_szWhy, size_t a_iSize);
// Frees the band array of m_GetImageBlk with the spans of each band.
void vImgBlkFree(ImgBlock *a_stBlk, int a_iBlkN);

#endif
