// The magnetic stripe read back into text, as the machine hears it: the
// stand-in decodes the record with the C library's character set converter,
// never with the tool's own conversions, so that a fault in those shows up.
#ifndef VESTRUN_SIM_STRIPE_H
#define VESTRUN_SIM_STRIPE_H

#include <string>

enum { SIM_RECORD_LEN = 69 };

// The stripe's fields as text (UTF-8). The stripe carries the patient number
// right-aligned, the kana name as 7-bit half-width katakana between SO and SI
// (shown here full-width, voiced marks joined to their letters), the kanji
// name as bare JIS X 0208 codes between ESC K and ESC H, the dates and the
// sex as they were typed. Fill blanks are left out. What forms no character
// comes out as \xNN, a two-byte code always as both of its bytes.
struct SimStripe {
    std::string sNumber;
    std::string sKana;
    std::string sBirth;
    std::string sSex;
    std::string sKanji;
    std::string sFirst;
    std::string sProblem;  // what in the layout was not as it should be; empty when all is well
};

// Reads a 69-byte magnetic record; false (and nothing decoded) for any other length.
bool SimDecodeStripe(const std::string &a_cRecord, SimStripe *a_tStripe);

// Shift_JIS (CP932) to UTF-8. Bytes that form no character, and control
// characters, come out as \xNN (a lead byte with its trail byte both), so the
// result is always one line of valid UTF-8.
std::string SimCp932ToUtf8(const std::string &a_cSjis);

#endif
