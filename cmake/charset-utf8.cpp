// Configure check: with the flags under test the compiler turns UTF-8 text
// literals into CP932.
#include "charset-want.h"

constexpr char kText[] = "カ－ド" "×" "男性";
static_assert(bSame(kText), "UTF-8 text not turned into CP932");

int main() { return 0; }
