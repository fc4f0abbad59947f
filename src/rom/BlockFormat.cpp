// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "BlockFormat.h"

#include <stdint.h>
#include <string.h>

namespace BlockFormat {

namespace {

// The Modbus checksum is the reflected CRC-16 of polynomial 0xA001. Table k holds what a byte does to
// a zero register when k zero bytes follow it, so that eight bytes take one step of eight lookups
// (slicing by eight); table 0 alone is the classic byte table. Derived, not typed in.
struct Crc16Slices {
    unsigned short t[8][256];
};

constexpr Crc16Slices MakeCrc16Slices() {
    Crc16Slices s{};
    for (int i = 0; i < 256; ++i) {
        unsigned int crc = static_cast<unsigned int>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xA001u : crc >> 1;
        s.t[0][i] = static_cast<unsigned short>(crc);
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            s.t[k][i] = static_cast<unsigned short>((s.t[k - 1][i] >> 8) ^ s.t[0][s.t[k - 1][i] & 0xFFu]);
    return s;
}

constexpr Crc16Slices kCrc16 = MakeCrc16Slices();
static_assert(kCrc16.t[0][1] == 0xC0C1 && kCrc16.t[0][255] == 0x4040, "Modbus CRC table");

// uiCrc keeps the checksum with its two bytes swapped; the tables work on it unswapped.
inline unsigned short Swapped(unsigned short us) { return static_cast<unsigned short>(us << 8 | us >> 8); }

inline unsigned short Crc16Byte(unsigned short usCrc, unsigned char byte) {
    return static_cast<unsigned short>((usCrc >> 8) ^ kCrc16.t[0][(usCrc ^ byte) & 0xFFu]);
}

// Blank checks compare aligned words against all ones, 128 bytes a step and 8 bytes a word: two loads
// on the 32-bit target, one on a 64-bit host. The bytes are read in any order, so the result is the
// same on either byte order. A word is loaded through memcpy from an address known to be aligned,
// which compiles to plain loads.
const int kErasedStep = 128;

bool IsAligned(const unsigned char* p) { return reinterpret_cast<uintptr_t>(p) % 4 == 0; }

inline bool StepErased(const unsigned char* pAligned) {
    const unsigned char* p = static_cast<const unsigned char*>(__builtin_assume_aligned(pAligned, 4));
    uint64_t all = ~uint64_t{0};
#pragma GCC unroll 16
    for (int i = 0; i < kErasedStep; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, sizeof(w));
        all &= w;
    }
    return all == ~uint64_t{0};
}

// The length of `pBytes` up to and including its last byte that is not 0xFF; 0 when all are 0xFF.
int ErasedTailStart(const unsigned char* pBytes, int length) {
    int iEnd = length;
    while (iEnd > 0 && !IsAligned(pBytes + iEnd) && pBytes[iEnd - 1] == 0xFF) --iEnd;
    if (IsAligned(pBytes + iEnd))
        while (iEnd >= kErasedStep && StepErased(pBytes + iEnd - kErasedStep)) iEnd -= kErasedStep;
    while (iEnd > 0 && pBytes[iEnd - 1] == 0xFF) --iEnd;
    return iEnd;
}

// Erased bytes to run through the checksum where a record holds a run of them.
const int kErasedRun = 64;
const unsigned char kErasedBytes[kErasedRun] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

unsigned short Crc16Erased(unsigned short seed, int count) {
    for (; count > 0; count -= kErasedRun) seed = Crc16(kErasedBytes, count < kErasedRun ? count : kErasedRun, seed);
    return seed;
}

}  // namespace

BlockState StateOf(const BlockHeader& header) {
    if (header.uiStatus == BLOCK_STATUS_CURRENT) return kBlockCommitted;
    if (header.uiStatus == BLOCK_STATUS_REJECTED) return kBlockRejected;
    if (header.uiStatus == BLOCK_STATUS_ERASED) return header.uiCrc == kErasedWord ? kBlockFree : kBlockWritten;
    return kBlockOther;
}

bool IsFormatMarker(const BlockHeader& header) {
    return header.uiStatus == kFormatMarker.uiStatus && header.uiCrc == kFormatMarker.uiCrc;
}

unsigned int DecodeWord(const unsigned char* pBytes) {
    return static_cast<unsigned int>(pBytes[0]) << 24 | static_cast<unsigned int>(pBytes[1]) << 16 |
           static_cast<unsigned int>(pBytes[2]) << 8 | pBytes[3];
}

void EncodeWord(unsigned int uiWord, unsigned char* pBytes) {
    for (int i = 0; i < kWordSize; ++i) pBytes[i] = static_cast<unsigned char>(uiWord >> (24 - 8 * i));
}

BlockHeader DecodeHeader(const unsigned char* pBytes) {
    return BlockHeader{DecodeWord(pBytes), DecodeWord(pBytes + kCrcOffset)};
}

void EncodeHeader(const BlockHeader& header, unsigned char* pBytes) {
    EncodeWord(header.uiStatus, pBytes);
    EncodeWord(header.uiCrc, pBytes + kCrcOffset);
}

bool IsErased(const unsigned char* pBytes, int length) { return ErasedTailStart(pBytes, length) == 0; }

unsigned short Crc16(const unsigned char* pData, int length, unsigned short seed) {
    unsigned short usCrc = Swapped(seed);
    const unsigned char* p = pData;
    for (; length >= 8; length -= 8, p += 8) {
        const unsigned int x = usCrc ^ (p[0] | p[1] << 8);
        usCrc = static_cast<unsigned short>(kCrc16.t[7][x & 0xFFu] ^ kCrc16.t[6][x >> 8] ^ kCrc16.t[5][p[2]] ^
                                            kCrc16.t[4][p[3]] ^ kCrc16.t[3][p[4]] ^ kCrc16.t[2][p[5]] ^
                                            kCrc16.t[1][p[6]] ^ kCrc16.t[0][p[7]]);
    }
    for (int i = 0; i < length; ++i) usCrc = Crc16Byte(usCrc, p[i]);
    return Swapped(usCrc);
}

unsigned int ChecksumWord(const unsigned char* pRecord, int length) { return Crc16(pRecord, length, 0xFFFF); }

void EncodeBlock(unsigned int uiStatus, const unsigned char* pRecord, int length, unsigned char* pBlock) {
    EncodeHeader(BlockHeader{uiStatus, ChecksumWord(pRecord, length)}, pBlock);
    memcpy(pBlock + kHeaderSize, pRecord, static_cast<size_t>(length));
}

RecordCheck::RecordCheck(unsigned int uiCrc) : m_uiCrc(uiCrc), m_usRegister(0xFFFF), m_iRead(0), m_iEnd(0) {}

// Only the bytes up to the last one that is not 0xFF go through the checksum here; the erased run
// before such a byte is part of the record and goes through it then.
void RecordCheck::Add(const unsigned char* pBytes, int length) {
    const int iEnd = ErasedTailStart(pBytes, length);
    if (iEnd > 0) {
        m_usRegister = Crc16(pBytes, iEnd, Crc16Erased(m_usRegister, m_iRead - m_iEnd));
        m_iEnd = m_iRead + iEnd;
    }
    m_iRead += length;
}

// The record ends at its last byte that is not 0xFF, unless it ends in 0xFF bytes itself: only when
// that first length misses are the longer ones tried, one erased byte at a time.
int RecordCheck::RecordLength() const {
    if (m_uiCrc == kErasedWord) return m_iEnd == 0 ? 0 : -1;
    if ((m_uiCrc >> 16) != 0) return -1;
    const unsigned short usWanted = static_cast<unsigned short>(m_uiCrc & 0xFFFFu);
    unsigned short usRegister = m_usRegister;
    for (int iLength = m_iEnd; iLength <= m_iRead; ++iLength) {
        if (usRegister == usWanted) return iLength;
        usRegister = Crc16(kErasedBytes, 1, usRegister);
    }
    return -1;
}

}  // namespace BlockFormat
