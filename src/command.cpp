// The printer commands: one function per machine command. Each builds its
// frame from the patient record or the picture and runs it through the link.
// The frame and record building lives in pure functions (declared in
// frames.h) so that it can be exercised without a machine on the other end.

#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cfile.h"
#include "frames.h"
#include "head.h"
#include "picture.h"
#include "settings.h"
#include "sock.h"
#include "trace.h"

namespace {

constexpr char SO = 0x0E;  // shift out: katakana from here on
constexpr char SI = 0x0F;  // shift in: back to the Roman set
constexpr char ESC = 0x1B;

// What our fixed image frames take (the picture buffer's limits are in picture.h).
constexpr int IMG_LSET_MAX_COLB = 59;  // a "C" frame must fit 128 bytes
constexpr int IMG_BSET_MAX_COLB = 63;  // a column's text must fit 128 bytes as a string
constexpr int IMG_LSET_COLS = 480;     // the machine takes columns 0 to 479
constexpr int IMG_TEXT_MAX = 800;      // image text per "M" frame

constexpr int SND_CTL = 128;   // control frames
constexpr int SND_IMG = 1024;  // image frames
constexpr int SND_CHR = 896;   // the character set frame
constexpr int RCV_LEN = 256;   // the most either exchange delivers

// A status reply carries the card state at byte 12 and the cover at byte 16.
constexpr int STS_REPLY_MIN = 17;

// Bytes appended to a fixed buffer, never past its end: once a piece does not
// fit, the builder stays failed and nothing more is written.
class ParmBuf {
public:
    ParmBuf(char *a_cBuf, int a_iCap) : m_cBuf(a_cBuf), m_iCap(a_iCap) {}
    bool Add(const char *a_c, size_t a_iLen)
    {
        if (m_bOver || a_iLen > static_cast<size_t>(m_iCap - m_iLen)) {
            m_bOver = true;
            return false;
        }
        memcpy(m_cBuf + m_iLen, a_c, a_iLen);
        m_iLen += static_cast<int>(a_iLen);
        return true;
    }
    bool Add(const char *a_sz) { return Add(a_sz, strlen(a_sz)); }
    bool AddByte(char a_c) { return Add(&a_c, 1); }
    bool AddF(const char *a_szFmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char cWk[64];
        va_list ap;
        va_start(ap, a_szFmt);
        int iN = vsnprintf(cWk, sizeof cWk, a_szFmt, ap);
        va_end(ap);
        if (iN < 0 || iN >= static_cast<int>(sizeof cWk)) {
            m_bOver = true;
            return false;
        }
        return Add(cWk, static_cast<size_t>(iN));
    }
    int Len() const { return m_iLen; }
    bool Over() const { return m_bOver; }

private:
    char *m_cBuf;
    int m_iCap;
    int m_iLen = 0;
    bool m_bOver = false;
};

// ---- control commands --------------------------------------------------------

// The three lines a command logs: its start, its success, its failure.
struct T_CMD_LOG {
    const char *szStart;
    const char *szOk;
    const char *szNg;
};

// A control command: a fixed frame of a letter and its parameters.
struct T_CTL {
    char cCmd;
    const char *szParm;
    T_CMD_LOG tLog;
};

constexpr T_CMD_LOG LOG_CLEAR = {
    "\x83\x6F\x83\x62\x83\x74\x83\x40\x83\x4E\x83\x8A\x83\x41\x8A\x4A\x8E\x6E" /* バッファクリア開始 */,
    "\x83\x6F\x83\x62\x83\x74\x83\x40\x83\x4E\x83\x8A\x83\x41\x90\xAC\x8C\xF7" /* バッファクリア成功 */,
    "\x81\x7E \x83\x6F\x83\x62\x83\x74\x83\x40\x83\x4E\x83\x8A\x83\x41\x8E\xB8\x94\x73" /* × バッファクリア失敗 */};
constexpr T_CMD_LOG LOG_LED = {"LED\x90\xDD\x92\xE8\x8A\x4A\x8E\x6E" /* LED設定開始 */,
                               "LED\x90\xDD\x92\xE8\x90\xAC\x8C\xF7" /* LED設定成功 */,
                               "\x81\x7E LED\x90\xDD\x92\xE8\x8E\xB8\x94\x73" /* × LED設定失敗 */};
constexpr T_CMD_LOG LOG_PUT = {
    "\x83\x4A\x81\x5B\x83\x68\x8F\x6F\x97\xCD\x8A\x4A\x8E\x6E" /* カード出力開始 */,
    "\x83\x4A\x81\x5B\x83\x68\x8F\x6F\x97\xCD\x90\xAC\x8C\xF7" /* カード出力成功 */,
    "\x81\x7E \x83\x4A\x81\x5B\x83\x68\x8F\x6F\x97\xCD\x8E\xB8\x94\x73" /* × カード出力失敗 */};

constexpr T_CTL CTL_STS = {
    'Y',
    "",
    {"\x83\x58\x83\x65\x81\x5B\x83\x5E\x83\x58\x83\x60\x83\x46\x83\x62\x83\x4E\x8A\x4A\x8E\x6E" /* ステータスチェック開始 */
     ,
     "\x83\x58\x83\x65\x81\x5B\x83\x5E\x83\x58\x83\x60\x83\x46\x83\x62\x83\x4E\x90\xAC\x8C\xF7" /* ステータスチェック成功 */
     ,
     "\x81\x7E \x83\x58\x83\x65\x81\x5B\x83\x5E\x83\x58\x83\x60\x83\x46\x83\x62\x83\x4E\x8E\xB8\x94\x73" /* × ステータスチェック失敗 */}};
// The two buffer clears log the same lines: the log does not tell them apart.
constexpr T_CTL CTL_CLR = {'@', "", LOG_CLEAR};
constexpr T_CTL CTL_CLRALL = {'I', "", LOG_CLEAR};
constexpr T_CTL CTL_LED_ON = {'Z', "412", LOG_LED};
constexpr T_CTL CTL_LED_OFF = {'Z', "010", LOG_LED};
// The reset announces itself by its bare name: it is the last word of a run that failed.
constexpr T_CTL CTL_RESET = {
    '_',
    "",
    {"\x83\x76\x83\x8A\x83\x93\x83\x5E\x81\x5B\x83\x8A\x83\x5A\x83\x62\x83\x67" /* プリンターリセット */,
     "\x83\x76\x83\x8A\x83\x93\x83\x5E\x81\x5B\x83\x8A\x83\x5A\x83\x62\x83\x67\x90\xAC\x8C\xF7" /* プリンターリセット成功 */
     ,
     "\x81\x7E \x83\x76\x83\x8A\x83\x93\x83\x5E\x81\x5B\x83\x8A\x83\x5A\x83\x62\x83\x67\x8E\xB8\x94\x73" /* × プリンターリセット失敗 */}};
constexpr T_CTL CTL_PUT_APPEND = {'G', "1", LOG_PUT};
constexpr T_CTL CTL_PUT_REWRITE = {'F', "1", LOG_PUT};
constexpr T_CTL CTL_MAG_WAIT = {
    '1',
    "2",
    {"\x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x81\x7B\x91\xD2\x8B\x40\x8A\x4A\x8E\x6E" /* 磁気書込＋待機開始 */,
     "\x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x81\x7B\x91\xD2\x8B\x40\x90\xAC\x8C\xF7" /* 磁気書込＋待機成功 */,
     "\x81\x7E \x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x81\x7B\x91\xD2\x8B\x40\x8E\xB8\x94\x73" /* × 磁気書込＋待機失敗 */}};
// Commands whose frame is built from the record or the settings files.
constexpr T_CMD_LOG LOG_MAG = {"\x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x8A\x4A\x8E\x6E" /* 磁気書込開始 */,
                               "\x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x90\xAC\x8C\xF7" /* 磁気書込成功 */,
                               "\x81\x7E \x8E\xA5\x8B\x43\x8F\x91\x8D\x9E\x8E\xB8\x94\x73" /* × 磁気書込失敗 */};
constexpr T_CMD_LOG LOG_CHARSET = {
    "\x83\x4C\x83\x83\x83\x89\x83\x4E\x83\x5E\x83\x5A\x83\x62\x83\x67\x8A\x4A\x8E\x6E" /* キャラクタセット開始 */,
    "\x83\x4C\x83\x83\x83\x89\x83\x4E\x83\x5E\x83\x5A\x83\x62\x83\x67\x90\xAC\x8C\xF7" /* キャラクタセット成功 */,
    "\x81\x7E \x83\x4C\x83\x83\x83\x89\x83\x4E\x83\x5E\x83\x5A\x83\x62\x83\x67\x8E\xB8\x94\x73" /* × キャラクタセット失敗 */};

// Every command's exchange: run the built frame through the command exchange
// and log the result. A frame that could not be built (a_iSndLen < 0) goes
// nowhere: it is logged as a failure and gives -99. A reply shorter than
// a_iMinRcv is no answer to the question asked: it is logged as a failure and
// gives -1. Otherwise the exchange's code is returned unchanged.
int iCmdExchange(int a_iSock, const T_CMD_LOG &a_tLog, char *a_cSnd, int a_iSndLen, char *a_cRcv, int *a_iRcvLen,
                 int a_iMinRcv = 0)
{
    int iRet = -99;
    if (a_iSndLen >= 0) {
        *a_iRcvLen = 0;
        iRet = SCK_iSendRecv(a_iSock, a_cSnd, a_iSndLen, a_cRcv, a_iRcvLen);
        if (iRet == 0 && *a_iRcvLen < a_iMinRcv) {
            iRet = -1;
        }
    }
    vLogAdd(iRet == 0 ? a_tLog.szOk : a_tLog.szNg);
    return iRet;
}

// A control command: log the start (and a_szDetail, when given, after it),
// lay out its fixed frame and exchange it.
int iCtlRun(int a_iSock, const T_CTL &a_tCtl, const char *a_szDetail, char *a_cRcv, int *a_iRcvLen, int a_iMinRcv = 0)
{
    vLogAdd(a_tCtl.tLog.szStart);
    if (a_szDetail != nullptr) {
        vLogAdd(a_szDetail);
    }
    char cSnd[SND_CTL] = {};
    int iSndLen = SCK_iFrame(cSnd, sizeof cSnd, a_tCtl.cCmd, a_tCtl.szParm, static_cast<int>(strlen(a_tCtl.szParm)));
    return iCmdExchange(a_iSock, a_tCtl.tLog, cSnd, iSndLen, a_cRcv, a_iRcvLen, a_iMinRcv);
}

int iCtlSimple(int a_iSock, const T_CTL &a_tCtl)
{
    char cRcv[RCV_LEN] = {};
    int iRcvLen = 0;
    return iCtlRun(a_iSock, a_tCtl, nullptr, cRcv, &iRcvLen);
}

// ---- pictures -----------------------------------------------------------------

// Bytes of one column of a 1-bit picture: one byte per 8 pixel rows.
int iColBytes(const Image *a_stImg)
{
    uint64_t iBytes = (static_cast<uint64_t>(a_stImg->height) + 7u) / 8u;  // no wrap for any height
    return iBytes > INT_MAX ? INT_MAX : static_cast<int>(iBytes);
}

// The picture is one the machine can take and holds its pixels.
bool bImgFits(const Image *a_stImg)
{
    if (iBmpCheck(a_stImg, nullptr, 0) != 0) {
        return false;
    }
    return a_stImg->data != nullptr || a_stImg->width == 0 || a_stImg->height == 0;
}

// The bands and spans describe regions inside the picture, so that every
// column and byte-row they name can be read.
bool bBlocksFit(const Image *a_stImg, const ImgBlock *a_stBlk, int a_iBlkN)
{
    if (a_iBlkN < 0 || (a_iBlkN > 0 && a_stBlk == nullptr)) {
        return false;
    }
    int iDatL = iColBytes(a_stImg);
    int iW = static_cast<int>(a_stImg->width);
    for (int k = 0; k < a_iBlkN; k++) {
        const ImgBlock &b = a_stBlk[k];
        if (b.blkStY < 0 || b.blkStY > b.blkEndY || b.blkEndY >= iDatL || b.blkN < 0 ||
            (b.blkN > 0 && b.blkX == nullptr)) {
            return false;
        }
        for (int s = 0; s < b.blkN; s++) {
            if (b.blkX[s].blkStX < 0 || b.blkX[s].blkStX > b.blkX[s].blkEndX || b.blkX[s].blkEndX >= iW) {
                return false;
            }
        }
    }
    return true;
}

// Hex text of column a_iCol into a_cAscii (zero-filled, room for 128 bytes);
// the column's length in bytes, or -1 when it cannot be had.
int iColText(Image *a_stImg, int a_iCol, std::array<char, 129> &a_cAscii)
{
    a_cAscii.fill('\0');
    int iByts = 0;
    unsigned char *pCol = GetDatCol(a_stImg, a_iCol, &iByts);
    if (pCol == nullptr || iByts < 0 || 2 * iByts > 128) {
        return -1;
    }
    BinaryToAscii(pCol, a_cAscii.data(), iByts);
    return iByts;
}

// Sends an "M" frame of parameters a_cParm through the sink.
int iSendImgFrame(char a_cCmd, const char *a_cParm, int a_iParmLen, T_FRAME_SINK a_pSink, void *a_pCtx)
{
    char cSnd[SND_IMG] = {};
    int iLen = SCK_iFrame(cSnd, sizeof cSnd, a_cCmd, a_cParm, a_iParmLen);
    if (iLen < 0) {
        return -99;
    }
    return a_pSink(a_pCtx, cSnd, iLen);
}

// An "M" frame being filled: its head names the first column, the band's first
// byte-row and the bytes per column; the columns' text follows. It goes out
// when it holds as many columns as 800 characters of text allow, or when the
// caller's run of columns ends. It writes into its own array, so it is
// never copied: a copy would go on writing into the original's.
class MFramePack {
public:
    MFramePack(int a_iPrtStart, int a_iDatL, T_FRAME_SINK a_pSink, void *a_pCtx)
        : m_iPrtStart(a_iPrtStart), m_iDatL(a_iDatL), m_iSndN(IMG_TEXT_MAX / (2 * a_iDatL)), m_pSink(a_pSink),
          m_pCtx(a_pCtx)
    {
    }
    MFramePack(const MFramePack &) = delete;
    MFramePack &operator=(const MFramePack &) = delete;
    // 0, the sink's failure, or -99 when the frame would not fit its buffer.
    int Column(int a_iCol, const char *a_cText, size_t a_iLen, bool a_bLast)
    {
        if (m_iSndCnt == 0) {
            m_tParm = ParmBuf(m_cParm, sizeof m_cParm);
            m_tParm.AddF("%d,%d,%d,", a_iCol, m_iPrtStart, m_iDatL);
        }
        m_tParm.Add(a_cText, a_iLen);
        if (++m_iSndCnt < m_iSndN && !a_bLast) {
            return 0;
        }
        m_iSndCnt = 0;
        if (m_tParm.Over()) {
            return -99;
        }
        return iSendImgFrame('M', m_cParm, m_tParm.Len(), m_pSink, m_pCtx);
    }

private:
    int m_iPrtStart;
    int m_iDatL;
    int m_iSndN;
    T_FRAME_SINK m_pSink;
    void *m_pCtx;
    int m_iSndCnt = 0;
    char m_cParm[SND_IMG];
    ParmBuf m_tParm{m_cParm, sizeof m_cParm};
};

// The run-log lines of the image transfers. The block transfer ends with
// "完了", the whole-picture transfers with "成功".
constexpr char IMG_START[] =
    "\x8A\x4F\x95\x94\x83\x43\x83\x81\x81\x5B\x83\x57\x93\x57\x8A\x4A\x8A\x4A\x8E\x6E" /* 外部イメージ展開開始 */;
constexpr char IMG_NG[] =
    "\x81\x7E \x8A\x4F\x95\x94\x83\x43\x83\x81\x81\x5B\x83\x57\x93\x57\x8A\x4A\x8E\xB8\x94\x73" /* × 外部イメージ展開失敗 */
    ;

struct T_IMG_SINK {
    int iSock;
    bool bLogEach;  // the block transfer announces every frame in the log
};

int iImgSinkSend(void *a_pCtx, char *a_cSnd, int a_iLen)
{
    auto *pCtx = static_cast<T_IMG_SINK *>(a_pCtx);
    if (pCtx->bLogEach) {
        vLogAdd("\x83\x43\x83\x81\x81\x5B\x83\x57\x91\x97\x90\x4D\x8A\x4A\x8E\x6E" /* イメージ送信開始 */);
    }
    char cRcv[RCV_LEN] = {};
    int iRcvLen = 0;
    return SCK_iSendImage(pCtx->iSock, a_cSnd, a_iLen, cRcv, &iRcvLen);
}

// ---- magnetic record ------------------------------------------------------------

// a_iWidth bytes of a_cSrc (at most a_iMax of it, up to its NUL), filled with a_cFill.
void vFixField(char *a_cDst, int a_iWidth, const char *a_cSrc, size_t a_iMax, char a_cFill)
{
    size_t iLen = strnlen(a_cSrc, a_iMax);
    if (iLen > static_cast<size_t>(a_iWidth)) {
        iLen = static_cast<size_t>(a_iWidth);
    }
    memcpy(a_cDst, a_cSrc, iLen);
    memset(a_cDst + iLen, a_cFill, static_cast<size_t>(a_iWidth) - iLen);
}

// Record layout: 10 patient number, 24 kana, 8 birth date, 1 sex, ESC K,
// 14 kanji, ESC H, 8 first visit.
constexpr int MAG_REC_LEN = 69;

// ---- character set --------------------------------------------------------------

struct T_SEX_WORD {
    const char *szWord;
    const char *szLog;
};
constexpr T_SEX_WORD SEX_MALE_SHORT = {"\x92\x6A" /* 男 */, "\x81\x40\x92\x6A" /* 　男 */};
constexpr T_SEX_WORD SEX_MALE_LONG = {"\x92\x6A\x90\xAB" /* 男性 */, "\x81\x40\x92\x6A\x90\xAB" /* 　男性 */};
constexpr T_SEX_WORD SEX_FEMALE_SHORT = {"\x8F\x97" /* 女 */, "\x81\x40\x8F\x97" /* 　女 */};
constexpr T_SEX_WORD SEX_FEMALE_LONG = {"\x8F\x97\x90\xAB" /* 女性 */, "\x81\x40\x8F\x97\x90\xAB" /* 　女性 */};

const T_SEX_WORD &tSexWord(char a_cSEX, int a_iStyle)
{
    bool bShort = a_iStyle == '0';
    if (a_cSEX == '1') {
        return bShort ? SEX_MALE_SHORT : SEX_MALE_LONG;
    }
    return bShort ? SEX_FEMALE_SHORT : SEX_FEMALE_LONG;
}

// A position field: a decimal number as the layout's author wrote it; blanks
// and a sign may lead, the first other byte ends it, no digits read as 0.
int iLayoutNum(const char *a_sz)
{
    long lVal = strtol(a_sz, nullptr, 10);
    if (lVal > INT_MAX) {
        return INT_MAX;
    }
    if (lVal < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(lVal);
}

}  // namespace

// ---- control commands -------------------------------------------------------------

int m_iStsChk(int a_iSock)
{
    char cRcv[RCV_LEN] = {};
    int iRcvLen = 0;
    // Bytes 12 and 16 carry the card and the cover: a reply that stops short
    // of them says nothing, and must never read as "card ready, cover closed".
    if (iCtlRun(a_iSock, CTL_STS, nullptr, cRcv, &iRcvLen, STS_REPLY_MIN) != 0) {
        return -1;
    }
    int iRet = 0;
    if (cRcv[12] == '0') {
        vLogAdd(
            "\x83\x4A\x81\x5B\x83\x68\x82\xF0\x91\x7D\x93\xFC\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2" /* カードを挿入してください */);
        iRet = -2;
    } else if (cRcv[12] == '2') {
        vLogAdd(
            "\x94\xAD\x8D\x73\x8B\x40\x82\xC9\x94\xB2\x82\xAB\x8E\xE6\x82\xE8\x91\xD2\x82\xBF\x82\xCC\x83\x4A\x81\x7C\x83\x68\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7" /* 発行機に抜き取り待ちのカ－ドがあります */);
        iRet = -3;
    }
    if (cRcv[16] == '1') {
        vLogAdd(
            "\x83\x4A\x83\x6F\x81\x7C\x82\xAA\x8A\x4A\x82\xA2\x82\xC4\x82\xA2\x82\xDC\x82\xB7" /* カバ－が開いています */);
        iRet = -4;
    }
    return iRet;
}

int m_iBufClear(int a_iSock) { return iCtlSimple(a_iSock, CTL_CLR); }

int m_iBufClearAll(int a_iSock) { return iCtlSimple(a_iSock, CTL_CLRALL); }

int m_iLEDSet(int a_iSock, int a_iFlg) { return iCtlSimple(a_iSock, a_iFlg == 1 ? CTL_LED_ON : CTL_LED_OFF); }

int m_iPrtReset(int a_iSock) { return iCtlSimple(a_iSock, CTL_RESET); }

// ---- card output --------------------------------------------------------------------

int m_iCardPut(T_PAT_INF a_tPat, int a_iSock)
{
    char cRcv[RCV_LEN] = {};
    int iRcvLen = 0;
    if (a_tPat.cStyFlg == '0') {
        return iCtlRun(a_iSock, CTL_PUT_APPEND, "\x81\x40\x92\xC7\x8B\x4C\x83\x4A\x81\x5B\x83\x68" /* 　追記カード */,
                       cRcv, &iRcvLen);
    }
    return iCtlRun(a_iSock, CTL_PUT_REWRITE, "\x81\x40\x83\x8A\x83\x89\x83\x43\x83\x67" /* 　リライト */, cRcv,
                   &iRcvLen);
}

// ---- magnetic write -------------------------------------------------------------------

int iKanaField(const char *a_szNameKANA, char *a_cField)
{
    // The name, filled with blanks to 24 bytes; the byte after them is looked
    // at when a blank stands last, so it is kept as the name has it.
    std::array<char, 26> cIn{};
    size_t iLen = strnlen(a_szNameKANA, 25);
    memcpy(cIn.data(), a_szNameKANA, iLen);
    if (iLen < 24) {
        memset(cIn.data() + iLen, ' ', 24 - iLen);
    }
    // The half-width full stop never goes on the stripe: it parts the name
    // like a blank.
    for (int i = 0; i < 24; i++) {
        if (cIn[i] == 0x21) {
            cIn[i] = ' ';
        }
    }

    // Family part, SI, blank, SO, given part, SI. Two blanks count as one;
    // the second group of blanks ends the name.
    std::array<char, 32> cOut{};
    int iOut = 0;
    cOut[iOut++] = SO;
    int iPos = 0;
    bool bParted = false;
    while (iPos < 24) {
        if (cIn[iPos] != ' ') {
            cOut[iOut++] = cIn[iPos++];
            continue;
        }
        cOut[iOut++] = SI;
        if (cIn[iPos + 1] == ' ') {
            iPos++;
        }
        if (bParted) {
            break;
        }
        bParted = true;
        cOut[iOut++] = ' ';
        cOut[iOut++] = SO;
        iPos++;
    }
    // One rule closes the field in its last byte: an SO standing there (a
    // given part with no room) becomes a blank, anything else an SI. It
    // applies when the name ran to the end of the field, where a name that
    // fills it is closed, and whenever the cut to 24 bytes leaves the field
    // shifted out: the stripe's reader takes every byte after an SO as
    // katakana until an SI, so the birth date and the sex would read as kana.
    const bool bRanToEnd = iPos == 24;
    bool bLeftOut = false;
    for (int i = 23; i >= 0 && i < iOut; i--) {
        if (cOut[i] == SI || cOut[i] == SO) {
            bLeftOut = cOut[i] == SO;
            break;
        }
    }
    if (iOut >= 24 && (bRanToEnd || bLeftOut)) {
        cOut[23] = cOut[23] == SO ? ' ' : SI;
    }
    if (iOut > 24) {
        iOut = 24;
    }
    memcpy(a_cField, cOut.data(), static_cast<size_t>(iOut));
    memset(a_cField + iOut, ' ', static_cast<size_t>(24 - iOut));
    a_cField[24] = '\0';
    return 24;
}

int iMagRecord(const T_PAT_INF *a_tPat, char *a_cSnd, int a_iSize, char *a_szJis, int a_iJisSize)
{
    // A cut patient number would name another patient, and a missing sex
    // would end the record early: neither goes on a stripe.
    size_t iIdLen = strnlen(a_tPat->szID, sizeof a_tPat->szID);
    if (iIdLen > 10 || a_tPat->cSEX == '\0') {
        return -99;
    }

    std::array<char, MAG_REC_LEN> cRec{};
    char *p = cRec.data();
    memset(p, ' ', 10 - iIdLen);
    memcpy(p + 10 - iIdLen, a_tPat->szID, iIdLen);
    p += 10;

    std::array<char, sizeof a_tPat->szNameKANA + 1> cKana{};
    memcpy(cKana.data(), a_tPat->szNameKANA, sizeof a_tPat->szNameKANA);
    char cKanaFld[25];
    iKanaField(cKana.data(), cKanaFld);
    memcpy(p, cKanaFld, 24);
    p += 24;

    vFixField(p, 8, a_tPat->szBirthDate, sizeof a_tPat->szBirthDate, ' ');
    p += 8;
    *p++ = a_tPat->cSEX;
    *p++ = ESC;
    *p++ = 'K';

    // Kanji name in JIS codes; the converter never lengthens its input, but
    // its output buffer is made roomy all the same.
    std::array<unsigned char, sizeof a_tPat->szNameKANJI> cSJis{};
    memcpy(cSJis.data(), a_tPat->szNameKANJI, strnlen(a_tPat->szNameKANJI, sizeof a_tPat->szNameKANJI - 1));
    std::array<unsigned char, 2 * sizeof a_tPat->szNameKANJI> cJis{};
    iSJIStoJIS(cSJis.data(), cJis.data());
    cJis.back() = '\0';
    const char *szJis = reinterpret_cast<const char *>(cJis.data());
    vFixField(p, 14, szJis, cJis.size(), 0x21);
    p += 14;
    *p++ = ESC;
    *p++ = 'H';
    vFixField(p, 8, a_tPat->szFirstDate, sizeof a_tPat->szFirstDate, ' ');

    // The record is counted to its ETX: a NUL would cut it, an STX or ETX
    // inside it would end the frame before its end.
    for (char c : cRec) {
        if (c == '\0' || c == SCK_STX || c == SCK_ETX) {
            return -99;
        }
    }

    int iLen = SCK_iFrame(a_cSnd, a_iSize, '9', cRec.data(), MAG_REC_LEN);
    if (iLen < 0) {
        return -1;
    }
    if (a_szJis != nullptr && a_iJisSize > 0) {
        snprintf(a_szJis, static_cast<size_t>(a_iJisSize), "%s", szJis);
    }
    return iLen;
}

int m_iWrite(T_PAT_INF a_tPat, int a_iSock)
{
    vLogAdd(LOG_MAG.szStart);
    char cSnd[SND_CTL] = {};
    char cJis[2 * sizeof a_tPat.szNameKANJI] = {};
    // A record that cannot go on a stripe whole is never sent (-99).
    int iSndLen = iMagRecord(&a_tPat, cSnd, sizeof cSnd, cJis, sizeof cJis);
    if (iSndLen >= 0) {
        iJisTraceAppend(TRACE_PATH, cJis);
    }
    char cRcv[RCV_LEN] = {};
    int iRcvLen = 0;
    int iRet = iCmdExchange(a_iSock, LOG_MAG, cSnd, iSndLen, cRcv, &iRcvLen);
    if (iRet != 0) {
        return iRet;
    }
    return iCtlRun(a_iSock, CTL_MAG_WAIT, nullptr, cRcv, &iRcvLen);
}

// ---- image block transfer ----------------------------------------------------------

int iBmpCheck(const Image *a_stImg, char *a_szWhy, size_t a_iSize)
{
    if (a_stImg->bitCnt == 1 && a_stImg->width <= PIC_MAX_W && a_stImg->height <= PIC_MAX_H) {
        return 0;
    }
    if (a_szWhy != nullptr && a_iSize > 0) {
        snprintf(a_szWhy, a_iSize,
                 "%u bits per pixel, %u x %u pixels; the machine takes 1 bit per pixel, "
                 "at most %u x %u pixels",
                 static_cast<unsigned>(a_stImg->bitCnt), static_cast<unsigned>(a_stImg->width),
                 static_cast<unsigned>(a_stImg->height), static_cast<unsigned>(PIC_MAX_W),
                 static_cast<unsigned>(PIC_MAX_H));
    }
    return -1;
}

void vImgBlkFree(ImgBlock *a_stBlk, int a_iBlkN)
{
    if (a_stBlk == nullptr) {
        return;
    }
    for (int i = 0; i < a_iBlkN; i++) {
        free(a_stBlk[i].blkX);
        a_stBlk[i].blkX = nullptr;
    }
    free(a_stBlk);
}

ImgBlock *m_GetImageBlk(T_PAT_INF a_tPat, int *blkN)
{
    Image *pImg = &a_tPat.stImg;
    char cWhy[160];
    if (iBmpCheck(pImg, cWhy, sizeof cWhy) != 0) {
        fprintf(stderr, "m_GetImageBlk: %s\n", cWhy);
        return nullptr;
    }
    if (!bImgFits(pImg)) {
        return nullptr;  // a picture without its pixels
    }
    int iDatL = iColBytes(pImg);
    int iW = static_cast<int>(pImg->width);

    std::array<int, PIC_MAX_W> hist{};
    GetHist(pImg, 0, 0, iW, iDatL, hist.data(), 0);
    int iBlkNumY = GetBlkNum(hist.data(), iDatL);
    // One entry more than needed, so that a picture without ink still gets
    // an array of its own (and malloc(0) is never asked).
    auto *stBlk = static_cast<ImgBlock *>(calloc(static_cast<size_t>(iBlkNumY) + 1, sizeof(ImgBlock)));
    if (stBlk == nullptr) {
        return nullptr;
    }
    std::array<int, PIC_MAX_H / 8 * 2> blkY{};
    GetBlk(hist.data(), iDatL, blkY.data());

    for (int k = 0; k < iBlkNumY; k++) {
        hist.fill(0);
        stBlk[k].blkStY = blkY[2 * k];
        stBlk[k].blkEndY = blkY[2 * k + 1];
        GetHist(pImg, 0, stBlk[k].blkStY, iW, stBlk[k].blkEndY + 1, hist.data(), 1);
        int iBlkNumX = GetBlkNum(hist.data(), iW);
        std::array<int, PIC_MAX_W + 2> blkX{};
        GetBlk(hist.data(), iW, blkX.data());
        stBlk[k].blkX = ModifyBlock(blkX.data(), 16, &iBlkNumX);
        if (stBlk[k].blkX == nullptr) {
            for (int j = 0; j < k; j++) {
                free(stBlk[j].blkX);
            }
            free(stBlk);
            vLogAdd(
                "\x81\x7E \x83\x43\x83\x81\x81\x5B\x83\x57\x83\x75\x83\x8D\x83\x62\x83\x4E\x8F\x43\x90\xB3\x81\x46\x83\x47\x83\x89\x81\x5B" /* × イメージブロック修正：エラー */);
            return nullptr;
        }
        stBlk[k].blkN = iBlkNumX;
    }
    *blkN = iBlkNumY;
    return stBlk;
}

int iImageBlkFrames(const Image *a_stImg, const ImgBlock *a_stBlk, int a_iBlkN, T_FRAME_SINK a_pSink, void *a_pCtx)
{
    Image stImg = *a_stImg;
    if (!bImgFits(&stImg) || !bBlocksFit(&stImg, a_stBlk, a_iBlkN)) {
        return -99;
    }
    std::array<char, 129> cAscii{};
    for (int k = 0; k < a_iBlkN; k++) {
        const ImgBlock &b = a_stBlk[k];
        int iPrtStart = b.blkStY;
        int iDatL = b.blkEndY - b.blkStY + 1;
        for (int s = 0; s < b.blkN; s++) {
            // Every span starts a frame of its own.
            MFramePack tFrame(iPrtStart, iDatL, a_pSink, a_pCtx);
            for (int jj = b.blkX[s].blkStX; jj <= b.blkX[s].blkEndX; jj++) {
                if (iColText(&stImg, jj, cAscii) < 0) {
                    return -99;
                }
                int iRet = tFrame.Column(jj, cAscii.data() + 2 * iPrtStart, static_cast<size_t>(2 * iDatL),
                                         jj == b.blkX[s].blkEndX);
                if (iRet != 0) {
                    return iRet;
                }
            }
        }
    }
    return 0;
}

int m_iImageBlkSet(T_PAT_INF a_tPat, int a_iSock, ImgBlock *stBlk, int blkNumY)
{
    vLogAdd(IMG_START);
    T_IMG_SINK tSink = {a_iSock, true};
    int iRet = iImageBlkFrames(&a_tPat.stImg, stBlk, blkNumY, iImgSinkSend, &tSink);
    if (iRet != 0) {
        vLogAdd(IMG_NG);
        return iRet;
    }
    vLogAdd(
        "\x8A\x4F\x95\x94\x83\x43\x83\x81\x81\x5B\x83\x57\x93\x57\x8A\x4A\x8A\xAE\x97\xB9" /* 外部イメージ展開完了 */);
    return 0;
}

// ---- whole-image transfer --------------------------------------------------------------

int iImageLFrames(const Image *a_stImg, T_FRAME_SINK a_pSink, void *a_pCtx)
{
    Image stImg = *a_stImg;
    if (stImg.bitCnt != 1 || iColBytes(&stImg) > IMG_LSET_MAX_COLB) {
        return -99;
    }
    std::array<char, 129> cAscii{};
    int iCols = stImg.width < static_cast<uint32_t>(IMG_LSET_COLS) ? static_cast<int>(stImg.width) : IMG_LSET_COLS;
    for (int ii = 0; ii < iCols; ii++) {
        if (iColText(&stImg, ii, cAscii) < 0) {
            return -99;
        }
        char cParm[SND_CTL];
        ParmBuf tParm(cParm, sizeof cParm);
        tParm.AddF("%d,%d,", ii, 0);
        tParm.Add(cAscii.data());
        char cSnd[SND_CTL] = {};
        int iLen = tParm.Over() ? -1 : SCK_iFrame(cSnd, sizeof cSnd, 'C', cParm, tParm.Len());
        if (iLen < 0) {
            return -99;
        }
        int iRet = a_pSink(a_pCtx, cSnd, iLen);
        if (iRet != 0) {
            return iRet;
        }
    }
    return 0;
}

namespace {

// Both whole-picture commands: log, build every frame and send it, log.
int iWholeImageSend(const Image *a_stImg, int a_iSock, int (*a_pBuild)(const Image *, T_FRAME_SINK, void *))
{
    vLogAdd(IMG_START);
    T_IMG_SINK tSink = {a_iSock, false};
    int iRet = a_pBuild(a_stImg, iImgSinkSend, &tSink);
    if (iRet != 0) {
        vLogAdd(IMG_NG);
        return iRet;
    }
    vLogAdd(
        "\x8A\x4F\x95\x94\x83\x43\x83\x81\x81\x5B\x83\x57\x93\x57\x8A\x4A\x90\xAC\x8C\xF7" /* 外部イメージ展開成功 */);
    return 0;
}

}  // namespace

int m_iImageLSet(T_PAT_INF a_tPat, int a_iSock) { return iWholeImageSend(&a_tPat.stImg, a_iSock, iImageLFrames); }

int iImageBFrames(const Image *a_stImg, T_FRAME_SINK a_pSink, void *a_pCtx)
{
    Image stImg = *a_stImg;
    int iDatL = iColBytes(&stImg);
    if (stImg.bitCnt != 1 || iDatL > IMG_BSET_MAX_COLB) {
        return -99;
    }
    if (iDatL == 0) {
        return 0;  // nothing to print, and no frame size to derive
    }
    std::array<char, 129> cAscii{};
    MFramePack tFrame(0, iDatL, a_pSink, a_pCtx);
    int iW = static_cast<int>(stImg.width);
    for (int ii = 0; ii < iW; ii++) {
        if (iColText(&stImg, ii, cAscii) < 0) {
            return -99;
        }
        int iRet = tFrame.Column(ii, cAscii.data(), strlen(cAscii.data()), ii == iW - 1);
        if (iRet != 0) {
            return iRet;
        }
    }
    return 0;
}

int m_iImageBSet(T_PAT_INF a_tPat, int a_iSock) { return iWholeImageSend(&a_tPat.stImg, a_iSock, iImageBFrames); }

// ---- character set -----------------------------------------------------------------------

const char *szSexWord(char a_cSEX, int a_iStyle) { return tSexWord(a_cSEX, a_iStyle).szWord; }

int iCharSetLayout(FILE *a_fpLayout, const T_PAT_INF *a_tPat, const char *a_szBirth, const char *a_szSex, char *a_cSnd,
                   int a_iSize)
{
    // The frame, its ETX and its block check must all fit a_iSize bytes.
    if (a_iSize < 4) {
        return -1;
    }
    std::array<char, SND_CHR> cParm{};
    int iCap = a_iSize - 4 < SND_CHR ? a_iSize - 4 : SND_CHR;
    ParmBuf tParm(cParm.data(), iCap);

    // What each of the counted lines 1 to 5 prints after its attribute.
    char cId[sizeof a_tPat->szID + 1] = {};
    memcpy(cId, a_tPat->szID, strnlen(a_tPat->szID, sizeof a_tPat->szID));
    char cKanji[sizeof a_tPat->szNameKANJI + 1] = {};
    memcpy(cKanji, a_tPat->szNameKANJI, strnlen(a_tPat->szNameKANJI, sizeof a_tPat->szNameKANJI));
    char cKanaZen[sizeof a_tPat->szNameKanaZen + 1] = {};
    memcpy(cKanaZen, a_tPat->szNameKanaZen, strnlen(a_tPat->szNameKanaZen, sizeof a_tPat->szNameKanaZen));
    const char *szText[6] = {nullptr, cId, cKanji, a_szBirth, a_szSex, cKanaZen};

    T_SET_LINE tLine;
    memset(&tLine, 0, sizeof tLine);
    while (iSetLineRead(a_fpLayout, &tLine) == 1) {
        int iFlg = tLine.iLine;
        int iN = tLine.iFldN;
        char **szFld = tLine.szFld;
        if (iFlg == 0) {
            if (iN >= 1) {
                tParm.Add(szFld[0]);
            }
        } else if (iFlg == 1) {
            // The patient number follows the head as plain comma-separated fields.
            if (iN >= 1) {
                tParm.AddByte(',');
                tParm.Add(szFld[0]);
            }
            if (iN >= 2) {
                tParm.AddByte(',');
                tParm.Add(szFld[1]);
            }
            if (iN >= 3) {
                tParm.AddByte(',');
                tParm.AddF("%cE", ESC);
                tParm.Add(szFld[2]);
                tParm.Add(szText[1]);
            }
        } else {
            if (iN >= 1) {
                tParm.AddF("%cX%03d", ESC, iLayoutNum(szFld[0]));
            }
            if (iN >= 2) {
                tParm.AddF("%cY%03d", ESC, iLayoutNum(szFld[1]));
            }
            if (iN >= 3 && iFlg <= 5) {
                tParm.AddF("%cE", ESC);
                tParm.Add(szFld[2]);
                tParm.Add(szText[iFlg]);
            }
        }
        if (tParm.Over()) {
            return -1;
        }
    }
    // The machine takes an STX as the start of a new frame: one inside (from
    // an attribute field of the layout) would cut this one in two. An ETX is
    // refused by the frame builder itself.
    if (memchr(cParm.data(), SCK_STX, static_cast<size_t>(tParm.Len())) != nullptr) {
        return -1;
    }
    return SCK_iFrame(a_cSnd, a_iSize, 'A', cParm.data(), tParm.Len());
}

int iCharSetBuild(const T_PAT_INF *a_tPat, char *a_cSnd, int a_iSize)
{
    // The print style is read once for the birth date and the sex word. Both
    // need it, and each reports its absence, as the operator has always seen.
    T_PRT_STYLE tStyle;
    if (iPrtStyleRead(&tStyle) != 0) {
        vLogAdd(MSG_NO_STYLE);
        vLogAdd(MSG_NO_STYLE);
        return -99;
    }
    // The birth date in the era form the print style asks for; a date that
    // has no era form is printed as the record holds it.
    char cBirth[64] = {};
    char cBirthIn[sizeof a_tPat->szBirthDate + 1] = {};
    memcpy(cBirthIn, a_tPat->szBirthDate, strnlen(a_tPat->szBirthDate, sizeof a_tPat->szBirthDate));
    if (iDateForm(cBirthIn, tStyle.cDate, cBirth) != 0) {
        snprintf(cBirth, sizeof cBirth, "%s", cBirthIn);
    }

    vLogAdd("\x90\xAB\x95\xCA\x90\xDD\x92\xE8" /* 性別設定 */);
    const T_SEX_WORD &tSex = tSexWord(a_tPat->cSEX, tStyle.iSex);
    vLogAdd(tSex.szLog);

    CFile fpLayout(fopen("printsetting.txt", "r"));
    if (!fpLayout) {
        vLogAdd(MSG_NO_LAYOUT);
        return -99;
    }
    int iLen = iCharSetLayout(fpLayout.get(), a_tPat, cBirth, tSex.szWord, a_cSnd, a_iSize);
    // A layout that could not be read would go out as an empty character
    // set, reported as a success.
    if (ferror(fpLayout.get()) != 0) {
        vLogAdd(MSG_NO_LAYOUT);
        return -99;
    }
    return iLen < 0 ? -1 : iLen;
}

int m_iCharSet(T_PAT_INF a_tPat, int a_iSock)
{
    vLogAdd(LOG_CHARSET.szStart);
    char cSnd[SND_CHR] = {};
    int iSndLen = iCharSetBuild(&a_tPat, cSnd, sizeof cSnd);
    if (iSndLen == -99) {
        return -99;  // a settings file is missing: said in the log already
    }
    // A layout that asks for more than one frame can carry is never sent
    // (-99, after the failure line).
    char cRcv[SND_CHR] = {};
    int iRcvLen = 0;
    return iCmdExchange(a_iSock, LOG_CHARSET, cSnd, iSndLen, cRcv, &iRcvLen);
}
