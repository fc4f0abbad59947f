// The libc entry points, in every spelling that glibc's headers turn the calls into for large-file,
// fortified and 64-bit-time builds. This file is itself built without those renames, so that each
// definition keeps its own name.
#include "RealLibc.h"
#include "Registry.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
ssize_t __read_chk(int fd, void* buffer, size_t count, size_t bufferSize);
int __ioctl_time64(int fd, unsigned long request, ...) noexcept;
[[noreturn]] void __chk_fail();
}

namespace {

using norsim::Registry;
namespace real = norsim::real;

// Calls that the dynamic linker makes while it looks up a libc function go straight on: the
// registry may be what is being set up.
Registry* registry() { return real::resolving() ? nullptr : &Registry::instance(); }

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
