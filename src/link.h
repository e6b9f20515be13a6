// The rules of the printer link's two exchanges, over a line to the machine
// that is only a small table of operations: the exchanges decide what an
// answer means, how often a frame goes out and how long to wait; the line
// carries bytes, tells the time and pauses. The product's line is the socket
// with the real clock (sock.cpp); a test can hand the same rules a scripted
// machine on a clock of its own.
#ifndef VESTRUN_LINK_H
#define VESTRUN_LINK_H

#include <cstddef>

struct LnkOps {
    // Puts all a_iLen bytes on the line: 0, or -1 when the line failed or
    // stalled (nothing more could be sent for a long while).
    int (*iSend)(void *a_pCtx, const char *a_cBuf, size_t a_iLen);
    // One receive of what already waits, at most a_iCap bytes; never waits.
    // a_iPeek 1 leaves the bytes waiting. Returns the byte count; 0 when the
    // machine has closed the line; -1 with *a_iErr set otherwise (EAGAIN:
    // nothing waiting).
    int (*iRecv)(void *a_pCtx, char *a_cBuf, int a_iCap, int a_iPeek, int *a_iErr);
    // Waits until something can be received (or the line has closed), for at
    // most a_llUs microseconds. May come back early; the caller looks again.
    void (*vWaitReadable)(void *a_pCtx, long long a_llUs);
    // Pauses a_llUs microseconds.
    void (*vPause)(void *a_pCtx, long long a_llUs);
    // Monotonic time in microseconds.
    long long (*llNow)(void *a_pCtx);
    // One line of the run log.
    void (*vLog)(void *a_pCtx, const char *a_szLine);
};

struct LnkLine {
    const LnkOps *pOps;
    void *pCtx;
};

// The link's operations over a line; the SCK_i… functions of sock.h are these
// over the socket. Results, log lines and bytes on the line are theirs.
int LNK_iSend(const LnkLine &a_tLine, char *a_cSend, int a_iLen);
int LNK_iRecv(const LnkLine &a_tLine, char *a_cRecv, int *a_iLen, int a_iFlg);
int LNK_iSendRecv(const LnkLine &a_tLine, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen);
int LNK_iSendImage(const LnkLine &a_tLine, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen);

// The socket as a line, with the real clock and the run log.
LnkLine LNK_tSocketLine(int a_iSocket);

// Every SCK_i… exchange, send and receive on any socket goes over a_pLine
// from now on (null: over the socket again). For tests that run the printer
// commands against a modelled machine; the tool itself never calls it.
void LNK_vReroute(const LnkLine *a_pLine);

#endif
