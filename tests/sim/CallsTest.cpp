// The NOR rules, descriptors and records, seen through the libc calls the store makes.
#include "SimTest.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

extern "C" int __open_2(const char* path, int flags);
extern "C" int __ioctl_time64(int fd, unsigned long request, ...);

using norsim::Op;
using norsim::OpKind;

namespace {

int erase(int fd, std::uint32_t start, std::uint32_t length) {
    erase_info_user request{start, length};
    return ::ioctl(fd, MEMERASE, &request);
}

TEST_F(NodeTest, ErasedFlashReadsOnesUpToItsEnd) {
    EXPECT_EQ(readAt(0, size + 16), ones(size));
    std::uint8_t byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 0);
    EXPECT_EQ(readAt(size - 2, 8), ones(2));
}

TEST_F(NodeTest, ProgramsOnlyClearBitsAndOverwritesAreCounted) {
    EXPECT_EQ(programAt(sector - 1, {0xF0, 0x0F}), 2);
    EXPECT_EQ(node->overwriteCount(), 0u);
    EXPECT_EQ(programAt(sector - 1, {0x3C}), 1);
    EXPECT_EQ(node->peek(sector - 1, 3), (Bytes{0x30, 0x0F, 0xFF}));
    EXPECT_EQ(node->overwriteCount(), 1u);
}

TEST_F(NodeTest, ProgramsAdvanceAndStopAtTheEnd) {
    EXPECT_EQ(programAt(size - 3, {1}), 1);
    EXPECT_EQ(::write(fd, "\x02\x03\x04", 3), 2);
    EXPECT_EQ(errorOf(::write(fd, "\x05", 1)), ENOSPC);
    EXPECT_EQ(node->peek(size - 4, 4), (Bytes{0xFF, 1, 2, 3}));
}

TEST_F(NodeTest, EraseTakesOnlyWholeSectorsOfTheNode) {
    node->fill(0, size, 0x00);
    const std::pair<std::uint32_t, std::uint32_t> bad[] = {
        {0, 0}, {1, sector}, {0, sector + 1}, {3 * sector, 2 * sector}, {0xFFFFF000u, 2 * sector}};
    for (const auto& [start, length] : bad) EXPECT_EQ(errorOf(erase(fd, start, length)), EINVAL) << start;
    EXPECT_EQ(node->peek(0, size), Bytes(size, 0x00));

    EXPECT_EQ(erase(fd, sector, 2 * sector), 0);
    EXPECT_EQ(node->peek(0, sector), Bytes(sector, 0x00));
    EXPECT_EQ(node->peek(sector, 2 * sector), ones(2 * sector));
    EXPECT_EQ(node->peek(3 * sector, sector), Bytes(sector, 0x00));
    const std::uint64_t expected[] = {0, 1, 1, 0};
    for (std::uint32_t s = 0; s < 4; ++s) EXPECT_EQ(node->eraseCount(s), expected[s]);
}

TEST_F(NodeTest, InfoDescribesNorFlashAndOtherRequestsAreRefused) {
    mtd_info_user info;
    std::memset(&info, 0xAA, sizeof info);
    ASSERT_EQ(::ioctl(fd, MEMGETINFO, &info), 0);
    EXPECT_EQ(std::tie(info.type, info.flags, info.size, info.erasesize, info.writesize, info.oobsize),
              std::make_tuple(std::uint8_t{MTD_NORFLASH}, std::uint32_t{MTD_CAP_NORFLASH}, size, sector, 1u, 0u));
    erase_info_user request{0, sector};
    EXPECT_EQ(errorOf(::ioctl(fd, MEMLOCK, &request)), ENOTTY);
}

TEST_F(NodeTest, SeeksMoveOnlyTheirOwnDescriptor) {
    node->poke(0, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(::lseek(fd, 2, SEEK_SET), 2);
    EXPECT_EQ(::lseek(fd, 3, SEEK_CUR), 5);
    EXPECT_EQ(::lseek(fd, -1, SEEK_END), size - 1);
    EXPECT_EQ(::lseek(fd, size + 5, SEEK_SET), size + 5);
    EXPECT_EQ(::lseek(fd, 5, SEEK_SET), 5);
    EXPECT_EQ(errorOf(::lseek(fd, -6, SEEK_CUR)), EINVAL);
    EXPECT_EQ(errorOf(::lseek(fd, 0, 99)), EINVAL);
    std::uint8_t byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), 1);
    EXPECT_EQ(byte, 6);
    const int other = ::open(path, O_RDWR);
    EXPECT_EQ(::read(other, &byte, 1), 1);
    EXPECT_EQ(byte, 1);
    ::close(other);
}

TEST_F(NodeTest, BusyNodeRefusesOpensAndClosedDescriptorsAreGone) {
    node->setBusy(true);
    EXPECT_EQ(errorOf(::open(path, O_RDWR)), EBUSY);
    EXPECT_EQ(readAt(0, 1), ones(1));
    node->setBusy(false);
    const int other = ::open(path, O_RDONLY);
    ASSERT_GE(other, 0);
    EXPECT_NE(other, fd);
    EXPECT_EQ(node->openCount(), 2);
    EXPECT_EQ(::close(other), 0);
    EXPECT_EQ(node->openCount(), 1);
    EXPECT_EQ(errorOf(::close(other)), EBADF);
    EXPECT_EQ(errorOf(::close(-1)), EBADF);
}

TEST_F(NodeTest, LogRecordsEveryCallWithItsOffsetLengthAndResult) {
    node->clearOps();
    programAt(16, {0, 0});
    readAt(size - 1, 8);
    erase(fd, sector, sector);
    erase(fd, 1, sector);
    ::lseek(fd, -2, SEEK_END);
    node->setBusy(true);
    ::open(path, O_RDWR);
    node->setBusy(false);
    const int other = ::open(path, O_RDWR);
    ::close(other);
    const std::vector<Op> expected = {
        {OpKind::Seek, 16, 0, 16},             {OpKind::Program, 16, 2, 2},
        {OpKind::Seek, size - 1, 0, size - 1}, {OpKind::Read, size - 1, 8, 1},
        {OpKind::Erase, sector, sector, 0},    {OpKind::Erase, 1, sector, -1},
        {OpKind::Seek, size - 2, 0, size - 2}, {OpKind::Open, 0, 0, -1},
        {OpKind::Open, 0, 0, other},           {OpKind::Close, 0, 0, 0},
    };
    EXPECT_EQ(node->ops(), expected);
    node->clearOps();
    EXPECT_TRUE(node->ops().empty());
}

TEST_F(NodeTest, SetUpBypassesRulesAndRecords) {
    node->clearOps();
    node->fill(0, 4, 0x00);
    node->poke(2, {0xAB});
    EXPECT_EQ(node->peek(0, 5), (Bytes{0, 0, 0xAB, 0, 0xFF}));
    EXPECT_EQ(node->overwriteCount(), 0u);
    EXPECT_TRUE(node->ops().empty());
    EXPECT_THROW(node->peek(size - 1, 2), std::out_of_range);
}

TEST_F(NodeTest, CheckedOpenAndTime64IoctlReachTheNode) {
    node->fill(0, sector, 0x00);
    const int other = __open_2(path, O_RDWR);
    EXPECT_EQ(node->openCount(), 2);
    erase_info_user request{0, sector};
    EXPECT_EQ(__ioctl_time64(other, MEMERASE, &request), 0);
    EXPECT_EQ(node->peek(0, sector), ones(sector));
    ::close(other);
}

TEST_F(NodeTest, ThreadsCallingAtOnceAreSerialised) {
    node->clearOps();
    constexpr std::uint32_t threadCount = 4;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < threadCount; ++t) {
        threads.emplace_back([t, &go] {
            const int own = ::open(path, O_RDWR);
            while (!go) std::this_thread::yield();
            for (std::uint32_t offset = t; offset < size; offset += threadCount) {
                ::lseek(own, offset, SEEK_SET);
                EXPECT_EQ(::write(own, "", 1), 1);
            }
            ::close(own);
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(node->peek(0, size), Bytes(size, 0x00));
    EXPECT_EQ(node->ops().size(), threadCount * 2 + 2 * size);
}

TEST_F(NodeTest, DescriptorClosedBehindTheSimulatorBelongsToTheNextRealFile) {
    TempDir dir;
    const int stale = fd;
    ::syscall(SYS_close, fd);
    fd = ::open((dir.path() / "real").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(fd, stale);
    EXPECT_EQ(::write(fd, "abc", 3), 3);
    EXPECT_EQ(node->openCount(), 0);
    EXPECT_EQ(node->peek(0, 3), ones(3));
    EXPECT_EQ(fileBytes(dir.path() / "real"), (Bytes{'a', 'b', 'c'}));
}

TEST(PassThrough, OtherFilesGetTheRealCalls) {
    TempDir dir;
    const std::string file = (dir.path() / "plain").string();
    const mode_t mask = ::umask(022);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL, 0640);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(::write(fd, "hello", 5), 5);
    EXPECT_EQ(::lseek(fd, 1, SEEK_SET), 1);
    int pending = 0;
    EXPECT_EQ(::ioctl(fd, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 4);
    char text[8] = {};
    EXPECT_EQ(::read(fd, text, sizeof text), 4);
    EXPECT_STREQ(text, "ello");
    EXPECT_EQ(__ioctl_time64(fd, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(::close(fd), 0);
    EXPECT_EQ(errorOf(::open((dir.path() / "missing").c_str(), O_RDWR)), ENOENT);
}

TEST(FlashNodes, AreReplacedRemovedAndChecked) {
    norsim::Flash& flash = norsim::Flash::instance();
    const std::string path = "/dev/norsim-scoped";
    {
        norsim::ScopedNode node(path, 0x2000, 0x1000);
        node->poke(0, {0});
        const norsim::Node replacement = flash.add(path, 0x4000, 0x2000);
        EXPECT_EQ(replacement.peek(0, 1), ones(1));
        const int fd = ::open(path.c_str(), O_RDWR);
        EXPECT_EQ(::lseek(fd, 0, SEEK_END), 0x4000);
        ::close(fd);
    }
    EXPECT_EQ(errorOf(::open(path.c_str(), O_RDWR)), ENOENT);
    EXPECT_THROW(flash.add(path, 0x1800, 0x1000), std::invalid_argument);
    EXPECT_THROW(flash.add(path, 0x1000, 0), std::invalid_argument);
    EXPECT_EQ(errorOf(::open(path.c_str(), O_RDWR)), ENOENT);
}

}  // namespace
