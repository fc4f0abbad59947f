#include "RealLibc.h"

#include <atomic>
#include <cstdint>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace norsim::real {
namespace {

thread_local bool t_resolving = false;

// Null when the dynamic linker has called back into an interposed function while resolving one (the
// nested call must not resolve again), or when libc has no such name. Either way the caller then
// makes the system call itself.
template <typename Function>
Function next(std::atomic<void*>& slot, const char* name) {
    void* function = slot.load(std::memory_order_acquire);
    if (function == nullptr && !t_resolving) {
        t_resolving = true;
        function = dlsym(RTLD_NEXT, name);
        t_resolving = false;
        slot.store(function, std::memory_order_release);
    }
    return reinterpret_cast<Function>(function);
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenCheckedFunction = int (*)(const char*, int);
using IoctlFunction = int (*)(int, unsigned long, ...);

int kernelOpen(const char* path, int flags, mode_t mode) {
    return static_cast<int>(syscall(SYS_openat, static_cast<long>(AT_FDCWD), path, static_cast<long>(flags),
                                    static_cast<long>(mode)));
}

}  // namespace

bool resolving() { return t_resolving; }

int open(const char* path, int flags, mode_t mode) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<OpenFunction>(slot, "open")) return function(path, flags, mode);
    return kernelOpen(path, flags, mode);
}

int open64(const char* path, int flags, mode_t mode) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<OpenFunction>(slot, "open64")) return function(path, flags, mode);
    return kernelOpen(path, flags | O_LARGEFILE, mode);
}

int openChecked(const char* path, int flags) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<OpenCheckedFunction>(slot, "__open_2")) return function(path, flags);
    return kernelOpen(path, flags, 0);
}

int open64Checked(const char* path, int flags) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<OpenCheckedFunction>(slot, "__open64_2")) return function(path, flags);
    return kernelOpen(path, flags | O_LARGEFILE, 0);
}

int close(int fd) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<int (*)(int)>(slot, "close")) return function(fd);
    return static_cast<int>(syscall(SYS_close, static_cast<long>(fd)));
}

ssize_t read(int fd, void* buffer, size_t count) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<ssize_t (*)(int, void*, size_t)>(slot, "read")) return function(fd, buffer, count);
    return syscall(SYS_read, static_cast<long>(fd), buffer, count);
}

ssize_t write(int fd, const void* data, size_t count) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<ssize_t (*)(int, const void*, size_t)>(slot, "write")) {
        return function(fd, data, count);
    }
    return syscall(SYS_write, static_cast<long>(fd), data, count);
}

off_t lseek(int fd, off_t offset, int whence) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<off_t (*)(int, off_t, int)>(slot, "lseek")) return function(fd, offset, whence);
    return syscall(SYS_lseek, static_cast<long>(fd), static_cast<long>(offset), static_cast<long>(whence));
}

off64_t lseek64(int fd, off64_t offset, int whence) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<off64_t (*)(int, off64_t, int)>(slot, "lseek64")) {
        return function(fd, offset, whence);
    }
#ifdef SYS__llseek
    // 32-bit kernels take a 64-bit offset in two halves.
    const auto bits = static_cast<std::uint64_t>(offset);
    off64_t position = 0;
    const long done = syscall(SYS__llseek, static_cast<long>(fd), static_cast<unsigned long>(bits >> 32),
                              static_cast<unsigned long>(bits & 0xFFFFFFFFu), &position, static_cast<long>(whence));
    return done == 0 ? position : -1;
#else
    return syscall(SYS_lseek, static_cast<long>(fd), static_cast<long>(offset), static_cast<long>(whence));
#endif
}

int ioctl(int fd, unsigned long request, void* argument) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<IoctlFunction>(slot, "ioctl")) return function(fd, request, argument);
    return static_cast<int>(syscall(SYS_ioctl, static_cast<long>(fd), request, argument));
}

// Only 32-bit glibc has the 64-bit-time spelling; elsewhere it is plain ioctl.
int ioctlTime64(int fd, unsigned long request, void* argument) {
    static std::atomic<void*> slot{nullptr};
    if (const auto function = next<IoctlFunction>(slot, "__ioctl_time64")) return function(fd, request, argument);
    return ioctl(fd, request, argument);
}

}  // namespace norsim::real
