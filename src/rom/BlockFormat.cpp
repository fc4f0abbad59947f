#include "BlockFormat.h"

#include <string.h>

namespace BlockFormat {

namespace {

// The Modbus byte tables, derived from the reflected polynomial 0xA001 rather than typed in: entry i of
// the reflected CRC-16 table split into its low byte (the "high-order" table) and its high byte (the
// "low-order" table). The record checksum runs on these two tables, one lookup each per byte.
struct Crc16Tables {
    unsigned char hi[256];
    unsigned char lo[256];
};

constexpr Crc16Tables MakeCrc16Tables() {
    Crc16Tables t{};
    for (int i = 0; i < 256; ++i) {
        unsigned int crc = static_cast<unsigned int>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xA001u : crc >> 1;
        t.hi[i] = static_cast<unsigned char>(crc & 0xFFu);
        t.lo[i] = static_cast<unsigned char>(crc >> 8);
    }
    return t;
}

constexpr Crc16Tables kCrc16 = MakeCrc16Tables();
static_assert(kCrc16.hi[1] == 0xC1 && kCrc16.lo[1] == 0xC0 && kCrc16.hi[255] == 0x40 &&
                  kCrc16.lo[255] == 0x40,
              "Modbus CRC tables");

// The register holds the high-order byte above the low-order one, so that its value is the checksum
// with its two bytes swapped, as uiCrc keeps it.
inline unsigned short Crc16Add(unsigned short usRegister, unsigned char byte) {
    const unsigned char idx = static_cast<unsigned char>((usRegister >> 8) ^ byte);
    return static_cast<unsigned short>(((usRegister & 0xFFu) ^ kCrc16.hi[idx]) << 8 | kCrc16.lo[idx]);
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

bool IsErased(const unsigned char* pBytes, int length) {
    // All bytes equal the first, and the first is 0xFF: one memcmp runs at memory speed.
    return length <= 0 || (pBytes[0] == 0xFF && memcmp(pBytes, pBytes + 1, length - 1) == 0);
}

unsigned short Crc16(const unsigned char* pData, int length, unsigned short seed) {
    unsigned short usRegister = seed;
    for (int i = 0; i < length; ++i) usRegister = Crc16Add(usRegister, pData[i]);
    return usRegister;
}

unsigned int ChecksumWord(const unsigned char* pRecord, int length) { return Crc16(pRecord, length, 0xFFFF); }

void EncodeBlock(unsigned int uiStatus, const unsigned char* pRecord, int length, unsigned char* pBlock) {
    EncodeHeader(BlockHeader{uiStatus, ChecksumWord(pRecord, length)}, pBlock);
    memcpy(pBlock + kHeaderSize, pRecord, static_cast<size_t>(length));
}

RecordCheck::RecordCheck(unsigned int uiCrc)
    : m_uiCrc(uiCrc), m_usRegister(0xFFFF), m_iRead(0),
      m_iLength((uiCrc & 0xFFFFu) == 0xFFFFu ? 0 : -1), m_bErased(true) {}

void RecordCheck::Add(const unsigned char* pBytes, int length) {
    const unsigned short usWanted = static_cast<unsigned short>(m_uiCrc & 0xFFFFu);
    unsigned short usRegister = m_usRegister;
    int iLength = m_iLength;
    bool bErased = m_bErased;
    for (int i = 0; i < length; ++i) {
        // A length that ends before a byte that is not 0xFF cannot be the record's.
        if (pBytes[i] != 0xFF) {
            bErased = false;
            iLength = -1;
        }
        usRegister = Crc16Add(usRegister, pBytes[i]);
        if (iLength < 0 && usRegister == usWanted) iLength = m_iRead + i + 1;
    }
    m_usRegister = usRegister;
    m_iLength = iLength;
    m_bErased = bErased;
    m_iRead += length;
}

int RecordCheck::RecordLength() const {
    if (m_uiCrc == kErasedWord) return m_bErased ? 0 : -1;
    return (m_uiCrc >> 16) == 0 ? m_iLength : -1;
}

}  // namespace BlockFormat
