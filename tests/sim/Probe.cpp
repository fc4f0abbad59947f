// Programs bytes into a flash node and prints what then reads back, with nothing but the plain libc
// calls: it works only when the simulator is preloaded and NORSIM_NODES names the node.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const int fd = open(argv[1], O_RDWR);
    const off_t offset = std::strtol(argv[2], nullptr, 0);
    std::vector<unsigned char> bytes;
    for (const char* hex = argv[3]; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(std::string(hex, 2), nullptr, 16)));
    }
    const auto count = static_cast<ssize_t>(bytes.size());
    if (fd < 0 || lseek(fd, offset, SEEK_SET) != offset || write(fd, bytes.data(), bytes.size()) != count ||
        lseek(fd, offset, SEEK_SET) != offset || read(fd, bytes.data(), bytes.size()) != count) {
        std::perror(argv[1]);
        return 1;
    }
    for (const unsigned char byte : bytes) std::printf("%02x", byte);
    std::printf("\n");
    return close(fd) == 0 ? 0 : 1;
}
