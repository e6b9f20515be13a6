// Scaffolding shared by the fuzz targets: a check that stops the fuzzer with
// its reason, allocations of exactly the size asked (so that a read or write
// past them shows under ASan), and files written whole.
#ifndef VESTRUN_FUZZ_H
#define VESTRUN_FUZZ_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fz {

inline void Check(bool a_bOk, const char *a_szWhat)
{
    if (!a_bOk) {
        fprintf(stderr, "fuzz: %s\n", a_szWhat);
        abort();
    }
}

// a_n bytes of heap, nothing around them.
inline std::unique_ptr<unsigned char[]> Exact(size_t a_n) { return std::make_unique<unsigned char[]>(a_n ? a_n : 1); }
inline char *Chars(const std::unique_ptr<unsigned char[]> &a_p) { return reinterpret_cast<char *>(a_p.get()); }

inline void Write(const char *a_szPath, const uint8_t *a_p, size_t a_n)
{
    FILE *fp = fopen(a_szPath, "wb");
    Check(fp != nullptr && (a_n == 0 || fwrite(a_p, 1, a_n, fp) == a_n) && fclose(fp) == 0, "cannot write a file");
}

}  // namespace fz

#endif
