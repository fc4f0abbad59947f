// The block format byte for byte as the store leaves it on flash, and the rules that read it back: the
// checksum, the trust rule and the blank check. Expected bytes are literal; checksum words come from a
// bit-by-bit CRC-16/MODBUS written here from its polynomial.
#include <gtest/gtest.h>

#include <algorithm>

#include "BlockFormat.h"
#include "Store.h"

using norsim::OpKind;
using romtest::At;
using romtest::Bytes;
using romtest::Record;

namespace {

unsigned short Modbus(const Bytes& bytes, std::size_t n, unsigned short reg = 0xFFFF) {
    for (std::size_t i = 0; i < n; ++i) {
        reg ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
    }
    return reg;
}

unsigned short Swap(unsigned short v) { return static_cast<unsigned short>(v << 8 | v >> 8); }

// The checksum word of a record: 00 00, then its CRC-16/MODBUS low byte first.
unsigned Word(const Bytes& record) { return Swap(Modbus(record, record.size())); }

const Bytes kCheck = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

struct Format : ::testing::Test, romtest::Store {};

}  // namespace

TEST_F(Format, BlocksLieOnFlashByteForByte) {
    ASSERT_EQ(write(2, kCheck), 0);
    ASSERT_EQ(write(2, {}), 0);
    node().shortNext(OpKind::Program, 4, 1, 0, 9);  // the record lands in part, so its read-back fails
    ASSERT_EQ(write(2, kCheck), 0);
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

TEST(Checksum, IsCrc16ModbusByteSwappedFromAnySeed) {
    CRomDevice d;
    Bytes check = kCheck;
    EXPECT_EQ(d.CalculateCRC16(check.data(), 9), 0x374B);
    EXPECT_EQ(d.CalculateCRC16(nullptr, 9), 0);
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (unsigned short seed : {0xFFFF, 0x0000, 0xA5C3})
        for (int n : {0, 1, 2, 7, 8, 9, 15, 16, 17, 255, 256, 300})
            EXPECT_EQ(d.CalculateCRC16Continuation(data.data(), n, seed), Swap(Modbus(data, n, Swap(seed))))
                << seed << " " << n;
}

TEST(TrustRule, FindsTheRecordLengthWhereverThePiecesSplitTheRegion) {
    Bytes trailing = Record(100, 3), inner = Record(100, 5), changed = Record(100, 3);
    trailing.insert(trailing.end(), 5, 0xFF);
    inner.insert(inner.end(), 300, 0xFF);
    const Bytes tail = Record(50, 6);
    inner.insert(inner.end(), tail.begin(), tail.end());
    changed[50] ^= 0x01;
    const struct {
        const char* what;
        unsigned crc;
        Bytes region;
        int length;
    } cases[] = {
        {"record ending in erased bytes", Word(trailing), trailing, 105},
        {"erased run inside a record", Word(inner), inner, 450},
        {"record of no bytes", Word({}), {}, 0},
        {"format marker", 0xFFFFFFFF, {}, 0},
        {"format marker over a programmed byte", 0xFFFFFFFF, {0x7F}, -1},
        {"changed byte", Word(Record(100, 3)), changed, -1},
        {"checksum word with its upper half set", Word(trailing) | 0x10000, trailing, -1},
    };
    for (const auto& c : cases) {
        Bytes region = c.region;
        region.resize(romtest::kBlock - 8, 0xFF);
        for (std::size_t piece : {1, 7, 64, 150, 4096}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            BlockFormat::RecordCheck check(c.crc);
            for (std::size_t at = 0; at < region.size(); at += piece)
                check.Add(region.data() + at, static_cast<int>(std::min(piece, region.size() - at)));
            EXPECT_EQ(check.RecordLength(), c.length);
            EXPECT_EQ(check.Trusted(), c.length >= 0);
        }
    }
}

TEST(BlankCheck, FindsOneClearedBitAtAnyPlaceAndAlignment) {
    Bytes bytes(300, 0xFF);
    for (std::size_t start = 0; start < 8; ++start)
        for (std::size_t length : {0, 1, 3, 63, 64, 65, 200, 292}) {
            const unsigned char* p = bytes.data() + start;
            EXPECT_TRUE(BlockFormat::IsErased(p, static_cast<int>(length))) << start << " " << length;
            for (std::size_t at = 0; at < length; ++at) {
                bytes[start + at] = 0x7F;
                EXPECT_FALSE(BlockFormat::IsErased(p, static_cast<int>(length))) << start << " " << length << " " << at;
                bytes[start + at] = 0xFF;
            }
        }
}
