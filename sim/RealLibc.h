// The definitions that the interposed calls hide (libc's), looked up on first use.
#pragma once

#include <sys/types.h>

namespace norsim::real {

// True while this thread is inside the dynamic linker looking one of them up. Calls made meanwhile
// must not reach the simulator, whose set-up may be what triggered the look-up.
bool resolving();

int open(const char* path, int flags, mode_t mode);
int open64(const char* path, int flags, mode_t mode);
int openChecked(const char* path, int flags);
int open64Checked(const char* path, int flags);
int close(int fd);
ssize_t read(int fd, void* buffer, size_t count);
ssize_t write(int fd, const void* data, size_t count);
off_t lseek(int fd, off_t offset, int whence);
off64_t lseek64(int fd, off64_t offset, int whence);
int ioctl(int fd, unsigned long request, void* argument);
int ioctlTime64(int fd, unsigned long request, void* argument);

}  // namespace norsim::real
