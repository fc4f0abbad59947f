// Injected failures and short transfers: what the caller sees, and that a failed call changes nothing.
#include "SimTest.h"

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

using norsim::Op;
using norsim::OpKind;

namespace {

TEST_F(NodeTest, FailedSeeksAndReadsKeepThePosition) {
    node->poke(0, {7, 8});
    node->failNext(OpKind::Seek);
    node->failNext(OpKind::Read, 2);
    EXPECT_EQ(errorOf(::lseek(fd, 1, SEEK_SET)), EIO);
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Seek, 1, 0, -1}));
    std::uint8_t byte = 0;
    EXPECT_EQ(errorOf(::read(fd, &byte, 1)), EIO);
    EXPECT_EQ(errorOf(::read(fd, &byte, 1)), EIO);
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Read, 0, 1, -1}));
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(byte, 7);
}

TEST_F(NodeTest, FailedProgramsAndErasesChangeNothing) {
    node->fill(sector, sector, 0x00);
    node->failNext(OpKind::Program);
    node->failNext(OpKind::Erase);
    EXPECT_EQ(errorOf(programAt(8, {0x00, 0x00})), EIO);
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Program, 8, 2, -1}));
    erase_info_user request{sector, sector};
    EXPECT_EQ(errorOf(::ioctl(fd, MEMERASE, &request)), EIO);
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Erase, sector, sector, -1}));
    EXPECT_EQ(node->peek(8, 2), ones(2));
    EXPECT_EQ(node->peek(sector, sector), Bytes(sector, 0x00));
    EXPECT_EQ(node->eraseCount(1), 0u);

    EXPECT_EQ(::write(fd, "\x11", 1), 1);
    EXPECT_EQ(::ioctl(fd, MEMERASE, &request), 0);
    EXPECT_EQ(node->peek(8, 1), Bytes{0x11});
    EXPECT_EQ(node->peek(sector, sector), ones(sector));
}

TEST_F(NodeTest, ShortTransfersMoveOnlyTheirFirstBytes) {
    node->shortNext(OpKind::Program, 3);
    EXPECT_EQ(programAt(0, {1, 2, 3, 4, 5}), 3);
    EXPECT_EQ(node->peek(0, 5), (Bytes{1, 2, 3, 0xFF, 0xFF}));
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Program, 0, 5, 3}));
    EXPECT_EQ(::write(fd, "\x04\x05", 2), 2);

    node->shortNext(OpKind::Read, 2, 2);
    EXPECT_EQ(::lseek(fd, 0, SEEK_SET), 0);
    std::uint8_t bytes[16] = {};
    EXPECT_EQ(::read(fd, bytes, 5), 2);
    EXPECT_EQ(::read(fd, bytes + 2, 5), 2);
    EXPECT_EQ(::read(fd, bytes + 4, 5), 5);
    EXPECT_EQ(Bytes(bytes, bytes + 6), (Bytes{1, 2, 3, 4, 5, 0xFF}));
}

TEST_F(NodeTest, FaultsCanWaitForEarlierCallsAndOpensBeBusyForAWhile) {
    node->failNext(OpKind::Read, 1, 2);
    node->shortNext(OpKind::Program, 1, 1, 1);
    std::uint8_t byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(errorOf(::read(fd, &byte, 1)), EIO);
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(programAt(0, {0, 0}), 2);
    EXPECT_EQ(programAt(2, {0, 0}), 1);
    EXPECT_EQ(programAt(3, {0, 0}), 2);

    node->busyFor(2);
    EXPECT_EQ(errorOf(::open(path, O_RDWR)), EBUSY);
    EXPECT_EQ(errorOf(::open(path, O_RDWR)), EBUSY);
    const int other = ::open(path, O_RDWR);
    EXPECT_GE(other, 0);
    ::close(other);
}

TEST_F(NodeTest, ALengthFilterCountsOnlyCallsOfThatLength) {
    node->poke(0, {1, 2, 3, 4, 5, 6, 7, 8});
    // The second 8-byte read fails and the third comes back short; reads of other lengths pass.
    node->failNext(OpKind::Read, 1, 1, 8);
    EXPECT_EQ(readAt(0, 4).size(), 4u);
    EXPECT_EQ(readAt(0, 8).size(), 8u);
    EXPECT_EQ(readAt(0, 4).size(), 4u);
    EXPECT_EQ(readAt(0, 8).size(), 0u);
    EXPECT_EQ(node->ops().back(), (Op{OpKind::Read, 0, 8, -1}));
    EXPECT_EQ(readAt(0, 8).size(), 8u);

    node->shortNext(OpKind::Read, 3, 1, 0, 8);
    EXPECT_EQ(readAt(0, 2).size(), 2u);
    EXPECT_EQ(readAt(0, 8), (Bytes{1, 2, 3}));
    EXPECT_EQ(readAt(0, 8).size(), 8u);

    node->shortNext(OpKind::Program, 1, 1, 0, 2);
    EXPECT_EQ(programAt(8, {0, 0, 0}), 3);
    EXPECT_EQ(programAt(11, {0, 0}), 1);
    EXPECT_EQ(node->peek(8, 5), (Bytes{0, 0, 0, 0, 0xFF}));
    EXPECT_THROW(node->failNext(OpKind::Seek, 1, 0, 8), std::invalid_argument);
}

}  // namespace
