// Any file an operator might hand the card run as its picture: read it, turn
// it into columns, and, when the machine can take it, cut it into bands and
// spans of ink and build every image frame, as the card run does. Nothing may
// crash, overrun or leak; a refused file leaves nothing allocated.
#include <sys/mman.h>

#include <string>

#include "bitmap.h"
#include "frames.h"
#include "fuzz.h"
#include "head.h"
#include "picture.h"
#include "sock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The file lives in memory: no disk in the loop, nothing left behind.
    static const std::string sPath = "/proc/self/fd/" + std::to_string(memfd_create("fuzz_bmp", 0));
    if (size > (1 << 20)) return 0;
    fz::Write(sPath.c_str(), data, size);
    T_PAT_INF tPat{};
    HeaderInfo tHead{};
    if (ReadBmp(sPath.c_str(), &tHead, &tPat.stImg) != 0) {
        fz::Check(!tHead.fileHeader && !tHead.infoHeader && !tHead.clrPallet && !tPat.stImg.data,
                  "a refused file left blocks behind");
        return 0;
    }
    char cWhy[128];
    if (ImageRowToCol(&tPat.stImg) == 0 && iBmpCheck(&tPat.stImg, cWhy, sizeof cWhy) == 0) {
        int iBlkN = 0;
        ImgBlock *pBlk = m_GetImageBlk(tPat, &iBlkN);
        fz::Check(pBlk != nullptr, "a picture the machine takes got no bands");
        auto fnFrame = [](void *, char *a_cSnd, int a_iLen) {
            fz::Check(a_iLen >= 4 && a_cSnd[0] == SCK_STX && a_cSnd[1] == 'M' && a_cSnd[a_iLen - 1] == SCK_ETX,
                      "image frame not STX M ... ETX");
            return 0;
        };
        fz::Check(iImageBlkFrames(&tPat.stImg, pBlk, iBlkN, fnFrame, nullptr) == 0, "image frames refused");
        vImgBlkFree(pBlk, iBlkN);
    }
    FreeImage(&tPat.stImg);
    FreeHeader(&tHead);
    return 0;
}
