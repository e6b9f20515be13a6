// For the targets that read settings files from the working folder: a private
// folder made once per process and emptied at exit. A target steps into it for
// each input and back out, so corpus paths relative to the starting folder
// keep working.
#ifndef VESTRUN_FUZZ_SETTINGS_H
#define VESTRUN_FUZZ_SETTINGS_H

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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

struct Dirs {
    int iHome;     // where the process started
    int iPrivate;  // the folder that holds the settings files
};

inline std::string &PrivatePath()
{
    static std::string path;
    return path;
}

inline void RemovePrivate()
{
    if (DIR *dir = opendir(PrivatePath().c_str())) {
        while (struct dirent *ent = readdir(dir)) {
            std::string name = ent->d_name;
            if (name != "." && name != "..") {
                unlink((PrivatePath() + "/" + name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(PrivatePath().c_str());
}

inline Dirs MakeDirs(const char *a_szName)
{
    const char *szBase = getenv("TMPDIR");
    std::string tmpl = std::string(szBase && *szBase ? szBase : "/tmp") + "/" + a_szName + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    Check(mkdtemp(name.data()) != nullptr, "cannot make a private folder");
    Dirs d{open(".", O_RDONLY | O_DIRECTORY), open(name.data(), O_RDONLY | O_DIRECTORY)};
    Check(d.iHome >= 0 && d.iPrivate >= 0, "cannot open the folders");
    PrivatePath() = name.data();
    atexit(RemovePrivate);
    return d;
}

}  // namespace fz

#endif
