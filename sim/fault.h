// Misbehaviour on request: rules that pick frames by letter, parameter prefix
// and receipt number, and the replies the machine then sends (or does not).
//
// A rule reads KEY[#N]:ACTION[=ARG]. KEY is "*" or a command letter followed
// by an optional parameter prefix ("M", "Z010", "12", "F1"). Without "#" a
// rule takes the first matching receipt only, except the actions marked
// "every" in the table (the hostile ones and late), which take every one;
// "#N" takes the N-th matching receipt of the connection, "#*" every one.
// Receipts are counted per rule, retries included.
#ifndef VESTRUN_SIM_FAULT_H
#define VESTRUN_SIM_FAULT_H

#include <random>
#include <string>
#include <vector>

enum { SIM_EVERY = -1 };  // iNth: every matching receipt

// Longest delay a slow or late reply may be given, in ms.
enum { SIM_SLOW_MAX_MS = 600000 };
// Pause between the pieces of a split reply, in ms.
enum { SIM_SPLIT_GAP_MS = 3 };
// Lengths of the deliberately wrong replies.
enum { SIM_SHORT_RESULT_LEN = 8, SIM_OVERSIZE_LEN = 1000 };

// One piece of what the machine sends back, due a_iDelayMs after the frame
// came in, or the line dropped.
struct SimStep {
    int iDelayMs = 0;
    std::string cBytes;
    bool bClose = false;
    bool bResult = false;  // the piece ends a result reply: the closing ACK is due
    bool bKept = false;    // still sent when the next frame comes before it is due
    std::string sLabel;    // logged when the piece goes out; empty: nothing
};

// What the machine makes of a good frame before any fault: the answer code
// and, after ACK, the result reply.
struct SimReply {
    unsigned char cCode = 0;  // ACK, NAK or DLE
    std::string cResult;      // result reply (only with ACK)
};

// One fault action: everything about it in one row of the table in fault.cpp.
struct SimFault {
    const char *szName;
    bool bArg;       // takes "=MS"
    bool bEvery;     // takes every matching receipt unless "#N" is given
    bool bExecutes;  // the machine carries the command out (its first reply is an ACK or its own refusal)
    // The pieces sent for a frame with this letter; a_tReply is the machine's
    // own answer (unused when bExecutes is false), a_iArg the "=MS".
    std::vector<SimStep> (*fnPlan)(char a_cLetter, const SimReply &a_tReply, int a_iArg, std::mt19937 *a_tRng);
};

// The action of that name, or null.
const SimFault *SimFaultFind(const std::string &a_sName);

struct SimFaultRule {
    std::string sText;  // the rule as given, for the log
    bool bAny = false;  // KEY "*"
    char cLetter = 0;
    std::string cPrefix;  // parameter prefix after the letter
    int iNth = 1;         // 1-based receipt, or SIM_EVERY
    const SimFault *tFault = nullptr;
    int iArg = 0;   // ms for slow and late
    int iSeen = 0;  // matching receipts so far in this connection
};

// Parses one rule; false with a reason in a_sErr when it is malformed.
bool SimFaultParse(const std::string &a_sText, SimFaultRule *a_tRule, std::string *a_sErr);

// "none" for null.
const char *SimFaultName(const SimFault *a_tFault);

// Counts this receipt against every rule that matches the frame and returns
// the first rule (in command-line order) that applies to it, or null.
SimFaultRule *SimFaultMatch(std::vector<SimFaultRule> *a_tRules, char a_cLetter, const std::string &a_cParams);

// Forgets the receipt counts: every connection is a run of its own.
void SimFaultReset(std::vector<SimFaultRule> *a_tRules);

// The first reply: nine filler bytes and the answer code as the tenth.
std::string SimFirstReply(char a_cLetter, unsigned char a_cCode);

// Does the machine carry out the command under this fault (null: none)?
bool SimFaultExecutes(const SimFault *a_tFault);

// The pieces to send for a frame with letter a_cLetter: the machine's reply
// shaped by the fault (null for none).
std::vector<SimStep> SimPlan(char a_cLetter, const SimReply &a_tReply, const SimFault *a_tFault, int a_iArg,
                             std::mt19937 *a_tRng);

#endif
