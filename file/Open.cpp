// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a handle on a file, a descriptor, memory, the host's callbacks or
// pushed bytes; feeding the pushed ones; freeing the handle.
#include "vorlixfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "Handle.h"
#include "Input.h"
#include "SizedRecord.h"
#include "Source.h"

namespace {

void SetError(int *error, int code)
{
    if (error != nullptr)
        *error = code;
}
// Out of memory anywhere in the open is VF_EFAULT: no exception crosses the
// C interface.
VorlixFile *Opened(std::unique_ptr<ByteSource> source, std::string name, int *error)
try {
    auto f = std::make_unique<VorlixFile>();
    f->push = dynamic_cast<PushSource *>(source.get());
    f->in = std::make_unique<Input>(std::move(source), std::move(name));
    const int r = f->push != nullptr ? 0 : Describe(f.get());
    // a file of tags alone opens, for its tags
    if (r < 0 && !(r == VF_ENOTAUDIO && !f->pairs.empty())) {
        SetError(error, r);
        return nullptr;
    }
    SetError(error, 0);
    return f.release();
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

} // namespace

// Each call that may allocate turns out of memory into VF_EFAULT (a null
// handle for the openings): no exception crosses the C interface.
extern "C" {

VORLIXFILE_API const char *vf_strerror(int error)
{
    switch (error) {
    case 0:
        return "success";
    case VF_EREAD:
        return "the input cannot be read";
    case VF_EFAULT:
        return "out of memory";
    case VF_EINVAL:
        return "invalid argument";
    case VF_ENOTAUDIO:
        return "no MPEG audio frames found";
    case VF_ENOSEEK:
        return "the input cannot seek";
    case VF_EBADPOS:
        return "position past the end of the stream";
    case VF_EOPEN:
        return "the file cannot be opened";
    case VF_ENEEDMORE:
        return "more input is needed";
    case VF_ELATE:
        return "the output is fixed once reading has begun";
    case VF_ENOPICTURE:
        return "the tags hold no picture";
    default:
        return "unknown error";
    }
}

VORLIXFILE_API VorlixFile *vf_open_file(const char *path, int *error)
try {
    if (path == nullptr) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    if (std::strcmp(path, "-") == 0)
        return Opened(std::make_unique<FdSource>(STDIN_FILENO, false), path, error);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, VF_EOPEN);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        SetError(error, VF_EOPEN);
        return nullptr;
    }
    return Opened(std::make_unique<FdSource>(fd, true), path, error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_fd(int fd, int *error)
try {
    if (fd < 0) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    return Opened(std::make_unique<FdSource>(fd, false), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_memory(const unsigned char *data, size_t size, int *error)
try {
    if (data == nullptr && size != 0) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    static const unsigned char none = 0;
    return Opened(std::make_unique<MemorySource>(data != nullptr ? data : &none, size), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_callbacks(void *source, const VorlixFileCallbacks *callbacks, int *error)
try {
    if (callbacks == nullptr || !SizeAccepted(callbacks, firstCallbacksSize)) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    const auto own = CopyIn<VorlixFileCallbacks>(callbacks);
    if (own.read == nullptr) {
        SetError(error, VF_EINVAL);
        return nullptr;
    }
    auto callbackSource = std::make_unique<CallbackSource>(source, own);
    CallbackSource *opened = callbackSource.get();
    VorlixFile *f = Opened(std::move(callbackSource), "", error);
    // a handle that failed to open leaves the host's source to the host
    if (f != nullptr)
        opened->CloseAtEnd();
    return f;
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_push(int *error)
try {
    return Opened(std::make_unique<PushSource>(), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API VorlixFile *vf_open_frames(int *error)
try {
    return Opened(std::make_unique<PushSource>(true), "", error);
} catch (const std::bad_alloc &) {
    SetError(error, VF_EFAULT);
    return nullptr;
}

VORLIXFILE_API int vf_feed(VorlixFile *f, const unsigned char *data, size_t n)
try {
    if (f == nullptr || f->push == nullptr || (data == nullptr && n != 0) || f->push->Ended())
        return VF_EINVAL;
    f->push->Feed(data, n);
    return 0;
} catch (const std::bad_alloc &) {
    return VF_EFAULT;
}

VORLIXFILE_API int vf_feed_end(VorlixFile *f)
{
    if (f == nullptr || f->push == nullptr)
        return VF_EINVAL;
    f->push->End();
    return 0;
}

VORLIXFILE_API void vf_free(VorlixFile *f)
{
    delete f;
}

} // extern "C"
