// The C functions of romstore.h on the simulated table nodes: each gives the manager's result, and
// reaches the flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "TableFlash.h"
#include "romstore.h"

using norsim::OpKind;
using romtest::Bytes;
using romtest::kArea;

namespace {

struct Step {
    std::string what;
    std::function<int()> call;
    int result;
    Bytes read = {};  // what a read leaves at the start of its buffer
};

// A descriptor of the node locked as the store locks it, as another user of the node holds it.
class Holder {
public:
    explicit Holder(const char* node) : m_fd(::open(node, O_RDWR)) { ::flock(m_fd, LOCK_EX); }
    ~Holder() { ::close(m_fd); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

private:
    int m_fd;
};

}  // namespace

TEST(CStore, EachFunctionGivesTheManagersResult) {
    romtest::TableFlash flash;
    const Bytes record{'b', 'a', 'u', 'd', '=', '9', '6', '0', '0'};
    const int length = static_cast<int>(record.size());
    Bytes back(0x10000, 0x55);
    int first = 0, last = 0;
    const Step steps[] = {
        {"range", [&] { return romstore_area_range(&first, &last); }, ROMSTORE_OK},
        {"range into null", [] { return romstore_area_range(nullptr, nullptr); }, ROMSTORE_FAIL},
        {"write", [&] { return romstore_write(1, record.data(), length); }, ROMSTORE_OK},
        {"read", [&] { return romstore_read(1, back.data(), length); }, length, record},
        {"read of committed block 1", [&] { return romstore_read_block(1, 1, back.data(), length); }, length, record},
        {"read of free block 2", [&] { return romstore_read_block(1, 2, back.data(), length); }, ROMSTORE_BAD_BLOCK},
        {"write to area 32", [&] { return romstore_write(32, record.data(), length); }, ROMSTORE_INVALID_ARG},
        {"read of area 0", [&] { return romstore_read(0, back.data(), length); }, ROMSTORE_INVALID_ARG},
        {"write while the node is held",
         [&] {
             const Holder holder("/dev/mtd_backup");
             return romstore_write(1, record.data(), length);
         },
         ROMSTORE_BUSY},
        {"initialize area 31", [] { return romstore_initialize(1 << 30); }, 0},
        {"read of area 31", [&] { return romstore_read(31, back.data(), 0x10000 - 8); }, 0x10000 - 8,
         Bytes(0x10000 - 8, 0x00)},
        {"erase of areas 1 and 31, the erase of 31 failing",
         [&] {
             flash.node(1).failNext(OpKind::Erase);
             return romstore_erase(1 | 1 << 30);
         },
         1 << 30},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        std::fill(back.begin(), back.end(), 0x55);
        EXPECT_EQ(step.call(), step.result);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(step.read.size())), step.read);
    }
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 31));
    // Area 1 erased; area 31 still holds the zero record of its initialisation, in block 1.
    EXPECT_EQ(flash.node(0).peek(0, kArea), Bytes(kArea, 0xFF));
    EXPECT_EQ(flash.node(1).peek(0x10000 + 8, 4), Bytes(4, 0x00));
}
