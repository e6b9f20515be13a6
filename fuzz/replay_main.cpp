// Runs fuzz inputs through LLVMFuzzerTestOneInput without libFuzzer: every file
// named on the command line, or every file of every folder named. Each input is
// copied into an allocation of its own size so that over-reads show under ASan
// and valgrind.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool bRunFile(const std::string &path)
{
    FILE *fp = fopen(path.c_str(), "rb");
    if (fp == nullptr) {
        fprintf(stderr, "replay: cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, fp)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    fclose(fp);
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    return true;
}

int main(int argc, char **argv)
{
    int iRun = 0;
    bool bOk = true;
    for (int i = 1; i < argc; i++) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "replay: %s not found\n", argv[i]);
            bOk = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            DIR *dir = opendir(argv[i]);
            if (dir == nullptr) {
                bOk = false;
                continue;
            }
            while (struct dirent *ent = readdir(dir)) {
                std::string name = ent->d_name;
                if (name == "." || name == "..") {
                    continue;
                }
                bOk = bRunFile(std::string(argv[i]) + "/" + name) && bOk;
                iRun++;
            }
            closedir(dir);
        } else {
            bOk = bRunFile(argv[i]) && bOk;
            iRun++;
        }
    }
    printf("replay: %d inputs\n", iRun);
    return bOk ? 0 : 1;
}
