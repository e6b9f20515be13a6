// A C stream that closes itself: every file the tool reads or writes through
// stdio is held in one of these, so no path out of a function leaks it.
#ifndef VESTRUN_CFILE_H
#define VESTRUN_CFILE_H

#include <cstdio>
#include <memory>

struct FileCloser {
    void operator()(FILE *a_fp) const
    {
        if (a_fp != nullptr) {
            fclose(a_fp);
        }
    }
};
using CFile = std::unique_ptr<FILE, FileCloser>;

#endif
