// SPDX-License-Identifier: GPL-2.0-or-later
// libvorlix keeps one decoder per loaded copy of itself. Each handle gets a
// copy of its own: the library's file copied into an anonymous memory file
// and loaded from there, so that its decoder state is the handle's alone and
// handles decode in parallel, each as it would alone in a process. Where no
// copy can be had, handles share the copy the process linked, in turn.
#ifndef VORLIX_FILE_INSTANCE_H
#define VORLIX_FILE_INSTANCE_H

#include <cstdint>
#include <memory>

/** libvorlix's six calls, in one loaded copy of it. */
struct DecoderCalls {
    void (*init)(int32_t eqEnabled, const int8_t *bandSettings);
    void (*exit)();
    void (*seekStart)();
    void (*seekEnd)();
    int32_t (*decompress)(const uint8_t *data, int32_t length, uint8_t *outBuffer, uint32_t reserved,
                          int32_t *outBytes, int32_t *streamPosition);
    int32_t (*headerInfo)(const uint8_t *data, int32_t length, int32_t *sampleRate, int32_t *channels,
                          int32_t *bitRate, uint16_t *title, uint16_t *artist, uint16_t *album);
};

/** A private copy of libvorlix. Destroying it closes its decoder and
 *  unloads it: a copy is never reused, as its output stage's error feedback
 *  would carry over into the next stream. */
class Instance {
public:
    /** A new copy, or null where none can be had: the limit reached, or the
     *  system refuses (no anonymous memory files, no /proc, a policy against
     *  executable mappings of them, the library's file not found). */
    static std::unique_ptr<Instance> Load();
    ~Instance();
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;

    const DecoderCalls &Calls() const { return calls_; }

private:
    Instance() = default;
    void *handle_ = nullptr;
    int fd_ = -1;  // open while loaded, so that no other copy takes its name
    DecoderCalls calls_{};
};

/** The copy the process linked, shared by handles without a copy of their
 *  own. Resolved in that copy itself, so that a host's own functions of the
 *  same names never stand in for it. */
const DecoderCalls &SharedCalls();

/** The most private copies alive at once (n >= 0); returns the limit it
 *  replaces. Until set, VORLIX_INSTANCES in the environment, or 64. */
int SetInstanceLimit(int n);

/** Private copies alive now. */
int LiveInstances();

/** For a process that has libvorlix's code linked into itself rather than
 *  its shared object loaded (the tests): the shared object to copy. */
void UseLibraryFile(const char *path);

#endif
