// Numbers as people type them on the command line and in fault rules.
#ifndef VESTRUN_SIM_NUMBER_H
#define VESTRUN_SIM_NUMBER_H

#include <string>

// A decimal number of at most nine digits within [a_iMin, a_iMax], nothing
// else: no sign, no blanks, no exponent.
inline bool SimParseNumber(const std::string &a_sText, long a_iMin, long a_iMax, long *a_iOut)
{
    if (a_sText.empty() || a_sText.size() > 9) {
        return false;
    }
    long iVal = 0;
    for (char c : a_sText) {
        if (c < '0' || c > '9') {
            return false;
        }
        iVal = iVal * 10 + (c - '0');
    }
    if (iVal < a_iMin || iVal > a_iMax) {
        return false;
    }
    *a_iOut = iVal;
    return true;
}

#endif
