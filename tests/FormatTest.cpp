// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The block format byte for byte as the store leaves it on flash, its checksum against the published
// check value, and the blank check that the trust rule rests on.
#include <gtest/gtest.h>

#include <algorithm>

#include "BlockFormat.h"
#include "Store.h"

using norsim::OpKind;
using romtest::At;
using romtest::Bytes;

namespace {

struct Format : ::testing::Test, romtest::Store {};

}  // namespace

TEST_F(Format, BlocksLieOnFlashByteForByte) {
    ASSERT_EQ(write(2, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0);
    ASSERT_EQ(write(2, {}), 0);
    node().shortNext(OpKind::Program, 4, 1, 0, 9);  // the record lands in part, so its read-back fails
    ASSERT_EQ(write(2, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0);
    // CRC-16/MODBUS of "123456789" is 0x4B37; of no bytes, the initial 0xFFFF.
    const Bytes blocks[] = {
        {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},                                 // format marker
        {0, 0, 0, 0, 0, 0, 0x37, 0x4B, '1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF},  // committed
        {0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF},                                       // empty record
        {0, 1, 0, 0, 0, 0, 0x37, 0x4B, '1', '2', '3', '4', 0xFF},                   // rejected
        {0, 0, 0, 0, 0, 0, 0x37, 0x4B, '1', '2', '3', '4', '5', '6', '7', '8', '9', 0xFF},
        Bytes(romtest::kBlock, 0xFF),                                               // free
    };
    for (int b = 0; b < 6; ++b) {
        const auto size = static_cast<std::uint32_t>(blocks[b].size());
        EXPECT_EQ(node().peek(At(2, b), size), blocks[b]) << b;
        EXPECT_EQ(node().peek(At(2, b) + size, romtest::kBlock - size), Bytes(romtest::kBlock - size, 0xFF)) << b;
    }
}

// CRC-16/MODBUS of "123456789" is 0x4B37, byte-swapped 0x374B; a checksum taken in two parts, the
// second seeded with the first, comes out the same.
TEST(Checksum, IsCrc16ModbusByteSwapped) {
    CRomDevice d;
    unsigned char check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(d.CalculateCRC16(check, 9), 0x374B);
    EXPECT_EQ(d.CalculateCRC16Continuation(check + 4, 5, d.CalculateCRC16(check, 4)), 0x374B);
    EXPECT_EQ(d.CalculateCRC16(nullptr, 9), 0);
}

// The trust rule finds a record's length at the end of its last byte that is not erased, or past it
// when the record itself ends in erased bytes, however the region is split into pieces.
TEST(TrustRule, FindsTheLengthOfARecordThatEndsInErasedBytes) {
    Bytes region(romtest::kBlock - 8, 0xFF);
    std::copy_n("123456789", 9, region.begin());
    // The checksum words of "123456789" (CRC 0x4B37) and of "123456789" FF FF (CRC 0xB757).
    for (const auto& [word, length] : {std::pair<unsigned, int>{0x374B, 9}, {0x57B7, 11}, {0x57B8, -1}}) {
        for (std::size_t piece : {1, 4096}) {
            BlockFormat::RecordCheck check(word);
            for (std::size_t at = 0; at < region.size(); at += piece)
                check.Add(region.data() + at, static_cast<int>(std::min(piece, region.size() - at)));
            EXPECT_EQ(check.RecordLength(), length) << word << " " << piece;
        }
    }
}
