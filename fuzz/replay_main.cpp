// Runs fuzz inputs through LLVMFuzzerTestOneInput without libFuzzer: every file
// named on the command line, or every file of every folder named. Each input is
// copied into an allocation of its own size so that over-reads show under ASan
// and valgrind.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> inputs;
    bool bOk = true;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto &ent : fs::directory_iterator(argv[i], ec)) inputs.push_back(ent.path());
        } else if (fs::exists(argv[i], ec)) {
            inputs.push_back(argv[i]);
        } else {
            fprintf(stderr, "replay: %s not found\n", argv[i]);
            bOk = false;
        }
    }
    for (const auto &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    }
    fprintf(stderr, "replay: %zu inputs\n", inputs.size());
    return bOk ? 0 : 1;
}
