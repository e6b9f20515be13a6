// Full-width / half-width katakana, in Shift_JIS or EUC-JP text.
//
// The kana tables below are the one source of the mapping. A half-width table
// holds one byte per entry; its full-width partners hold one two-byte code per
// entry (lead byte first), and entry i of a full-width table belongs to byte i
// of its half-width table. The order of the entries matters: where a byte or a
// code occurs twice, the first entry wins.
//
// The bytes are written as numbers, not as text, so that the tables do not
// depend on the compiler's execution character set.
#include <array>
#include <cstdio>

#include "head.h"
#include "jiscode.h"

namespace {

constexpr unsigned char SS2 = 0x8E;
constexpr unsigned char HALF_DAKUTEN = 0xDE;     // ﾞ
constexpr unsigned char HALF_HANDAKUTEN = 0xDF;  // ﾟ

// ---- plain table -----------------------------------------------------------
constexpr unsigned char kSeihan[] = {
    // ｱｲｳｴｵ ｶｷｸｹｺ ｻｼｽｾｿ ﾀﾁﾂﾃﾄ ﾅﾆﾇﾈﾉ ﾊﾋﾌﾍﾎ ﾏﾐﾑﾒﾓ ﾔﾕﾖ ﾗﾘﾙﾚﾛ ﾜ       (0-43)
    0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0,
    0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xA6, 0xDD,  // ｦ ﾝ                           (44-45)
    0xA7, 0xA8, 0xA9, 0xAA, 0xAB,  // ｧｨｩｪｫ                        (46-50)
    0xAF,                          // ｯ                             (51)
    0xAC, 0xAD, 0xAE,              // ｬｭｮ                           (52-54)
    0xB0, 0xA4, 0xA1, 0xA2, 0xA3,  // ｰ ､ ｡ ｢ ｣                     (55-59)
    0xDE, 0xDF,                    // ﾞ ﾟ                           (60-61)
    0x28, 0x29,                    // ( )                           (62-63)
    0xA5,                          // ･                             (64)
    0xA0,                          // the byte A0: ideographic space (65)
    0};

constexpr unsigned char kSjisSeizen[] = {
    // アイウエオ
    0x83, 0x41, 0x83, 0x43, 0x83, 0x45, 0x83, 0x47, 0x83, 0x49,
    // カキクケコ
    0x83, 0x4A, 0x83, 0x4C, 0x83, 0x4E, 0x83, 0x50, 0x83, 0x52,
    // サシスセソ
    0x83, 0x54, 0x83, 0x56, 0x83, 0x58, 0x83, 0x5A, 0x83, 0x5C,
    // タチツテト
    0x83, 0x5E, 0x83, 0x60, 0x83, 0x63, 0x83, 0x65, 0x83, 0x67,
    // ナニヌネノ
    0x83, 0x69, 0x83, 0x6A, 0x83, 0x6B, 0x83, 0x6C, 0x83, 0x6D,
    // ハヒフヘホ
    0x83, 0x6E, 0x83, 0x71, 0x83, 0x74, 0x83, 0x77, 0x83, 0x7A,
    // マミムメモ
    0x83, 0x7D, 0x83, 0x7E, 0x83, 0x80, 0x83, 0x81, 0x83, 0x82,
    // ヤユヨ
    0x83, 0x84, 0x83, 0x86, 0x83, 0x88,
    // ラリルレロ
    0x83, 0x89, 0x83, 0x8A, 0x83, 0x8B, 0x83, 0x8C, 0x83, 0x8D,
    // ワ ヲ ン
    0x83, 0x8F, 0x83, 0x92, 0x83, 0x93,
    // ァィゥェォ
    0x83, 0x40, 0x83, 0x42, 0x83, 0x44, 0x83, 0x46, 0x83, 0x48,
    // ッ ャュョ
    0x83, 0x62, 0x83, 0x83, 0x83, 0x85, 0x83, 0x87,
    // ー 、 。 「 」
    0x81, 0x5B, 0x81, 0x41, 0x81, 0x42, 0x81, 0x75, 0x81, 0x76,
    // ゛ ゜ （ ） ・
    0x81, 0x4A, 0x81, 0x4B, 0x81, 0x69, 0x81, 0x6A, 0x81, 0x45,
    // ideographic space
    0x81, 0x40, 0};

// EUC-JP has no half-width partner for the ideographic space: one entry fewer.
constexpr unsigned char kEucSeizen[] = {
    // アイウエオ
    0xA5, 0xA2, 0xA5, 0xA4, 0xA5, 0xA6, 0xA5, 0xA8, 0xA5, 0xAA,
    // カキクケコ
    0xA5, 0xAB, 0xA5, 0xAD, 0xA5, 0xAF, 0xA5, 0xB1, 0xA5, 0xB3,
    // サシスセソ
    0xA5, 0xB5, 0xA5, 0xB7, 0xA5, 0xB9, 0xA5, 0xBB, 0xA5, 0xBD,
    // タチツテト
    0xA5, 0xBF, 0xA5, 0xC1, 0xA5, 0xC4, 0xA5, 0xC6, 0xA5, 0xC8,
    // ナニヌネノ
    0xA5, 0xCA, 0xA5, 0xCB, 0xA5, 0xCC, 0xA5, 0xCD, 0xA5, 0xCE,
    // ハヒフヘホ
    0xA5, 0xCF, 0xA5, 0xD2, 0xA5, 0xD5, 0xA5, 0xD8, 0xA5, 0xDB,
    // マミムメモ
    0xA5, 0xDE, 0xA5, 0xDF, 0xA5, 0xE0, 0xA5, 0xE1, 0xA5, 0xE2,
    // ヤユヨ
    0xA5, 0xE4, 0xA5, 0xE6, 0xA5, 0xE8,
    // ラリルレロ
    0xA5, 0xE9, 0xA5, 0xEA, 0xA5, 0xEB, 0xA5, 0xEC, 0xA5, 0xED,
    // ワ ヲ ン
    0xA5, 0xEF, 0xA5, 0xF2, 0xA5, 0xF3,
    // ァィゥェォ
    0xA5, 0xA1, 0xA5, 0xA3, 0xA5, 0xA5, 0xA5, 0xA7, 0xA5, 0xA9,
    // ッ ャュョ
    0xA5, 0xC3, 0xA5, 0xE3, 0xA5, 0xE5, 0xA5, 0xE7,
    // ー 、 。 「 」
    0xA1, 0xBC, 0xA1, 0xA2, 0xA1, 0xA3, 0xA1, 0xD6, 0xA1, 0xD7,
    // ゛ ゜ （ ） ・
    0xA1, 0xAB, 0xA1, 0xAC, 0xA1, 0xCA, 0xA1, 0xCB, 0xA1, 0xA6, 0};

// ---- voiced table ------------------------------------------------------------
constexpr unsigned char kDakhan[] = {
    // ｶｷｸｹｺ ｻｼｽｾｿ ﾀﾁﾂﾃﾄ                                           (0-14)
    0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE,  // ﾊﾋﾌﾍﾎ                          (15-19)
    0xB3,                                                        // ｳ                              (20)
    0};

constexpr unsigned char kSjisDakzen[] = {
    // ガギグゲゴ
    0x83, 0x4B, 0x83, 0x4D, 0x83, 0x4F, 0x83, 0x51, 0x83, 0x53,
    // ザジズゼゾ
    0x83, 0x55, 0x83, 0x57, 0x83, 0x59, 0x83, 0x5B, 0x83, 0x5D,
    // ダヂヅデド
    0x83, 0x5F, 0x83, 0x61, 0x83, 0x64, 0x83, 0x66, 0x83, 0x68,
    // バビブベボ
    0x83, 0x6F, 0x83, 0x72, 0x83, 0x75, 0x83, 0x78, 0x83, 0x7B,
    // ヴ
    0x83, 0x94, 0};

constexpr unsigned char kEucDakzen[] = {
    // ガギグゲゴ
    0xA5, 0xAC, 0xA5, 0xAE, 0xA5, 0xB0, 0xA5, 0xB2, 0xA5, 0xB4,
    // ザジズゼゾ
    0xA5, 0xB6, 0xA5, 0xB8, 0xA5, 0xBA, 0xA5, 0xBC, 0xA5, 0xBE,
    // ダヂヅデド
    0xA5, 0xC0, 0xA5, 0xC2, 0xA5, 0xC5, 0xA5, 0xC7, 0xA5, 0xC9,
    // バビブベボ
    0xA5, 0xD0, 0xA5, 0xD3, 0xA5, 0xD6, 0xA5, 0xD9, 0xA5, 0xDC,
    // ヴ
    0xA5, 0xF4, 0};

// The unvoiced bases of the voiced letters, for text that keeps the mark apart.
constexpr unsigned char kSjisDakzensei[] = {
    // カキクケコ
    0x83, 0x4A, 0x83, 0x4C, 0x83, 0x4E, 0x83, 0x50, 0x83, 0x52,
    // サシスセソ
    0x83, 0x54, 0x83, 0x56, 0x83, 0x58, 0x83, 0x5A, 0x83, 0x5C,
    // タチツテト
    0x83, 0x5E, 0x83, 0x60, 0x83, 0x63, 0x83, 0x65, 0x83, 0x67,
    // ハヒフヘホ
    0x83, 0x6E, 0x83, 0x71, 0x83, 0x74, 0x83, 0x77, 0x83, 0x7A,
    // ウ
    0x83, 0x45, 0};

constexpr unsigned char kEucDakzensei[] = {
    // カキクケコ
    0xA5, 0xAB, 0xA5, 0xAD, 0xA5, 0xAF, 0xA5, 0xB1, 0xA5, 0xB3,
    // サシスセソ
    0xA5, 0xB5, 0xA5, 0xB7, 0xA5, 0xB9, 0xA5, 0xBB, 0xA5, 0xBD,
    // タチツテト
    0xA5, 0xBF, 0xA5, 0xC1, 0xA5, 0xC4, 0xA5, 0xC6, 0xA5, 0xC8,
    // ハヒフヘホ
    0xA5, 0xCF, 0xA5, 0xD2, 0xA5, 0xD5, 0xA5, 0xD8, 0xA5, 0xDB,
    // ウ
    0xA5, 0xA6, 0};

// ---- semi-voiced table -------------------------------------------------------
constexpr unsigned char kHathan[] = {0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0};  // ﾊﾋﾌﾍﾎ

constexpr unsigned char kSjisHatzen[] = {0x83, 0x70, 0x83, 0x73, 0x83, 0x76, 0x83, 0x79, 0x83, 0x7C, 0};  // パピプペポ
constexpr unsigned char kEucHatzen[] = {0xA5, 0xD1, 0xA5, 0xD4, 0xA5, 0xD7, 0xA5, 0xDA, 0xA5, 0xDD, 0};  // パピプペポ
constexpr unsigned char kSjisHatzensei[] = {0x83, 0x6E, 0x83, 0x71, 0x83, 0x74,
                                            0x83, 0x77, 0x83, 0x7A, 0};  // ハヒフヘホ
constexpr unsigned char kEucHatzensei[] = {0xA5, 0xCF, 0xA5, 0xD2, 0xA5, 0xD5,
                                           0xA5, 0xD8, 0xA5, 0xDB, 0};  // ハヒフヘホ

// ---- the separate full-width marks -------------------------------------------
constexpr unsigned char kSjisDakuten[] = {0x81, 0x4A, 0};     // ゛
constexpr unsigned char kSjisHandakuten[] = {0x81, 0x4B, 0};  // ゜
constexpr unsigned char kEucDakuten[] = {0xA1, 0xAB, 0};      // ゛
constexpr unsigned char kEucHandakuten[] = {0xA1, 0xAC, 0};   // ゜

// Entries of a table (the terminating NUL is not one).
template <size_t N>
constexpr int iHalfN(const unsigned char (&)[N])
{
    return static_cast<int>(N) - 1;
}
template <size_t N>
constexpr int iFullN(const unsigned char (&)[N])
{
    return (static_cast<int>(N) - 1) / 2;
}

static_assert(iHalfN(kSeihan) == 66 && iFullN(kSjisSeizen) == 66 && iFullN(kEucSeizen) == 65, "plain table");
static_assert(iHalfN(kDakhan) == 21 && iFullN(kSjisDakzen) == 21 && iFullN(kEucDakzen) == 21 &&
                  iFullN(kSjisDakzensei) == 21 && iFullN(kEucDakzensei) == 21,
              "voiced table");
static_assert(iHalfN(kHathan) == 5 && iFullN(kSjisHatzen) == 5 && iFullN(kEucHatzen) == 5 &&
                  iFullN(kSjisHatzensei) == 5 && iFullN(kEucHatzensei) == 5,
              "semi-voiced table");

// ---- lookups derived from the tables -------------------------------------------
//
// Full-width to half-width: a candidate character (lead, trail) is compared with
// the plain, the voiced and the semi-voiced letters in that order, entry by
// entry, and the first equal entry wins. The same answer is precomputed here
// for every trail byte of each candidate lead, so a character costs one load.
enum : unsigned char { HIT_NONE = 0, HIT_SEI = 1, HIT_DAK = 2, HIT_HAT = 3 };
struct ZenHit {
    unsigned char kind;
    unsigned char idx;
};
using ZenIndex = std::array<ZenHit, 256>;

template <size_t N>
constexpr void vAddFamily(ZenIndex &a_tIdx, unsigned char a_cLead, const unsigned char (&a_cTbl)[N],
                          unsigned char a_cKind)
{
    for (int i = 0; i < iFullN(a_cTbl); i++) {
        if (a_cTbl[2 * i] == a_cLead && a_tIdx[a_cTbl[2 * i + 1]].kind == HIT_NONE) {
            a_tIdx[a_cTbl[2 * i + 1]] = ZenHit{a_cKind, static_cast<unsigned char>(i)};
        }
    }
}

constexpr ZenIndex tZenIndex(unsigned char a_cLead, bool a_bEuc)
{
    ZenIndex tIdx{};
    if (a_bEuc) {
        vAddFamily(tIdx, a_cLead, kEucSeizen, HIT_SEI);
        vAddFamily(tIdx, a_cLead, kEucDakzen, HIT_DAK);
        vAddFamily(tIdx, a_cLead, kEucHatzen, HIT_HAT);
    } else {
        vAddFamily(tIdx, a_cLead, kSjisSeizen, HIT_SEI);
        vAddFamily(tIdx, a_cLead, kSjisDakzen, HIT_DAK);
        vAddFamily(tIdx, a_cLead, kSjisHatzen, HIT_HAT);
    }
    return tIdx;
}

// The only leads that occur in the full-width tables.
constexpr ZenIndex kZenSjis81 = tZenIndex(0x81, false);
constexpr ZenIndex kZenSjis83 = tZenIndex(0x83, false);
constexpr ZenIndex kZenEucA1 = tZenIndex(0xA1, true);
constexpr ZenIndex kZenEucA5 = tZenIndex(0xA5, true);

// Half-width to full-width: the first index of each byte in a half-width table,
// -1 when it is not there (what ustrindex answers).
using HanIndex = std::array<signed char, 256>;

template <size_t N>
constexpr HanIndex tHanIndex(const unsigned char (&a_cTbl)[N])
{
    HanIndex tIdx{};
    for (auto &v : tIdx) {
        v = -1;
    }
    for (int i = iHalfN(a_cTbl) - 1; i >= 0; i--) {
        tIdx[a_cTbl[i]] = static_cast<signed char>(i);
    }
    return tIdx;
}

constexpr HanIndex kSeiIdx = tHanIndex(kSeihan);
constexpr HanIndex kDakIdx = tHanIndex(kDakhan);
constexpr HanIndex kHatIdx = tHanIndex(kHathan);

inline bool bHalfKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// One side (Shift_JIS or EUC-JP) of the tables, chosen once per call.
struct FullSide {
    const unsigned char *cSei;
    int iSeiN;
    const unsigned char *cDak;
    const unsigned char *cDakSei;
    const unsigned char *cHat;
    const unsigned char *cHatSei;
    const unsigned char *cDakuten;
    const unsigned char *cHandakuten;
};

constexpr FullSide kSjisSide = {kSjisSeizen, iFullN(kSjisSeizen), kSjisDakzen,  kSjisDakzensei,
                                kSjisHatzen, kSjisHatzensei,      kSjisDakuten, kSjisHandakuten};
constexpr FullSide kEucSide = {kEucSeizen, iFullN(kEucSeizen), kEucDakzen,  kEucDakzensei,
                               kEucHatzen, kEucHatzensei,      kEucDakuten, kEucHandakuten};

// The voicing mark after the half-width letter that a_cSeq begins with (in
// EUC-JP, SS2 and the letter): JTP_DAKUTEN, JTP_HANDAKUTEN or JTP_SEITEN.
// The mark is recognised even beyond srclen: only a sequence's first byte has
// to lie inside. A mark byte is only read when everything before it is not
// the terminator.
int iMarkAfter(const unsigned char *a_cSeq, bool a_bSjis)
{
    unsigned char n;
    if (a_bSjis) {
        n = a_cSeq[1];
    } else if (a_cSeq[2] == SS2) {
        n = a_cSeq[3];
    } else {
        return JTP_SEITEN;
    }
    return n == HALF_DAKUTEN ? JTP_DAKUTEN : n == HALF_HANDAKUTEN ? JTP_HANDAKUTEN : JTP_SEITEN;
}

// Where a half-width letter with its mark finds its full-width form: the
// entry (-1 when there is none), the table and its number of entries, and the
// separate mark written after it (null when the form includes its mark).
struct FullHit {
    int idx;
    int iEntN;
    const unsigned char *cFull;
    const unsigned char *cMark;
};

FullHit tFullOf(unsigned char a_cLetter, int a_iJtp, const FullSide &a_tSide, bool a_bDakutsuke)
{
    if (a_iJtp == JTP_DAKUTEN) {
        return {kDakIdx[a_cLetter], iHalfN(kDakhan), a_bDakutsuke ? a_tSide.cDak : a_tSide.cDakSei,
                a_bDakutsuke ? nullptr : a_tSide.cDakuten};
    }
    if (a_iJtp == JTP_HANDAKUTEN) {
        return {kHatIdx[a_cLetter], iHalfN(kHathan), a_bDakutsuke ? a_tSide.cHat : a_tSide.cHatSei,
                a_bDakutsuke ? nullptr : a_tSide.cHandakuten};
    }
    return {kSeiIdx[a_cLetter], a_tSide.iSeiN, a_tSide.cSei, nullptr};
}

}  // namespace

const unsigned char *const seihan = kSeihan;
const unsigned char *const sjis_seizen = kSjisSeizen;
const unsigned char *const euc_seizen = kEucSeizen;
const unsigned char *const dakhan = kDakhan;
const unsigned char *const sjis_dakzen = kSjisDakzen;
const unsigned char *const euc_dakzen = kEucDakzen;
const unsigned char *const sjis_dakzensei = kSjisDakzensei;
const unsigned char *const euc_dakzensei = kEucDakzensei;
const unsigned char *const hathan = kHathan;
const unsigned char *const sjis_hatzen = kSjisHatzen;
const unsigned char *const euc_hatzen = kEucHatzen;
const unsigned char *const sjis_hatzensei = kSjisHatzensei;
const unsigned char *const euc_hatzensei = kEucHatzensei;
const unsigned char *const sjis_dakuten = kSjisDakuten;
const unsigned char *const sjis_handakuten = kSjisHandakuten;
const unsigned char *const euc_dakuten = kEucDakuten;
const unsigned char *const euc_handakuten = kEucHandakuten;

int ustrindex(const unsigned char *ustr, unsigned char uc)
{
    for (int i = 0; ustr[i] != 0; i++) {
        if (ustr[i] == uc) {
            return i;
        }
    }
    return -1;
}

int ustrindex2(const unsigned char *ustr, const unsigned char *ut)
{
    // The byte after a match is at worst the terminator, never beyond it.
    for (int i = 0; ustr[i] != 0; i++) {
        if (ustr[i] == ut[0] && ustr[i + 1] == ut[1]) {
            return i;
        }
    }
    return -1;
}

int zentohan(unsigned char *newbuf, const unsigned char *buf, int incode, int srclen)
{
    const bool bSjis = incode == JPCODE_SJIS;
    const bool bEuc = incode == JPCODE_EUC;
    unsigned char *o = newbuf;
    int i = 0;
    while (i < srclen && buf[i] != 0) {
        const unsigned char c = buf[i];
        bool bTwo;
        const ZenIndex *pIdx = nullptr;
        if (bSjis) {
            bTwo = jiscode::bSjisLead(c);
            pIdx = c == 0x81 ? &kZenSjis81 : c == 0x83 ? &kZenSjis83 : nullptr;
        } else if (bEuc) {
            bTwo = c >= 0x80;
            pIdx = c == 0xA1 ? &kZenEucA1 : c == 0xA5 ? &kZenEucA5 : nullptr;
        } else {
            bTwo = false;
        }
        const unsigned char t = bTwo ? buf[i + 1] : 0;
        if (!bTwo || t == 0) {
            // A single byte, or a lead byte cut off by the end of the text.
            *o++ = c;
            i++;
            continue;
        }
        const ZenHit hit = pIdx ? (*pIdx)[t] : ZenHit{HIT_NONE, 0};
        const unsigned char cHalf = hit.kind == HIT_SEI   ? kSeihan[hit.idx]
                                    : hit.kind == HIT_DAK ? kDakhan[hit.idx]
                                                          : kHathan[hit.idx];
        switch (hit.kind) {
        case HIT_NONE:
            *o++ = c;
            *o++ = t;
            break;
        case HIT_SEI:
            // The parentheses come back as ASCII, which needs no SS2.
            if (bEuc && cHalf >= 0x80) {
                *o++ = SS2;
            }
            *o++ = cHalf;
            break;
        default:
            if (bEuc) {
                *o++ = SS2;
            }
            *o++ = cHalf;
            if (bEuc) {
                *o++ = SS2;
            }
            *o++ = hit.kind == HIT_DAK ? HALF_DAKUTEN : HALF_HANDAKUTEN;
            break;
        }
        i += 2;
    }
    *o = 0;
    return 0;
}

int hantozen(unsigned char *newbuf, const unsigned char *buf, int incode, int srclen, int dakutsuke)
{
    const bool bSjis = incode == JPCODE_SJIS;
    const bool bEuc = incode == JPCODE_EUC;
    const FullSide &tSide = bEuc ? kEucSide : kSjisSide;
    unsigned char *o = newbuf;
    int i = 0;
    while (i < srclen && buf[i] != 0) {
        const unsigned char c = buf[i];
        unsigned char cLetter;
        int iUsed;
        if (bSjis && bHalfKana(c)) {
            cLetter = c;
            iUsed = 1;
        } else if (bEuc && c == SS2 && buf[i + 1] != 0) {
            cLetter = buf[i + 1];
            iUsed = 2;
        } else {
            // Not a half-width sequence: copy a character unchanged. A two-byte
            // character whose second byte would be the terminator is copied as
            // its lead byte alone.
            const bool bTwo = (bSjis && jiscode::bSjisLead(c)) || (bEuc && c >= 0x80);
            *o++ = c;
            i++;
            if (bTwo && buf[i] != 0) {
                *o++ = buf[i++];
            }
            continue;
        }

        const int jtp = iMarkAfter(buf + i, bSjis);
        if (jtp != JTP_SEITEN) {
            iUsed *= 2;
        }
        const FullHit tHit = tFullOf(cLetter, jtp, tSide, dakutsuke != 0);
        const int idx = tHit.idx;
        const unsigned char *cFull = tHit.cFull;
        const unsigned char *cMark = tHit.cMark;
        // A letter that cannot take its mark, or (EUC-JP) a byte after SS2 that
        // has no full-width partner, such as the byte A0.
        if (idx < 0 || idx >= tHit.iEntN) {
            fprintf(stderr, "unexpected error: \\x%x\n", static_cast<unsigned>(cLetter));
            // What was converted so far stays a terminated string, so a caller
            // that prints it anyway reads no further than this.
            *o = 0;
            return 1;
        }
        *o++ = cFull[2 * idx];
        *o++ = cFull[2 * idx + 1];
        if (cMark != nullptr) {
            *o++ = cMark[0];
            *o++ = cMark[1];
        }
        i += iUsed;
    }
    *o = 0;
    return 0;
}
