// A reader of 1-bit BMP files for the tests, written apart from the tool's
// own reader, so that a picture the tool sent and a picture the stand-in kept
// are compared by something that shares no code with either.
#ifndef VESTRUN_TEST_BMPREAD_H
#define VESTRUN_TEST_BMPREAD_H

#include <string>
#include <vector>

namespace vt {

// The pixels of an uncompressed 1-bit BMP (a 40-byte or longer info header,
// rows stored bottom up) as one string per row, top row first: '#' for
// palette index 1, '.' for index 0. Empty for any other file.
std::vector<std::string> ReadMonoBmp(const std::string &file);

}  // namespace vt

#endif
