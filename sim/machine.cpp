#include "machine.h"

#include <algorithm>

#include "card.h"
#include "frame.h"
#include "log.h"
#include "sock.h"

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

SimOutcome Accept(const SimMachine &a_tMachine, char a_cLetter, std::string a_szNote)
{
    SimOutcome tOut;
    tOut.tReply.cCode = SCK_ACK;
    tOut.tReply.cResult =
        SimStatusBlock(a_tMachine, a_cLetter, CardChar(a_tMachine.eCard), CoverChar(a_tMachine));
    tOut.szNote = std::move(a_szNote);
    return tOut;
}

SimOutcome Refuse(std::string a_szWhy)
{
    SimOutcome tOut;
    tOut.tReply.cCode = SCK_DLE;
    tOut.szNote = "refused: " + a_szWhy;
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
    return std::any_of(a_tMachine.cPicture.begin(), a_tMachine.cPicture.end(),
                       [](unsigned char c) { return c != 0; });
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
    tOut.tReply.cCode = SCK_ACK;
    tOut.tReply.cResult = SimStatusBlock(*a_tMachine, 'Y', cCard, cCover);
    tOut.szNote = "status request " + std::to_string(iN) + ": " +
                  (cCard == '0' ? "no card" : cCard == '1' ? "card ready" : "card waiting to be taken") +
                  (cCover == '1' ? ", cover open" : ", cover closed");
    return tOut;
}

SimOutcome LoadImage(SimMachine *a_tMachine, char a_cLetter, const std::string &a_cParams)
{
    SimImageFrame tFrame;
    std::string szErr;
    if (!SimParseImage(a_cLetter, a_cParams, &tFrame, &szErr)) {
        return Refuse(szErr);
    }
    if (tFrame.iCol + tFrame.iCols > a_tMachine->iWidth || tFrame.iRow + tFrame.iBytes > a_tMachine->iByteRows) {
        return Refuse("columns " + std::to_string(tFrame.iCol) + "-" + std::to_string(tFrame.iCol + tFrame.iCols - 1) +
                      ", byte-rows " + std::to_string(tFrame.iRow) + "-" +
                      std::to_string(tFrame.iRow + tFrame.iBytes - 1) + " lie outside the picture buffer (" +
                      std::to_string(a_tMachine->iWidth) + " columns, " + std::to_string(a_tMachine->iByteRows) +
                      " byte-rows)");
    }
    for (int x = 0; x < tFrame.iCols; x++) {
        std::copy_n(tFrame.cData.begin() + static_cast<long>(x) * tFrame.iBytes, tFrame.iBytes,
                    a_tMachine->cPicture.begin() +
                        static_cast<long>(tFrame.iCol + x) * a_tMachine->iByteRows + tFrame.iRow);
    }
    return Accept(*a_tMachine, a_cLetter, "picture loaded");
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

bool SimParseImage(char a_cLetter, const std::string &a_cParams, SimImageFrame *a_tFrame, std::string *a_szErr)
{
    SimImageFrame tFrame;
    size_t iPos = 0;
    if (a_cLetter == 'M') {
        if (!TakeNumber(a_cParams, &iPos, &tFrame.iCol) || !TakeNumber(a_cParams, &iPos, &tFrame.iRow) ||
            !TakeNumber(a_cParams, &iPos, &tFrame.iBytes)) {
            *a_szErr = "image frame head is not \"column,byte-row,bytes,\"";
            return false;
        }
        if (tFrame.iBytes == 0) {
            *a_szErr = "image frame with 0 bytes per column";
            return false;
        }
        const size_t iChars = a_cParams.size() - iPos;
        const size_t iPerCol = 2 * static_cast<size_t>(tFrame.iBytes);
        if (iChars == 0 || iChars % iPerCol != 0) {
            *a_szErr = "image text of " + std::to_string(iChars) + " characters is no whole number of columns of " +
                       std::to_string(iPerCol);
            return false;
        }
        tFrame.iCols = static_cast<int>(iChars / iPerCol);
    } else if (a_cLetter == 'C') {
        if (!TakeNumber(a_cParams, &iPos, &tFrame.iCol) || !TakeNumber(a_cParams, &iPos, &tFrame.iRow)) {
            *a_szErr = "column frame head is not \"column,byte-row,\"";
            return false;
        }
        const size_t iChars = a_cParams.size() - iPos;
        if (iChars == 0 || iChars % 2 != 0) {
            *a_szErr = "column text of " + std::to_string(iChars) + " characters is no whole number of bytes";
            return false;
        }
        tFrame.iBytes = static_cast<int>(iChars / 2);
        tFrame.iCols = 1;
    } else {
        *a_szErr = "not an image frame";
        return false;
    }
    if (!DecodeHex(a_cParams, iPos, &tFrame.cData)) {
        *a_szErr = "image text holds a character that is no hex digit";
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
    const bool bBare = a_cParams.empty();
    switch (a_cLetter) {
    case 'I':
        if (!bBare) {
            return Refuse("clear of all buffers takes no parameters");
        }
        ClearBuffers(a_tMachine);
        return Accept(*a_tMachine, a_cLetter, "all buffers cleared");
    case '@':
        if (!bBare) {
            return Refuse("buffer clear takes no parameters");
        }
        std::fill(a_tMachine->cPicture.begin(), a_tMachine->cPicture.end(), 0);
        return Accept(*a_tMachine, a_cLetter, "picture buffer cleared");
    case 'Y':
        if (!bBare) {
            return Refuse("status request takes no parameters");
        }
        return StatusRequest(a_tMachine);
    case 'Z':
        if (a_cParams == "412") {
            a_tMachine->bLed = true;
            return Accept(*a_tMachine, a_cLetter, "LED on");
        }
        if (a_cParams == "010") {
            a_tMachine->bLed = false;
            return Accept(*a_tMachine, a_cLetter, "LED off");
        }
        return Refuse("LED pattern \"" + SimPrintable(a_cParams) + "\" unknown");
    case '_':
        if (!bBare) {
            return Refuse("printer reset takes no parameters");
        }
        ClearBuffers(a_tMachine);
        a_tMachine->bLed = false;
        return Accept(*a_tMachine, a_cLetter, "printer reset");
    case 'M':
    case 'C':
        return LoadImage(a_tMachine, a_cLetter, a_cParams);
    case '9':
        if (a_cParams.size() != SIM_RECORD_LEN) {
            return Refuse("magnetic record of " + std::to_string(a_cParams.size()) + " bytes, not " +
                          std::to_string(SIM_RECORD_LEN));
        }
        a_tMachine->bRecord = true;
        a_tMachine->cRecord = a_cParams;
        return Accept(*a_tMachine, a_cLetter, "magnetic record loaded");
    case '1':
        if (a_cParams != "2") {
            return Refuse("magnetic write with parameter \"" + SimPrintable(a_cParams) + "\" unknown");
        }
        if (a_tMachine->eCard != SIM_CARD_READY) {
            return Refuse("no card to write");
        }
        if (!a_tMachine->bRecord) {
            return Refuse("no magnetic record to write");
        }
        a_tMachine->bWritten = true;
        a_tMachine->cStripe = a_tMachine->cRecord;
        return Accept(*a_tMachine, a_cLetter, "stripe written, standing by");
    case 'G':
    case 'F': {
        if (a_cParams != "1") {
            return Refuse("card output with parameter \"" + SimPrintable(a_cParams) + "\" unknown");
        }
        if (a_tMachine->eCard != SIM_CARD_READY) {
            return Refuse("no card to put out");
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
        SimOutcome tOut = Accept(*a_tMachine, a_cLetter,
                                 tCard.bAppend ? "card put out as an append card" : "card put out as a rewrite");
        tOut.bCardOut = true;
        tOut.tCard = std::move(tCard);
        return tOut;
    }
    case 'A':
        a_tMachine->bCharset = true;
        a_tMachine->cCharset = a_cParams;
        return Accept(*a_tMachine, a_cLetter, "character set loaded");
    default:
        return Refuse("unknown command");
    }
}

std::string SimDescribe(char a_cLetter, const std::string &a_cParams)
{
    switch (a_cLetter) {
    case 'I':
        return "I (clear all buffers)";
    case '@':
        return "@ (buffer clear)";
    case 'Y':
        return "Y (status request)";
    case '_':
        return "_ (printer reset)";
    case 'Z':
        return "Z" + SimPrintable(a_cParams) +
               (a_cParams == "412" ? " (LED on)" : a_cParams == "010" ? " (LED off)" : " (LED)");
    case 'M':
    case 'C': {
        SimImageFrame tFrame;
        std::string szErr;
        if (!SimParseImage(a_cLetter, a_cParams, &tFrame, &szErr)) {
            return std::string(1, a_cLetter) + " (image, unreadable: " + szErr + ")";
        }
        return std::string(1, a_cLetter) + " (image: columns " + std::to_string(tFrame.iCol) + "-" +
               std::to_string(tFrame.iCol + tFrame.iCols - 1) + ", byte-rows " + std::to_string(tFrame.iRow) + "-" +
               std::to_string(tFrame.iRow + tFrame.iBytes - 1) + ", " + std::to_string(tFrame.iBytes) +
               " bytes per column, " + std::to_string(tFrame.iCols) + " columns)";
    }
    case '9': {
        SimStripe tStripe;
        if (!SimDecodeStripe(a_cParams, &tStripe)) {
            return "9 (magnetic record of " + std::to_string(a_cParams.size()) + " bytes)";
        }
        return "9 (magnetic record: number \"" + tStripe.szNumber + "\", kana \"" + tStripe.szKana + "\", born \"" +
               tStripe.szBirth + "\", sex \"" + tStripe.szSex + "\", kanji \"" + tStripe.szKanji +
               "\", first visit \"" + tStripe.szFirst + "\"" +
               (tStripe.szProblem.empty() ? "" : "; " + tStripe.szProblem) + ")";
    }
    case '1':
        return "1" + SimPrintable(a_cParams) + " (magnetic write and stand by)";
    case 'G':
        return "G" + SimPrintable(a_cParams) + " (put the card out: append card)";
    case 'F':
        return "F" + SimPrintable(a_cParams) + " (put the card out: rewrite)";
    case 'A':
        return "A (character set, " + std::to_string(a_cParams.size()) + " bytes)";
    default:
        return SimPrintable(std::string(1, a_cLetter)) + " (unknown command, " + std::to_string(a_cParams.size()) +
               " bytes of parameters)";
    }
}
