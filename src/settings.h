// Inside the settings files: the line reader that the print style file and
// the layout file share, and the print style that the era dates and the
// character set command take from printstyle.txt.
#ifndef VESTRUN_SETTINGS_H
#define VESTRUN_SETTINGS_H

#include <cstdio>

// The operator's word for a settings file that cannot be opened or read.
constexpr char MSG_NO_STYLE[] =
    "\x81\x7E \x90\xDD\x92\xE8\x83\x74\x83\x40\x83\x43\x83\x8B\x82\x51\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDE\x82\xB1\x82\xC6\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42\x8F\x88\x97\x9D\x95\x73\x89\xC2\x94\x5Cn" /* × 設定ファイル２を読み込むことができません。処理不可能n */
    ;
constexpr char MSG_NO_LAYOUT[] =
    "\x81\x7E \x90\xDD\x92\xE8\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDE\x82\xB1\x82\xC6\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42\x8F\x88\x97\x9D\x95\x73\x89\xC2\x94\x5Cn" /* × 設定ファイルを読み込むことができません。処理不可能n */
    ;

// One counted line of a settings file: comment lines (";") are skipped, a line
// longer than the 128-byte buffer is read in pieces that count as lines.
enum { SET_LINE_BUF = 128, SET_MAX_FIELDS = SET_LINE_BUF / 2 };
struct T_SET_LINE {
    int iLine;                    // number of this counted line, from 0
    int iFldN;                    // fields found on it
    char *szFld[SET_MAX_FIELDS];  // fields 1..iFldN at [0..iFldN-1], into cBuf
    char cBuf[SET_LINE_BUF];
    int iCount;  // counted lines read so far
};
// Reads the next counted line into a_tLine (zero it before the first call).
// Returns 1 when a line was read, 0 at the end of the file.
int iSetLineRead(FILE *a_fp, T_SET_LINE *a_tLine);

// The print style: the first byte of counted line 1 (date style, '0' when
// there is none) and of counted line 2 (sex style, 0 when there is none).
struct T_PRT_STYLE {
    char cDate;
    int iSex;
};
// The print style of an open print style file, read to its end.
T_PRT_STYLE tPrtStyleScan(FILE *a_fp);
// printstyle.txt of the working folder, read once: 0, or -99 when it cannot
// be opened or read through (nothing is logged; the caller says so).
int iPrtStyleRead(T_PRT_STYLE *a_tStyle);
// The sex style of an open print style file.
int iSexStyle(FILE *a_fp);
// The era form of a_szYYYYMMDD in the date style a_cStyle into a_szWaYMD (at
// least 19 bytes): 0, or -1 for a date before the first era.
int iDateForm(const char *a_szYYYYMMDD, char a_cStyle, char *a_szWaYMD);

#endif
