// vestrun: issues one patient registration card on the issuing machine.
// One process, one card: the picture, the stripe and the card output, in a
// fixed order; the run log on standard output tells how it went.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "head.h"
#include "sock.h"

namespace {

constexpr char kUsage[] =
    "Usage : vestrun [ホスト名] [ポート番号] [印字形式] [bmpファイル] [患者番号] [患者名] [カナ氏名] [生年月日] [性別] "
    "[初診日] ";
constexpr char kTracePath[] = "/tmp/jisTest.txt";
// Pause between two passes of the wait for a card, with the LED lit.
constexpr unsigned kCardWaitSec = 3;

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
            if (m_iLEDSet(iSock, 1) == -1) {
                return false;
            }
            sleep(kCardWaitSec);
        }
        if (m_iWrite(tPat, iSock) != 0) {
            return false;
        }
        if (m_iCardPut(tPat, iSock) != 0) {
            return false;
        }
        return true;
    };

    if (!bIssue()) {
        // The socket is left to the end of the process; the reset goes first.
        vLogAdd("切断（プリンターリセット）");
        m_iPrtReset(iSock);
        vFree();
        return 0;
    }

    m_iLEDSet(iSock, 0);
    SCK_iClose(iSock);
    vLogAdd("切断");
    vFree();
    return 0;
}
