#include "card.h"

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bitmap.h"
#include "head.h"
#include "log.h"

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

constexpr unsigned char kSo = 0x0E, kSi = 0x0F, kEsc = 0x1B;

std::string TrimBlanks(const std::string &a_szText)
{
    const size_t iStart = a_szText.find_first_not_of(' ');
    if (iStart == std::string::npos) {
        return {};
    }
    const size_t iEnd = a_szText.find_last_not_of(' ');
    return a_szText.substr(iStart, iEnd - iStart + 1);
}

// Does every voiced or semi-voiced mark follow a letter that takes it? The
// width conversion refuses the text otherwise (and says so on stderr, which
// is our log), so such a name is shown half-width instead.
bool MarksFit(const std::string &a_cHan)
{
    for (size_t i = 0; i < a_cHan.size(); i++) {
        const unsigned char c = static_cast<unsigned char>(a_cHan[i]);
        if (c < 0xA1 || c > 0xDF || i + 1 >= a_cHan.size()) {
            continue;
        }
        const unsigned char cNext = static_cast<unsigned char>(a_cHan[i + 1]);
        if (cNext == 0xDE) {
            if (ustrindex(dakhan, c) < 0) {
                return false;
            }
            i++;
        } else if (cNext == 0xDF) {
            if (ustrindex(hathan, c) < 0) {
                return false;
            }
            i++;
        }
    }
    return true;
}

// The kana field: SO opens 7-bit katakana (0x21-0x5F stand for the
// half-width letters 0xA1-0xDF), SI closes it; blanks fill the field.
std::string DecodeKana(const std::string &a_cField)
{
    std::string cHan;
    bool bKana = false;
    for (unsigned char c : a_cField) {
        if (c == kSo) {
            bKana = true;
        } else if (c == kSi) {
            bKana = false;
        } else if (bKana && c >= 0x21 && c <= 0x5F) {
            cHan += static_cast<char>(c + 0x80);
        } else if (c >= 0x20 && c < 0x7F) {
            cHan += static_cast<char>(c);
        } else {
            cHan += '?';  // no kana code and no text: shown as a question mark
        }
    }
    cHan = TrimBlanks(cHan);
    // Back to full width, voiced marks joined with their letters.
    std::vector<unsigned char> cZen(2 * cHan.size() + 2, 0);
    if (!cHan.empty() && MarksFit(cHan) && hantozen(cZen.data(), reinterpret_cast<const unsigned char *>(cHan.c_str()), JPCODE_SJIS,
                                  static_cast<int>(cHan.size()), 1) == 0) {
        return SimCp932ToUtf8(reinterpret_cast<const char *>(cZen.data()));
    }
    // A mark that follows no letter it fits (as in ｱﾞ): keep the half-width text.
    return SimCp932ToUtf8(cHan);
}

// The kanji field: bare JIS codes, two bytes a character, filled with 0x21
// (pairs of which are ideographic blanks).
std::string DecodeKanji(const std::string &a_cField)
{
    std::string cSjis;
    for (size_t i = 0; i + 1 < a_cField.size(); i += 2) {
        unsigned char c1 = static_cast<unsigned char>(a_cField[i]);
        unsigned char c2 = static_cast<unsigned char>(a_cField[i + 1]);
        if (c1 < 0x21 || c1 > 0x7E || c2 < 0x21 || c2 > 0x7E) {
            cSjis += '?';
            continue;
        }
        // JIS plus 0x80 in each byte is EUC-JP, which the library turns into Shift_JIS.
        c1 = static_cast<unsigned char>(c1 + 0x80);
        c2 = static_cast<unsigned char>(c2 + 0x80);
        EUCtoSJIS(&c1, &c2);
        cSjis += static_cast<char>(c1);
        cSjis += static_cast<char>(c2);
    }
    std::string szText = SimCp932ToUtf8(cSjis);
    static const std::string kIdeoBlank = "\xE3\x80\x80";
    while (szText.size() >= kIdeoBlank.size() &&
           szText.compare(szText.size() - kIdeoBlank.size(), kIdeoBlank.size(), kIdeoBlank) == 0) {
        szText.resize(szText.size() - kIdeoBlank.size());
    }
    return szText;
}

std::string Escaped(unsigned char a_c)
{
    char cEsc[8];
    snprintf(cEsc, sizeof cEsc, "\\x%02X", a_c);
    return cEsc;
}

bool WriteBytes(const std::string &a_szPath, const std::string &a_cBytes, std::string *a_szErr)
{
    FILE *fp = fopen(a_szPath.c_str(), "wb");
    if (fp == nullptr) {
        *a_szErr = a_szPath + ": " + strerror(errno);
        return false;
    }
    const bool bOk = fwrite(a_cBytes.data(), 1, a_cBytes.size(), fp) == a_cBytes.size();
    const bool bClosed = fclose(fp) == 0;
    if (!bOk || !bClosed) {
        *a_szErr = a_szPath + ": write failed";
        return false;
    }
    return true;
}

void PutLe(std::vector<unsigned char> *a_cBuf, size_t a_iAt, uint32_t a_iVal, int a_iBytes)
{
    for (int i = 0; i < a_iBytes; i++) {
        (*a_cBuf)[a_iAt + i] = static_cast<unsigned char>(a_iVal >> (8 * i));
    }
}

}  // namespace

std::string SimCp932ToUtf8(const std::string &a_cSjis)
{
    std::string szOut;
    // Opened once for the life of the program.
    static const iconv_t tCd = iconv_open("UTF-8", "CP932");
    size_t i = 0;
    while (i < a_cSjis.size()) {
        const unsigned char c = static_cast<unsigned char>(a_cSjis[i]);
        if (c < 0x20 || c == 0x7F) {
            szOut += Escaped(c);
            i++;
            continue;
        }
        if (c < 0x80) {
            szOut += static_cast<char>(c);
            i++;
            continue;
        }
        // One character at a time: a lead byte and its trail, or one byte.
        bool bDone = false;
        if (tCd != reinterpret_cast<iconv_t>(-1)) {
            for (size_t iLen = 1; iLen <= 2 && i + iLen <= a_cSjis.size() && !bDone; iLen++) {
                char cIn[2];
                memcpy(cIn, a_cSjis.data() + i, iLen);
                char cOut[16];
                char *pIn = cIn;
                char *pOut = cOut;
                size_t iInLeft = iLen;
                size_t iOutLeft = sizeof cOut;
                iconv(tCd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(tCd, &pIn, &iInLeft, &pOut, &iOutLeft) != static_cast<size_t>(-1) && iInLeft == 0) {
                    szOut.append(cOut, static_cast<size_t>(pOut - cOut));
                    i += iLen;
                    bDone = true;
                }
            }
        }
        if (!bDone) {
            szOut += Escaped(c);
            i++;
        }
    }
    return szOut;
}

bool SimDecodeStripe(const std::string &a_cRecord, SimStripe *a_tStripe)
{
    if (a_cRecord.size() != SIM_RECORD_LEN) {
        return false;
    }
    SimStripe tStripe;
    tStripe.szNumber = SimCp932ToUtf8(TrimBlanks(a_cRecord.substr(kNumberAt, kNumberLen)));
    tStripe.szKana = DecodeKana(a_cRecord.substr(kKanaAt, kKanaLen));
    tStripe.szBirth = SimCp932ToUtf8(TrimBlanks(a_cRecord.substr(kBirthAt, kBirthLen)));
    tStripe.szSex = SimCp932ToUtf8(a_cRecord.substr(kSexAt, 1));
    tStripe.szKanji = DecodeKanji(a_cRecord.substr(kKanjiAt, kKanjiLen));
    tStripe.szFirst = SimCp932ToUtf8(TrimBlanks(a_cRecord.substr(kFirstAt, kFirstLen)));
    if (a_cRecord[kKanjiOpenAt] != static_cast<char>(kEsc) || a_cRecord[kKanjiOpenAt + 1] != 'K') {
        tStripe.szProblem = "no ESC K before the kanji name";
    } else if (a_cRecord[kKanjiCloseAt] != static_cast<char>(kEsc) || a_cRecord[kKanjiCloseAt + 1] != 'H') {
        tStripe.szProblem = "no ESC H after the kanji name";
    } else if (a_cRecord[kKanaAt] != static_cast<char>(kSo)) {
        tStripe.szProblem = "the kana name does not open with SO";
    }
    *a_tStripe = std::move(tStripe);
    return true;
}

std::string SimCardText(const SimCard &a_tCard)
{
    SimStripe tStripe;
    const bool bStripe = a_tCard.bStripe && SimDecodeStripe(a_tCard.cStripe, &tStripe);
    std::string szText;
    auto Line = [&szText](const char *a_szKey, const std::string &a_szValue) {
        szText += a_szKey;
        szText += a_szValue.empty() ? ":" : ": " + a_szValue;
        szText += '\n';
    };
    Line("output", a_tCard.bAppend ? "append" : "rewrite");
    Line("patient_number", bStripe ? tStripe.szNumber : "");
    Line("kana_name", bStripe ? tStripe.szKana : "");
    Line("birth_date", bStripe ? tStripe.szBirth : "");
    Line("sex", bStripe ? tStripe.szSex : "");
    Line("kanji_name", bStripe ? tStripe.szKanji : "");
    Line("first_visit", bStripe ? tStripe.szFirst : "");
    return szText;
}

std::string SimCharsetText(const std::string &a_cParams)
{
    std::string szText;
    size_t i = a_cParams.find(static_cast<char>(kEsc));
    szText += "head: " + SimCp932ToUtf8(a_cParams.substr(0, i)) + "\n";
    while (i != std::string::npos && i < a_cParams.size()) {
        const size_t iNext = a_cParams.find(static_cast<char>(kEsc), i + 1);
        const std::string cPiece = a_cParams.substr(i + 1, iNext == std::string::npos ? std::string::npos : iNext - i - 1);
        const char cCode = cPiece.empty() ? '\0' : cPiece[0];
        const std::string szRest = cPiece.empty() ? "" : SimCp932ToUtf8(cPiece.substr(1));
        if (cCode == 'X') {
            szText += "x: " + szRest + "\n";
        } else if (cCode == 'Y') {
            szText += "y: " + szRest + "\n";
        } else if (cCode == 'E') {
            // The attribute from the layout file and the text run together.
            szText += "text: " + szRest + "\n";
        } else {
            szText += "esc " + SimPrintable(std::string(1, cCode)) + ": " + szRest + "\n";
        }
        i = iNext;
    }
    return szText;
}

bool SimWritePicture(const SimCard &a_tCard, const std::string &a_szPath, std::string *a_szErr)
{
    const uint32_t iWidth = static_cast<uint32_t>(a_tCard.iWidth);
    const uint32_t iHeight = static_cast<uint32_t>(a_tCard.iHeight);
    const uint32_t iRowBytes = (iWidth + 7) / 8;
    const uint32_t iStride = (iRowBytes + 3) / 4 * 4;
    if (a_tCard.iWidth < 1 || a_tCard.iHeight < 1 ||
        a_tCard.cPicture.size() != static_cast<size_t>(a_tCard.iWidth) * a_tCard.iByteRows) {
        *a_szErr = "picture buffer of no size";
        return false;
    }

    // Row form, top row first, leftmost pixel in the high bit.
    std::vector<unsigned char> cRows(static_cast<size_t>(iRowBytes) * iHeight, 0);
    for (uint32_t x = 0; x < iWidth; x++) {
        const unsigned char *cCol = a_tCard.cPicture.data() + static_cast<size_t>(x) * a_tCard.iByteRows;
        for (uint32_t y = 0; y < iHeight; y++) {
            if ((cCol[y / 8] >> (y % 8)) & 1) {
                cRows[static_cast<size_t>(y) * iRowBytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            }
        }
    }

    constexpr uint32_t kInfoLen = 40, kPaletteLen = 8, kOffset = 14 + kInfoLen + kPaletteLen;
    std::vector<unsigned char> cFile(14, 0), cInfo(kInfoLen, 0);
    std::vector<unsigned char> cPalette = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00};  // white, ink
    cFile[0] = 'B';
    cFile[1] = 'M';
    PutLe(&cFile, 2, kOffset + iStride * iHeight, 4);
    PutLe(&cFile, 10, kOffset, 4);
    PutLe(&cInfo, 0, kInfoLen, 4);
    PutLe(&cInfo, 4, iWidth, 4);
    PutLe(&cInfo, 8, iHeight, 4);
    PutLe(&cInfo, 12, 1, 2);  // planes
    PutLe(&cInfo, 14, 1, 2);  // bits per pixel
    PutLe(&cInfo, 20, iStride * iHeight, 4);
    PutLe(&cInfo, 24, 11811, 4);  // 300 dots per inch, in dots per metre
    PutLe(&cInfo, 28, 11811, 4);
    PutLe(&cInfo, 32, 2, 4);  // colours in the palette
    PutLe(&cInfo, 36, 2, 4);

    HeaderInfo tHeader;
    tHeader.fileHeader = cFile.data();
    tHeader.infoHeader = cInfo.data();
    tHeader.clrPallet = cPalette.data();
    Image tImg;
    tImg.width = iWidth;
    tImg.height = iHeight;
    tImg.bitCnt = 1;
    tImg.data = cRows.data();
    if (WriteBmp(a_szPath.c_str(), &tHeader, &tImg) != 0) {
        *a_szErr = a_szPath + ": the bitmap could not be written";
        return false;
    }
    return true;
}

int SimNextCardNumber(const std::string &a_szDir)
{
    int iHigh = 0;
    DIR *tDir = opendir(a_szDir.c_str());
    if (tDir == nullptr) {
        return 1;
    }
    while (struct dirent *tEnt = readdir(tDir)) {
        const char *szName = tEnt->d_name;
        if (strncmp(szName, "card-", 5) != 0) {
            continue;
        }
        const char *p = szName + 5;
        int iNum = 0;
        size_t iDigits = 0;
        while (*p >= '0' && *p <= '9' && iDigits < 9) {
            iNum = iNum * 10 + (*p - '0');
            p++;
            iDigits++;
        }
        if (*p == '\0' && iDigits >= 4 && iNum > iHigh) {
            iHigh = iNum;
        }
    }
    closedir(tDir);
    return iHigh + 1;
}

bool SimMakeDirs(const std::string &a_szDir, std::string *a_szErr)
{
    if (a_szDir.empty()) {
        *a_szErr = "empty folder name";
        return false;
    }
    for (size_t i = 1; i <= a_szDir.size(); i++) {
        if (i < a_szDir.size() && a_szDir[i] != '/') {
            continue;
        }
        const std::string szPart = a_szDir.substr(0, i);
        if (mkdir(szPart.c_str(), 0777) != 0 && errno != EEXIST) {
            *a_szErr = szPart + ": " + strerror(errno);
            return false;
        }
    }
    struct stat st;
    if (stat(a_szDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *a_szErr = a_szDir + ": not a folder";
        return false;
    }
    return true;
}

bool SimKeepCard(const std::string &a_szDir, const SimCard &a_tCard, std::string *a_szFolder, std::string *a_szErr)
{
    if (!SimMakeDirs(a_szDir, a_szErr)) {
        return false;
    }
    // Another stand-in may keep its cards in the same folder: take the next
    // number that mkdir gives us.
    std::string szFolder;
    for (int iNum = SimNextCardNumber(a_szDir), iTry = 0;; iNum++, iTry++) {
        char cName[32];
        snprintf(cName, sizeof cName, "/card-%04d", iNum);
        szFolder = a_szDir + cName;
        if (mkdir(szFolder.c_str(), 0777) == 0) {
            break;
        }
        if (errno != EEXIST || iTry >= 1000) {
            *a_szErr = szFolder + ": " + strerror(errno);
            return false;
        }
    }
    *a_szFolder = szFolder;
    if (!SimWritePicture(a_tCard, szFolder + "/picture.bmp", a_szErr)) {
        return false;
    }
    if (a_tCard.bStripe && !WriteBytes(szFolder + "/stripe.bin", a_tCard.cStripe, a_szErr)) {
        return false;
    }
    if (!WriteBytes(szFolder + "/card.txt", SimCardText(a_tCard), a_szErr)) {
        return false;
    }
    if (a_tCard.bCharset && !WriteBytes(szFolder + "/charset.txt", SimCharsetText(a_tCard.cCharset), a_szErr)) {
        return false;
    }
    return true;
}
