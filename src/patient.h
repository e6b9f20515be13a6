// Inside the issuing run: its arguments and the patient record it fills
// from them before the machine is reached.
#ifndef VESTRUN_PATIENT_H
#define VESTRUN_PATIENT_H

#include "define.h"

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

#endif
