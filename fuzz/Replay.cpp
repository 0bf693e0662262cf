// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a fuzz target once over each file named on the command line (or each
// file of a named folder): the corpus replay that regular builds run as a test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
                files.push_back(entry.path());
        } else {
            files.push_back(argv[i]);
        }
        for (const auto &file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
            // every input also with each of a few control prefixes
            for (uint8_t prefix : {0, 0x11, 0x52, 0xff}) {
                std::vector<uint8_t> input(24, prefix);
                input.insert(input.end(), bytes.begin(), bytes.end());
                LLVMFuzzerTestOneInput(input.data(), input.size());
            }
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++runs;
        }
    }
    std::printf("replayed %zu inputs\n", runs);
    return 0;
}
