// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile variants of the fixtures: the structures a host reads (RIFF
// chunks, ID3v2, APEv2, Lyrics3 and ID3v1 tags, the Xing/Info, LAME and
// VBRI header frames, frame headers) rewritten so that their sizes, counts,
// flags and places lie, or cut short inside them. Each variant follows
// from its seed, fixture, structure and mutation alone, so that one line
// reproduces it. Plain C++: the fuzz build writes variants into the corpora.
#ifndef VORLIX_TESTS_HOSTILE_VARIANTS_H
#define VORLIX_TESTS_HOSTILE_VARIANTS_H

#include <cstdint>
#include <string>
#include <vector>

namespace hostile {

using Bytes = std::vector<uint8_t>;

struct Fixture {
    std::string name;  // file name in the fixture folder
    Bytes bytes;
};

/** The fixtures (*.mp3, *.wav) of a folder, by name. */
std::vector<Fixture> LoadFixtures(const std::string &folder);

/** A mutation of one structure, e.g. {"riff", "chunk-before-data"}. */
struct Mutation {
    const char *structure;
    const char *name;
};

/** Every mutation the generator knows, in a fixed order. */
const std::vector<Mutation> &Mutations();

struct Variant {
    uint32_t seed = 0;
    std::string fixture, structure, mutation;
    std::string detail;  // the values the seed chose, for the reader
    Bytes bytes;

    /** "seed=… fixture=… structure=… mutation=…". */
    std::string Name() const;
};

/** The variant of a fixture: the same four give the same bytes. An unknown
 *  structure or mutation gives the fixture unchanged, detail "unknown". */
Variant MakeVariant(uint32_t seed, const Fixture &fixture, const std::string &structure,
                    const std::string &mutation);

/** Variant i of a run: every mutation in turn (i modulo their number), on a
 *  fixture and with a seed that follow from the run's seed and i. */
Variant RunVariant(uint32_t runSeed, size_t i, const std::vector<Fixture> &fixtures);

/** Parses "seed=S fixture=F structure=T mutation=M" (Name's output, in any
 *  order, spaces or commas between); false when a field is missing. */
bool ParseName(const std::string &text, uint32_t &seed, std::string &fixture, std::string &structure,
               std::string &mutation);

} // namespace hostile

#endif
