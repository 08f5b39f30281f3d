// Runs a fuzz target over the files of its corpus, without the fuzzer: the
// ordinary builds (and the sanitizer one) check every seed on each test run.
#include "rtl/files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no input files\n");
        return 1;
    }
    for (const auto &file : files) {
        std::string bytes;
        try {
            bytes = ReadWholeFile(file);
        } catch (const EFileReadError &e) {
            std::fprintf(stderr, "%s\n", e.what());  // a seed not replayed is a failure, not a pass
            return 1;
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs\n", files.size());
    return 0;
}
