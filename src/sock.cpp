// The printer link: frames and their block check, the connection to the
// issuing machine, and the two exchanges that carry its commands and the
// picture. Every frame sent and every reply read by the command exchange is
// dumped into the run log: when a card goes wrong, that dump is all the
// operator has to tell what the machine was told and what it answered.
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
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "head.h"

namespace {

// The machine's pace. These waits are what it needs to take a frame in, do
// the work and have its result ready; shortening them loses answers.
constexpr long long kAfterSendUs = 1000000;     // frame out -> first reply read
constexpr long long kRetryUs = 2000000;         // after an attempt without ACK
constexpr long long kResultUs = 1500000;        // ACK -> result reply read
constexpr long long kCardOutUs = 7000000;       // ACK -> result reply, card going out
constexpr long long kAfterAckUs = 1000000;      // closing ACK -> next command
constexpr long long kOpenSettleUs = 1000000;    // connect -> taking off what the machine sent
constexpr long long kFirstWindowUs = 1000000;   // image frame: first reply window
constexpr long long kResultWindowUs = 3500000;  // image frame: result reply window
// Longest stall of a send before the frame is given up: the machine takes
// frames far smaller than a socket buffer, so a full buffer means it is gone.
constexpr int kSendStallMs = 1000;

constexpr int kFirstLen = 10;    // first reply: the answer code is its tenth byte
constexpr int kAnswerAt = 9;
constexpr int kResultLen = 256;  // result reply, and the bytes taken off on connect
constexpr int kLineBuf = 1024;   // a dump line of up to 333 bytes fits on the stack
// Reads of left-over bytes before one frame goes out, kResultLen each (16 KiB
// in all): room for a greeting of some kilobytes, while a machine that never
// stops sending still lets the frame go.
constexpr int kLeftoverReads = 64;

long long llNowUs()
{
    // Monotonic: a step of the wall clock must neither hold a window open
    // nor close it early.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

// Sleeps the whole pause even when a signal interrupts it.
void vPause(long long a_llUs)
{
    if (a_llUs <= 0) {
        return;
    }
    timespec ts{static_cast<time_t>(a_llUs / 1000000), static_cast<long>(a_llUs % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// One dump line into the run log, on a line as long as the frame needs.
void vLogDump(int a_iDir, int a_iCount, const unsigned char *a_cData, int a_iLen)
{
    std::array<char, kLineBuf> cWk{};
    int iNeed = SCK_iDumpLine(cWk.data(), cWk.size(), a_iDir, a_iCount, a_cData, a_iLen);
    if (iNeed < 0) {
        return;
    }
    if (static_cast<size_t>(iNeed) < cWk.size()) {
        vLogAdd(cWk.data());
        return;
    }
    std::vector<char> cBig(static_cast<size_t>(iNeed) + 1);
    SCK_iDumpLine(cBig.data(), cBig.size(), a_iDir, a_iCount, a_cData, a_iLen);
    vLogAdd(cBig.data());
}

// Puts every byte of the frame on the wire. A send may take only part of it
// when the socket's buffer is full; the rest follows as room comes free, so
// the machine never sees a frame cut short while the log says it went out.
// MSG_NOSIGNAL: a machine that has dropped the connection makes this a failed
// send, not the end of the run.
int iSendAll(int a_iSocket, const char *a_cBuf, size_t a_iLen)
{
    size_t iOff = 0;
    while (iOff < a_iLen) {
        ssize_t iRet = send(a_iSocket, a_cBuf + iOff, a_iLen - iOff, MSG_NOSIGNAL);
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
        pollfd tPfd{a_iSocket, POLLOUT, 0};
        int iPoll = poll(&tPfd, 1, kSendStallMs);
        if (iPoll == 0 || (iPoll < 0 && errno != EINTR)) {
            return -1;
        }
    }
    return 0;
}

// Waits for one reply of the image exchange within a window that opens now.
// Returns the bytes received (at least 1), or 0 when the window closed empty.
// a_cBuf (a_iBufLen bytes) is cleared before every receive, so what follows
// the reply is zero. The socket is watched with poll for the time left rather
// than read in a loop: an image of many frames would otherwise keep a core
// busy for seconds per frame.
int iWindowRecv(int a_iSocket, char *a_cBuf, size_t a_iBufLen, int a_iCap, long long a_llLimitUs)
{
    const long long llStart = llNowUs();
    for (;;) {
        const long long llElapsed = llNowUs() - llStart;
        memset(a_cBuf, 0, a_iBufLen);
        ssize_t iRet = recv(a_iSocket, a_cBuf, static_cast<size_t>(a_iCap), MSG_DONTWAIT);
        if (iRet > 0) {
            return static_cast<int>(iRet);
        }
        const int iErr = errno;
        if (llElapsed > a_llLimitUs) {
            return 0;
        }
        const long long llLeft = a_llLimitUs - llElapsed;
        if (iRet == 0 || (iErr != EAGAIN && iErr != EWOULDBLOCK && iErr != EINTR)) {
            // The machine has closed the connection (or it broke): nothing
            // more can come, and the socket would stay readable, so a poll
            // would return at once for ever. Sit out the window instead.
            vPause(llLeft + 1);
            return 0;
        }
        pollfd tPfd{a_iSocket, POLLIN, 0};
        poll(&tPfd, 1, static_cast<int>(llLeft / 1000 + 1));
    }
}

// Takes off whatever already waits on the socket before a frame goes out: a
// reply that came after its exchange had given up on it, the bytes past 256
// of an oversized reply, the rest of a long greeting. None of it can be the
// answer to a frame not yet sent; read as that answer, it would put every
// later reply out of step, one first reply behind for the rest of the run,
// and the wait for a card would never see the card. The bytes go into the run
// log like every other receive, so the log still holds all the machine sent.
// Nothing waiting (the usual case) logs nothing.
void vTakeOffLeftovers(int a_iSocket)
{
    for (int i = 0; i < kLeftoverReads; i++) {
        char cPeek = 0;
        ssize_t iWaiting;
        do {
            iWaiting = recv(a_iSocket, &cPeek, 1, MSG_PEEK | MSG_DONTWAIT);
        } while (iWaiting < 0 && errno == EINTR);
        if (iWaiting <= 0) {
            return;  // nothing waiting, or a closed line that the exchange will meet itself
        }
        std::array<char, kResultLen> cRcv{};
        int iLen = kResultLen;
        if (SCK_iRecv(a_iSocket, cRcv.data(), &iLen, 0) != 0) {
            return;
        }
    }
}

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
    int iHead = snprintf(cHead, sizeof cHead, a_iDir == SCK_DUMP_RECV ? "受信サイズ=%3d 電文=[" : "送信サイズ=%3d 電文=[",
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

int SCK_iSend(int a_iSocket, char *a_cSend, int a_iLen)
{
    if (a_cSend == nullptr || a_iLen < 0 || a_iLen == INT_MAX) {
        vLogAdd("× SCK_iSend 送信失敗");
        return -1;
    }
    int iSndLen = a_iLen;
    if (a_iLen >= 2) {
        // A frame: the block check goes behind ETX, in the caller's buffer.
        SCK_iSetBcc(a_cSend, a_iLen);
        iSndLen = a_iLen + 1;
    }
    // A single byte (the closing ACK) goes out as it is.
    vLogDump(SCK_DUMP_SEND, iSndLen, reinterpret_cast<const unsigned char *>(a_cSend), iSndLen);
    if (iSendAll(a_iSocket, a_cSend, static_cast<size_t>(iSndLen)) != 0) {
        vLogAdd("× SCK_iSend 送信失敗");
        return -1;
    }
    vLogAdd("送信成功");
    return 0;
}

int SCK_iRecv(int a_iSocket, char *a_cRecv, int *a_iLen, int a_iFlg)
{
    ssize_t iGot = -1;
    int iErr = EINVAL;
    if (a_cRecv != nullptr && a_iLen != nullptr && *a_iLen > 0) {
        // MSG_DONTWAIT: a read never waits, even on a socket that somebody
        // left in blocking mode; the exchanges do their own waiting.
        const int iFlags = (a_iFlg == 1 ? MSG_PEEK : 0) | MSG_DONTWAIT;
        do {
            iGot = recv(a_iSocket, a_cRecv, static_cast<size_t>(*a_iLen), iFlags);
        } while (iGot < 0 && errno == EINTR);
        iErr = errno;
    }
    vLogDump(SCK_DUMP_RECV, static_cast<int>(iGot), reinterpret_cast<const unsigned char *>(a_cRecv),
             iGot > 0 ? static_cast<int>(iGot) : 0);

    int iRet;
    if (iGot > 0) {
        *a_iLen = static_cast<int>(iGot);
        iRet = 0;
    } else if (iGot == 0) {
        *a_iLen = 0;  // the machine has closed the connection
        iRet = -3;
    } else if (iErr == EAGAIN || iErr == EWOULDBLOCK) {
        iRet = -1;  // nothing waiting
    } else {
        char cWk[32];
        snprintf(cWk, sizeof cWk, "ErrNo[%d]", iErr);
        vLogAdd(cWk);
        iRet = -2;
    }
    char cWk[32];
    snprintf(cWk, sizeof cWk, "受信結果=%d", iRet);
    vLogAdd(cWk);
    return iRet;
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
    vPause(kOpenSettleUs);
    std::array<char, kResultLen> cRcv{};
    int iLen = kResultLen;
    SCK_iRecv(iSock, cRcv.data(), &iLen, 0);
    vLogAdd("オープン時のバッファクリア終了");
    return 0;
}

int SCK_iClose(int a_iSocket)
{
    const int iRet = shutdown(a_iSocket, SHUT_RDWR);
    close(a_iSocket);
    return iRet < 0 ? -1 : 0;
}

namespace {

// After ACK: wait for the machine to do the work, take its result, confirm it.
int iResultPhase(int a_iSocket, const char *a_cSnd, char *a_cRcv, int *a_iRcvLen)
{
    const char cCmd = a_cSnd != nullptr ? a_cSnd[1] : '\0';
    // Putting a card out takes the machine far longer than any other command.
    vPause(cCmd == 'F' || cCmd == 'G' ? kCardOutUs : kResultUs);

    std::array<char, kResultLen> cRcv{};
    int iLen = kResultLen;
    if (SCK_iRecv(a_iSocket, cRcv.data(), &iLen, 0) != 0) {
        return -5;
    }
    if (a_cRcv != nullptr) {
        memcpy(a_cRcv, cRcv.data(), static_cast<size_t>(iLen));
    }
    if (a_iRcvLen != nullptr) {
        *a_iRcvLen = iLen;
    }
    char cWk = SCK_ACK;
    const int iFuncRet = SCK_iSend(a_iSocket, &cWk, 1);
    vPause(kAfterAckUs);
    return iFuncRet;
}

}  // namespace

int SCK_iSendRecv(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    const bool bRecvOnly = a_iSndLen <= 0;
    std::array<char, kResultLen> cRcv{};
    int iRet = 0;  // the last first-reply read; 0 = something was read
    for (int iCnt = 2; iCnt > 0; iCnt--) {
        if (!bRecvOnly) {
            // Only before the first attempt: what waits then belongs to
            // earlier exchanges. Before the second, what waits is the late
            // answer to our own first sending, and it is read as the first reply.
            if (iCnt == 2) {
                vTakeOffLeftovers(a_iSocket);
            }
            // Every attempt sends the whole frame again, block check and all.
            if (SCK_iSend(a_iSocket, a_cSnd, a_iSndLen) != 0) {
                return -1;
            }
        } else if (iRet != 0) {
            // Nothing to send again, and nothing came the first time.
            vLogAdd("× 送信失敗リトライ");
            vPause(kRetryUs);
            continue;
        }
        vPause(kAfterSendUs);
        cRcv.fill(0);
        int iLen = kFirstLen;
        iRet = SCK_iRecv(a_iSocket, cRcv.data(), &iLen, 0);
        if (iRet != 0) {
            vLogAdd("× 受信失敗リトライ");
            vPause(kRetryUs);
            continue;
        }
        // A reply shorter than ten bytes leaves 0x00 here: an unknown code.
        const unsigned char cCode = static_cast<unsigned char>(cRcv[kAnswerAt]);
        if (cCode == SCK_ACK) {
            vLogAdd("<ACK>受信");
            return iResultPhase(a_iSocket, a_cSnd, a_cRcv, a_iRcvLen);
        }
        if (cCode == SCK_DLE) {
            return -3;  // refused: sending again would not help
        }
        if (cCode != SCK_NAK) {
            vLogAdd("× 不明コード");
        }
        vPause(kRetryUs);
    }
    return -10;
}

int SCK_iSendImage(int a_iSocket, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen)
{
    if (a_iSndLen > 0 && (a_cSnd == nullptr || a_iSndLen == INT_MAX)) {
        vLogAdd("× SCK_iSendImage 送信失敗");
        return -1;
    }
    size_t iSndLen = a_iSndLen > 0 ? static_cast<size_t>(a_iSndLen) : 0;
    if (a_iSndLen >= 2) {
        SCK_iSetBcc(a_cSnd, a_iSndLen);
        iSndLen++;
    }
    std::array<char, kResultLen> cRcv{};
    for (int iCnt = 2; iCnt > 0; iCnt--) {
        // Image frames are not dumped: the picture would bury the rest of the log.
        if (iSndLen > 0) {
            if (iCnt == 2) {
                vTakeOffLeftovers(a_iSocket);  // earlier exchanges' bytes, never our own late answer
            }
            if (iSendAll(a_iSocket, a_cSnd, iSndLen) != 0) {
                vLogAdd("× SCK_iSendImage 送信失敗");
                return -1;
            }
            vLogAdd("イメージ送信成功");
        }
        if (iWindowRecv(a_iSocket, cRcv.data(), cRcv.size(), kFirstLen, kFirstWindowUs) == 0) {
            vLogAdd("× 受信失敗リトライ");
            continue;
        }
        const unsigned char cCode = static_cast<unsigned char>(cRcv[kAnswerAt]);
        if (cCode == SCK_ACK) {
            vLogAdd("<ACK>受信");
            if (iWindowRecv(a_iSocket, cRcv.data(), cRcv.size(), kResultLen, kResultWindowUs) == 0) {
                return -5;
            }
            // The caller always gets the full 256 bytes: the reply, then zeros.
            if (a_cRcv != nullptr) {
                memcpy(a_cRcv, cRcv.data(), cRcv.size());
            }
            if (a_iRcvLen != nullptr) {
                *a_iRcvLen = kResultLen;
            }
            char cWk = SCK_ACK;
            return SCK_iSend(a_iSocket, &cWk, 1);
        }
        if (cCode == SCK_DLE) {
            return -3;
        }
        if (cCode != SCK_NAK) {
            vLogAdd("× 不明コード");
        }
    }
    return -10;
}
