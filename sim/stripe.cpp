#include "stripe.h"

#include <iconv.h>

#include <cstdio>
#include <vector>

#include "bytes.h"

namespace {

// Offsets within the 69-byte magnetic record.
constexpr size_t kNumberAt = 0, kNumberLen = 10;
constexpr size_t kKanaAt = 10, kKanaLen = 24;
constexpr size_t kBirthAt = 34, kBirthLen = 8;
constexpr size_t kSexAt = 42;
constexpr size_t kKanjiOpenAt = 43;
constexpr size_t kKanjiAt = 45, kKanjiLen = 14;
constexpr size_t kKanjiCloseAt = 59;
constexpr size_t kFirstAt = 61, kFirstLen = 8;

// A converter from one character set to UTF-8, opened once for the life of
// the program. Convert() takes the whole input or nothing.
class ToUtf8 {
public:
    explicit ToUtf8(const char *a_szFrom) : m_tCd(iconv_open("UTF-8", a_szFrom)) {}
    ~ToUtf8()
    {
        if (m_tCd != kNone) {
            iconv_close(m_tCd);
        }
    }
    ToUtf8(const ToUtf8 &) = delete;
    ToUtf8 &operator=(const ToUtf8 &) = delete;

    bool Convert(const std::string &a_cIn, std::string *a_sOut)
    {
        if (m_tCd == kNone) {
            return false;
        }
        std::vector<char> cIn(a_cIn.begin(), a_cIn.end());
        std::vector<char> cOut(4 * a_cIn.size() + 16);
        char *pIn = cIn.data();
        char *pOut = cOut.data();
        size_t iInLeft = cIn.size();
        size_t iOutLeft = cOut.size();
        iconv(m_tCd, nullptr, nullptr, nullptr, nullptr);
        const bool bOk = iconv(m_tCd, &pIn, &iInLeft, &pOut, &iOutLeft) != static_cast<size_t>(-1) && iInLeft == 0 &&
                         iconv(m_tCd, nullptr, nullptr, &pOut, &iOutLeft) != static_cast<size_t>(-1);
        if (bOk) {
            a_sOut->assign(cOut.data(), static_cast<size_t>(pOut - cOut.data()));
        }
        return bOk;
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t m_tCd;
};

ToUtf8 &Cp932()
{
    static ToUtf8 tConv("CP932");
    return tConv;
}

// JIS X 0201 katakana (ESC ( I) and JIS X 0208 (ESC $ B) both come through
// the ISO-2022-JP-3 decoder.
ToUtf8 &Iso2022()
{
    static ToUtf8 tConv("ISO-2022-JP-3");
    return tConv;
}

std::string Escaped(unsigned char a_c)
{
    char cEsc[8];
    snprintf(cEsc, sizeof cEsc, "\\x%02X", a_c);
    return cEsc;
}

// Without the blanks that fill a field, at either end.
std::string Trim(const std::string &a_sText)
{
    const size_t iStart = a_sText.find_first_not_of(' ');
    if (iStart == std::string::npos) {
        return {};
    }
    return a_sText.substr(iStart, a_sText.find_last_not_of(' ') - iStart + 1);
}

// The code point of one UTF-8 character of up to three bytes.
unsigned CodePoint(const std::string &a_sChar)
{
    const auto b = [&a_sChar](size_t i) { return static_cast<unsigned char>(a_sChar[i]); };
    if (a_sChar.size() == 3) {
        return (b(0) & 0x0Fu) << 12 | (b(1) & 0x3Fu) << 6 | (b(2) & 0x3Fu);
    }
    if (a_sChar.size() == 2) {
        return (b(0) & 0x1Fu) << 6 | (b(1) & 0x3Fu);
    }
    return a_sChar.empty() ? 0 : b(0);
}

// ---- the kana name --------------------------------------------------------

// The full-width forms of the half-width katakana U+FF61 to U+FF9F, in order.
constexpr const char *kWide[] = {
    "。", "「", "」", "、", "・", "ヲ", "ァ", "ィ", "ゥ", "ェ", "ォ", "ャ", "ュ", "ョ", "ッ", "ー",
    "ア", "イ", "ウ", "エ", "オ", "カ", "キ", "ク", "ケ", "コ", "サ", "シ", "ス", "セ", "ソ", "タ",
    "チ", "ツ", "テ", "ト", "ナ", "ニ", "ヌ", "ネ", "ノ", "ハ", "ヒ", "フ", "ヘ", "ホ", "マ", "ミ",
    "ム", "メ", "モ", "ヤ", "ユ", "ヨ", "ラ", "リ", "ル", "レ", "ロ", "ワ", "ン", "゛", "゜",
};
static_assert(sizeof kWide / sizeof kWide[0] == 0xFF9F - 0xFF61 + 1, "one full-width form per half-width letter");
constexpr unsigned kHalfFirst = 0xFF61, kVoiced = 0xFF9E, kSemiVoiced = 0xFF9F;

// Letters that take a mark, and what they become with it.
struct Marked {
    const char *szBase;
    const char *szMarked;
};
constexpr Marked kVoicedForms[] = {
    {"カ", "ガ"}, {"キ", "ギ"}, {"ク", "グ"}, {"ケ", "ゲ"}, {"コ", "ゴ"}, {"サ", "ザ"}, {"シ", "ジ"},
    {"ス", "ズ"}, {"セ", "ゼ"}, {"ソ", "ゾ"}, {"タ", "ダ"}, {"チ", "ヂ"}, {"ツ", "ヅ"}, {"テ", "デ"},
    {"ト", "ド"}, {"ハ", "バ"}, {"ヒ", "ビ"}, {"フ", "ブ"}, {"ヘ", "ベ"}, {"ホ", "ボ"}, {"ウ", "ヴ"},
};
constexpr Marked kSemiVoicedForms[] = {{"ハ", "パ"}, {"ヒ", "ピ"}, {"フ", "プ"}, {"ヘ", "ペ"}, {"ホ", "ポ"}};

// Joins a mark to the letter before it when the letter takes it.
template <size_t N>
bool JoinMark(const Marked (&a_tForms)[N], std::string *a_sLetter)
{
    for (const Marked &tForm : a_tForms) {
        if (*a_sLetter == tForm.szBase) {
            *a_sLetter = tForm.szMarked;
            return true;
        }
    }
    return false;
}

// One byte of the kana field, as a character: 7-bit katakana between SO and
// SI through the converter, blanks and plain text outside; \xNN otherwise.
std::string KanaByte(unsigned char a_c, bool a_bKana)
{
    if (a_c == ' ') {
        return " ";
    }
    std::string sChar;
    if (a_bKana && a_c >= 0x21 && a_c <= 0x5F &&
        Iso2022().Convert(std::string("\x1B(I") + static_cast<char>(a_c) + "\x1B(B", &sChar)) {
        return sChar;
    }
    if (!a_bKana && a_c > 0x20 && a_c < 0x7F) {
        return std::string(1, static_cast<char>(a_c));
    }
    return Escaped(a_c);
}

// The kana name in full width, voiced and semi-voiced marks joined to the
// letters that take them; a mark after any other letter stays a mark.
std::string DecodeKana(const std::string &a_cField)
{
    std::vector<std::string> tChars;
    bool bKana = false;
    for (unsigned char c : a_cField) {
        if (c == SIM_SO || c == SIM_SI) {
            bKana = c == SIM_SO;
            continue;
        }
        std::string sChar = KanaByte(c, bKana);
        const unsigned iCode = CodePoint(sChar);
        const bool bMark = iCode == kVoiced || iCode == kSemiVoiced;
        if (bMark && !tChars.empty() &&
            (iCode == kVoiced ? JoinMark(kVoicedForms, &tChars.back()) : JoinMark(kSemiVoicedForms, &tChars.back()))) {
            continue;
        }
        if (sChar.size() == 3 && iCode >= kHalfFirst && iCode <= kSemiVoiced) {
            sChar = kWide[iCode - kHalfFirst];
        }
        tChars.push_back(sChar);
    }
    std::string sText;
    for (const std::string &sChar : tChars) {
        sText += sChar;
    }
    return Trim(sText);
}

// ---- the kanji name -------------------------------------------------------

// The tool moves the eleven heavy box-drawing characters of row 8 (JIS 28 2C
// to 28 36) to cells of row 12. The cells on row 12, in the order of row 8:
constexpr unsigned char kBoxCells[] = {0x25, 0x27, 0x33, 0x37, 0x3F, 0x3B, 0x47, 0x57, 0x4F, 0x5F, 0x6F};
constexpr unsigned char kBoxRow = 0x2C, kBoxHome = 0x28, kBoxFirstCell = 0x2C;

// Row 12 back to row 8; any other code as it is.
void UndoBoxRemap(unsigned char *a_c1, unsigned char *a_c2)
{
    if (*a_c1 != kBoxRow) {
        return;
    }
    for (size_t i = 0; i < sizeof kBoxCells; i++) {
        if (kBoxCells[i] == *a_c2) {
            *a_c1 = kBoxHome;
            *a_c2 = static_cast<unsigned char>(kBoxFirstCell + i);
            return;
        }
    }
}

// A JIS code as Shift_JIS, for the rows that JIS X 0208 leaves empty and the
// Windows code page fills (the NEC row 13, the NEC-selected IBM rows).
std::string JisToSjis(unsigned char a_c1, unsigned char a_c2)
{
    unsigned iLead = (a_c1 + 1u) / 2 + 0x70;
    if (iLead > 0x9F) {
        iLead += 0x40;
    }
    unsigned iTrail = (a_c1 & 1) ? a_c2 + 0x1Fu : a_c2 + 0x7Eu;
    if ((a_c1 & 1) && iTrail >= 0x7F) {
        iTrail++;
    }
    return std::string{static_cast<char>(iLead), static_cast<char>(iTrail)};
}

bool PrivateUse(const std::string &a_sChar)
{
    const unsigned iCode = CodePoint(a_sChar);
    return a_sChar.size() == 3 && iCode >= 0xE000 && iCode <= 0xF8FF;
}

// One pair of the kanji field as a character, or both its bytes escaped.
std::string KanjiPair(unsigned char a_c1, unsigned char a_c2)
{
    const std::string sEscaped = Escaped(a_c1) + Escaped(a_c2);
    if (a_c1 < 0x21 || a_c1 > 0x7E || a_c2 < 0x21 || a_c2 > 0x7E) {
        return sEscaped;
    }
    unsigned char c1 = a_c1, c2 = a_c2;
    UndoBoxRemap(&c1, &c2);
    std::string sChar;
    if (Iso2022().Convert(std::string("\x1B$B") + static_cast<char>(c1) + static_cast<char>(c2) + "\x1B(B", &sChar)) {
        return sChar;
    }
    // User-defined codes have no character of their own: escaped.
    if (Cp932().Convert(JisToSjis(c1, c2), &sChar) && !PrivateUse(sChar)) {
        return sChar;
    }
    return sEscaped;
}

// The kanji field: bare JIS codes, two bytes a character, filled with 0x21
// (pairs of which are ideographic blanks).
std::string DecodeKanji(const std::string &a_cField)
{
    std::string sText;
    for (size_t i = 0; i + 1 < a_cField.size(); i += 2) {
        sText += KanjiPair(static_cast<unsigned char>(a_cField[i]), static_cast<unsigned char>(a_cField[i + 1]));
    }
    if (a_cField.size() % 2 != 0) {
        sText += Escaped(static_cast<unsigned char>(a_cField.back()));
    }
    // The fill: trailing ideographic blanks (U+3000).
    static const std::string kIdeoBlank = "\xE3\x80\x80";
    while (sText.size() >= kIdeoBlank.size() &&
           sText.compare(sText.size() - kIdeoBlank.size(), kIdeoBlank.size(), kIdeoBlank) == 0) {
        sText.resize(sText.size() - kIdeoBlank.size());
    }
    return sText;
}

bool Lead(unsigned char a_c) { return (a_c >= 0x81 && a_c <= 0x9F) || (a_c >= 0xE0 && a_c <= 0xFC); }
bool Trail(unsigned char a_c) { return a_c >= 0x40 && a_c <= 0xFC && a_c != 0x7F; }

}  // namespace

std::string SimCp932ToUtf8(const std::string &a_cSjis)
{
    std::string sOut;
    for (size_t i = 0; i < a_cSjis.size();) {
        const unsigned char c = static_cast<unsigned char>(a_cSjis[i]);
        if (c < 0x20 || c == 0x7F) {
            sOut += Escaped(c);
            i++;
        } else if (c < 0x80) {
            sOut += static_cast<char>(c);
            i++;
        } else if (Lead(c) && i + 1 < a_cSjis.size() && Trail(static_cast<unsigned char>(a_cSjis[i + 1]))) {
            // A lead byte and its trail are one character or one escaped pair
            // (user-defined codes have no character of their own).
            std::string sChar;
            sOut += Cp932().Convert(a_cSjis.substr(i, 2), &sChar) && !PrivateUse(sChar)
                        ? sChar
                        : Escaped(c) + Escaped(static_cast<unsigned char>(a_cSjis[i + 1]));
            i += 2;
        } else {
            std::string sChar;
            sOut += !Lead(c) && Cp932().Convert(a_cSjis.substr(i, 1), &sChar) ? sChar : Escaped(c);
            i++;
        }
    }
    return sOut;
}

bool SimDecodeStripe(const std::string &a_cRecord, SimStripe *a_tStripe)
{
    if (a_cRecord.size() != SIM_RECORD_LEN) {
        return false;
    }
    SimStripe tStripe;
    tStripe.sNumber = SimCp932ToUtf8(Trim(a_cRecord.substr(kNumberAt, kNumberLen)));
    tStripe.sKana = DecodeKana(a_cRecord.substr(kKanaAt, kKanaLen));
    tStripe.sBirth = SimCp932ToUtf8(Trim(a_cRecord.substr(kBirthAt, kBirthLen)));
    tStripe.sSex = SimCp932ToUtf8(a_cRecord.substr(kSexAt, 1));
    tStripe.sKanji = DecodeKanji(a_cRecord.substr(kKanjiAt, kKanjiLen));
    tStripe.sFirst = SimCp932ToUtf8(Trim(a_cRecord.substr(kFirstAt, kFirstLen)));
    if (a_cRecord[kKanjiOpenAt] != static_cast<char>(SIM_ESC) || a_cRecord[kKanjiOpenAt + 1] != 'K') {
        tStripe.sProblem = "no ESC K before the kanji name";
    } else if (a_cRecord[kKanjiCloseAt] != static_cast<char>(SIM_ESC) || a_cRecord[kKanjiCloseAt + 1] != 'H') {
        tStripe.sProblem = "no ESC H after the kanji name";
    } else if (a_cRecord[kKanaAt] != static_cast<char>(SIM_SO)) {
        tStripe.sProblem = "the kana name does not open with SO";
    }
    *a_tStripe = std::move(tStripe);
    return true;
}
