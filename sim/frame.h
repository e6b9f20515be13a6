// The machine's side of the wire: bytes from the tool cut into frames
// (STX, letter, parameters, ETX, block check) and lone closing ACKs.
//
// The parser is incremental (a frame may arrive in any number of pieces) and
// bounded: it never holds more than SIM_FRAME_MAX bytes, drops whatever is no
// frame, and finds its feet again at the next STX.
#ifndef VESTRUN_SIM_FRAME_H
#define VESTRUN_SIM_FRAME_H

#include <cstddef>
#include <string>
#include <vector>

// The longest frame the machine takes, block check included. The tool's own
// frames stay far below it (an image frame carries at most 800 characters of
// picture, the character set frame at most 896 bytes).
enum { SIM_FRAME_MAX = 4096 };

// How much of a run of stray bytes is kept to be shown in the log.
enum { SIM_GARBAGE_SAMPLE = 16 };

enum SimUnitKind {
    SIM_UNIT_FRAME,     // STX .. ETX BCC; see eCheck
    SIM_UNIT_ACK,       // a single ACK byte outside any frame: the closing ACK
    SIM_UNIT_GARBAGE,   // bytes outside any frame that mean nothing
    SIM_UNIT_BROKEN,    // a frame cut short by a new STX
    SIM_UNIT_OVERLONG,  // a frame that outgrew SIM_FRAME_MAX; dropped
};

enum SimFrameCheck {
    SIM_FRAME_OK,
    SIM_FRAME_BAD_BCC,    // the block check does not match
    SIM_FRAME_NO_LETTER,  // STX ETX BCC: nothing between
};

struct SimUnit {
    SimUnitKind eKind = SIM_UNIT_GARBAGE;
    // FRAME: every byte from STX through the block check; ACK: the one byte;
    // GARBAGE, BROKEN, OVERLONG: at most the first SIM_GARBAGE_SAMPLE bytes.
    std::string cBytes;
    size_t iCount = 0;  // bytes this unit stands for
    // FRAME only:
    SimFrameCheck eCheck = SIM_FRAME_OK;
    char cLetter = 0;
    std::string cParams;  // the bytes between the letter and ETX
};

// Where the parser stands in the stream.
enum SimWireState {
    SIM_WIRE_IDLE,  // between frames
    SIM_WIRE_BODY,  // after STX, before ETX
    SIM_WIRE_BCC,   // after ETX: the next byte is the block check
    SIM_WIRE_SKIP,  // after an overlong frame: everything up to the next STX is dropped
};

struct SimFrameParser {
    SimWireState eState = SIM_WIRE_IDLE;
    std::string cFrame;    // the frame being gathered, STX first
    std::string cGarbage;  // sample of the current run of stray bytes
    size_t iGarbage = 0;   // length of that run
};

// Takes the next a_iLen bytes off the wire; every unit completed by them is
// appended to a_tOut in wire order. A run of stray bytes is one unit, reported
// when a frame or an ACK follows it, or by SimFrameFinish.
void SimFrameFeed(SimFrameParser *a_tParser, const unsigned char *a_cData, size_t a_iLen, std::vector<SimUnit> *a_tOut);

// The end of the wire: reports a run of stray bytes still open.
void SimFrameFinish(SimFrameParser *a_tParser, std::vector<SimUnit> *a_tOut);

// Bytes held for a frame not yet complete.
size_t SimFramePending(const SimFrameParser &a_tParser);

// The block check the tool puts behind ETX: XOR of every byte from the
// letter through ETX. a_cFrame runs from STX through ETX.
unsigned char SimFrameBcc(const std::string &a_cFrame);

// A frame as the machine itself would send it (used for its result replies):
// STX, letter, parameters, ETX, block check.
std::string SimFrameBuild(char a_cLetter, const std::string &a_cParams);

#endif
