// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The format of a block on flash, kept here and nowhere else: the store, romctl, the tests and the VM
// program read and build blocks through this module. Internal: neither installed nor exported.
//
// The invariants it keeps (docs/format.md):
//
//   | block offset | size | field    | content                                                          |
//   | 0            | 4    | uiStatus | FF FF FF FF erased, 00 00 00 00 committed, 00 01 00 00 rejected  |
//   | 4            | 4    | uiCrc    | FF FF FF FF until written, then 00 00 hi lo: the record's        |
//   |              |      |          | CRC-16/MODBUS with its two bytes swapped                         |
//   | 8            | L    | record   | the record bytes; the rest of the block stays 0xFF               |
//
// - Both header words are big-endian whatever the machine.
// - A block is free when both words are erased, committed when its status is 0.
// - A committed block is trusted when its record verifies (RecordCheck): the upper half of uiCrc is 0
//   and some length L, from the end of the last byte that is not 0xFF up to the end of the block, has
//   the lower half as its checksum; or it is the format marker, a bare status word with uiCrc and the
//   whole record region erased. No record length is stored, and records may end in 0xFF bytes.
// - The current block of an area is its highest-numbered trusted committed block.
// - A blank area is formatted by committing block 0 as the format marker.
// - A write programs the checksum word, then the record, and the status word last, once the read-back
//   of both verifies; a block whose read-back does not verify is marked rejected. A status word counts
//   only once it reads back as programmed.
#pragma once

#include "RomDevice.h"

namespace BlockFormat {

const int kHeaderSize = 8;  // the record starts here
const int kCrcOffset = 4;   // of uiCrc in the block
const int kWordSize = 4;
const unsigned int kErasedWord = 0xFFFFFFFFu;

// Block 0 of a formatted area holds this header and an erased record region.
const BlockHeader kFormatMarker = {BLOCK_STATUS_CURRENT, kErasedWord};

enum BlockState {
    kBlockFree,       // both words erased
    kBlockWritten,    // status erased, checksum word not: a write that never committed
    kBlockCommitted,  // status 0: trusted only if its record verifies
    kBlockRejected,   // its read-back did not verify
    kBlockOther,
};

BlockState StateOf(const BlockHeader& header);
// True for the header of the format marker: committed, with no checksum word.
bool IsFormatMarker(const BlockHeader& header);

unsigned int DecodeWord(const unsigned char* pBytes);
void EncodeWord(unsigned int uiWord, unsigned char* pBytes);
BlockHeader DecodeHeader(const unsigned char* pBytes);
void EncodeHeader(const BlockHeader& header, unsigned char* pBytes);

// True when all `length` bytes read erased (0xFF).
bool IsErased(const unsigned char* pBytes, int length);

unsigned short Crc16(const unsigned char* pData, int length, unsigned short seed);
// What uiCrc holds for this record.
unsigned int ChecksumWord(const unsigned char* pRecord, int length);
// A block as a completed write leaves it, without the erased tail: kHeaderSize + length bytes.
void EncodeBlock(unsigned int uiStatus, const unsigned char* pRecord, int length, unsigned char* pBlock);

// The trust rule for a committed block. A power cut during an erase can leave 0x00 bytes or a mix of
// old, 0x00 and 0xFF bytes, which read as committed blocks whose checksum words do not match their
// bytes. Fed the record region in order, in pieces of any size, so that the store can verify a block
// through a small buffer.
class RecordCheck {
public:
    explicit RecordCheck(unsigned int uiCrc);
    void Add(const unsigned char* pBytes, int length);
    bool Trusted() const { return RecordLength() >= 0; }
    // The shortest length that verifies (0 for the format marker); -1 when none does.
    int RecordLength() const;

private:
    unsigned int m_uiCrc;
    unsigned short m_usRegister;  // the checksum of the bytes before m_iEnd
    int m_iRead;
    int m_iEnd;  // just past the last byte read that is not 0xFF; 0 while all are
};

}  // namespace BlockFormat
