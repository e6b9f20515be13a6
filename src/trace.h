// Inside the trace file: every run rewrites it with the kana name line, and
// the magnetic write appends the kanji name line.
#ifndef VESTRUN_TRACE_H
#define VESTRUN_TRACE_H

constexpr char TRACE_PATH[] = "/tmp/jisTest.txt";

// Writes a_szDesig, a_szText and a newline to the trace file a_szPath, whole:
// appended when a_iAppend is non-zero, over the file otherwise. A symbolic
// link is not followed and only a plain file is written to. 0 when written,
// -1 when skipped.
int iTraceLine(const char *a_szPath, int a_iAppend, const char *a_szDesig, const char *a_szText);
// The kana trace line (ESC ( I, the 7-bit name, a newline) written over the
// file at a_szPath. 0 when written, -1 when skipped.
int iKanaTrace(const char *a_szPath, const char *a_szNameKANA);
// Appends ESC $ B, a_szJis and a newline to the trace file a_szPath.
// 0 when written, -1 otherwise.
int iJisTraceAppend(const char *a_szPath, const char *a_szJis);

#endif
