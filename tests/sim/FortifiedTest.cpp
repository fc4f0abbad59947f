// Built with _FILE_OFFSET_BITS=64 and _FORTIFY_SOURCE=2, which turn the calls below into open64,
// __open64_2, lseek64 and __read_chk. It shares no inline helper with the other sources, which see
// the plain names.
#include "NorSim.h"

#include <cstdint>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr const char* path = "/dev/norsim-fortified";

TEST(FortifiedDeathTest, RenamedSpellingsReachTheNodeAndReadsAreChecked) {
    norsim::ScopedNode node(path, 0x2000, 0x1000);
    node->poke(0x1000, {1, 2, 3, 4});
    volatile int flags = O_RDWR;
    const int checked = ::open(path, flags);
    const int fd = ::open(path, O_RDWR);
    EXPECT_EQ(node->openCount(), 2);
    EXPECT_EQ(::lseek(fd, 0x1000, SEEK_SET), 0x1000);
    // Counts the compiler cannot see, into buffers whose size it can: checked reads.
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(::read(fd, buffer, node->size() / 0x800), 4);
    EXPECT_EQ(buffer[3], 4);
    EXPECT_DEATH({ [[maybe_unused]] const ssize_t got = ::read(fd, buffer, node->size() / 0x400); },
                 "buffer overflow");
    ::close(fd);
    ::close(checked);
    EXPECT_EQ(node->openCount(), 0);
}

}  // namespace
