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

#endif
