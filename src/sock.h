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
// or -1 when the frame and its block check would not fit.
int SCK_iFrame(char *a_cBuf, int a_iSize, char a_cCmd, const char *a_cParm, int a_iParmLen);

// Writes the bytes as "%.02X " each (upper-case, unsigned) into a_szOut, which
// holds a_iSize bytes; returns the length written. The one hex dump of the link.
int SCK_iHexDump(char *a_szOut, size_t a_iSize, const unsigned char *a_cData, int a_iLen);

#endif
