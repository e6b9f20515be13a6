// The two exchanges of the printer link: the command exchange (two attempts,
// fixed pauses, one read after each) and the image exchange (two attempts,
// reply windows watched for the time left). Both judge the machine's first
// reply by one ladder, seal a frame with its block check in one place, and
// take off what earlier exchanges left on the line in one place. They touch
// the line only through its table of operations (link.h).
#include "link.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sock.h"

namespace {

// The machine's pace. These waits are what it needs to take a frame in, do
// the work and have its result ready; shortening them loses answers.
constexpr long long kAfterSendUs = 1000000;     // frame out -> first reply read
constexpr long long kRetryUs = 2000000;         // after an attempt without ACK
constexpr long long kResultUs = 1500000;        // ACK -> result reply read
constexpr long long kCardOutUs = 7000000;       // ACK -> result reply, card going out
constexpr long long kAfterAckUs = 1000000;      // closing ACK -> next command
constexpr long long kFirstWindowUs = 1000000;   // image frame: first reply window
constexpr long long kResultWindowUs = 3500000;  // image frame: result reply window

constexpr int kFirstLen = 10;  // first reply: the answer code is its tenth byte
constexpr int kAnswerAt = 9;
constexpr int kResultLen = 256;  // result reply
constexpr int kLineBuf = 1024;   // a dump line of up to 333 bytes fits on the stack
// Reads of left-over bytes before one frame goes out, kResultLen each (16 KiB
// in all): room for a greeting of some kilobytes, while a machine that never
// stops sending still lets the frame go.
constexpr int kLeftoverReads = 64;

using Reply = std::array<char, kResultLen>;

void vLog(const LnkLine &a_tLine, const char *a_szText) { a_tLine.pOps->vLog(a_tLine.pCtx, a_szText); }

// A pause of the exchange. False when a stop of the run was asked for: the
// exchange then ends where it is, with nothing more sent or logged.
bool bPause(const LnkLine &a_tLine, long long a_llUs)
{
    a_tLine.pOps->vPause(a_tLine.pCtx, a_llUs);
    return SCK_iStopRequested() == 0;
}

// One dump line into the run log, on a line as long as the frame needs.
void vLogDump(const LnkLine &a_tLine, int a_iDir, int a_iCount, const char *a_cData, int a_iLen)
{
    const auto *cData = reinterpret_cast<const unsigned char *>(a_cData);
    std::array<char, kLineBuf> cWk{};
    int iNeed = SCK_iDumpLine(cWk.data(), cWk.size(), a_iDir, a_iCount, cData, a_iLen);
    if (iNeed < 0) {
        return;
    }
    if (static_cast<size_t>(iNeed) < cWk.size()) {
        vLog(a_tLine, cWk.data());
        return;
    }
    std::vector<char> cBig(static_cast<size_t>(iNeed) + 1);
    SCK_iDumpLine(cBig.data(), cBig.size(), a_iDir, a_iCount, cData, a_iLen);
    vLog(a_tLine, cBig.data());
}

// The one place a frame gets its block check: a frame (2 bytes or more)
// gets it behind ETX, in the caller's buffer, and is sent one byte longer; a
// single byte (the closing ACK) goes out as it is. Returns the length to send.
int iSeal(char *a_cBuf, int a_iLen)
{
    if (a_iLen < 2) {
        return a_iLen;
    }
    SCK_iSetBcc(a_cBuf, a_iLen);
    return a_iLen + 1;
}

// The machine's answer to a frame, from the tenth byte of its first reply
// (a reply shorter than ten bytes leaves 0x00 there: an unknown code).
enum Answer { kAnsAck, kAnsDle, kAnsAgain };

Answer eJudge(const LnkLine &a_tLine, const Reply &a_cRcv)
{
    const unsigned char cCode = static_cast<unsigned char>(a_cRcv[kAnswerAt]);
    if (cCode == SCK_ACK) {
        vLog(a_tLine, "<ACK>\x8E\xF3\x90\x4D" /* <ACK>受信 */);
        return kAnsAck;
    }
    if (cCode == SCK_DLE) {
        return kAnsDle;  // refused: sending again would not help
    }
    if (cCode != SCK_NAK) {
        vLog(a_tLine, "\x81\x7E \x95\x73\x96\xBE\x83\x52\x81\x5B\x83\x68" /* × 不明コード */);
    }
    return kAnsAgain;
}

// Takes off whatever already waits before an exchange's first frame goes out:
// a reply that came after its exchange had given up on it (the answer to a
// repeated frame among them), the bytes past 256 of an oversized reply, the
// rest of a long greeting. None of it can be the answer to a frame not yet
// sent; read as that answer, it would put every later reply out of step, one
// first reply behind for the rest of the run, and the wait for a card would
// never see the card. Never before a second attempt: what waits then is the
// late answer to the exchange's own first sending. The bytes go into the run
// log like every other receive; nothing waiting (the usual case) logs nothing.
void vTakeOffLeftovers(const LnkLine &a_tLine)
{
    for (int i = 0; i < kLeftoverReads; i++) {
        char cPeek = 0;
        int iErr = 0;
        if (a_tLine.pOps->iRecv(a_tLine.pCtx, &cPeek, 1, 1, &iErr) <= 0) {
            return;  // nothing waiting, or a closed line that the exchange will meet itself
        }
        Reply cRcv{};
        int iLen = kResultLen;
        if (LNK_iRecv(a_tLine, cRcv.data(), &iLen, 0) != 0) {
            return;
        }
    }
}

// After ACK: wait for the machine to do the work, take its result, confirm it.
int iResultPhase(const LnkLine &a_tLine, const char *a_cSnd, char *a_cRcv, int *a_iRcvLen)
{
    const char cCmd = a_cSnd != nullptr ? a_cSnd[1] : '\0';
    // Putting a card out takes the machine far longer than any other command.
    if (!bPause(a_tLine, cCmd == 'F' || cCmd == 'G' ? kCardOutUs : kResultUs)) {
        return -1;
    }
    Reply cRcv{};
    int iLen = kResultLen;
    if (LNK_iRecv(a_tLine, cRcv.data(), &iLen, 0) != 0) {
        return -5;
    }
    if (a_cRcv != nullptr) {
        memcpy(a_cRcv, cRcv.data(), static_cast<size_t>(iLen));
    }
    if (a_iRcvLen != nullptr) {
        *a_iRcvLen = iLen;
    }
    char cWk = SCK_ACK;
    const int iFuncRet = LNK_iSend(a_tLine, &cWk, 1);
    if (!bPause(a_tLine, kAfterAckUs)) {
        return -1;
    }
    return iFuncRet;
}

// One reply of the image exchange, within a window that opens now. Returns
// the bytes received (at least 1), 0 when the window closed empty, -1 when a
// stop of the run was asked for. a_cBuf is cleared before every receive, so
// what follows the reply is zero. The line is watched for the time left
// rather than read in a loop: an image of many frames would otherwise keep a
// core busy for seconds per frame.
int iWindowRecv(const LnkLine &a_tLine, Reply *a_cBuf, int a_iCap, long long a_llLimitUs)
{
    const LnkOps &tOps = *a_tLine.pOps;
    const long long llStart = tOps.llNow(a_tLine.pCtx);
    for (;;) {
        const long long llElapsed = tOps.llNow(a_tLine.pCtx) - llStart;
        a_cBuf->fill(0);
        int iErr = 0;
        const int iRet = tOps.iRecv(a_tLine.pCtx, a_cBuf->data(), a_iCap, 0, &iErr);
        if (iRet > 0) {
            return iRet;
        }
        if (llElapsed > a_llLimitUs) {
            return 0;
        }
        const long long llLeft = a_llLimitUs - llElapsed;
        if (iRet == 0 || (iErr != EAGAIN && iErr != EWOULDBLOCK)) {
            // The machine has closed the line (or it broke): nothing more can
            // come, and the line would stay readable, so a wait would return
            // at once for ever. Sit out the window instead.
            return bPause(a_tLine, llLeft + 1) ? 0 : -1;
        }
        tOps.vWaitReadable(a_tLine.pCtx, llLeft);
        if (SCK_iStopRequested() != 0) {
            return -1;
        }
    }
}

// After ACK on an image frame: the result within its window, confirmed at once.
int iImageResult(const LnkLine &a_tLine, Reply *a_cBuf, char *a_cRcv, int *a_iRcvLen)
{
    const int iGot = iWindowRecv(a_tLine, a_cBuf, kResultLen, kResultWindowUs);
    if (iGot <= 0) {
        return iGot < 0 ? -1 : -5;
    }
    // The caller always gets the full 256 bytes: the reply, then zeros.
    if (a_cRcv != nullptr) {
        memcpy(a_cRcv, a_cBuf->data(), a_cBuf->size());
    }
    if (a_iRcvLen != nullptr) {
        *a_iRcvLen = kResultLen;
    }
    char cWk = SCK_ACK;
    return LNK_iSend(a_tLine, &cWk, 1);
}

}  // namespace

int LNK_iSend(const LnkLine &a_tLine, char *a_cSend, int a_iLen)
{
    if (a_cSend == nullptr || a_iLen < 0 || a_iLen == INT_MAX) {
        vLog(a_tLine, "\x81\x7E SCK_iSend \x91\x97\x90\x4D\x8E\xB8\x94\x73" /* × SCK_iSend 送信失敗 */);
        return -1;
    }
    const int iSndLen = iSeal(a_cSend, a_iLen);
    vLogDump(a_tLine, SCK_DUMP_SEND, iSndLen, a_cSend, iSndLen);
    if (a_tLine.pOps->iSend(a_tLine.pCtx, a_cSend, static_cast<size_t>(iSndLen)) != 0) {
        vLog(a_tLine, "\x81\x7E SCK_iSend \x91\x97\x90\x4D\x8E\xB8\x94\x73" /* × SCK_iSend 送信失敗 */);
        return -1;
    }
    vLog(a_tLine, "\x91\x97\x90\x4D\x90\xAC\x8C\xF7" /* 送信成功 */);
    return 0;
}

int LNK_iRecv(const LnkLine &a_tLine, char *a_cRecv, int *a_iLen, int a_iFlg)
{
    int iGot = -1;
    int iErr = EINVAL;
    if (a_cRecv != nullptr && a_iLen != nullptr && *a_iLen > 0) {
        iGot = a_tLine.pOps->iRecv(a_tLine.pCtx, a_cRecv, *a_iLen, a_iFlg == 1 ? 1 : 0, &iErr);
    }
    vLogDump(a_tLine, SCK_DUMP_RECV, iGot, a_cRecv, iGot > 0 ? iGot : 0);

    int iRet;
    if (iGot > 0) {
        *a_iLen = iGot;
        iRet = 0;
    } else if (iGot == 0) {
        *a_iLen = 0;  // the machine has closed the connection
        iRet = -3;
    } else if (iErr == EAGAIN || iErr == EWOULDBLOCK) {
        iRet = -1;  // nothing waiting
    } else {
        char cWk[32];
        snprintf(cWk, sizeof cWk, "ErrNo[%d]", iErr);
        vLog(a_tLine, cWk);
        iRet = -2;
    }
    char cWk[32];
    snprintf(cWk, sizeof cWk, "\x8E\xF3\x90\x4D\x8C\x8B\x89\xCA=%d" /* 受信結果=%d */, iRet);
    vLog(a_tLine, cWk);
    return iRet;
}

int LNK_iSendRecv(const LnkLine &a_tLine, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    if (SCK_iStopRequested() != 0) {
        return -1;  // the run is stopping: no new frame goes out
    }
    const bool bRecvOnly = a_iSndLen <= 0;
    Reply cRcv{};
    int iRet = 0;  // the last first-reply read; 0 = something was read
    for (int iCnt = 2; iCnt > 0; iCnt--) {
        if (!bRecvOnly) {
            if (iCnt == 2) {
                vTakeOffLeftovers(a_tLine);
            }
            // Every attempt sends the whole frame again, block check and all.
            if (LNK_iSend(a_tLine, a_cSnd, a_iSndLen) != 0) {
                return -1;
            }
        } else if (iRet != 0) {
            // Nothing to send again, and nothing came the first time.
            vLog(a_tLine,
                 "\x81\x7E \x91\x97\x90\x4D\x8E\xB8\x94\x73\x83\x8A\x83\x67\x83\x89\x83\x43" /* × 送信失敗リトライ */);
            if (!bPause(a_tLine, kRetryUs)) {
                return -1;
            }
            continue;
        }
        if (!bPause(a_tLine, kAfterSendUs)) {
            return -1;
        }
        cRcv.fill(0);
        int iLen = kFirstLen;
        iRet = LNK_iRecv(a_tLine, cRcv.data(), &iLen, 0);
        Answer eAns = kAnsAgain;
        if (iRet != 0) {
            vLog(a_tLine,
                 "\x81\x7E \x8E\xF3\x90\x4D\x8E\xB8\x94\x73\x83\x8A\x83\x67\x83\x89\x83\x43" /* × 受信失敗リトライ */);
        } else {
            eAns = eJudge(a_tLine, cRcv);
        }
        if (eAns == kAnsAck) {
            return iResultPhase(a_tLine, a_cSnd, a_cRcv, a_iRcvLen);
        }
        if (eAns == kAnsDle) {
            return -3;
        }
        if (!bPause(a_tLine, kRetryUs)) {
            return -1;
        }
    }
    return -10;
}

int LNK_iSendImage(const LnkLine &a_tLine, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    if (SCK_iStopRequested() != 0) {
        return -1;
    }
    if (a_iSndLen > 0 && (a_cSnd == nullptr || a_iSndLen == INT_MAX)) {
        vLog(a_tLine, "\x81\x7E SCK_iSendImage \x91\x97\x90\x4D\x8E\xB8\x94\x73" /* × SCK_iSendImage 送信失敗 */);
        return -1;
    }
    const int iSndLen = a_iSndLen > 0 ? iSeal(a_cSnd, a_iSndLen) : 0;
    Reply cRcv{};
    for (int iCnt = 2; iCnt > 0; iCnt--) {
        // Image frames are not dumped: the picture would bury the rest of the log.
        if (iSndLen > 0) {
            if (iCnt == 2) {
                vTakeOffLeftovers(a_tLine);
            }
            if (a_tLine.pOps->iSend(a_tLine.pCtx, a_cSnd, static_cast<size_t>(iSndLen)) != 0) {
                vLog(a_tLine,
                     "\x81\x7E SCK_iSendImage \x91\x97\x90\x4D\x8E\xB8\x94\x73" /* × SCK_iSendImage 送信失敗 */);
                return -1;
            }
            vLog(a_tLine, "\x83\x43\x83\x81\x81\x5B\x83\x57\x91\x97\x90\x4D\x90\xAC\x8C\xF7" /* イメージ送信成功 */);
        }
        const int iGot = iWindowRecv(a_tLine, &cRcv, kFirstLen, kFirstWindowUs);
        if (iGot < 0) {
            return -1;
        }
        Answer eAns = kAnsAgain;
        if (iGot == 0) {
            vLog(a_tLine,
                 "\x81\x7E \x8E\xF3\x90\x4D\x8E\xB8\x94\x73\x83\x8A\x83\x67\x83\x89\x83\x43" /* × 受信失敗リトライ */);
        } else {
            eAns = eJudge(a_tLine, cRcv);
        }
        if (eAns == kAnsAck) {
            return iImageResult(a_tLine, &cRcv, a_cRcv, a_iRcvLen);
        }
        if (eAns == kAnsDle) {
            return -3;
        }
    }
    return -10;
}
