// Any command line of an issuing run, up to its stripe: the argument check,
// and for every command line it lets through, the patient record and its
// magnetic record frame. A command line the check accepts must give a whole
// frame: STX "9", the 69 bytes of the stripe and ETX, with no byte inside
// that would end the frame early, in a buffer of exactly 73 bytes (the frame
// and its block check).
//
// Input: the ten arguments, separated by NUL bytes (missing ones are empty).
#include <string>
#include <vector>

#include "frames.h"
#include "fuzz.h"
#include "head.h"
#include "patient.h"
#include "sock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096) return 0;
    std::vector<std::string> vArgs(RUN_ARG_N + 1);
    for (size_t i = 0, k = 1; i < size && k <= RUN_ARG_N; i++)
        data[i] == 0 ? (void)k++ : vArgs[k].push_back(static_cast<char>(data[i]));
    std::vector<char *> argv;
    for (auto &s : vArgs) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    if (iArgCheck(RUN_ARG_N + 1, argv.data()) != 0) return 0;
    T_PAT_INF tPat{};
    vPatFill(&tPat, argv.data());
    auto cSnd = fz::Exact(73), cJis = fz::Exact(128);
    const char *f = fz::Chars(cSnd);
    fz::Check(iMagRecord(&tPat, fz::Chars(cSnd), 73, fz::Chars(cJis), 128) == 72,
              "an accepted command line gave no magnetic record");
    fz::Check(f[0] == SCK_STX && f[1] == '9' && f[71] == SCK_ETX, "record not STX 9 ... ETX");
    fz::Check(std::string(f + 2, 69).find_first_of(std::string("\0\2\3", 3)) == std::string::npos,
              "record holds a byte that ends the frame");
    return 0;
}
