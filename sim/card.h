// The card that leaves the machine: its magnetic stripe read back into text,
// its character set frame in words, its picture as a bitmap, and the folder
// in which the stand-in keeps it.
#ifndef VESTRUN_SIM_CARD_H
#define VESTRUN_SIM_CARD_H

#include <string>

#include "machine.h"

// The stripe's fields as text (UTF-8). The stripe carries the patient number
// right-aligned, the kana name as 7-bit half-width codes between SO and SI,
// the kanji name as bare JIS codes between ESC K and ESC H, the dates and the
// sex as they were typed.
struct SimStripe {
    std::string szNumber;
    std::string szKana;   // turned back into full-width katakana
    std::string szBirth;
    std::string szSex;
    std::string szKanji;
    std::string szFirst;
    std::string szProblem;  // what in the layout was not as it should be; empty when all is well
};

// Reads a 69-byte magnetic record; false (and nothing decoded) for any other length.
bool SimDecodeStripe(const std::string &a_cRecord, SimStripe *a_tStripe);

// Shift_JIS (CP932) to UTF-8. Bytes that form no character, and control
// characters, come out as \xNN, so the result is always one line of valid UTF-8.
std::string SimCp932ToUtf8(const std::string &a_cSjis);

// card.txt: "key: value" lines.
std::string SimCardText(const SimCard &a_tCard);

// charset.txt: the character set frame's parameters, one piece a line:
// the head, each position (x, y) and each attributed text.
std::string SimCharsetText(const std::string &a_cParams);

// The picture as a 1-bit bitmap file (palette index 0 white, 1 ink).
bool SimWritePicture(const SimCard &a_tCard, const std::string &a_szPath, std::string *a_szErr);

// The number the next card folder gets in a_szDir: one more than the highest
// card-NNNN already there, 1 for an empty or missing folder.
int SimNextCardNumber(const std::string &a_szDir);

// Creates a_szDir and its parents as needed.
bool SimMakeDirs(const std::string &a_szDir, std::string *a_szErr);

// Keeps the card in a_szDir/card-NNNN/; the folder's path goes to a_szFolder.
bool SimKeepCard(const std::string &a_szDir, const SimCard &a_tCard, std::string *a_szFolder, std::string *a_szErr);

#endif
