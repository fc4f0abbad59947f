// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The on-flash format, byte for byte, on every architecture the store builds for. One fixed workload
// runs through the manager, and the CRC-32 of each node's image must equal the value kept here: the
// same test passes on the x86_64 workstation and on the big-endian PowerPC target, so a byte-order
// slip on either fails it. A deliberate change of the format changes the digests with it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "RomMgr.h"
#include "TableFlash.h"

using romtest::Bytes;
using romtest::Record;

namespace {

const std::uint32_t kFirstNodeCrc = 0x8E889733u;
const std::uint32_t kSecondNodeCrc = 0x1B144927u;

// CRC-32 as zlib, gzip and Python's zlib.crc32 compute it, so an image file can be checked by hand.
std::uint32_t Crc32(const Bytes& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

// Records of several lengths, from none to the largest, through both moves between the sectors of an
// area (the move forward and the wrap from the last sector to sector 0) on both nodes, then one bulk
// initialisation over areas with and without records. Nothing in it depends on addresses or time.
TEST(FormatDigest, FixedWorkloadLeavesTheKnownImages) {
    EXPECT_EQ(Crc32({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);  // its published check value
    romtest::TableFlash flash;
    CRomMgr store;
    // One byte more than the record, so that even a record of no bytes has a buffer.
    auto write = [&](int area, std::size_t length, unsigned seed) {
        Bytes buffer = Record(length + 1, seed);
        EXPECT_EQ(store.SetData(area, buffer.data(), static_cast<int>(length), true), 0);
    };
    // Area 1: 64 blocks, 32 per sector. Block 0 holds the format marker, the 32nd record moves into
    // sector 1 and the 64th wraps to block 0.
    const std::size_t lengths[] = {0, 1, 3, 4, 5, 8, 100, 255, 4096, 8183, 8184};
    for (unsigned i = 0; i < 70; ++i) write(1, lengths[i % 11], i);
    // Area 30, the last of the first node, across its move.
    for (unsigned i = 0; i < 34; ++i) write(30, 1 + 61 * i, 100 + i);
    // Area 31 on the second node: 16 blocks of 64 KiB, 8 per sector.
    const std::size_t large[] = {65528, 1, 30000, 0, 65527, 7};
    for (unsigned i = 0; i < 20; ++i) write(31, large[i % 6], 200 + i);
    // Areas 1, 2, 30 and 31: the largest zero record of each.
    EXPECT_EQ(store.InitializeArea(1 << 0 | 1 << 1 | 1 << 29 | 1 << 30), 0);
    EXPECT_EQ(Crc32(flash.snapshot()[0]), kFirstNodeCrc);
    EXPECT_EQ(Crc32(flash.snapshot()[1]), kSecondNodeCrc);
}
