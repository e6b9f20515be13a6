// Configure check: the compiler keeps the byte escapes of a plain string
// literal as they are (カ－ド, ×, 男性 in CP932).
#include "charset-want.h"

constexpr char kText[] = "\x83\x4A\x81\x7C\x83\x68" "\x81\x7E" "\x92\x6A\x90\xAB";
static_assert(bSame(kText), "byte escapes do not give their bytes");

int main() { return 0; }
