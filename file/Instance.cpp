// SPDX-License-Identifier: GPL-2.0-or-later
#include "Instance.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include "vorlix.h"
#include "vorlixfile.h"

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U  // Linux 6.3: executable even where the system seals memory files by default
#endif

namespace {

constexpr int defaultLimit = 64;

// What the loader knows; made on first use, so that it is there for calls
// made while the process starts (before this file's globals would be)
struct Loader {
    std::mutex lock;  // guards the rest; never held while decoding
    int limit = -1;   // -1: not yet set
    int live = 0;
    std::string libraryFile;           // where the process named it
    std::vector<unsigned char> image;  // the library's file, read once
    bool imageTried = false;
    bool refused = false;  // the system refused a copy: it will again
};

// Never destroyed: threads may still open and free handles while the
// process exits.
Loader &State()
{
    static Loader &loader = *new Loader;
    return loader;
}

int Limit()
{
    int &limit = State().limit;
    if (limit < 0) {
        limit = defaultLimit;
        if (const char *v = std::getenv("VORLIX_INSTANCES"); v != nullptr && *v != '\0') {
            char *end = nullptr;
            const long n = std::strtol(v, &end, 10);
            if (*end == '\0' && n >= 0 && n <= 1 << 20)
                limit = static_cast<int>(n);
        }
    }
    return limit;
}

// The path of the loaded libvorlix, or the one the process named.
std::string LibraryPath()
{
    if (void *h = dlopen(VORLIX_SONAME, RTLD_LAZY | RTLD_NOLOAD)) {
        link_map *map = nullptr;
        std::string path;
        if (dlinfo(h, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
            path = map->l_name;
        dlclose(h);
        if (!path.empty())
            return path;
    }
    return State().libraryFile;
}

bool ReadImage()
{
    std::vector<unsigned char> &image = State().image;
    bool &imageTried = State().imageTried;
    if (imageTried)
        return !image.empty();
    imageTried = true;
    const std::string path = LibraryPath();
    if (path.empty())
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char chunk[1 << 14];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0)
                image.clear();
            break;
        }
        image.insert(image.end(), chunk, chunk + n);
    }
    close(fd);
    return !image.empty();
}

bool WriteAll(int fd, const std::vector<unsigned char> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

template <typename F>
bool Resolve(void *handle, const char *name, F &to)
{
    void *p = dlsym(handle, name);
    to = reinterpret_cast<F>(p);
    return p != nullptr;
}

bool ResolveAll(void *handle, DecoderCalls &calls)
{
    return Resolve(handle, "Init", calls.init) && Resolve(handle, "Exit", calls.exit) &&
           Resolve(handle, "SeekStart", calls.seekStart) && Resolve(handle, "SeekEnd", calls.seekEnd) &&
           Resolve(handle, "DecompressAudio", calls.decompress) &&
           Resolve(handle, "GetHeaderInfo", calls.headerInfo);
}

} // namespace

std::unique_ptr<Instance> Instance::Load()
{
    // the process's own copy is known before any other: the copies carry
    // its soname, and once one is loaded, a look-up by that name finds it
    SharedCalls();
    Loader &state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    if (state.refused || state.live >= Limit() || !ReadImage())
        return nullptr;
    int fd = memfd_create("libvorlix", MFD_CLOEXEC | MFD_EXEC);
    if (fd < 0 && errno == EINVAL)
        fd = memfd_create("libvorlix", MFD_CLOEXEC);
    if (fd < 0) {
        // out of descriptors passes; a policy or a kernel without them stays
        state.refused = errno == EPERM || errno == EACCES || errno == ENOSYS;
        return nullptr;
    }
    char name[48];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    // the loader knows objects by name: a copy released earlier under this
    // name that has stayed loaded would be handed out again
    if (void *lingering = dlopen(name, RTLD_LAZY | RTLD_NOLOAD)) {
        dlclose(lingering);
        close(fd);
        return nullptr;
    }
    if (!WriteAll(fd, state.image)) {
        close(fd);
        return nullptr;
    }
    void *handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // no /proc, executable memory files refused, a file that is no
        // library: asking again for each handle would only fail again
        state.refused = true;
        close(fd);
        return nullptr;
    }
    DecoderCalls calls{};
    std::unique_ptr<Instance> instance;
    // a copy of its own, not the process's
    if (ResolveAll(handle, calls) && calls.decompress != SharedCalls().decompress)
        instance.reset(new (std::nothrow) Instance);
    if (instance == nullptr) {
        dlclose(handle);
        close(fd);
        return nullptr;
    }
    instance->calls_ = calls;
    instance->handle_ = handle;
    instance->fd_ = fd;
    ++state.live;
    return instance;
}

Instance::~Instance()
{
    calls_.exit();  // releases the decoder's memory
    std::lock_guard<std::mutex> lock(State().lock);
    dlclose(handle_);
    close(fd_);
    --State().live;
}

const DecoderCalls &SharedCalls()
{
    static const DecoderCalls calls = [] {
        DecoderCalls linked{Init, Exit, SeekStart, SeekEnd, DecompressAudio, GetHeaderInfo};
        // the shared object's own functions (it stays loaded: the file
        // library needs it), not whatever the process's scope finds first
        if (void *h = dlopen(VORLIX_SONAME, RTLD_LAZY | RTLD_NOLOAD)) {
            DecoderCalls own{};
            if (ResolveAll(h, own))
                linked = own;
        }
        return linked;
    }();
    return calls;
}

int SetInstanceLimit(int n)
{
    std::lock_guard<std::mutex> lock(State().lock);
    const int before = Limit();
    if (n >= 0)
        State().limit = n;
    return before;
}

int LiveInstances()
{
    std::lock_guard<std::mutex> lock(State().lock);
    return State().live;
}

void UseLibraryFile(const char *path)
{
    Loader &state = State();
    std::lock_guard<std::mutex> lock(state.lock);
    state.libraryFile = path != nullptr ? path : "";
    state.image.clear();
    state.imageTried = false;
    state.refused = false;
}

VORLIXFILE_API int vf_set_instance_limit(int n)
{
    return n < 0 ? VF_EINVAL : SetInstanceLimit(n);
}
