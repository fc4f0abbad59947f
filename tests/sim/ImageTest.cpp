// Nodes backed by an image file that outlives them.
#include "SimTest.h"

#include <cstring>

#include <sys/ioctl.h>

#include <mtd/mtd-user.h>

namespace {

class ImageTest : public ::testing::Test {
protected:
    static constexpr const char* path = "/dev/norsim-image";
    TempDir dir;
    std::string image = (dir.path() / "flash.img").string();
    norsim::Flash& flash = norsim::Flash::instance();
};

TEST_F(ImageTest, MissingImageIsCreatedErasedAndKeepsProgramsAcrossReAdding) {
    flash.addImage(path, 0x2000, 0x1000, image);
    EXPECT_EQ(fileBytes(image), ones(0x2000));
    const int fd = ::open(path, O_RDWR);
    ASSERT_EQ(::lseek(fd, 0x1001, SEEK_SET), 0x1001);
    ASSERT_EQ(::write(fd, "\x12\x34", 2), 2);
    ::close(fd);
    const Bytes onDisk = fileBytes(image);
    EXPECT_EQ(Bytes(onDisk.begin() + 0x1000, onDisk.begin() + 0x1004), (Bytes{0xFF, 0x12, 0x34, 0xFF}));
    flash.remove(path);

    const norsim::Node again = flash.addImage(path, 0x2000, 0x1000, image);
    EXPECT_EQ(again.peek(0x1000, 4), (Bytes{0xFF, 0x12, 0x34, 0xFF}));
    flash.remove(path);
    EXPECT_FALSE(std::filesystem::exists(image + ".new"));
}

TEST_F(ImageTest, ExistingImageIsUsedOnlyWhenItHasTheNodesSize) {
    std::ofstream(image, std::ios::binary) << std::string(0x1000, '\x5A');
    EXPECT_THROW(flash.addImage(path, 0x2000, 0x1000, image), std::runtime_error);
    EXPECT_EQ(errorOf(::open(path, O_RDWR)), ENOENT);
    EXPECT_EQ(fileBytes(image), Bytes(0x1000, 0x5A));
    EXPECT_FALSE(std::filesystem::exists(image + ".wear"));
    const norsim::Node node = flash.addImage(path, 0x1000, 0x1000, image);
    EXPECT_EQ(node.peek(0, 0x1000), Bytes(0x1000, 0x5A));
    flash.remove(path);
}

// The counts of a wear file, one 64-bit count per sector in the host's byte order.
std::vector<std::uint64_t> wearCounts(const std::string& file) {
    const Bytes bytes = fileBytes(file);
    std::vector<std::uint64_t> counts(bytes.size() / sizeof(std::uint64_t));
    std::memcpy(counts.data(), bytes.data(), counts.size() * sizeof(std::uint64_t));
    return counts;
}

TEST_F(ImageTest, ErasesOfEachSectorAreCountedBesideTheImageAcrossRuns) {
    const std::string wear = image + ".wear";
    const auto erase = [](std::uint32_t start, std::uint32_t length) {
        const int fd = ::open(path, O_RDWR);
        erase_info_user request{start, length};
        const int result = ::ioctl(fd, MEMERASE, &request);
        ::close(fd);
        return result;
    };
    flash.addImage(path, 0x3000, 0x1000, image);
    EXPECT_EQ(fileBytes(wear), Bytes(3 * sizeof(std::uint64_t), 0x00));
    EXPECT_EQ(erase(0x1000, 0x1000), 0);
    EXPECT_EQ(erase(0x0000, 0x2000), 0);
    EXPECT_EQ(erase(0x0800, 0x1000), -1);
    EXPECT_EQ(wearCounts(wear), (std::vector<std::uint64_t>{1, 2, 0}));
    flash.remove(path);

    const norsim::Node again = flash.addImage(path, 0x3000, 0x1000, image);
    EXPECT_EQ(erase(0x2000, 0x1000), 0);
    EXPECT_EQ(again.eraseCount(1), 0u);
    EXPECT_EQ(wearCounts(wear), (std::vector<std::uint64_t>{1, 2, 1}));
    flash.remove(path);

    // Counts of another number of sectors belong to another geometry.
    EXPECT_THROW(flash.addImage(path, 0x3000, 0x3000, image), std::runtime_error);
    EXPECT_EQ(wearCounts(wear), (std::vector<std::uint64_t>{1, 2, 1}));
    EXPECT_FALSE(std::filesystem::exists(wear + ".new"));
}

}  // namespace
