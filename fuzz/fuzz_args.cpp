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
    std::vector<std::string> vArgs(RUN_ARG_N + 1, "");
    for (size_t i = 0, k = 1; i < size && k <= RUN_ARG_N && size <= 4096; i++)
        data[i] == 0 ? (void)k++ : vArgs[k].push_back(static_cast<char>(data[i]));
    std::vector<char *> argv;
    for (auto &s : vArgs) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    if (size > 4096 || iArgCheck(RUN_ARG_N + 1, argv.data()) != 0) return 0;
    T_PAT_INF tPat{};
    vPatFill(&tPat, argv.data());
    auto cSnd = fz::Exact(73), cJis = fz::Exact(128);
    char *f = reinterpret_cast<char *>(cSnd.get());
    fz::Check(iMagRecord(&tPat, f, 73, reinterpret_cast<char *>(cJis.get()), 128) == 72,
              "an accepted command line gave no magnetic record");
    fz::Check(f[0] == SCK_STX && f[1] == '9' && f[71] == SCK_ETX, "record not STX 9 ... ETX");
    for (int i = 2; i < 71; i++)
        fz::Check(f[i] != '\0' && f[i] != SCK_STX && f[i] != SCK_ETX, "record holds a byte that ends the frame");
    return 0;
}
