// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The simulator as the store's proofs rely on it. This file is compiled as fortified builds with 64-bit
// offsets are (CMakeLists.txt), so that its calls are the renamed spellings open64, __open64_2, lseek64
// and __read_chk; the store's own tests make the plain calls.
#include "NorSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The checked open of builds with 32-bit offsets, a name that this file's headers rename.
extern "C" int openChecked(const char* path, int flags) __asm__("__open_2");
extern "C" int __ioctl_time64(int fd, unsigned long request, ...);

using Bytes = std::vector<std::uint8_t>;

namespace {

using norsim::Flash;
using norsim::OpKind;
using Results = std::vector<long>;

constexpr const char* path = "/dev/norsim-test";
constexpr std::uint32_t sector = 0x1000;

// What a call returned, or minus its errno when it failed.
long outcome(long result) { return result == -1 ? -errno : result; }

// Four 4 KiB sectors, open for reading and writing.
struct OpenNode {
    ~OpenNode() { ::close(fd); }
    long erase(std::uint32_t start, std::uint32_t length) {
        erase_info_user request{start, length};
        return outcome(::ioctl(fd, MEMERASE, &request));
    }
    norsim::ScopedNode node{path, 4 * sector, sector};
    int fd = ::open(path, O_RDWR);
};

TEST(NorNodeDeathTest, ReadsToItsEndErasesWholeSectorsAndAnswersAsNorInEverySpelling) {
    OpenNode n;
    volatile int flags = O_RDWR;
    const int checked = ::open(path, flags), plain = openChecked(path, O_RDWR);
    EXPECT_EQ(n.node->openCount(), 3);
    std::uint8_t bytes[4] = {};
    EXPECT_EQ(::lseek(checked, 4 * sector - 2, SEEK_SET), 4 * sector - 2);
    EXPECT_EQ(::read(checked, bytes, n.node->size() / sector), 2);
    EXPECT_EQ(Bytes(bytes, bytes + 3), (Bytes{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(::read(checked, bytes, 1), 0);
    EXPECT_DEATH({ [[maybe_unused]] const long got = ::read(checked, bytes, n.node->size() / 0x800); }, "overflow");

    EXPECT_EQ((Results{n.erase(0, 0), n.erase(1, sector), n.erase(0, sector + 1), n.erase(3 * sector, 2 * sector)}),
              Results(4, -EINVAL));
    erase_info_user request{sector, 2 * sector};
    EXPECT_EQ(__ioctl_time64(plain, MEMERASE, &request), 0);
    EXPECT_EQ((std::vector<std::uint64_t>{n.node->eraseCount(0), n.node->eraseCount(2)}),
              (std::vector<std::uint64_t>{0, 1}));

    mtd_info_user info{};
    EXPECT_EQ(::ioctl(checked, MEMGETINFO, &info), 0);
    EXPECT_EQ(std::tie(info.type, info.flags, info.size, info.erasesize, info.writesize, info.oobsize),
              std::make_tuple(std::uint8_t{MTD_NORFLASH}, std::uint32_t{MTD_CAP_NORFLASH}, 4 * sector, sector, 1u, 0u));
    for (const int fd : {checked, plain}) ::close(fd);
    EXPECT_EQ(outcome(::read(checked, bytes, 1)), -EBADF);
}

// Every case arms its fault, worn cell or power cut, then makes the same calls: a seek to 0, programs
// of 2 and 8 bytes of 0x3C onto bytes of 0xF0, reads of 4, 8 and 8 bytes, and erases of sectors 1 and
// 2, zeroed first, and of both. It names their results, and the cells that a fault or wear holds at
// other values than the NOR rules (new = old & data, erased = 0xFF) give after the calls that succeeded.
TEST(Faults, FallOnlyOnTheCallsNamedAndWornFlashStaysWorn) {
    using Node = norsim::Node;
    struct Case {
        const char* name;
        void (*arm)(Node&);
        Results results;
        std::vector<std::pair<std::uint32_t, std::uint8_t>> cells = {};
    };
    const Results none = {0, 2, 8, 4, 8, 8, 0, 0, 0};
    const Case cases[] = {
        {"program fails once", [](Node& n) { n.failNext(OpKind::Program); }, {0, -EIO, 8, 4, 8, 8, 0, 0, 0}},
        {"short program of 8", [](Node& n) { n.shortNext(OpKind::Program, 5, 1, 0, 8); }, {0, 2, 5, 4, 8, 8, 0, 0, 0}},
        {"2nd 8-byte read short", [](Node& n) { n.shortNext(OpKind::Read, 3, 1, 1, 8); }, {0, 2, 8, 4, 8, 3, 0, 0, 0}},
        {"sector 2 worn out", [](Node& n) { n.wearOut(3 * sector - 1); }, {0, 2, 8, 4, 8, 8, 0, -EIO, -EIO}},
        {"bit stuck at 1", [](Node& n) { n.stick(1, 0x04, true); }, none, {{1, 0x34}}},
        {"bit stuck at 0", [](Node& n) { n.stick(sector + 5, 0x80, false); }, none, {{sector + 5, 0x7F}}},
        {"program at 2 fails after a byte", [](Node& n) { n.failProgram(2, 8, 1); }, {0, 2, -EIO, 4, 8, 8, 0, 0, 0},
         {{2, 0x30}}},
        {"cut at the second program or erase", [](Node&) { Flash::instance().cutPower({2, 1}); },
         {0, 2, -EIO, -EIO, -EIO, -EIO, -EIO, -EIO, -EIO}, {{2, 0x30}}},
    };
    Flash& flash = Flash::instance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenNode n;
        n.node->fill(0, 10, 0xF0);
        n.node->fill(sector, 2 * sector, 0x00);
        Bytes expected = n.node->peek(0, 4 * sector);
        ::lseek(n.fd, 9, SEEK_SET);  // so that the seek to 0 has a position to move from
        c.arm(*n.node);
        const std::uint8_t data[8] = {0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C, 0x3C};
        std::uint8_t read[8];
        EXPECT_EQ((Results{outcome(::lseek(n.fd, 0, SEEK_SET)), outcome(::write(n.fd, data, 2)),
                           outcome(::write(n.fd, data, 8)), outcome(::read(n.fd, read, 4)),
                           outcome(::read(n.fd, read, 8)), outcome(::read(n.fd, read, 8)), n.erase(sector, sector),
                           n.erase(2 * sector, sector), n.erase(sector, 2 * sector)}),
                  c.results);
        flash.powerOn();
        for (const norsim::Op& op : n.node->ops()) {
            for (long i = 0; op.kind == OpKind::Program && i < op.result; ++i) expected[op.offset + i] &= 0x3C;
            if (op.kind == OpKind::Erase && op.result == 0) std::fill_n(expected.begin() + op.offset, op.length, 0xFF);
        }
        for (const auto& [offset, value] : c.cells) expected[offset] = value;
        EXPECT_EQ(n.node->peek(0, 4 * sector), expected);
    }
    // The last case's cut reports the call it fell on and what its range held just before.
    EXPECT_EQ(flash.fallenCut().value().path, path);
    EXPECT_EQ(flash.fallenCut().value().before, Bytes(8, 0xF0));
}

}  // namespace
