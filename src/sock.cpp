// The printer link: frames and their block check, the connection to the
// issuing machine, and the socket with the real clock as the line that the
// exchanges (link.cpp) run over. Every frame sent and every reply read by the
// command exchange is dumped into the run log: when a card goes wrong, that
// dump is all the operator has to tell what the machine was told and what it
// answered.
#include "sock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "head.h"
#include "link.h"

namespace {

constexpr long long kOpenSettleUs = 1000000;  // connect -> taking off what the machine sent
constexpr int kGreetingLen = 256;             // bytes taken off on connect
// Longest stall of a send before the frame is given up: the machine takes
// frames far smaller than a socket buffer, so a full buffer means it is gone.
constexpr int kSendStallMs = 1000;

// The signal that asked the run to stop, 0 while none did (or once the stop
// is done). Written from a signal handler, so nothing but a store ever
// touches it there. While it is set, pauses and waits end at once.
volatile sig_atomic_t g_iStopSig = 0;

// Every link call goes over this line instead of its socket when set (tests).
const LnkLine *g_pReroute = nullptr;

long long llNowUs(void *)
{
    // Monotonic: a step of the wall clock must neither hold a window open
    // nor close it early.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

// Sleeps the whole pause even when a signal interrupts it, unless the signal
// asked the run to stop: then the pause ends there.
void vPause(void *, long long a_llUs)
{
    if (a_llUs <= 0) {
        return;
    }
    timespec ts{static_cast<time_t>(a_llUs / 1000000), static_cast<long>(a_llUs % 1000000) * 1000};
    while (g_iStopSig == 0 && nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int iSockOf(void *a_pCtx) { return static_cast<int>(reinterpret_cast<intptr_t>(a_pCtx)); }

// Puts every byte of the frame on the wire. A send may take only part of it
// when the socket's buffer is full; the rest follows as room comes free, so
// the machine never sees a frame cut short while the log says it went out.
// MSG_NOSIGNAL: a machine that has dropped the connection makes this a failed
// send, not the end of the run.
int iSendAll(void *a_pCtx, const char *a_cBuf, size_t a_iLen)
{
    const int iSocket = iSockOf(a_pCtx);
    size_t iOff = 0;
    while (iOff < a_iLen) {
        ssize_t iRet = send(iSocket, a_cBuf + iOff, a_iLen - iOff, MSG_NOSIGNAL);
        if (iRet > 0) {
            iOff += static_cast<size_t>(iRet);
            continue;
        }
        if (iRet < 0 && errno == EINTR) {
            continue;
        }
        if (iRet < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        pollfd tPfd{iSocket, POLLOUT, 0};
        int iPoll = poll(&tPfd, 1, kSendStallMs);
        if (iPoll == 0 || (iPoll < 0 && errno != EINTR)) {
            return -1;
        }
    }
    return 0;
}

// MSG_DONTWAIT: a read never waits, even on a socket that somebody left in
// blocking mode; the exchanges do their own waiting.
int iRecvNow(void *a_pCtx, char *a_cBuf, int a_iCap, int a_iPeek, int *a_iErr)
{
    const int iFlags = (a_iPeek == 1 ? MSG_PEEK : 0) | MSG_DONTWAIT;
    ssize_t iGot;
    do {
        iGot = recv(iSockOf(a_pCtx), a_cBuf, static_cast<size_t>(a_iCap), iFlags);
    } while (iGot < 0 && errno == EINTR);
    *a_iErr = errno;
    return static_cast<int>(iGot);
}

// A signal ends the wait early; the caller looks at the line (and at a stop)
// again, and waits for the time then left.
void vWaitReadable(void *a_pCtx, long long a_llUs)
{
    if (g_iStopSig != 0) {
        return;
    }
    pollfd tPfd{iSockOf(a_pCtx), POLLIN, 0};
    poll(&tPfd, 1, static_cast<int>(a_llUs / 1000 + 1));
}

void vLogLine(void *, const char *a_szLine) { vLogAdd(a_szLine); }

constexpr LnkOps kSocketOps = {iSendAll, iRecvNow, vWaitReadable, vPause, llNowUs, vLogLine};

LnkLine tLineOf(int a_iSocket) { return g_pReroute != nullptr ? *g_pReroute : LNK_tSocketLine(a_iSocket); }

// The first IPv4 address of a host name or dotted address.
bool bResolve(const char *a_cHost, in_addr *a_tOut)
{
    if (a_cHost == nullptr) {
        return false;
    }
    addrinfo tHints{};
    tHints.ai_family = AF_INET;
    tHints.ai_socktype = SOCK_STREAM;
    addrinfo *pList = nullptr;
    if (getaddrinfo(a_cHost, nullptr, &tHints, &pList) != 0 || pList == nullptr) {
        return false;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo *)> tOwn(pList, freeaddrinfo);
    for (const addrinfo *p = pList; p != nullptr; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr != nullptr && p->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto *pIn = reinterpret_cast<const sockaddr_in *>(p->ai_addr);
            memcpy(a_tOut, &pIn->sin_addr, sizeof *a_tOut);
            return true;
        }
    }
    return false;
}

}  // namespace

int SCK_iSetBcc(char *a_cBuf, int a_iLen)
{
    if (a_cBuf == nullptr || a_iLen <= 0) {
        return 0;
    }
    if (a_iLen == 1) {
        a_cBuf[1] = 0x00;
        return 0;
    }
    unsigned char cBcc = 0;
    for (int i = 1; i < a_iLen; i++) {
        cBcc ^= static_cast<unsigned char>(a_cBuf[i]);
    }
    a_cBuf[a_iLen] = static_cast<char>(cBcc);
    return 0;
}

int SCK_iFrame(char *a_cBuf, int a_iSize, char a_cCmd, const char *a_cParm, int a_iParmLen)
{
    if (a_cBuf == nullptr || a_iParmLen < 0 || (a_iParmLen > 0 && a_cParm == nullptr)) {
        return -1;
    }
    // STX, letter, parameters, ETX and the block check behind it.
    if (static_cast<long long>(a_iParmLen) + 4 > a_iSize) {
        return -1;
    }
    // The machine reads a frame up to its ETX: one inside would cut the frame
    // short and turn the rest into garbage, so such a frame is not built.
    if (a_cCmd == SCK_ETX || (a_iParmLen > 0 && memchr(a_cParm, SCK_ETX, static_cast<size_t>(a_iParmLen)))) {
        return -1;
    }
    a_cBuf[0] = SCK_STX;
    a_cBuf[1] = a_cCmd;
    if (a_iParmLen > 0) {
        memcpy(a_cBuf + 2, a_cParm, static_cast<size_t>(a_iParmLen));
    }
    a_cBuf[2 + a_iParmLen] = SCK_ETX;
    a_cBuf[3 + a_iParmLen] = 0x00;
    return 3 + a_iParmLen;
}

int SCK_iHexDump(char *a_szOut, size_t a_iSize, const unsigned char *a_cData, int a_iLen)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (a_szOut == nullptr || a_iSize == 0) {
        return 0;
    }
    size_t iPos = 0;
    if (a_cData != nullptr) {
        // Whole "XX " groups only, and room kept for the terminator.
        for (int i = 0; i < a_iLen && iPos + 3 < a_iSize; i++) {
            a_szOut[iPos++] = kDigits[a_cData[i] >> 4];
            a_szOut[iPos++] = kDigits[a_cData[i] & 0x0F];
            a_szOut[iPos++] = ' ';
        }
    }
    a_szOut[iPos] = '\0';
    return static_cast<int>(iPos);
}

int SCK_iDumpLine(char *a_szOut, size_t a_iSize, int a_iDir, int a_iCount, const unsigned char *a_cData, int a_iLen)
{
    char cHead[64];
    int iHead =
        snprintf(cHead, sizeof cHead,
                 a_iDir == SCK_DUMP_RECV
                     ? "\x8E\xF3\x90\x4D\x83\x54\x83\x43\x83\x59=%3d \x93\x64\x95\xB6=[" /* 受信サイズ=%3d 電文=[ */
                     : "\x91\x97\x90\x4D\x83\x54\x83\x43\x83\x59=%3d \x93\x64\x95\xB6=[" /* 送信サイズ=%3d 電文=[ */,
                 a_iCount);
    if (iHead < 0) {
        return -1;
    }
    if (a_cData == nullptr || a_iLen < 0) {
        a_iLen = 0;
    }
    const long long llNeed = iHead + 3LL * a_iLen + 1;
    if (llNeed > INT_MAX - 1) {
        return -1;
    }
    if (a_szOut == nullptr || a_iSize == 0) {
        return static_cast<int>(llNeed);
    }
    size_t iPos = 0;
    auto vPut = [&](const char *a_cText, size_t a_iN) {
        size_t iRoom = a_iSize - 1 - iPos;
        size_t iTake = a_iN < iRoom ? a_iN : iRoom;
        memcpy(a_szOut + iPos, a_cText, iTake);
        iPos += iTake;
    };
    vPut(cHead, static_cast<size_t>(iHead));
    iPos += static_cast<size_t>(SCK_iHexDump(a_szOut + iPos, a_iSize - iPos, a_cData, a_iLen));
    vPut("]", 1);
    a_szOut[iPos] = '\0';
    return static_cast<int>(llNeed);
}

int SCK_iSend(int a_iSocket, char *a_cSend, int a_iLen) { return LNK_iSend(tLineOf(a_iSocket), a_cSend, a_iLen); }

int SCK_iRecv(int a_iSocket, char *a_cRecv, int *a_iLen, int a_iFlg)
{
    return LNK_iRecv(tLineOf(a_iSocket), a_cRecv, a_iLen, a_iFlg);
}

int SCK_iOpen(int *a_iSocket, const char *a_cHost, int a_iPort)
{
    if (a_iSocket == nullptr) {
        return -1;  // nowhere to hand the socket back
    }
    const int iSock = socket(AF_INET, SOCK_STREAM, 0);
    *a_iSocket = iSock;
    if (iSock < 0) {
        return -1;
    }
    sockaddr_in tAddr{};
    if (!bResolve(a_cHost, &tAddr.sin_addr)) {
        close(iSock);
        return -2;
    }
    tAddr.sin_family = AF_INET;
    // Only the low 16 bits of the port count.
    tAddr.sin_port = htons(static_cast<uint16_t>(static_cast<unsigned>(a_iPort) & 0xFFFFu));
    if (connect(iSock, reinterpret_cast<const sockaddr *>(&tAddr), sizeof tAddr) != 0) {
        close(iSock);
        return -3;
    }
    // Frames follow one another as soon as the machine has answered. With
    // Nagle's rule each frame would wait until the machine acknowledged our
    // previous closing ACK, which a delayed acknowledgement holds back for some
    // 40 ms: seconds on every card. The bytes on the wire stay the same.
    int iNoDelay = 1;
    setsockopt(iSock, IPPROTO_TCP, TCP_NODELAY, &iNoDelay, sizeof iNoDelay);
    // Exactly O_NONBLOCK: every read of the exchanges must come back at once.
    if (fcntl(iSock, F_SETFL, O_NONBLOCK) != 0) {
        close(iSock);
        return -4;
    }
    // Give the machine a moment to greet, then take off whatever it sent so
    // that the first command's first reply is the first thing read.
    vPause(nullptr, kOpenSettleUs);
    std::array<char, kGreetingLen> cRcv{};
    int iLen = kGreetingLen;
    SCK_iRecv(iSock, cRcv.data(), &iLen, 0);
    vLogAdd(
        "\x83\x49\x81\x5B\x83\x76\x83\x93\x8E\x9E\x82\xCC\x83\x6F\x83\x62\x83\x74\x83\x40\x83\x4E\x83\x8A\x83\x41\x8F\x49\x97\xB9" /* オープン時のバッファクリア終了 */);
    return 0;
}

int SCK_iClose(int a_iSocket)
{
    const int iRet = shutdown(a_iSocket, SHUT_RDWR);
    close(a_iSocket);
    return iRet < 0 ? -1 : 0;
}

int SCK_iSendRecv(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    return LNK_iSendRecv(tLineOf(a_iSocket), a_cSnd, a_iSndLen, a_cRcv, a_iRcvLen);
}

int SCK_iSendImage(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    return LNK_iSendImage(tLineOf(a_iSocket), a_cSnd, a_iSndLen, a_cRcv, a_iRcvLen);
}

LnkLine LNK_tSocketLine(int a_iSocket)
{
    return {&kSocketOps, reinterpret_cast<void *>(static_cast<intptr_t>(a_iSocket))};
}

void LNK_vReroute(const LnkLine *a_pLine) { g_pReroute = a_pLine; }

void SCK_vRequestStop(int a_iSig) { g_iStopSig = a_iSig; }

int SCK_iStopRequested(void) { return static_cast<int>(g_iStopSig); }

void SCK_vStopDone(void) { g_iStopSig = 0; }
