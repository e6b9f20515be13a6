// Scaffolding shared by the fuzz targets: a check that stops the fuzzer with
// its reason, input copied into allocations of their exact size (so a read or
// write past them shows under ASan), and a private working folder for the
// targets that read settings files from it.
#ifndef VESTRUN_FUZZ_H
#define VESTRUN_FUZZ_H

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace fz {

inline void Check(bool a_bOk, const char *a_szWhat)
{
    if (!a_bOk) {
        fprintf(stderr, "fuzz: %s\n", a_szWhat);
        abort();
    }
}

// a_n bytes of heap, nothing around them.
inline std::unique_ptr<unsigned char[]> Exact(size_t a_n)
{
    return std::unique_ptr<unsigned char[]>(new unsigned char[a_n ? a_n : 1]);
}

// The bytes as a C string in an allocation of its own (a NUL inside ends it).
inline std::vector<unsigned char> Text(const uint8_t *a_p, size_t a_n)
{
    std::vector<unsigned char> v(a_p, a_p + a_n);
    v.push_back(0);
    return v;
}

// Run log lines go nowhere: a fuzzer writes millions.
inline void Quiet() { Check(freopen("/dev/null", "w", stdout) != nullptr, "cannot silence standard output"); }

// A folder made once per process (a function-local static) and removed with
// what was written into it when the process ends. Within() steps into it for
// one input and back out, so corpus paths relative to the starting folder
// keep working.
class PrivateDir {
public:
    explicit PrivateDir(const char *a_szName)
    {
        const char *szBase = getenv("TMPDIR");
        std::string tmpl = std::string(szBase && *szBase ? szBase : "/tmp") + "/" + a_szName + "-XXXXXX";
        Check(mkdtemp(&tmpl[0]) != nullptr, "cannot make a private folder");
        m_sPath = tmpl;
        m_iHome = open(".", O_RDONLY | O_DIRECTORY);
        m_iDir = open(tmpl.c_str(), O_RDONLY | O_DIRECTORY);
        Check(m_iHome >= 0 && m_iDir >= 0, "cannot open the folders");
    }
    ~PrivateDir()
    {
        for (const char *szName : {"printstyle.txt", "printsetting.txt"}) unlink((m_sPath + "/" + szName).c_str());
        rmdir(m_sPath.c_str());
    }
    template <class F>
    void Within(F a_fn) const
    {
        Check(fchdir(m_iDir) == 0, "cannot step into the private folder");
        a_fn();
        Check(fchdir(m_iHome) == 0, "cannot step back");
    }
    // Only printstyle.txt and printsetting.txt: the folder is emptied of those.
    static void Write(const char *a_szName, const uint8_t *a_p, size_t a_n)
    {
        FILE *fp = fopen(a_szName, "wb");
        Check(fp != nullptr && (a_n == 0 || fwrite(a_p, 1, a_n, fp) == a_n) && fclose(fp) == 0, "cannot write a file");
    }

private:
    std::string m_sPath;
    int m_iHome = -1, m_iDir = -1;
};

}  // namespace fz

#endif
