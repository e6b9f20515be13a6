#include "server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "card.h"
#include "fault.h"
#include "frame.h"
#include "log.h"
#include "machine.h"

namespace {

// Bytes waiting to go out to a client that does not read; past this the
// client is dropped rather than let the stand-in grow.
constexpr size_t kOutMax = 4u << 20;
// One read off the socket, and reads per round of the loop (so that a
// client that floods cannot keep the timers from firing).
constexpr size_t kReadChunk = 4096;
constexpr int kReadsPerRound = 16;

volatile sig_atomic_t g_iSignal = 0;
int g_iWakeWrite = -1;

void OnSignal(int a_iSig)
{
    const int iSavedErrno = errno;
    g_iSignal = a_iSig;
    if (g_iWakeWrite >= 0) {
        const char c = 0;
        ssize_t iIgnored = write(g_iWakeWrite, &c, 1);
        (void)iIgnored;
    }
    errno = iSavedErrno;
}

int64_t NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct Pending {
    int64_t iDue;
    SimStep tStep;
};

struct Conn {
    int iFd = -1;
    int iNumber = 0;
    std::string sPeer;
    SimFrameParser tParser;
    std::deque<Pending> tQueue;  // due times never decrease along the queue
    std::string cOut;
    size_t iOutPos = 0;
    int iFrames = 0;
    bool bAwaitAck = false;
};

struct Server {
    SimConfig *tConfig = nullptr;
    int iListen = -1;
    int iWakeRead = -1;
    FILE *fpFrames = nullptr;
    SimMachine tMachine;
    std::mt19937 tRng;
    Conn tConn;
    int iConnections = 0;
    int iCards = 0;
};

void RecordUnit(Server *a_tSrv, const std::string &a_cBytes)
{
    if (a_tSrv->fpFrames == nullptr) {
        return;
    }
    fprintf(a_tSrv->fpFrames, "%s\n", SimHex(a_cBytes).c_str());
    fflush(a_tSrv->fpFrames);
}

void CloseConn(Server *a_tSrv, const char *a_szWhy)
{
    Conn &tConn = a_tSrv->tConn;
    if (tConn.iFd < 0) {
        return;
    }
    close(tConn.iFd);
    SimLog("connection %d %s (%d frames received%s)", tConn.iNumber, a_szWhy, tConn.iFrames,
           tConn.tQueue.empty() ? "" : ", replies still pending dropped");
    tConn = Conn();
}

void Enqueue(Conn *a_tConn, const std::vector<SimStep> &a_tSteps)
{
    const int64_t iNow = NowMs();
    int64_t iLast = a_tConn->tQueue.empty() ? iNow : a_tConn->tQueue.back().iDue;
    for (const SimStep &tStep : a_tSteps) {
        int64_t iDue = iNow + tStep.iDelayMs;
        if (iDue < iLast) {
            iDue = iLast;  // the wire keeps the order of the pieces
        }
        iLast = iDue;
        a_tConn->tQueue.push_back(Pending{iDue, tStep});
    }
}

void KeepCard(Server *a_tSrv, const SimCard &a_tCard)
{
    a_tSrv->iCards++;
    if (a_tSrv->tConfig->sOutDir.empty()) {
        return;
    }
    std::string sFolder, sErr;
    if (SimKeepCard(a_tSrv->tConfig->sOutDir, a_tCard, &sFolder, &sErr)) {
        SimLog("card kept in %s", sFolder.c_str());
    } else {
        SimLog("× card could not be kept: %s", sErr.c_str());
    }
}

void ReleaseDue(Server *a_tSrv);

void HandleFrame(Server *a_tSrv, const SimUnit &a_tUnit)
{
    Conn &tConn = a_tSrv->tConn;
    tConn.iFrames++;
    RecordUnit(a_tSrv, a_tUnit.cBytes);
    // What was due before this frame came goes out before its answer.
    ReleaseDue(a_tSrv);
    if (tConn.iFd < 0) {
        return;
    }

    // The machine takes up each new frame at once; whatever it still owed
    // the frame before is not sent any more, except a late answer, which the
    // machine sends all the same.
    const size_t iPending = tConn.tQueue.size();
    tConn.tQueue.erase(
        std::remove_if(tConn.tQueue.begin(), tConn.tQueue.end(), [](const Pending &a_tP) { return !a_tP.tStep.bKept; }),
        tConn.tQueue.end());
    if (tConn.tQueue.size() < iPending) {
        SimLog("new frame: %zu reply piece(s) still pending for the last frame dropped",
               iPending - tConn.tQueue.size());
    }
    tConn.bAwaitAck = false;

    if (a_tUnit.eCheck != SIM_FRAME_OK) {
        const std::string cBody = a_tUnit.cBytes.substr(0, a_tUnit.cBytes.size() - 1);
        SimLog(
            "recv frame %s: %s -> NAK", SimHex(a_tUnit.cBytes, 24).c_str(),
            a_tUnit.eCheck == SIM_FRAME_NO_LETTER
                ? "no command letter"
                : ("bad block check (" + SimHex(std::string(1, static_cast<char>(SimFrameBcc(cBody)))) + " expected)")
                      .c_str());
        SimReply tNak;
        tNak.cCode = SIM_NAK;
        Enqueue(&tConn, SimPlan(a_tUnit.cLetter ? a_tUnit.cLetter : '?', tNak, nullptr, 0, &a_tSrv->tRng));
        ReleaseDue(a_tSrv);
        return;
    }

    SimLog("recv %s [%s]", SimDescribe(a_tUnit.cLetter, a_tUnit.cParams).c_str(), SimHex(a_tUnit.cBytes, 16).c_str());
    SimFaultRule *tRule = SimFaultMatch(&a_tSrv->tConfig->tFaults, a_tUnit.cLetter, a_tUnit.cParams);
    const SimFault *tFault = tRule ? tRule->tFault : nullptr;
    if (tRule) {
        SimLog("fault %s applied (receipt %d): %s", tRule->sText.c_str(), tRule->iSeen, SimFaultName(tFault));
    }
    SimReply tReply;
    if (SimFaultExecutes(tFault)) {
        SimOutcome tOut = SimMachineAnswer(&a_tSrv->tMachine, a_tUnit.cLetter, a_tUnit.cParams);
        SimLog("machine: %s", tOut.sNote.c_str());
        if (tOut.bCardOut) {
            // Kept before the result reply goes out: once the tool has its
            // answer, the card is on disk.
            KeepCard(a_tSrv, tOut.tCard);
        }
        tReply = tOut.tReply;
    }
    const std::vector<SimStep> tSteps =
        SimPlan(a_tUnit.cLetter, tReply, tFault, tRule ? tRule->iArg : 0, &a_tSrv->tRng);
    if (tSteps.empty()) {
        SimLog("no answer");
    }
    Enqueue(&tConn, tSteps);
    ReleaseDue(a_tSrv);
}

void HandleUnits(Server *a_tSrv, const std::vector<SimUnit> &a_tUnits)
{
    for (const SimUnit &tUnit : a_tUnits) {
        if (a_tSrv->tConn.iFd < 0) {
            return;  // a fault dropped the line: the rest is not read
        }
        switch (tUnit.eKind) {
        case SIM_UNIT_FRAME:
            HandleFrame(a_tSrv, tUnit);
            break;
        case SIM_UNIT_ACK:
            RecordUnit(a_tSrv, tUnit.cBytes);
            SimLog(a_tSrv->tConn.bAwaitAck ? "recv closing ACK" : "recv ACK (no result reply was waiting for it)");
            a_tSrv->tConn.bAwaitAck = false;
            break;
        case SIM_UNIT_GARBAGE:
            SimLog("recv %zu stray byte(s) outside any frame: %s", tUnit.iCount, SimHex(tUnit.cBytes).c_str());
            break;
        case SIM_UNIT_BROKEN:
            SimLog("frame cut short by a new STX after %zu bytes: %s", tUnit.iCount, SimHex(tUnit.cBytes).c_str());
            break;
        case SIM_UNIT_OVERLONG:
            SimLog("frame longer than %d bytes dropped: %s; waiting for the next STX", SIM_FRAME_MAX,
                   SimHex(tUnit.cBytes).c_str());
            break;
        }
    }
}

// Moves the pieces that are due to the output; a close piece drops the line.
void ReleaseDue(Server *a_tSrv)
{
    Conn &tConn = a_tSrv->tConn;
    const int64_t iNow = NowMs();
    while (tConn.iFd >= 0 && !tConn.tQueue.empty() && tConn.tQueue.front().iDue <= iNow) {
        const SimStep tStep = tConn.tQueue.front().tStep;
        tConn.tQueue.pop_front();
        if (tStep.bClose) {
            CloseConn(a_tSrv, "dropped by the machine");
            return;
        }
        if (!tStep.sLabel.empty()) {
            SimLog("send %s: %s", tStep.sLabel.c_str(), SimHex(tStep.cBytes, 24).c_str());
        }
        if (tStep.bResult) {
            tConn.bAwaitAck = true;
        }
        tConn.cOut += tStep.cBytes;
        if (tConn.cOut.size() - tConn.iOutPos > kOutMax) {
            CloseConn(a_tSrv, "dropped: the tool does not read its replies");
            return;
        }
    }
}

void Flush(Server *a_tSrv)
{
    Conn &tConn = a_tSrv->tConn;
    while (tConn.iFd >= 0 && tConn.iOutPos < tConn.cOut.size()) {
        const ssize_t iSent =
            send(tConn.iFd, tConn.cOut.data() + tConn.iOutPos, tConn.cOut.size() - tConn.iOutPos, MSG_NOSIGNAL);
        if (iSent > 0) {
            tConn.iOutPos += static_cast<size_t>(iSent);
            continue;
        }
        if (iSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            break;
        }
        CloseConn(a_tSrv, ("lost while sending: " + std::string(strerror(errno))).c_str());
        return;
    }
    if (tConn.iFd < 0) {
        return;
    }
    if (tConn.iOutPos == tConn.cOut.size()) {
        tConn.cOut.clear();
        tConn.iOutPos = 0;
    } else if (tConn.iOutPos >= kReadChunk * kReadsPerRound) {
        tConn.cOut.erase(0, tConn.iOutPos);  // what has gone out is not kept
        tConn.iOutPos = 0;
    }
}

void ReadConn(Server *a_tSrv)
{
    unsigned char cBuf[kReadChunk];
    for (int i = 0; i < kReadsPerRound && a_tSrv->tConn.iFd >= 0; i++) {
        const ssize_t iGot = recv(a_tSrv->tConn.iFd, cBuf, sizeof cBuf, 0);
        if (iGot > 0) {
            std::vector<SimUnit> tUnits;
            SimFrameFeed(&a_tSrv->tConn.tParser, cBuf, static_cast<size_t>(iGot), &tUnits);
            HandleUnits(a_tSrv, tUnits);
            continue;
        }
        if (iGot < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return;
        }
        std::vector<SimUnit> tLast;
        SimFrameFinish(&a_tSrv->tConn.tParser, &tLast);
        HandleUnits(a_tSrv, tLast);
        const size_t iPending = SimFramePending(a_tSrv->tConn.tParser);
        if (iPending > 0) {
            SimLog("connection ended in the middle of a frame (%zu bytes of it received)", iPending);
        }
        CloseConn(a_tSrv, iGot == 0 ? "closed by the tool" : ("lost: " + std::string(strerror(errno))).c_str());
        return;
    }
}

void AcceptConn(Server *a_tSrv)
{
    struct sockaddr_in tPeer;
    socklen_t iLen = sizeof tPeer;
    const int iFd =
        accept4(a_tSrv->iListen, reinterpret_cast<struct sockaddr *>(&tPeer), &iLen, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (iFd < 0) {
        return;  // the caller went away before we took it, or the table is full: try again later
    }
    const int iOne = 1;
    setsockopt(iFd, IPPROTO_TCP, TCP_NODELAY, &iOne, sizeof iOne);
    Conn &tConn = a_tSrv->tConn;
    tConn = Conn();
    tConn.iFd = iFd;
    tConn.iNumber = ++a_tSrv->iConnections;
    char cAddr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &tPeer.sin_addr, cAddr, sizeof cAddr);
    tConn.sPeer = std::string(cAddr) + ":" + std::to_string(ntohs(tPeer.sin_port));
    SimMachineNewRun(&a_tSrv->tMachine);
    SimFaultReset(&a_tSrv->tConfig->tFaults);
    SimLog("connection %d from %s", tConn.iNumber, tConn.sPeer.c_str());

    const int iGreeting = a_tSrv->tConfig->iGreeting;
    if (iGreeting > 0) {
        // Printable bytes with no answer code among them.
        static const char kText[] = "vestrun-sim ready. ";
        std::string cGreeting;
        cGreeting.reserve(static_cast<size_t>(iGreeting));
        for (int i = 0; i < iGreeting; i++) {
            cGreeting += kText[i % (sizeof kText - 1)];
        }
        SimStep tStep;
        tStep.cBytes = cGreeting;
        tStep.sLabel = "greeting (" + std::to_string(iGreeting) + " bytes)";
        Enqueue(&tConn, {tStep});
    }
}

bool OpenListen(Server *a_tSrv, std::string *a_sErr, std::string *a_sAddr)
{
    const SimConfig &tCfg = *a_tSrv->tConfig;
    struct addrinfo tHints;
    memset(&tHints, 0, sizeof tHints);
    tHints.ai_family = AF_INET;
    tHints.ai_socktype = SOCK_STREAM;
    tHints.ai_flags = AI_PASSIVE;
    struct addrinfo *tRes = nullptr;
    const std::string sPort = std::to_string(tCfg.iPort);
    const int iGai = getaddrinfo(tCfg.sHost.c_str(), sPort.c_str(), &tHints, &tRes);
    if (iGai != 0 || tRes == nullptr) {
        *a_sErr = tCfg.sHost + ": " + gai_strerror(iGai);
        return false;
    }
    const int iFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (iFd < 0) {
        freeaddrinfo(tRes);
        *a_sErr = std::string("socket: ") + strerror(errno);
        return false;
    }
    const int iOne = 1;
    setsockopt(iFd, SOL_SOCKET, SO_REUSEADDR, &iOne, sizeof iOne);
    if (bind(iFd, tRes->ai_addr, tRes->ai_addrlen) != 0 || listen(iFd, 16) != 0) {
        *a_sErr = std::string("bind/listen: ") + strerror(errno);
        freeaddrinfo(tRes);
        close(iFd);
        return false;
    }
    freeaddrinfo(tRes);
    struct sockaddr_in tAddr;
    socklen_t iLen = sizeof tAddr;
    getsockname(iFd, reinterpret_cast<struct sockaddr *>(&tAddr), &iLen);
    char cAddr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &tAddr.sin_addr, cAddr, sizeof cAddr);
    *a_sAddr = std::string(cAddr) + ":" + std::to_string(ntohs(tAddr.sin_port));
    a_tSrv->iListen = iFd;
    return true;
}

bool SetUpSignals(Server *a_tSrv)
{
    int iPipe[2];
    if (pipe2(iPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;
    }
    a_tSrv->iWakeRead = iPipe[0];
    g_iWakeWrite = iPipe[1];
    struct sigaction tAct;
    memset(&tAct, 0, sizeof tAct);
    tAct.sa_handler = OnSignal;
    sigemptyset(&tAct.sa_mask);
    sigaction(SIGINT, &tAct, nullptr);
    sigaction(SIGTERM, &tAct, nullptr);
    // A tool that hangs up while a reply goes out must not end the stand-in.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// Opens the card folder, the wire record, the wake-up pipe and the listening
// socket; false after telling why on stderr.
bool SetUp(Server *a_tSrv, std::string *a_sAddr)
{
    const SimConfig &tCfg = *a_tSrv->tConfig;
    std::string sErr;
    if (!tCfg.sOutDir.empty() && !SimMakeDirs(tCfg.sOutDir, &sErr)) {
        fprintf(stderr, "vestrun-sim: --out %s\n", sErr.c_str());
        return false;
    }
    if (!tCfg.sFramesPath.empty()) {
        a_tSrv->fpFrames = fopen(tCfg.sFramesPath.c_str(), "a");
        if (a_tSrv->fpFrames == nullptr) {
            fprintf(stderr, "vestrun-sim: --frames %s: %s\n", tCfg.sFramesPath.c_str(), strerror(errno));
            return false;
        }
    }
    if (!SetUpSignals(a_tSrv)) {
        fprintf(stderr, "vestrun-sim: pipe: %s\n", strerror(errno));
        return false;
    }
    if (!OpenListen(a_tSrv, &sErr, a_sAddr)) {
        fprintf(stderr, "vestrun-sim: cannot listen on %s:%d: %s\n", tCfg.sHost.c_str(), tCfg.iPort, sErr.c_str());
        return false;
    }
    return true;
}

// One round of the loop: waits for the line, the listening socket, a signal
// or the next reply that falls due, and deals with what came. False when the
// loop must end.
bool Round(Server *a_tSrv, bool *a_bServed)
{
    Conn &tConn = a_tSrv->tConn;
    struct pollfd tFds[2];
    tFds[0] = {a_tSrv->iWakeRead, POLLIN, 0};
    if (tConn.iFd >= 0) {
        tFds[1] = {tConn.iFd, static_cast<short>(POLLIN | (tConn.cOut.empty() ? 0 : POLLOUT)), 0};
    } else {
        tFds[1] = {a_tSrv->iListen, POLLIN, 0};
    }
    int iTimeout = -1;
    if (tConn.iFd >= 0 && !tConn.tQueue.empty()) {
        const int64_t iWait = tConn.tQueue.front().iDue - NowMs();
        iTimeout = iWait < 0 ? 0 : static_cast<int>(iWait);
    }
    const int iReady = poll(tFds, 2, iTimeout);
    if (iReady < 0 && errno != EINTR) {
        SimLog("× poll: %s", strerror(errno));
        return false;
    }
    if (g_iSignal != 0) {
        return false;
    }
    if (iReady > 0 && (tFds[0].revents & POLLIN)) {
        char cDrain[16];
        while (read(a_tSrv->iWakeRead, cDrain, sizeof cDrain) > 0) {
        }
    }
    const bool bHadConn = tConn.iFd >= 0;
    if (iReady > 0 && !bHadConn && (tFds[1].revents & POLLIN)) {
        AcceptConn(a_tSrv);
    } else if (iReady > 0 && bHadConn && (tFds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        ReadConn(a_tSrv);
    }
    ReleaseDue(a_tSrv);
    Flush(a_tSrv);
    if (a_tSrv->tConn.iFd >= 0 || bHadConn) {
        *a_bServed = true;
    }
    return !(a_tSrv->tConfig->bOnce && *a_bServed && a_tSrv->tConn.iFd < 0);
}

void TearDown(Server *a_tSrv)
{
    CloseConn(a_tSrv, "closed: the stand-in stops");
    if (a_tSrv->iListen >= 0) {
        close(a_tSrv->iListen);
    }
    if (a_tSrv->iWakeRead >= 0) {
        close(a_tSrv->iWakeRead);
        close(g_iWakeWrite);
        g_iWakeWrite = -1;
    }
    if (a_tSrv->fpFrames != nullptr) {
        fclose(a_tSrv->fpFrames);
    }
}

}  // namespace

int SimServe(SimConfig *a_tConfig)
{
    Server tSrv;
    tSrv.tConfig = a_tConfig;
    tSrv.tRng.seed(a_tConfig->iSeed);
    SimMachineInit(&tSrv.tMachine, a_tConfig->iWidth, a_tConfig->iHeight, a_tConfig->tOperator);
    std::string sAddr;
    if (!SetUp(&tSrv, &sAddr)) {
        TearDown(&tSrv);
        return 1;
    }
    // The first line on stdout tells whoever started us where we are.
    printf("listening %s\n", sAddr.c_str());
    fflush(stdout);
    SimLog("vestrun-sim listening on %s, picture buffer %dx%d", sAddr.c_str(), tSrv.tMachine.iWidth,
           tSrv.tMachine.iHeight);

    bool bServed = false;
    while (g_iSignal == 0 && Round(&tSrv, &bServed)) {
    }
    if (g_iSignal != 0) {
        SimLog("signal %d: stopping", static_cast<int>(g_iSignal));
    }
    TearDown(&tSrv);
    SimLog("%d connection(s) served, %d card(s) put out", tSrv.iConnections, tSrv.iCards);
    return 0;
}
