// The interface of the issuing run's parts: the run log, the era dates, the
// kana and kanji conversions and the printer commands. What the parts share
// only among themselves (and with the tests) lives in headers of its own:
// patient.h, picture.h, frames.h, settings.h, trace.h, runlog.h, jiscode.h
// and cfile.h.
#ifndef VESTRUN_HEAD_H
#define VESTRUN_HEAD_H

#include "define.h"

// ---- run log ------------------------------------------------------------
void vLogAdd(const char *a_szMsg);

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
