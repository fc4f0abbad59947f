// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Programs TEXT at OFFSET of the node PATH, or without TEXT erases the 4 KiB sector there, with nothing
// but the plain libc calls: it reaches a simulated node only with the simulator preloaded.
//
//   norsim_probe PATH OFFSET [TEXT]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int fd = open(argv[1], O_RDWR);
    const off_t offset = std::atol(argv[2]);
    const auto length = static_cast<ssize_t>(argc > 3 ? std::strlen(argv[3]) : 0);
    erase_info_user sector{static_cast<unsigned>(offset), 0x1000};
    if (fd >= 0 && (argc > 3 ? lseek(fd, offset, SEEK_SET) == offset && write(fd, argv[3], length) == length
                             : ioctl(fd, MEMERASE, &sector) == 0) && close(fd) == 0)
        return 0;
    std::perror(argv[1]);
    return 1;
}
