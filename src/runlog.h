// Inside the run log: the line vLogAdd writes, formed for a given time.
#ifndef VESTRUN_RUNLOG_H
#define VESTRUN_RUNLOG_H

#include <cstddef>
#include <ctime>

// The log line (" 3/ 5 09:07:02 message\n") for the time a_tTm into a_szOut
// of a_iSize bytes; like snprintf, the length the whole line needs.
int iLogFormat(char *a_szOut, size_t a_iSize, const struct tm *a_tTm, const char *a_szMsg);

#endif
