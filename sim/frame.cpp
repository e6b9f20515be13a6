#include "frame.h"

#include <vector>

#include "bytes.h"

namespace {

constexpr unsigned char kStx = SIM_STX;
constexpr unsigned char kEtx = SIM_ETX;
constexpr unsigned char kAck = SIM_ACK;

void FlushGarbage(SimFrameParser *a_tParser, std::vector<SimUnit> *a_tOut)
{
    if (a_tParser->iGarbage == 0) {
        return;
    }
    SimUnit tUnit;
    tUnit.eKind = SIM_UNIT_GARBAGE;
    tUnit.cBytes = a_tParser->cGarbage;
    tUnit.iCount = a_tParser->iGarbage;
    a_tOut->push_back(std::move(tUnit));
    a_tParser->cGarbage.clear();
    a_tParser->iGarbage = 0;
}

void AddGarbage(SimFrameParser *a_tParser, unsigned char a_c)
{
    if (a_tParser->cGarbage.size() < SIM_GARBAGE_SAMPLE) {
        a_tParser->cGarbage += static_cast<char>(a_c);
    }
    if (a_tParser->iGarbage < static_cast<size_t>(-1)) {
        a_tParser->iGarbage++;
    }
}

void StartFrame(SimFrameParser *a_tParser, std::vector<SimUnit> *a_tOut)
{
    FlushGarbage(a_tParser, a_tOut);
    a_tParser->cFrame.assign(1, static_cast<char>(kStx));
    a_tParser->eState = SIM_WIRE_BODY;
}

SimUnit Sample(SimUnitKind a_eKind, const std::string &a_cBytes, size_t a_iCount)
{
    SimUnit tUnit;
    tUnit.eKind = a_eKind;
    tUnit.cBytes = a_cBytes.substr(0, SIM_GARBAGE_SAMPLE);
    tUnit.iCount = a_iCount;
    return tUnit;
}

SimUnit CompleteFrame(const std::string &a_cFrame)
{
    SimUnit tUnit;
    tUnit.eKind = SIM_UNIT_FRAME;
    tUnit.cBytes = a_cFrame;
    tUnit.iCount = a_cFrame.size();
    // STX, body, ETX, BCC: the body is everything between STX and ETX.
    const size_t iBody = a_cFrame.size() - 3;
    if (iBody == 0) {
        tUnit.eCheck = SIM_FRAME_NO_LETTER;
        return tUnit;
    }
    tUnit.cLetter = a_cFrame[1];
    tUnit.cParams = a_cFrame.substr(2, iBody - 1);
    const unsigned char cBcc = SimFrameBcc(a_cFrame.substr(0, a_cFrame.size() - 1));
    tUnit.eCheck = (cBcc == static_cast<unsigned char>(a_cFrame.back())) ? SIM_FRAME_OK : SIM_FRAME_BAD_BCC;
    return tUnit;
}

}  // namespace

void SimFrameFeed(SimFrameParser *a_tParser, const unsigned char *a_cData, size_t a_iLen, std::vector<SimUnit> *a_tOut)
{
    for (size_t i = 0; i < a_iLen; i++) {
        const unsigned char c = a_cData[i];
        switch (a_tParser->eState) {
        case SIM_WIRE_IDLE:
        case SIM_WIRE_SKIP:
            if (c == kStx) {
                StartFrame(a_tParser, a_tOut);
            } else if (c == kAck && a_tParser->eState == SIM_WIRE_IDLE) {
                FlushGarbage(a_tParser, a_tOut);
                SimUnit tUnit;
                tUnit.eKind = SIM_UNIT_ACK;
                tUnit.cBytes.assign(1, static_cast<char>(kAck));
                tUnit.iCount = 1;
                a_tOut->push_back(std::move(tUnit));
            } else {
                AddGarbage(a_tParser, c);
            }
            break;
        case SIM_WIRE_BODY:
            if (c == kStx) {
                // No frame carries STX inside (the picture is hex text, the
                // names are JIS or Shift_JIS codes above 0x20): the sender
                // gave up on the frame and began a new one.
                a_tOut->push_back(Sample(SIM_UNIT_BROKEN, a_tParser->cFrame, a_tParser->cFrame.size()));
                StartFrame(a_tParser, a_tOut);
                break;
            }
            if (a_tParser->cFrame.size() + 2 > SIM_FRAME_MAX) {
                // This byte and the block check would not fit: drop the frame
                // and wait for the next STX.
                a_tOut->push_back(Sample(SIM_UNIT_OVERLONG, a_tParser->cFrame, a_tParser->cFrame.size() + 1));
                a_tParser->cFrame.clear();
                a_tParser->eState = SIM_WIRE_SKIP;
                break;
            }
            a_tParser->cFrame += static_cast<char>(c);
            if (c == kEtx) {
                a_tParser->eState = SIM_WIRE_BCC;
            }
            break;
        case SIM_WIRE_BCC:
            a_tParser->cFrame += static_cast<char>(c);
            a_tOut->push_back(CompleteFrame(a_tParser->cFrame));
            a_tParser->cFrame.clear();
            a_tParser->eState = SIM_WIRE_IDLE;
            break;
        }
    }
}

void SimFrameFinish(SimFrameParser *a_tParser, std::vector<SimUnit> *a_tOut) { FlushGarbage(a_tParser, a_tOut); }

size_t SimFramePending(const SimFrameParser &a_tParser) { return a_tParser.cFrame.size(); }

unsigned char SimFrameBcc(const std::string &a_cFrame)
{
    // Worked out here, not taken from the tool: the machine must notice a
    // tool that gets it wrong.
    unsigned char cBcc = 0;
    for (size_t i = 1; i < a_cFrame.size(); i++) {
        cBcc ^= static_cast<unsigned char>(a_cFrame[i]);
    }
    return cBcc;
}

std::string SimFrameBuild(char a_cLetter, const std::string &a_cParams)
{
    std::string cFrame;
    cFrame += static_cast<char>(kStx);
    cFrame += a_cLetter;
    cFrame += a_cParams;
    cFrame += static_cast<char>(kEtx);
    cFrame += static_cast<char>(SimFrameBcc(cFrame));
    return cFrame;
}
