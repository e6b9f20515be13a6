// vestrun: issues one patient registration card on the issuing machine.
// One process, one card: the picture, the stripe and the card output, in a
// fixed order; the run log on standard output tells how it went.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "head.h"
#include "patient.h"
#include "picture.h"
#include "sock.h"
#include "trace.h"

namespace {

constexpr char kUsage[] =
    "Usage : vestrun [\x83\x7A\x83\x58\x83\x67\x96\xBC] [\x83\x7C\x81\x5B\x83\x67\x94\xD4\x8D\x86] [\x88\xF3\x8E\x9A\x8C\x60\x8E\xAE] [bmp\x83\x74\x83\x40\x83\x43\x83\x8B] [\x8A\xB3\x8E\xD2\x94\xD4\x8D\x86] [\x8A\xB3\x8E\xD2\x96\xBC] [\x83\x4A\x83\x69\x8E\x81\x96\xBC] [\x90\xB6\x94\x4E\x8C\x8E\x93\xFA] [\x90\xAB\x95\xCA] " /* Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] [カナ氏名] [生年月日] [性別]  */
    "[\x8F\x89\x90\x66\x93\xFA] " /* [初診日]  */;
constexpr char kNoPicture[] =
    "\x81\x7E bmp\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDE\x82\xB1\x82\xC6\x82\xAA\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81\x42\x8F\x88\x97\x9D\x95\x73\x89\xC2\x94\x5Cn" /* × bmpファイルを読み込むことができません。処理不可能n */
    ;
// Pause between two passes of the wait for a card, with the LED lit.
constexpr unsigned kCardWaitSec = 3;

// A stop asked for by the caller (timeout(1), Ctrl-C at the desk, a closing
// terminal) once the machine is connected: the link ends the exchange in
// flight, and the run goes to the printer reset instead of leaving the LED lit
// and the picture in the machine.
extern "C" void vOnStopSignal(int a_iSig) { SCK_vRequestStop(a_iSig); }

void vStopHandlersSet()
{
    struct sigaction tAct;
    memset(&tAct, 0, sizeof tAct);
    tAct.sa_handler = vOnStopSignal;
    sigemptyset(&tAct.sa_mask);
    tAct.sa_flags = 0;  // no SA_RESTART: a wait in progress returns at once
    const int iSigs[] = {SIGINT, SIGTERM, SIGHUP};
    for (int iSig : iSigs) {
        sigaction(iSig, &tAct, nullptr);
    }
}

// The pause between two passes of the wait for a card: the whole of it,
// unless a stop is asked for.
void vCardWaitPause()
{
    timespec tLeft = {static_cast<time_t>(kCardWaitSec), 0};
    while (SCK_iStopRequested() == 0 && nanosleep(&tLeft, &tLeft) != 0 && errno == EINTR) {
    }
}

// A launcher or a service manager may start the run without standard input,
// output or error. The socket would then take descriptor 1 and every log
// line would go onto the wire between the frames, so each closed one is
// opened on /dev/null before anything else is opened. False when that cannot
// be done.
bool bStdFdsOpen()
{
    for (int iFd = 0; iFd <= 2; iFd++) {
        if (fcntl(iFd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is the closed one: those below are open.
        int iNew = open("/dev/null", iFd == 0 ? O_RDONLY : O_WRONLY);
        if (iNew != iFd) {
            if (iNew >= 0) {
                close(iNew);
            }
            return false;
        }
    }
    return true;
}

// The picture named by argument 4 into the record: 0, or -1 when it cannot be
// read or is not one the machine takes (logged, and the reason on standard
// error).
int iPictureRead(const char *a_szPath, HeaderInfo *a_tHead, Image *a_stImg)
{
    if (ReadBmp(a_szPath, a_tHead, a_stImg) != 0) {
        vLogAdd(kNoPicture);
        return -1;
    }
    char cWhy[160];
    if (iBmpCheck(a_stImg, cWhy, sizeof cWhy) != 0) {
        vLogAdd(kNoPicture);
        fprintf(stderr, "vestrun: %s: %s\n", a_szPath, cWhy);
        return -1;
    }
    return 0;
}

// The picture, cut into bands and spans of ink, into the machine's buffer.
// The bands are freed as soon as they have been sent, whatever came of it.
int iPictureSend(int a_iSock, T_PAT_INF &a_tPat)
{
    if (ImageRowToCol(&a_tPat.stImg) != 0) {
        return -1;
    }
    int blkN = 0;
    ImgBlock *stImgBlk = m_GetImageBlk(a_tPat, &blkN);
    if (stImgBlk == nullptr) {
        return -1;
    }
    int iRet = m_iImageBlkSet(a_tPat, a_iSock, stImgBlk, blkN);
    vImgBlkFree(stImgBlk, blkN);
    return iRet;
}

// The operator's time: no bound. Each pass lights the LED again; when that
// can no longer even be sent, the machine has gone and no status will ever
// come, so the wait ends (-1).
int iCardWait(int a_iSock)
{
    while (m_iStsChk(a_iSock) != 0) {
        if (SCK_iStopRequested() != 0 || m_iLEDSet(a_iSock, 1) == -1) {
            return -1;
        }
        vCardWaitPause();
    }
    return 0;
}

// The card's steps on the open connection, in their fixed order: true when
// the card went out, false at the first failure.
bool bCardIssue(int a_iSock, T_PAT_INF &a_tPat)
{
    return m_iBufClearAll(a_iSock) == 0 && iPictureSend(a_iSock, a_tPat) == 0 && m_iLEDSet(a_iSock, 1) == 0 &&
           iCardWait(a_iSock) == 0 && m_iWrite(a_tPat, a_iSock) == 0 && m_iCardPut(a_tPat, a_iSock) == 0;
}

// Line by line even into a pipe: the log, the echo and the library's
// messages on standard error keep their order, and an operator watching the
// wait for a card sees each status line as it comes. A reader of the log that
// goes away (a pager, iconv) must not end the run half-way through a card; a
// machine that drops the line shows as a failed send in the log, never as a
// silent end.
void vOutputSet()
{
    setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    signal(SIGPIPE, SIG_IGN);
}

// The echo of the ten arguments, then their check: an argument that its
// field cannot hold is refused (logged, false), never cut: a cut patient
// number names another patient, and a birth date given where the sex belongs
// would put a wrong stripe on the card.
bool bArgsTake(int a_iArgc, char **a_szArgv)
{
    printf("1=%s\n2=%s\n3=%s\n4=%s\n5=%s\n6=%s\n7=%s\n8=%s\n9=%s\n10=%s\n", a_szArgv[1], a_szArgv[2], a_szArgv[3],
           a_szArgv[4], a_szArgv[5], a_szArgv[6], a_szArgv[7], a_szArgv[8], a_szArgv[9], a_szArgv[10]);
    int iBad = iArgCheck(a_iArgc, a_szArgv);
    if (iBad != 0) {
        char cLog[64];
        snprintf(cLog, sizeof cLog,
                 "\x81\x7E \x88\xF8\x90\x94%d\x82\xAA\x95\x73\x90\xB3\x82\xC5\x82\xB7" /* × 引数%dが不正です */, iBad);
        vLogAdd(cLog);
        return false;
    }
    return true;
}

// The end of a connected run. A card that went out: LED off and a plain
// close. A failure, or a stop asked for at any point up to here: the printer
// reset, after a line that names the stop. Returns the run's status: 0, or
// 128 + the signal, as for a process the signal had ended.
int iRunClose(int a_iSock, bool a_bIssued)
{
    if (a_bIssued && SCK_iStopRequested() == 0) {
        m_iLEDSet(a_iSock, 0);
    }
    const int iStopSig = SCK_iStopRequested();
    if (a_bIssued && iStopSig == 0) {
        SCK_iClose(a_iSock);
        vLogAdd("\x90\xD8\x92\x66" /* 切断 */);
        return 0;
    }
    if (iStopSig != 0) {
        char cLog[64];
        snprintf(
            cLog, sizeof cLog,
            "\x81\x7E \x92\x86\x92\x66\x82\xB3\x82\xEA\x82\xDC\x82\xB5\x82\xBD\x81\x69\x83\x56\x83\x4F\x83\x69\x83\x8B%d\x81\x6A" /* × 中断されました（シグナル%d） */
            ,
            iStopSig);
        vLogAdd(cLog);
        SCK_vStopDone();  // the reset gets its full waits
    }
    // The socket is left to the end of the process; the reset goes first.
    vLogAdd(
        "\x90\xD8\x92\x66\x81\x69\x83\x76\x83\x8A\x83\x93\x83\x5E\x81\x5B\x83\x8A\x83\x5A\x83\x62\x83\x67\x81\x6A" /* 切断（プリンターリセット） */);
    m_iPrtReset(a_iSock);
    return iStopSig != 0 ? 128 + iStopSig : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!bStdFdsOpen()) {
        return -99;
    }
    vOutputSet();
    // Fewer than all ten arguments: nothing can be issued, and nothing past
    // argc is ever looked at.
    if (argc < RUN_ARG_N + 1) {
        printf("%s\n", kUsage);
        return 0;
    }
    if (!bArgsTake(argc, argv)) {
        return -99;
    }
    T_PAT_INF tPat;
    memset(&tPat, 0, sizeof tPat);
    HeaderInfo bmpHeader = {nullptr, nullptr, nullptr};
    auto vFree = [&]() {
        FreeImage(&tPat.stImg);
        FreeHeader(&bmpHeader);
    };
    if (iPictureRead(argv[4], &bmpHeader, &tPat.stImg) != 0) {
        vFree();
        return -99;
    }
    vPatFill(&tPat, argv);
    iKanaTrace(TRACE_PATH, tPat.szNameKANA);  // a file that cannot be written is skipped

    char cHost[64] = {};
    memcpy(cHost, argv[1], strlen(argv[1]));
    vLogAdd("\x90\xDA\x91\xB1\x8F\x88\x97\x9D\x8A\x4A\x8E\x6E" /* 接続処理開始 */);
    int iSock = -1;
    if (SCK_iOpen(&iSock, cHost, iPortRead(argv[2])) != 0) {
        vLogAdd("\x81\x7E \x90\xDA\x91\xB1\x88\xD9\x8F\xED" /* × 接続異常 */);
        vFree();
        return -1;
    }
    vStopHandlersSet();
    vLogAdd("\x90\xDA\x91\xB1\x8A\xAE\x97\xB9" /* 接続完了 */);

    const int iStatus = iRunClose(iSock, bCardIssue(iSock, tPat));
    vFree();
    return iStatus;
}
