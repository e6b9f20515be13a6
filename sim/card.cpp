#include "card.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "log.h"

namespace {

bool WriteBytes(const std::string &a_sPath, const std::string &a_cBytes, std::string *a_sErr)
{
    FILE *fp = fopen(a_sPath.c_str(), "wb");
    if (fp == nullptr) {
        *a_sErr = a_sPath + ": " + strerror(errno);
        return false;
    }
    const bool bOk = fwrite(a_cBytes.data(), 1, a_cBytes.size(), fp) == a_cBytes.size();
    const bool bClosed = fclose(fp) == 0;
    if (!bOk || !bClosed) {
        *a_sErr = a_sPath + ": write failed";
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

std::string SimCardText(const SimCard &a_tCard)
{
    SimStripe tStripe;
    const bool bStripe = a_tCard.bStripe && SimDecodeStripe(a_tCard.cStripe, &tStripe);
    std::string sText;
    auto Line = [&sText](const char *a_szKey, const std::string &a_sValue) {
        sText += a_szKey;
        sText += a_sValue.empty() ? ":" : ": " + a_sValue;
        sText += '\n';
    };
    Line("output", a_tCard.bAppend ? "append" : "rewrite");
    Line("patient_number", bStripe ? tStripe.sNumber : "");
    Line("kana_name", bStripe ? tStripe.sKana : "");
    Line("birth_date", bStripe ? tStripe.sBirth : "");
    Line("sex", bStripe ? tStripe.sSex : "");
    Line("kanji_name", bStripe ? tStripe.sKanji : "");
    Line("first_visit", bStripe ? tStripe.sFirst : "");
    return sText;
}

std::string SimCharsetText(const std::string &a_cParams)
{
    std::string sText;
    size_t i = a_cParams.find(static_cast<char>(SIM_ESC));
    sText += "head: " + SimCp932ToUtf8(a_cParams.substr(0, i)) + "\n";
    while (i != std::string::npos && i < a_cParams.size()) {
        const size_t iNext = a_cParams.find(static_cast<char>(SIM_ESC), i + 1);
        const std::string cPiece =
            a_cParams.substr(i + 1, iNext == std::string::npos ? std::string::npos : iNext - i - 1);
        const char cCode = cPiece.empty() ? '\0' : cPiece[0];
        const std::string sRest = cPiece.empty() ? "" : SimCp932ToUtf8(cPiece.substr(1));
        if (cCode == 'X') {
            sText += "x: " + sRest + "\n";
        } else if (cCode == 'Y') {
            sText += "y: " + sRest + "\n";
        } else if (cCode == 'E') {
            // The attribute from the layout file and the text run together.
            sText += "text: " + sRest + "\n";
        } else {
            sText += "esc " + SimPrintable(std::string(1, cCode)) + ": " + sRest + "\n";
        }
        i = iNext;
    }
    return sText;
}

bool SimWritePicture(const SimCard &a_tCard, const std::string &a_sPath, std::string *a_sErr)
{
    if (a_tCard.iWidth < 1 || a_tCard.iHeight < 1 ||
        a_tCard.cPicture.size() != static_cast<size_t>(a_tCard.iWidth) * a_tCard.iByteRows) {
        *a_sErr = "picture buffer of no size";
        return false;
    }
    const uint32_t iWidth = static_cast<uint32_t>(a_tCard.iWidth);
    const uint32_t iHeight = static_cast<uint32_t>(a_tCard.iHeight);
    // Each row of the file is filled to a multiple of 4 bytes.
    const uint32_t iStride = ((iWidth + 7) / 8 + 3) / 4 * 4;
    constexpr uint32_t kInfoLen = 40, kOffset = 14 + kInfoLen + 8;

    std::vector<unsigned char> cFile(kOffset + static_cast<size_t>(iStride) * iHeight, 0);
    cFile[0] = 'B';
    cFile[1] = 'M';
    PutLe(&cFile, 2, static_cast<uint32_t>(cFile.size()), 4);
    PutLe(&cFile, 10, kOffset, 4);
    PutLe(&cFile, 14, kInfoLen, 4);
    PutLe(&cFile, 18, iWidth, 4);
    PutLe(&cFile, 22, iHeight, 4);  // positive: the bottom row comes first
    PutLe(&cFile, 26, 1, 2);        // planes
    PutLe(&cFile, 28, 1, 2);        // bits per pixel
    PutLe(&cFile, 34, iStride * iHeight, 4);
    PutLe(&cFile, 38, 11811, 4);  // 300 dots per inch, in dots per metre
    PutLe(&cFile, 42, 11811, 4);
    PutLe(&cFile, 46, 2, 4);  // colours in the palette
    PutLe(&cFile, 50, 2, 4);
    PutLe(&cFile, 54, 0x00FFFFFF, 4);  // index 0 white, index 1 (ink) black

    // Pixel row y (0 the top) is file row iHeight - 1 - y; the leftmost
    // pixel of a byte in its high bit.
    for (uint32_t x = 0; x < iWidth; x++) {
        const unsigned char *cCol = a_tCard.cPicture.data() + static_cast<size_t>(x) * a_tCard.iByteRows;
        for (uint32_t y = 0; y < iHeight; y++) {
            if ((cCol[y / 8] >> (y % 8)) & 1) {
                cFile[kOffset + static_cast<size_t>(iHeight - 1 - y) * iStride + x / 8] |=
                    static_cast<unsigned char>(0x80 >> (x % 8));
            }
        }
    }
    return WriteBytes(a_sPath, std::string(cFile.begin(), cFile.end()), a_sErr);
}

int SimNextCardNumber(const std::string &a_sDir)
{
    int iHigh = 0;
    DIR *tDir = opendir(a_sDir.c_str());
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

bool SimMakeDirs(const std::string &a_sDir, std::string *a_sErr)
{
    if (a_sDir.empty()) {
        *a_sErr = "empty folder name";
        return false;
    }
    for (size_t i = 1; i <= a_sDir.size(); i++) {
        if (i < a_sDir.size() && a_sDir[i] != '/') {
            continue;
        }
        const std::string sPart = a_sDir.substr(0, i);
        if (mkdir(sPart.c_str(), 0777) != 0 && errno != EEXIST) {
            *a_sErr = sPart + ": " + strerror(errno);
            return false;
        }
    }
    struct stat st;
    if (stat(a_sDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *a_sErr = a_sDir + ": not a folder";
        return false;
    }
    return true;
}

bool SimKeepCard(const std::string &a_sDir, const SimCard &a_tCard, std::string *a_sFolder, std::string *a_sErr)
{
    if (!SimMakeDirs(a_sDir, a_sErr)) {
        return false;
    }
    // Another stand-in may keep its cards in the same folder: take the next
    // number that mkdir gives us.
    std::string sFolder;
    for (int iNum = SimNextCardNumber(a_sDir), iTry = 0;; iNum++, iTry++) {
        char cName[32];
        snprintf(cName, sizeof cName, "/card-%04d", iNum);
        sFolder = a_sDir + cName;
        if (mkdir(sFolder.c_str(), 0777) == 0) {
            break;
        }
        if (errno != EEXIST || iTry >= 1000) {
            *a_sErr = sFolder + ": " + strerror(errno);
            return false;
        }
    }
    *a_sFolder = sFolder;
    if (!SimWritePicture(a_tCard, sFolder + "/picture.bmp", a_sErr)) {
        return false;
    }
    if (a_tCard.bStripe && !WriteBytes(sFolder + "/stripe.bin", a_tCard.cStripe, a_sErr)) {
        return false;
    }
    if (!WriteBytes(sFolder + "/card.txt", SimCardText(a_tCard), a_sErr)) {
        return false;
    }
    if (a_tCard.bCharset && !WriteBytes(sFolder + "/charset.txt", SimCharsetText(a_tCard.cCharset), a_sErr)) {
        return false;
    }
    return true;
}
