// The record checksum against an independent bit-by-bit CRC-16/MODBUS.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "RomDevice.h"

namespace {

// CRC-16/MODBUS computed the slow way, from the polynomial, with no table.
unsigned short ModbusBitwise(const unsigned char* p, size_t n, unsigned short reg = 0xFFFF) {
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? (reg >> 1) ^ 0xA001 : reg >> 1;
    }
    return reg;
}

unsigned short Swap(unsigned short v) { return static_cast<unsigned short>((v << 8) | (v >> 8)); }

std::vector<unsigned char> Bytes(const char* s) { return std::vector<unsigned char>(s, s + strlen(s)); }

}  // namespace

TEST(Crc16, CatalogueValues) {
    CRomDevice d;
    auto check = Bytes("123456789");
    EXPECT_EQ(d.CalculateCRC16(check.data(), 9), 0x374B);
    auto abc = Bytes("abc");
    EXPECT_EQ(d.CalculateCRC16(abc.data(), 3), 0x4957);
    EXPECT_EQ(d.CalculateCRC16(abc.data(), 0), 0xFFFF);
    EXPECT_EQ(d.CalculateCRC16Continuation(abc.data(), 0, 0x1234), 0x1234);
}

TEST(Crc16, NullBufferGivesZero) {
    CRomDevice d;
    EXPECT_EQ(d.CalculateCRC16(nullptr, 10), 0);
    EXPECT_EQ(d.CalculateCRC16(nullptr, 0), 0);
    EXPECT_EQ(d.CalculateCRC16Continuation(nullptr, 5, 0xBEEF), 0);
}

TEST(Crc16, EqualsModbusWithBytesSwappedForAnySeed) {
    CRomDevice d;
    std::mt19937 rng(7);
    std::vector<unsigned char> buf(1000);
    for (auto& b : buf) b = static_cast<unsigned char>(rng());
    for (unsigned seed : {0xFFFFu, 0x0000u, 0x1234u, 0xA5C3u}) {
        for (size_t n : {1u, 2u, 255u, 256u, 1000u}) {
            unsigned short expected =
                Swap(ModbusBitwise(buf.data(), n, Swap(static_cast<unsigned short>(seed))));
            EXPECT_EQ(d.CalculateCRC16Continuation(buf.data(), static_cast<int>(n),
                                                   static_cast<unsigned short>(seed)),
                      expected)
                << "seed " << seed << " length " << n;
        }
    }
    // Every single-byte value goes through both tables.
    for (int v = 0; v < 256; ++v) {
        unsigned char b = static_cast<unsigned char>(v);
        EXPECT_EQ(d.CalculateCRC16(&b, 1), Swap(ModbusBitwise(&b, 1))) << v;
    }
}

TEST(Crc16, ChainsAcrossAnySplit) {
    CRomDevice d;
    std::vector<unsigned char> buf(97);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<unsigned char>(i * 37 + 11);
    unsigned short whole = d.CalculateCRC16(buf.data(), static_cast<int>(buf.size()));
    for (size_t split = 0; split <= buf.size(); ++split) {
        unsigned short head = d.CalculateCRC16(buf.data(), static_cast<int>(split));
        EXPECT_EQ(d.CalculateCRC16Continuation(buf.data() + split,
                                               static_cast<int>(buf.size() - split), head),
                  whole)
            << "split at " << split;
    }
}
