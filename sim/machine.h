// The issuing machine itself, without a wire: its picture buffer, LED, card,
// cover, magnetic record and character set, and its answer to each frame.
#ifndef VESTRUN_SIM_MACHINE_H
#define VESTRUN_SIM_MACHINE_H

#include <string>
#include <vector>

#include "card.h"
#include "fault.h"

// The operator at the machine, replayed from the command line for every run.
struct SimOperator {
    int iCardAfter = 0;    // status request that first finds a card ready; 0: a card is in from the start
    int iCardWaiting = 0;  // first status requests that find the last card still waiting to be taken
    int iCoverOpen = 0;    // first status requests that find the cover open
};

enum SimCardState {
    SIM_CARD_NONE,   // no card in the machine
    SIM_CARD_READY,  // a blank card in place, ready to be written and put out
    SIM_CARD_OUT,    // the card has been put out and waits to be taken
};

// Largest picture buffer the machine can be given, in pixels each way.
enum { SIM_PICTURE_MAX = 4096 };

struct SimMachine {
    int iWidth = 0;
    int iHeight = 0;
    int iByteRows = 0;  // (height + 7) / 8
    // Column form, as the image frames carry it: byte k of column x at
    // x * iByteRows + k, pixel row 8k + j in bit j; a set bit is ink.
    std::vector<unsigned char> cPicture;
    SimOperator tOperator;

    bool bLed = false;
    int iStatusCount = 0;  // status requests in this run
    SimCardState eCard = SIM_CARD_NONE;
    bool bRecord = false;  // a magnetic record waits in the buffer ("9")
    std::string cRecord;
    bool bWritten = false;  // the record has been written onto the card ("1")
    std::string cStripe;
    bool bCharset = false;
    std::string cCharset;
};

// What the machine makes of one good frame.
struct SimOutcome {
    SimReply tReply;
    std::string sNote;      // what it did or why it refused, for the log
    bool bCardOut = false;  // the card went out: tCard holds it
    SimCard tCard;
};

// One image frame ("M" or "C") taken apart.
struct SimImageFrame {
    int iCol = 0;                      // first column
    int iRow = 0;                      // first byte-row
    int iBytes = 0;                    // bytes per column
    int iCols = 0;                     // columns carried
    std::vector<unsigned char> cData;  // iCols * iBytes bytes, column after column
};

// Sets the buffer size and the operator; the machine then stands as at the
// start of a run.
void SimMachineInit(SimMachine *a_tMachine, int a_iWidth, int a_iHeight, const SimOperator &a_tOperator);

// A new connection is a new run: buffers cleared, LED off, the operator's
// counts from the beginning.
void SimMachineNewRun(SimMachine *a_tMachine);

// Carries out one frame whose block check was right.
SimOutcome SimMachineAnswer(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams);

// Parses the parameters of an "M" frame (first column, first byte-row, bytes
// per column, hex text) or a "C" frame (column, first byte-row, hex text of
// one column). Hex text carries the low four bits of each byte first.
bool SimParseImage(char a_cLetter, const std::string &a_cParams, SimImageFrame *a_tFrame, std::string *a_sErr);

// The frame in words, for the log line of its receipt.
std::string SimDescribe(char a_cLetter, const std::string &a_cParams);

// The status block that answers every command: 20 bytes, the card state at
// offset 12 ('0' none, '1' ready, '2' waiting to be taken) and the cover at
// offset 16 ('0' closed, '1' open).
std::string SimStatusBlock(const SimMachine &a_tMachine, char a_cLetter, char a_cCard, char a_cCover);

enum { SIM_STATUS_LEN = 20, SIM_STATUS_CARD = 12, SIM_STATUS_COVER = 16 };

#endif
