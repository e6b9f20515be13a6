// Runs fuzz inputs through LLVMFuzzerTestOneInput without libFuzzer: every file
// named on the command line, or every file of every folder named. Each input is
// copied into an allocation of its own size, so over-reads show under ASan.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        if (!std::filesystem::is_directory(argv[i], ec)) inputs.push_back(argv[i]);
        for (const auto &ent : std::filesystem::directory_iterator(argv[i], ec)) inputs.push_back(ent.path());
    }
    for (const auto &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        fz::Check(in.good(), "an input named cannot be read");
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto copy = fz::Exact(bytes.size());
        memcpy(copy.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    }
    fprintf(stderr, "replay: %zu inputs\n", inputs.size());
    return 0;
}
