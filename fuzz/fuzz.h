// Scaffolding shared by the fuzz targets: a check that stops the fuzzer with
// its reason, allocations of exactly the size asked (so that a read or write
// past them shows under ASan), files written whole, and a private working
// folder for the targets that read settings files from it.
#ifndef VESTRUN_FUZZ_H
#define VESTRUN_FUZZ_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

inline void Write(const char *a_szPath, const uint8_t *a_p, size_t a_n)
{
    FILE *fp = fopen(a_szPath, "wb");
    Check(fp != nullptr && (a_n == 0 || fwrite(a_p, 1, a_n, fp) == a_n) && fclose(fp) == 0, "cannot write a file");
}

// Made once per process (a function-local static), removed with the settings
// files written into it when the process ends.
struct PrivateDir {
    std::string sPath = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/vestrun-fuzz-XXXXXX";
    int iHome = open(".", O_RDONLY | O_DIRECTORY);
    PrivateDir() { Check(mkdtemp(&sPath[0]) != nullptr && iHome >= 0, "cannot make a private folder"); }
    ~PrivateDir()
    {
        for (const char *szName : {"/printstyle.txt", "/printsetting.txt"}) unlink((sPath + szName).c_str());
        rmdir(sPath.c_str());
    }
    // a_fn inside the folder, then back, so that corpus paths relative to the start keep working.
    template <class F>
    void Within(F a_fn) const
    {
        Check(chdir(sPath.c_str()) == 0, "cannot step into the private folder");
        a_fn();
        Check(fchdir(iHome) == 0, "cannot step back");
    }
};

}  // namespace fz

#endif
