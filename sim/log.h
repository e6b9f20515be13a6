// The stand-in's own log: one UTF-8 line per event on standard error, behind
// a wall-clock time stamp with milliseconds, so that the pace of a run (the
// tool's fixed waits, a slow reply) can be read off the log.
#ifndef VESTRUN_SIM_LOG_H
#define VESTRUN_SIM_LOG_H

#include <cstddef>
#include <string>

// printf-style; the line end is added.
void SimLog(const char *a_szFmt, ...) __attribute__((format(printf, 1, 2)));

// Switches the log off (the fuzz target and the unit tests run the machine
// without a terminal to talk to).
void SimLogQuiet(bool a_bQuiet);

// Bytes as upper-case hex pairs separated by blanks ("02 59 03 5A"), no
// trailing blank. Beyond a_iMax bytes the text ends in " … (N bytes)".
std::string SimHex(const std::string &a_cBytes, size_t a_iMax = static_cast<size_t>(-1));

// A byte string shown as text: printable ASCII as is, everything else as \xNN.
std::string SimPrintable(const std::string &a_cBytes);

#endif
