// SPDX-License-Identifier: GPL-2.0-or-later
// Writes hostile variants of the fixtures into a folder, so that a fuzzer
// starts from files whose structures already lie.
// Usage: hostile_variants FIXTURES OUT COUNT [SEED [CONTROL_BYTES [MAX_BYTES]]]
// CONTROL_BYTES bytes (from each variant's seed) go in front of each file,
// for a fuzz target that reads its options from its input's first bytes;
// a file is cut at MAX_BYTES (the fuzzer's longest input).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "hostile/Variants.h"

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 7) {
        std::fprintf(stderr, "usage: %s FIXTURES OUT COUNT [SEED [CONTROL_BYTES [MAX_BYTES]]]\n", argv[0]);
        return 1;
    }
    const std::string out = argv[2];
    const size_t count = std::strtoul(argv[3], nullptr, 10);
    const uint32_t seed = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 1;
    const size_t control = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 0;
    const size_t most = argc > 6 ? std::strtoul(argv[6], nullptr, 10) : SIZE_MAX;
    const std::vector<hostile::Fixture> fixtures = hostile::LoadFixtures(argv[1]);
    if (fixtures.empty()) {
        std::fprintf(stderr, "%s: no fixtures in %s\n", argv[0], argv[1]);
        return 1;
    }
    std::filesystem::create_directories(out);
    for (size_t i = 0; i < count; ++i) {
        const hostile::Variant v = hostile::RunVariant(seed, i, fixtures);
        hostile::Bytes bytes;
        for (size_t k = 0; k < control; ++k)
            bytes.push_back(static_cast<uint8_t>((v.seed >> (8 * (k % 4))) + 37 * k));
        bytes.insert(bytes.end(), v.bytes.begin(), v.bytes.end());
        bytes.resize(std::min(bytes.size(), most));
        char name[64];
        std::snprintf(name, sizeof name, "/hostile-%u-%zu", seed, i);
        std::ofstream file(out + name, std::ios::binary);
        file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "%s: cannot write %s%s\n", argv[0], out.c_str(), name);
            return 1;
        }
    }
    return 0;
}
