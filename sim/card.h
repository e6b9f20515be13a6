// The card that leaves the machine: its stripe and character set frame in
// words, its picture as a bitmap, and the folder in which the stand-in keeps it.
#ifndef VESTRUN_SIM_CARD_H
#define VESTRUN_SIM_CARD_H

#include <string>
#include <vector>

#include "stripe.h"

// The card as it leaves the machine.
struct SimCard {
    bool bAppend = false;  // "G": append card; "F": rewrite
    int iWidth = 0;
    int iHeight = 0;
    int iByteRows = 0;
    // Column form, as the image frames carry it: byte k of column x at
    // x * iByteRows + k, pixel row 8k + j in bit j; a set bit is ink.
    std::vector<unsigned char> cPicture;
    bool bStripe = false;   // a magnetic record was written onto it
    std::string cStripe;    // the 69 bytes written
    bool bCharset = false;  // a character set frame had come
    std::string cCharset;   // its parameters
};

// card.txt: "key: value" lines.
std::string SimCardText(const SimCard &a_tCard);

// charset.txt: the character set frame's parameters, one piece a line:
// the head, each position (x, y) and each attributed text.
std::string SimCharsetText(const std::string &a_cParams);

// The picture as a 1-bit bitmap file (palette index 0 white, 1 ink).
bool SimWritePicture(const SimCard &a_tCard, const std::string &a_sPath, std::string *a_sErr);

// The number the next card folder gets in a_sDir: one more than the highest
// card-NNNN already there, 1 for an empty or missing folder.
int SimNextCardNumber(const std::string &a_sDir);

// Creates a_sDir and its parents as needed.
bool SimMakeDirs(const std::string &a_sDir, std::string *a_sErr);

// Keeps the card in a_sDir/card-NNNN/; the folder's path goes to a_sFolder.
bool SimKeepCard(const std::string &a_sDir, const SimCard &a_tCard, std::string *a_sFolder, std::string *a_sErr);

#endif
