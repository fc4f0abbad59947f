// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The libc entry points, in every spelling that glibc's headers turn the calls into for large-file,
// fortified and 64-bit-time builds, and libc's own definitions behind them. This file is itself built
// without those renames, so that each definition keeps its own name.
#include "Internals.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
ssize_t __read_chk(int fd, void* buffer, size_t count, size_t bufferSize);
int __ioctl_time64(int fd, unsigned long request, ...) noexcept;
[[noreturn]] void __chk_fail();
}

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

namespace {

using norsim::Registry;
namespace real = norsim::real;

// Calls that the dynamic linker makes while this thread looks up a libc function go straight on: the
// registry's set-up may be what triggered the look-up.
Registry* registry() { return real::t_resolving ? nullptr : &Registry::instance(); }

// A registry result (value or -errno) as libc gives it.
template <typename T>
T finish(std::int64_t result) {
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    if (result > std::numeric_limits<T>::max()) {
        errno = EOVERFLOW;
        return -1;
    }
    return static_cast<T>(result);
}

template <typename T, typename Simulate, typename Forward>
T dispatch(Simulate simulate, Forward forward) {
    if (Registry* const simulated = registry()) {
        if (const auto result = simulate(*simulated)) return finish<T>(*result);
    }
    return forward();
}

template <typename Forward>
int openPath(const char* path, int flags, Forward forward) {
    Registry* const simulated = registry();
    if (simulated != nullptr) {
        if (const auto fd = simulated->open(path, flags)) return finish<int>(*fd);
    }
    const int fd = forward();
    if (simulated != nullptr && fd >= 0) simulated->forget(fd);
    return fd;
}

mode_t modeArgument(int flags, std::va_list arguments) {
    const bool takesMode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return takesMode ? va_arg(arguments, mode_t) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(path, flags, [&] { return real::open(path, flags, mode); });
}

int open64(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openPath(path, flags, [&] { return real::open64(path, flags, mode); });
}

int __open_2(const char* path, int flags) {
    return openPath(path, flags, [&] { return real::openChecked(path, flags); });
}

int __open64_2(const char* path, int flags) {
    return openPath(path, flags, [&] { return real::open64Checked(path, flags); });
}

int close(int fd) {
    return dispatch<int>([&](Registry& simulated) { return simulated.close(fd); }, [&] { return real::close(fd); });
}

ssize_t read(int fd, void* buffer, size_t count) {
    return dispatch<ssize_t>([&](Registry& simulated) { return simulated.read(fd, buffer, count); },
                             [&] { return real::read(fd, buffer, count); });
}

ssize_t __read_chk(int fd, void* buffer, size_t count, size_t bufferSize) {
    if (count > bufferSize) __chk_fail();
    return read(fd, buffer, count);
}

ssize_t write(int fd, const void* data, size_t count) {
    return dispatch<ssize_t>([&](Registry& simulated) { return simulated.write(fd, data, count); },
                             [&] { return real::write(fd, data, count); });
}

off_t lseek(int fd, off_t offset, int whence) noexcept {
    return dispatch<off_t>([&](Registry& simulated) { return simulated.seek(fd, offset, whence); },
                           [&] { return real::lseek(fd, offset, whence); });
}

off64_t lseek64(int fd, off64_t offset, int whence) noexcept {
    return dispatch<off64_t>([&](Registry& simulated) { return simulated.seek(fd, offset, whence); },
                             [&] { return real::lseek64(fd, offset, whence); });
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);
    return dispatch<int>([&](Registry& simulated) { return simulated.control(fd, request, argument); },
                         [&] { return real::ioctl(fd, request, argument); });
}

int __ioctl_time64(int fd, unsigned long request, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);
    return dispatch<int>([&](Registry& simulated) { return simulated.control(fd, request, argument); },
                         [&] { return real::ioctlTime64(fd, request, argument); });
}

}  // extern "C"
