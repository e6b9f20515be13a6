// The printer link: frames, block check, the connection and the two exchanges.
#ifndef VESTRUN_SOCK_H
#define VESTRUN_SOCK_H

#include <cstddef>

enum {
    SCK_STX = 0x02,
    SCK_ETX = 0x03,
    SCK_ACK = 0x06,
    SCK_DLE = 0x10,
    SCK_NAK = 0x15,
};

int SCK_iSetBcc(char *a_cBuf, int a_iLen);
int SCK_iSend(int a_iSocket, char *a_cSend, int a_iLen);
int SCK_iRecv(int a_iSocket, char *a_cRecv, int *a_iLen, int a_iFlg);
int SCK_iOpen(int *a_iSocket, const char *a_cHost, int a_iPort);
int SCK_iClose(int a_iSocket);
int SCK_iSendRecv(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen);
int SCK_iSendImage(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen);

// Lays out STX, the letter, the parameters and ETX in a_cBuf (a_iSize bytes),
// leaving room for the block check behind ETX. Returns the length through ETX,
// or -1 when the frame and its block check would not fit, or when the letter or
// the parameters hold an ETX (the machine would take the frame as ending there).
int SCK_iFrame(char *a_cBuf, int a_iSize, char a_cCmd, const char *a_cParm, int a_iParmLen);

// Writes the bytes as "%.02X " each (upper-case, unsigned: 0x8A is "8A") into
// a_szOut, which holds a_iSize bytes: as many whole groups as fit, always
// terminated. Returns the length written. The one hex dump of the link.
int SCK_iHexDump(char *a_szOut, size_t a_iSize, const unsigned char *a_cData, int a_iLen);

// The run-log line of one frame sent or one reply received:
// "送信サイズ=%3d 電文=[" or "受信サイズ=%3d 電文=[", the hex dump of a_iLen
// bytes, then "]". a_iCount is the size shown in the head (for a receive, the
// receive's result, -1 included). The head is Shift_JIS, as every log line.
// Works like snprintf: writes at most a_iSize bytes, always terminated when
// a_iSize > 0, and returns the length the whole line needs (terminator not
// counted), so a call with a_iSize 0 sizes the buffer for a frame of any length.
enum { SCK_DUMP_SEND = 0, SCK_DUMP_RECV = 1 };
int SCK_iDumpLine(char *a_szOut, size_t a_iSize, int a_iDir, int a_iCount, const unsigned char *a_cData, int a_iLen);

// Stopping the run (SIGINT, SIGTERM, SIGHUP). SCK_vRequestStop may be called
// from a signal handler: it only stores the signal. From then on every pause
// and reply window of the link ends at once, the exchange in flight ends with
// -1 where it stands (nothing more sent, nothing logged of its own), and a
// new exchange returns -1 before sending anything. SCK_iStopRequested gives
// the signal, 0 when none. After SCK_vStopDone pauses and windows run in full
// again, so that the printer reset can still go through.
void SCK_vRequestStop(int a_iSig);
int SCK_iStopRequested(void);
void SCK_vStopDone(void);

#endif
