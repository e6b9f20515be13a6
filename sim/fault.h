// Misbehaviour on request: rules that pick frames by letter, parameter prefix
// and receipt number, and the replies the machine then sends (or does not).
//
// A rule reads KEY[#N]:ACTION[=ARG]. KEY is "*" or a command letter followed
// by an optional parameter prefix ("M", "Z010", "12", "F1"). Without "#" a
// rule takes the first matching receipt only, except the hostile actions
// (nak-always, garbage, oversize, split) and late, which take every one; "#N" takes
// the N-th matching receipt of the connection, "#*" every one. Receipts are
// counted per rule, retries included.
#ifndef VESTRUN_SIM_FAULT_H
#define VESTRUN_SIM_FAULT_H

#include <random>
#include <string>
#include <vector>

enum SimFaultAction {
    SIM_FAULT_NONE,
    SIM_FAULT_NAK,           // NAK this receipt
    SIM_FAULT_NAK_ALWAYS,    // NAK every matching receipt
    SIM_FAULT_DLE,           // refuse with DLE
    SIM_FAULT_SILENCE,       // no answer at all
    SIM_FAULT_SHORT,         // a first reply of one byte (06)
    SIM_FAULT_NO_RESULT,     // ACK, then no result reply
    SIM_FAULT_SLOW,          // ACK, then the result reply after iArg ms
    SIM_FAULT_CLOSE,         // drop the line on receipt
    SIM_FAULT_SHORT_RESULT,  // ACK, then a result reply of 8 bytes
    SIM_FAULT_GARBAGE,       // random bytes instead of both replies
    SIM_FAULT_OVERSIZE,      // ACK, then a result reply of 1000 bytes
    SIM_FAULT_SPLIT,         // both replies one byte at a time
    SIM_FAULT_LATE,          // the whole answer, first reply included, after iArg ms
};

enum { SIM_EVERY = -1 };  // iNth: every matching receipt

// Longest delay a slow reply may be given, in ms.
enum { SIM_SLOW_MAX_MS = 600000 };
// Pause between the pieces of a split reply, in ms.
enum { SIM_SPLIT_GAP_MS = 3 };
// Lengths of the deliberately wrong replies.
enum { SIM_SHORT_RESULT_LEN = 8, SIM_OVERSIZE_LEN = 1000 };

struct SimFaultRule {
    std::string szText;    // the rule as given, for the log
    bool bAny = false;     // KEY "*"
    char cLetter = 0;
    std::string cPrefix;   // parameter prefix after the letter
    int iNth = 1;          // 1-based receipt, or SIM_EVERY
    SimFaultAction eAction = SIM_FAULT_NONE;
    int iArg = 0;          // ms for slow and late
    int iSeen = 0;         // matching receipts so far in this connection
};

// Parses one rule; false with a reason in a_szErr when it is malformed.
bool SimFaultParse(const std::string &a_szText, SimFaultRule *a_tRule, std::string *a_szErr);

const char *SimFaultName(SimFaultAction a_eAction);

// Counts this receipt against every rule that matches the frame and returns
// the first rule (in command-line order) that applies to it, or null.
SimFaultRule *SimFaultMatch(std::vector<SimFaultRule> *a_tRules, char a_cLetter, const std::string &a_cParams);

// Forgets the receipt counts: every connection is a run of its own.
void SimFaultReset(std::vector<SimFaultRule> *a_tRules);

// One piece of what the machine sends back, due a_iDelayMs after the frame
// came in, or the line dropped.
struct SimStep {
    int iDelayMs = 0;
    std::string cBytes;
    bool bClose = false;
    bool bResult = false;  // the piece ends a result reply: the closing ACK is due
    bool bKept = false;    // still sent when the next frame comes before it is due
    std::string szLabel;  // logged when the piece goes out; empty: nothing
};

// What the machine makes of a good frame before any fault: the answer code
// and, after ACK, the result reply.
struct SimReply {
    unsigned char cCode = 0;  // ACK, NAK or DLE
    std::string cResult;      // result reply (only with ACK)
};

// The first reply: nine filler bytes and the answer code as the tenth.
std::string SimFirstReply(char a_cLetter, unsigned char a_cCode);

// Does the machine carry out the command under this fault? Only faults whose
// first reply is an ACK let it; the others leave the machine as it was.
bool SimFaultExecutes(SimFaultAction a_eAction);

// The pieces to send for a frame with letter a_cLetter: the machine's reply
// shaped by the fault (SIM_FAULT_NONE for none). a_tReply is unused for the
// faults under which the machine does not carry out the command.
std::vector<SimStep> SimPlan(char a_cLetter, const SimReply &a_tReply, SimFaultAction a_eAction, int a_iArg,
                             std::mt19937 *a_tRng);

#endif
