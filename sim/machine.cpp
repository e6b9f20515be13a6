#include "machine.h"

#include <algorithm>

#include "bytes.h"
#include "card.h"
#include "frame.h"
#include "log.h"

namespace {

// Longest number the image frames carry; anything longer cannot be a column
// or byte-row of any picture the machine holds.
constexpr size_t kNumberDigits = 6;

int HexDigit(char a_c)
{
    if (a_c >= '0' && a_c <= '9') {
        return a_c - '0';
    }
    if (a_c >= 'A' && a_c <= 'F') {
        return a_c - 'A' + 10;
    }
    if (a_c >= 'a' && a_c <= 'f') {
        return a_c - 'a' + 10;
    }
    return -1;
}

// Reads "digits," at *a_iPos.
bool TakeNumber(const std::string &a_cText, size_t *a_iPos, int *a_iOut)
{
    size_t i = *a_iPos;
    int iVal = 0;
    size_t iDigits = 0;
    while (i < a_cText.size() && a_cText[i] >= '0' && a_cText[i] <= '9') {
        if (++iDigits > kNumberDigits) {
            return false;
        }
        iVal = iVal * 10 + (a_cText[i] - '0');
        i++;
    }
    if (iDigits == 0 || i >= a_cText.size() || a_cText[i] != ',') {
        return false;
    }
    *a_iPos = i + 1;
    *a_iOut = iVal;
    return true;
}

bool DecodeHex(const std::string &a_cText, size_t a_iPos, std::vector<unsigned char> *a_cOut)
{
    const size_t iChars = a_cText.size() - a_iPos;
    a_cOut->assign(iChars / 2, 0);
    for (size_t i = 0; i < iChars / 2; i++) {
        // Low four bits first, then the high four.
        const int iLow = HexDigit(a_cText[a_iPos + 2 * i]);
        const int iHigh = HexDigit(a_cText[a_iPos + 2 * i + 1]);
        if (iLow < 0 || iHigh < 0) {
            return false;
        }
        (*a_cOut)[i] = static_cast<unsigned char>(iLow | (iHigh << 4));
    }
    return true;
}

char CardChar(SimCardState a_eCard)
{
    switch (a_eCard) {
    case SIM_CARD_READY:
        return '1';
    case SIM_CARD_OUT:
        return '2';
    default:
        return '0';
    }
}

// The cover as the operator last left it: open during the first iCoverOpen
// status requests.
char CoverChar(const SimMachine &a_tMachine)
{
    const int iCount = a_tMachine.iStatusCount > 0 ? a_tMachine.iStatusCount : 1;
    return iCount <= a_tMachine.tOperator.iCoverOpen ? '1' : '0';
}

SimOutcome Accept(const SimMachine &a_tMachine, char a_cLetter, std::string a_sNote)
{
    SimOutcome tOut;
    tOut.tReply.cCode = SIM_ACK;
    tOut.tReply.cResult = SimStatusBlock(a_tMachine, a_cLetter, CardChar(a_tMachine.eCard), CoverChar(a_tMachine));
    tOut.sNote = std::move(a_sNote);
    return tOut;
}

SimOutcome Refuse(std::string a_sWhy)
{
    SimOutcome tOut;
    tOut.tReply.cCode = SIM_DLE;
    tOut.sNote = "refused: " + a_sWhy;
    return tOut;
}

void ClearBuffers(SimMachine *a_tMachine)
{
    std::fill(a_tMachine->cPicture.begin(), a_tMachine->cPicture.end(), 0);
    a_tMachine->bRecord = false;
    a_tMachine->cRecord.clear();
    a_tMachine->bCharset = false;
    a_tMachine->cCharset.clear();
}

bool HasInk(const SimMachine &a_tMachine)
{
    return std::any_of(a_tMachine.cPicture.begin(), a_tMachine.cPicture.end(), [](unsigned char c) { return c != 0; });
}

SimOutcome StatusRequest(SimMachine *a_tMachine)
{
    if (a_tMachine->iStatusCount < 1000000000) {
        a_tMachine->iStatusCount++;
    }
    const int iN = a_tMachine->iStatusCount;
    const SimOperator &tOp = a_tMachine->tOperator;
    char cCard;
    if (a_tMachine->eCard == SIM_CARD_OUT || iN <= tOp.iCardWaiting) {
        cCard = '2';
    } else if (a_tMachine->eCard == SIM_CARD_READY || tOp.iCardAfter == 0 || iN >= tOp.iCardAfter) {
        // The operator has put the card in by now.
        a_tMachine->eCard = SIM_CARD_READY;
        cCard = '1';
    } else {
        cCard = '0';
    }
    const char cCover = CoverChar(*a_tMachine);
    SimOutcome tOut;
    tOut.tReply.cCode = SIM_ACK;
    tOut.tReply.cResult = SimStatusBlock(*a_tMachine, 'Y', cCard, cCover);
    tOut.sNote = "status request " + std::to_string(iN) + ": " +
                 (cCard == '0'   ? "no card"
                  : cCard == '1' ? "card ready"
                                 : "card waiting to be taken") +
                 (cCover == '1' ? ", cover open" : ", cover closed");
    return tOut;
}

SimOutcome LoadImage(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimImageFrame tFrame;
    std::string sErr;
    if (!SimParseImage(a_cLetter, a_cParams, &tFrame, &sErr)) {
        return Refuse(sErr);
    }
    if (tFrame.iCol + tFrame.iCols > a_tMachine->iWidth || tFrame.iRow + tFrame.iBytes > a_tMachine->iByteRows) {
        return Refuse("columns " + std::to_string(tFrame.iCol) + "-" + std::to_string(tFrame.iCol + tFrame.iCols - 1) +
                      ", byte-rows " + std::to_string(tFrame.iRow) + "-" +
                      std::to_string(tFrame.iRow + tFrame.iBytes - 1) + " lie outside the picture buffer (" +
                      std::to_string(a_tMachine->iWidth) + " columns, " + std::to_string(a_tMachine->iByteRows) +
                      " byte-rows)");
    }
    for (int x = 0; x < tFrame.iCols; x++) {
        std::copy_n(
            tFrame.cData.begin() + static_cast<long>(x) * tFrame.iBytes, tFrame.iBytes,
            a_tMachine->cPicture.begin() + static_cast<long>(tFrame.iCol + x) * a_tMachine->iByteRows + tFrame.iRow);
    }
    return Accept(*a_tMachine, a_cLetter, "picture loaded");
}

// The refusal of a command that takes no parameters but came with some.
bool Bare(const std::string &a_cParams, const char *a_szNoun, SimOutcome *a_tOut)
{
    if (a_cParams.empty()) {
        return true;
    }
    *a_tOut = Refuse(std::string(a_szNoun) + " takes no parameters");
    return false;
}

SimOutcome ClearAll(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!Bare(a_cParams, "clear of all buffers", &tOut)) {
        return tOut;
    }
    ClearBuffers(a_tMachine);
    return Accept(*a_tMachine, a_cLetter, "all buffers cleared");
}

SimOutcome ClearPicture(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!Bare(a_cParams, "buffer clear", &tOut)) {
        return tOut;
    }
    std::fill(a_tMachine->cPicture.begin(), a_tMachine->cPicture.end(), 0);
    return Accept(*a_tMachine, a_cLetter, "picture buffer cleared");
}

SimOutcome Status(SimMachine *a_tMachine, char, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!Bare(a_cParams, "status request", &tOut)) {
        return tOut;
    }
    return StatusRequest(a_tMachine);
}

SimOutcome Led(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    if (a_cParams == "412" || a_cParams == "010") {
        a_tMachine->bLed = a_cParams == "412";
        return Accept(*a_tMachine, a_cLetter, a_tMachine->bLed ? "LED on" : "LED off");
    }
    return Refuse("LED pattern \"" + SimPrintable(a_cParams) + "\" unknown");
}

SimOutcome Reset(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!Bare(a_cParams, "printer reset", &tOut)) {
        return tOut;
    }
    ClearBuffers(a_tMachine);
    a_tMachine->bLed = false;
    return Accept(*a_tMachine, a_cLetter, "printer reset");
}

SimOutcome Record(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    if (a_cParams.size() != SIM_RECORD_LEN) {
        return Refuse("magnetic record of " + std::to_string(a_cParams.size()) + " bytes, not " +
                      std::to_string(SIM_RECORD_LEN));
    }
    a_tMachine->bRecord = true;
    a_tMachine->cRecord = a_cParams;
    return Accept(*a_tMachine, a_cLetter, "magnetic record loaded");
}

// The refusal of a command on the card in the machine that came with another
// parameter than its one, or while no card is in.
bool OnCard(const SimMachine &a_tMachine, const std::string &a_cParams, const char *a_szParam, const char *a_szNoun,
            const char *a_szDeed, SimOutcome *a_tOut)
{
    if (a_cParams != a_szParam) {
        *a_tOut = Refuse(std::string(a_szNoun) + " with parameter \"" + SimPrintable(a_cParams) + "\" unknown");
        return false;
    }
    if (a_tMachine.eCard != SIM_CARD_READY) {
        *a_tOut = Refuse(std::string("no card to ") + a_szDeed);
        return false;
    }
    return true;
}

SimOutcome WriteStripe(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!OnCard(*a_tMachine, a_cParams, "2", "magnetic write", "write", &tOut)) {
        return tOut;
    }
    if (!a_tMachine->bRecord) {
        return Refuse("no magnetic record to write");
    }
    a_tMachine->bWritten = true;
    a_tMachine->cStripe = a_tMachine->cRecord;
    return Accept(*a_tMachine, a_cLetter, "stripe written, standing by");
}

SimOutcome PutOut(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimOutcome tOut;
    if (!OnCard(*a_tMachine, a_cParams, "1", "card output", "put out", &tOut)) {
        return tOut;
    }
    SimCard tCard;
    tCard.bAppend = a_cLetter == 'G';
    tCard.iWidth = a_tMachine->iWidth;
    tCard.iHeight = a_tMachine->iHeight;
    tCard.iByteRows = a_tMachine->iByteRows;
    tCard.cPicture = a_tMachine->cPicture;
    tCard.bStripe = a_tMachine->bWritten;
    tCard.cStripe = a_tMachine->cStripe;
    tCard.bCharset = a_tMachine->bCharset;
    tCard.cCharset = a_tMachine->cCharset;
    a_tMachine->eCard = SIM_CARD_OUT;
    a_tMachine->bWritten = false;
    a_tMachine->cStripe.clear();
    tOut =
        Accept(*a_tMachine, a_cLetter, tCard.bAppend ? "card put out as an append card" : "card put out as a rewrite");
    tOut.bCardOut = true;
    tOut.tCard = std::move(tCard);
    return tOut;
}

SimOutcome Charset(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    a_tMachine->bCharset = true;
    a_tMachine->cCharset = a_cParams;
    return Accept(*a_tMachine, a_cLetter, "character set loaded");
}

std::string DescribeLed(char a_cLetter, const std::string &a_cParams)
{
    return a_cLetter + SimPrintable(a_cParams) +
           (a_cParams == "412"   ? " (LED on)"
            : a_cParams == "010" ? " (LED off)"
                                 : " (LED)");
}

std::string DescribeImage(char a_cLetter, const std::string &a_cParams)
{
    SimImageFrame tFrame;
    std::string sErr;
    if (!SimParseImage(a_cLetter, a_cParams, &tFrame, &sErr)) {
        return std::string(1, a_cLetter) + " (image, unreadable: " + sErr + ")";
    }
    return std::string(1, a_cLetter) + " (image: columns " + std::to_string(tFrame.iCol) + "-" +
           std::to_string(tFrame.iCol + tFrame.iCols - 1) + ", byte-rows " + std::to_string(tFrame.iRow) + "-" +
           std::to_string(tFrame.iRow + tFrame.iBytes - 1) + ", " + std::to_string(tFrame.iBytes) +
           " bytes per column, " + std::to_string(tFrame.iCols) + " columns)";
}

std::string DescribeRecord(char, const std::string &a_cParams)
{
    SimStripe tStripe;
    if (!SimDecodeStripe(a_cParams, &tStripe)) {
        return "9 (magnetic record of " + std::to_string(a_cParams.size()) + " bytes)";
    }
    return "9 (magnetic record: number \"" + tStripe.sNumber + "\", kana \"" + tStripe.sKana + "\", born \"" +
           tStripe.sBirth + "\", sex \"" + tStripe.sSex + "\", kanji \"" + tStripe.sKanji + "\", first visit \"" +
           tStripe.sFirst + "\"" + (tStripe.sProblem.empty() ? "" : "; " + tStripe.sProblem) + ")";
}

std::string DescribeCharset(char, const std::string &a_cParams)
{
    return "A (character set, " + std::to_string(a_cParams.size()) + " bytes)";
}

// Each command the machine knows: its letter, what it is in words, what the
// machine does with it, and how its frame is told in the log (null: the
// letter, its parameters and the words).
struct Command {
    char cLetter;
    const char *szWhat;
    SimOutcome (*fnAnswer)(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams);
    std::string (*fnDescribe)(char a_cLetter, const std::string &a_cParams);
};

constexpr Command kCommands[] = {
    {'I', "clear all buffers", ClearAll, nullptr},
    {'@', "buffer clear", ClearPicture, nullptr},
    {'Y', "status request", Status, nullptr},
    {'Z', "LED", Led, DescribeLed},
    {'_', "printer reset", Reset, nullptr},
    {'M', "image", LoadImage, DescribeImage},
    {'C', "image column", LoadImage, DescribeImage},
    {'9', "magnetic record", Record, DescribeRecord},
    {'1', "magnetic write and stand by", WriteStripe, nullptr},
    {'G', "put the card out: append card", PutOut, nullptr},
    {'F', "put the card out: rewrite", PutOut, nullptr},
    {'A', "character set", Charset, DescribeCharset},
};

const Command *FindCommand(char a_cLetter)
{
    for (const Command &tCmd : kCommands) {
        if (tCmd.cLetter == a_cLetter) {
            return &tCmd;
        }
    }
    return nullptr;
}

}  // namespace

void SimMachineInit(SimMachine *a_tMachine, int a_iWidth, int a_iHeight, const SimOperator &a_tOperator)
{
    a_tMachine->iWidth = std::clamp(a_iWidth, 1, static_cast<int>(SIM_PICTURE_MAX));
    a_tMachine->iHeight = std::clamp(a_iHeight, 1, static_cast<int>(SIM_PICTURE_MAX));
    a_tMachine->iByteRows = (a_tMachine->iHeight + 7) / 8;
    a_tMachine->cPicture.assign(static_cast<size_t>(a_tMachine->iWidth) * a_tMachine->iByteRows, 0);
    a_tMachine->tOperator = a_tOperator;
    SimMachineNewRun(a_tMachine);
}

void SimMachineNewRun(SimMachine *a_tMachine)
{
    ClearBuffers(a_tMachine);
    a_tMachine->bLed = false;
    a_tMachine->iStatusCount = 0;
    const SimOperator &tOp = a_tMachine->tOperator;
    a_tMachine->eCard = (tOp.iCardAfter == 0 && tOp.iCardWaiting == 0) ? SIM_CARD_READY : SIM_CARD_NONE;
    a_tMachine->bWritten = false;
    a_tMachine->cStripe.clear();
}

bool SimParseImage(char a_cLetter, const std::string &a_cParams, SimImageFrame *a_tFrame, std::string *a_sErr)
{
    SimImageFrame tFrame;
    size_t iPos = 0;
    if (a_cLetter == 'M') {
        if (!TakeNumber(a_cParams, &iPos, &tFrame.iCol) || !TakeNumber(a_cParams, &iPos, &tFrame.iRow) ||
            !TakeNumber(a_cParams, &iPos, &tFrame.iBytes)) {
            *a_sErr = "image frame head is not \"column,byte-row,bytes,\"";
            return false;
        }
        if (tFrame.iBytes == 0) {
            *a_sErr = "image frame with 0 bytes per column";
            return false;
        }
        const size_t iChars = a_cParams.size() - iPos;
        const size_t iPerCol = 2 * static_cast<size_t>(tFrame.iBytes);
        if (iChars == 0 || iChars % iPerCol != 0) {
            *a_sErr = "image text of " + std::to_string(iChars) + " characters is no whole number of columns of " +
                      std::to_string(iPerCol);
            return false;
        }
        tFrame.iCols = static_cast<int>(iChars / iPerCol);
    } else if (a_cLetter == 'C') {
        if (!TakeNumber(a_cParams, &iPos, &tFrame.iCol) || !TakeNumber(a_cParams, &iPos, &tFrame.iRow)) {
            *a_sErr = "column frame head is not \"column,byte-row,\"";
            return false;
        }
        const size_t iChars = a_cParams.size() - iPos;
        if (iChars == 0 || iChars % 2 != 0) {
            *a_sErr = "column text of " + std::to_string(iChars) + " characters is no whole number of bytes";
            return false;
        }
        tFrame.iBytes = static_cast<int>(iChars / 2);
        tFrame.iCols = 1;
    } else {
        *a_sErr = "not an image frame";
        return false;
    }
    if (!DecodeHex(a_cParams, iPos, &tFrame.cData)) {
        *a_sErr = "image text holds a character that is no hex digit";
        return false;
    }
    *a_tFrame = std::move(tFrame);
    return true;
}

std::string SimStatusBlock(const SimMachine &a_tMachine, char a_cLetter, char a_cCard, char a_cCover)
{
    // STX, the letter answered, 16 bytes of state, ETX, block check. Offsets
    // 2 to 5 tell what the machine holds; 12 and 16 are the card and cover
    // that the tool looks at.
    std::string cState(16, '0');
    cState[0] = a_tMachine.bLed ? '1' : '0';
    cState[1] = HasInk(a_tMachine) ? '1' : '0';
    cState[2] = a_tMachine.bRecord ? '1' : '0';
    cState[3] = a_tMachine.bWritten ? '1' : '0';
    cState[SIM_STATUS_CARD - 2] = a_cCard;
    cState[SIM_STATUS_COVER - 2] = a_cCover;
    return SimFrameBuild(a_cLetter, cState);
}

SimOutcome SimMachineAnswer(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    const Command *tCmd = FindCommand(a_cLetter);
    if (tCmd == nullptr) {
        return Refuse("unknown command");
    }
    return tCmd->fnAnswer(a_tMachine, a_cLetter, a_cParams);
}

std::string SimDescribe(char a_cLetter, const std::string &a_cParams)
{
    const Command *tCmd = FindCommand(a_cLetter);
    if (tCmd == nullptr) {
        return SimPrintable(std::string(1, a_cLetter)) + " (unknown command, " + std::to_string(a_cParams.size()) +
               " bytes of parameters)";
    }
    if (tCmd->fnDescribe != nullptr) {
        return tCmd->fnDescribe(a_cLetter, a_cParams);
    }
    return a_cLetter + SimPrintable(a_cParams) + " (" + tCmd->szWhat + ")";
}
