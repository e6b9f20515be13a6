// vestrun: issues one patient registration card on the issuing machine.
// One process, one card: the picture, the stripe and the card output, in a
// fixed order; the run log on standard output tells how it went.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "head.h"
#include "sock.h"

namespace {

constexpr char kUsage[] =
    "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] [カナ氏名] [生年月日] [性別] "
    "[初診日] ";
constexpr char kTracePath[] = "/tmp/jisTest.txt";
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

}  // namespace

int main(int argc, char **argv)
{
    // Line by line even into a pipe: the log, the echo and the library's
    // messages on standard error keep their order, and an operator watching
    // the wait for a card sees each status line as it comes.
    setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    // A reader of the log that goes away (a pager, iconv) must not end the
    // run half-way through a card; a machine that drops the line shows as a
    // failed send in the log, never as a silent end.
    signal(SIGPIPE, SIG_IGN);

    // Fewer than all ten arguments: nothing can be issued, and nothing past
    // argc is ever looked at.
    if (argc < RUN_ARG_N + 1) {
        printf("%s\n", kUsage);
        return 0;
    }

    T_PAT_INF tPat;
    memset(&tPat, 0, sizeof tPat);

    printf("1=%s\n2=%s\n3=%s\n4=%s\n5=%s\n6=%s\n7=%s\n8=%s\n9=%s\n10=%s\n", argv[1], argv[2], argv[3], argv[4],
           argv[5], argv[6], argv[7], argv[8], argv[9], argv[10]);

    // An argument that its field cannot hold is refused, never cut: a cut
    // patient number names another patient, and a birth date given where the
    // sex belongs would put a wrong stripe on the card.
    int iBad = iArgCheck(argc, argv);
    if (iBad != 0) {
        char cLog[64];
        snprintf(cLog, sizeof cLog, "× 引数%dが不正です", iBad);
        vLogAdd(cLog);
        return -99;
    }

    char cHost[64] = {};
    memcpy(cHost, argv[1], strlen(argv[1]));
    int iPort = iPortRead(argv[2]);
    tPat.cStyFlg = argv[3][0];

    HeaderInfo bmpHeader = {nullptr, nullptr, nullptr};
    auto vFree = [&]() {
        FreeImage(&tPat.stImg);
        FreeHeader(&bmpHeader);
    };
    if (ReadBmp(argv[4], &bmpHeader, &tPat.stImg) != 0) {
        vLogAdd("× bmpファイルを読み込むことができません。処理不可能n");
        vFree();
        return -99;
    }
    // Only what the machine's picture buffer takes goes further.
    char cWhy[160];
    if (iBmpCheck(&tPat.stImg, cWhy, sizeof cWhy) != 0) {
        vLogAdd("× bmpファイルを読み込むことができません。処理不可能n");
        fprintf(stderr, "vestrun: %s: %s\n", argv[4], cWhy);
        vFree();
        return -99;
    }

    vPatFill(&tPat, argv);
    iKanaTrace(kTracePath, tPat.szNameKANA);  // a file that cannot be written is skipped

    vLogAdd("接続処理開始");
    int iSock = -1;
    if (SCK_iOpen(&iSock, cHost, iPort) != 0) {
        vLogAdd("× 接続異常");
        vFree();
        return -1;
    }
    vStopHandlersSet();
    vLogAdd("接続完了");

    // The card: true when it went out, false at the first failure.
    auto bIssue = [&]() -> bool {
        if (m_iBufClearAll(iSock) != 0) {
            return false;
        }
        if (ImageRowToCol(&tPat.stImg) != 0) {
            return false;
        }
        int blkN = 0;
        ImgBlock *stImgBlk = m_GetImageBlk(tPat, &blkN);
        if (stImgBlk == nullptr) {
            return false;
        }
        int iRet = m_iImageBlkSet(tPat, iSock, stImgBlk, blkN);
        vImgBlkFree(stImgBlk, blkN);
        if (iRet != 0) {
            return false;
        }
        if (m_iLEDSet(iSock, 1) != 0) {
            return false;
        }
        // The operator's time: no bound. Each pass lights the LED again; when
        // that can no longer even be sent, the machine has gone and no status
        // will ever come, so the wait ends.
        while (m_iStsChk(iSock) != 0) {
            if (SCK_iStopRequested() != 0 || m_iLEDSet(iSock, 1) == -1) {
                return false;
            }
            vCardWaitPause();
        }
        if (m_iWrite(tPat, iSock) != 0) {
            return false;
        }
        if (m_iCardPut(tPat, iSock) != 0) {
            return false;
        }
        return true;
    };

    bool bIssued = bIssue();
    if (bIssued && SCK_iStopRequested() == 0) {
        m_iLEDSet(iSock, 0);
    }
    // A stop that came at any point up to here ends the run on the reset
    // path too, with the status of a process the signal had ended.
    const int iStopSig = SCK_iStopRequested();
    if (!bIssued || iStopSig != 0) {
        if (iStopSig != 0) {
            char cLog[64];
            snprintf(cLog, sizeof cLog, "× 中断されました（シグナル%d）", iStopSig);
            vLogAdd(cLog);
            SCK_vStopDone();  // the reset gets its full waits
        }
        // The socket is left to the end of the process; the reset goes first.
        vLogAdd("切断（プリンターリセット）");
        m_iPrtReset(iSock);
        vFree();
        return iStopSig != 0 ? 128 + iStopSig : 0;
    }

    SCK_iClose(iSock);
    vLogAdd("切断");
    vFree();
    return 0;
}
