// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "RomDevice.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "BlockFormat.h"
#include "RomResult.h"

#define ROM_LOG_FILE "RomDevice"
#include "RomLog.h"

namespace {

// The record region of a block is verified through a buffer of this size on the stack.
const int kVerifyChunk = 4096;

// The offsets of the store are 32-bit signed values; Initialize refuses a geometry beyond them.
const int64_t kMaxOffset = INT32_MAX;

}  // namespace

int CRomDevice::HEADER_SIZE = BlockFormat::kHeaderSize;

CRomDevice::CRomDevice()
    : m_iFd(-1), m_iStartArea(0), m_iEndArea(0), m_iAreaSize(0), m_iSectorSize(0), m_iBlockSize(0),
      m_szDevName{} {}

CRomDevice::~CRomDevice() {
    if (m_iFd != -1) {
        DeviceClose();
        m_iFd = -1;
    }
}

void CRomDevice::Initialize(int iStartArea, int iEndArea, int iAreaSize, int iSectorSize,
                            int iBlockSize, const char* pszDevName) {
    // Sizes that are not positive or do not divide one another would leave partial blocks or sectors
    // and divisions by zero behind; an area count whose last byte lies beyond a 32-bit signed offset
    // could not be addressed.
    bool bValid = iStartArea <= iEndArea && iBlockSize <= iSectorSize && iSectorSize < iAreaSize &&
                  pszDevName != nullptr && strlen(pszDevName) < sizeof(m_szDevName) && iBlockSize > 0 &&
                  iSectorSize > 0 && iAreaSize > 0 && iAreaSize % iSectorSize == 0 &&
                  iSectorSize % iBlockSize == 0 &&
                  (static_cast<int64_t>(iEndArea) - iStartArea + 1) * iAreaSize - 1 <= kMaxOffset;
    if (!bValid) {
        ROM_LOG(LOGLV_ERROR, "FAIL to Initialize(%d,%d,%d,%d,%d,%s)", iStartArea, iEndArea, iAreaSize,
                iSectorSize, iBlockSize, pszDevName);
        return;
    }
    m_iAreaSize = iAreaSize;
    m_iEndArea = iEndArea - iStartArea + 1;
    m_iStartArea = 1;
    m_iSectorSize = iSectorSize;
    m_iBlockSize = iBlockSize;
    strcpy(m_szDevName, pszDevName);
}

// The sizes are zero until Initialize accepts a geometry; every quotient below is then 0 so that no
// member of an uninitialised device divides by zero.
int CRomDevice::SectorsPerArea() const { return m_iSectorSize > 0 ? m_iAreaSize / m_iSectorSize : 0; }

int CRomDevice::BlocksPerArea() const { return m_iBlockSize > 0 ? m_iAreaSize / m_iBlockSize : 0; }

int CRomDevice::AreaOffset(int area) const { return (area - 1) * m_iAreaSize; }

int CRomDevice::BlockOffset(int area, int block) const {
    return AreaOffset(area) + block * m_iBlockSize;
}

int CRomDevice::BlockToSector(int block) {
    int iBlocks = BlocksPerArea();
    if (block >= 0 && block < iBlocks) return block / (iBlocks / SectorsPerArea());
    ROM_LOG(LOGLV_ERROR, "Invalid argument(%d,%s)", block, m_szDevName);
    return RET_INVALID_ARG;
}

int CRomDevice::NextSector(int sector) {
    int iSectors = SectorsPerArea();
    return iSectors > 0 ? (sector + 1) % iSectors : 0;
}

unsigned short CRomDevice::CalculateCRC16(unsigned char* buffer, int length) {
    return CalculateCRC16Continuation(buffer, length, 0xFFFF);
}

unsigned short CRomDevice::CalculateCRC16Continuation(unsigned char* buffer, int length,
                                                      unsigned short seed) {
    return buffer == nullptr ? 0 : BlockFormat::Crc16(buffer, length, seed);
}

int CRomDevice::DeviceOpen() {
    int iFd = open(m_szDevName, O_RDWR);
    // The kernel's MTD nodes let any number of processes open them, and two writers in one area would
    // corrupt it: an exclusive lock held until the close turns a second user away as busy. A node
    // that cannot be locked at all (no lock support) is used as the driver gives it.
    if (iFd >= 0 && flock(iFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(iFd);
        iFd = -1;
        errno = EBUSY;
    }
    if (iFd >= 0) {
        ROM_LOG(LOGLV_DEBUG, "Success open device(%s)", m_szDevName);
        m_iFd = iFd;
        return RET_OK;
    }
    if (errno == EBUSY) {
        ROM_LOG(LOGLV_WARNING, "FAIL to open BUSY device(%s) ", m_szDevName);
        return RET_BUSY;
    }
    ROM_LOG(LOGLV_ERROR, "FAIL to open device(%s)", m_szDevName);
    return RET_FAIL;
}

int CRomDevice::DeviceClose() {
    // The descriptor is given up before close: whatever close reports, it is not ours any more.
    int iFd = m_iFd;
    m_iFd = -1;
    int iResult = close(iFd);
    ROM_LOG(LOGLV_DEBUG, "Success close device(%s)", m_szDevName);
    return iResult;
}

// Flash is reached through the next three alone. Each positions first and then acts, and each says
// in a FlashAccess how far it got; what that means for the store, and what is logged, is the caller's.
CRomDevice::FlashAccess CRomDevice::ReadAt(int offset, unsigned char* pBuffer, int length, ReadStart start) {
    const bool bPositioned = start == kReadOn || lseek(m_iFd, offset, SEEK_SET) != -1;
    if (!bPositioned && start == kReadIfPositioned) return FlashAccess{false, -1};
    return FlashAccess{bPositioned, static_cast<int>(read(m_iFd, pBuffer, length))};
}

// A program never follows a failed positioning, so nothing lands where it was not aimed.
CRomDevice::FlashAccess CRomDevice::ProgramAt(int offset, const unsigned char* pData, int length) {
    if (lseek(m_iFd, offset, SEEK_SET) == -1) return FlashAccess{false, -1};
    return FlashAccess{true, static_cast<int>(write(m_iFd, pData, length))};
}

// The erase request carries its own range: there is nothing to position.
CRomDevice::FlashAccess CRomDevice::EraseAt(int offset, int length) {
    erase_info_user erase = {static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
    return FlashAccess{true, ioctl(m_iFd, MEMERASE, &erase) == -1 ? -1 : length};
}

CRomDevice::FlashAccess CRomDevice::ProgramWord(int offset, unsigned int word) {
    unsigned char abyWord[BlockFormat::kWordSize];
    BlockFormat::EncodeWord(word, abyWord);
    return ProgramAt(offset, abyWord, sizeof(abyWord));
}

int CRomDevice::EraseArea(int area, bool bOpen) {
    if (area < m_iStartArea || area > m_iEndArea) {
        ROM_LOG(LOGLV_ERROR, "Invalid argument(%d, %s)", area, m_szDevName);
        return RET_INVALID_ARG;
    }
    bool bErased;
    if (bOpen) {
        int iOpen = DeviceOpen();
        if (iOpen != RET_OK) return iOpen;
        bErased = EraseAt(AreaOffset(area), m_iAreaSize).Done(m_iAreaSize);
        DeviceClose();
    } else {
        bErased = EraseAt(AreaOffset(area), m_iAreaSize).Done(m_iAreaSize);
    }
    if (!bErased) {
        ROM_LOG(LOGLV_ERROR, "Fail to Erase area(%d, %s)", area, m_szDevName);
        return RET_FAIL;
    }
    ROM_LOG(LOGLV_DEBUG, "Success to Erase area(%d, %s)", area, m_szDevName);
    return RET_OK;
}

int CRomDevice::EraseSectorSystem(int area, int sector) {
    if (!EraseAt(AreaOffset(area) + sector * m_iSectorSize, m_iSectorSize).Done(m_iSectorSize)) {
        ROM_LOG(LOGLV_ERROR, "Fail to Erase Sector(%d, %d, %s)", area, sector, m_szDevName);
        return RET_FAIL;
    }
    ROM_LOG(LOGLV_DEBUG, "Success to Erase Sector(%d, %d, %s)", area, sector, m_szDevName);
    return RET_OK;
}

// Reads the header at offset into *header in host byte order. The buffer is preset first, so a header
// that cannot be read (failed seek, short read) holds the preset where the read did not reach it: the
// caller chooses the preset that keeps such a header from qualifying for what it tests.
bool CRomDevice::ReadHeader(const char* pszCaller, int offset, BlockHeader* header,
                            unsigned int preset) {
    unsigned char abyHeader[BlockFormat::kHeaderSize];
    BlockFormat::EncodeHeader(BlockHeader{preset, preset}, abyHeader);
    const FlashAccess access = ReadAt(offset, abyHeader, sizeof(abyHeader));
    if (!access.bPositioned) ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to lseek(%s)", m_szDevName);
    if (access.iMoved != BlockFormat::kHeaderSize)
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to read Header Data(%s)", m_szDevName);
    *header = BlockFormat::DecodeHeader(abyHeader);
    return access.Done(BlockFormat::kHeaderSize);
}

bool CRomDevice::IsNewDevice(int area) {
    bool bNew = true;
    for (int b = 0; b < BlocksPerArea(); ++b) {
        BlockHeader header;
        ReadHeader(__func__, BlockOffset(area, b), &header, 0);
        if (BlockFormat::StateOf(header) != BlockFormat::kBlockFree) bNew = false;
    }
    return bNew;
}

bool CRomDevice::IsNewSector(int area, int sector) {
    return ProbeSector(__func__, area, sector, kReadAnyway) == kSectorErased;
}

// Reads a whole sector: erased when every byte of it reads 0xFF.
CRomDevice::SectorState CRomDevice::ProbeSector(const char* pszCaller, int area, int sector, ReadStart start) {
    unsigned char* pSector = static_cast<unsigned char*>(malloc(m_iSectorSize));
    if (pSector == nullptr) {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to malloc(%s)", m_szDevName);
        return kSectorUnreadable;
    }
    SectorState state = kSectorUnreadable;
    if (ReadAt(AreaOffset(area) + sector * m_iSectorSize, pSector, m_iSectorSize, start).iMoved != m_iSectorSize) {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to read Sector Data(%s)", m_szDevName);
    } else {
        state = m_iSectorSize > 0 && BlockFormat::IsErased(pSector, m_iSectorSize) ? kSectorErased : kSectorWritten;
    }
    free(pSector);
    return state;
}

// A status word counts only as flash holds it: a cell worn out at 1 takes a program that some
// drivers report as done, and a commit believed from memory would let the store erase the only other
// copy of the record.
bool CRomDevice::StatusReadsBack(int offset, unsigned int uiStatus) {
    unsigned char abyWord[BlockFormat::kWordSize];
    return ReadAt(offset, abyWord, sizeof(abyWord), kReadIfPositioned).Done(BlockFormat::kWordSize) &&
           BlockFormat::DecodeWord(abyWord) == uiStatus;
}

// Formatting commits block 0 with a bare status word; its checksum word and record stay erased.
bool CRomDevice::WriteFormatMarker(int area) {
    const unsigned int uiStatus = BlockFormat::kFormatMarker.uiStatus;
    return ProgramWord(AreaOffset(area), uiStatus).Done(BlockFormat::kWordSize) &&
           StatusReadsBack(AreaOffset(area), uiStatus);
}

// The format marker just written counts only if a read will trust it: its record region must read
// erased, which an erase cut just before its end does not leave, though every header reads erased.
bool CRomDevice::IsFormatTrusted(const char* pszCaller, int area) {
    const BlockTrust trust = VerifyBlock(area, 0, BlockFormat::kFormatMarker);
    if (trust == kBlockUntrusted) ROM_LOG_FROM(pszCaller, LOGLV_WARNING, "Skip unverified Block(%d,%s)", 0, m_szDevName);
    return trust == kBlockTrusted;
}

// The trust rule is the block format's; this reads the record region for it in pieces through a
// buffer on the stack, after one positioning.
CRomDevice::BlockTrust CRomDevice::VerifyBlock(int area, int block, const BlockHeader& header, int* pLength) {
    BlockFormat::RecordCheck check(header.uiCrc);
    unsigned char chunk[kVerifyChunk];
    const int iRegion = BlockOffset(area, block) + HEADER_SIZE;
    const int iLength = m_iBlockSize - HEADER_SIZE;
    for (int iDone = 0; iDone < iLength; iDone += kVerifyChunk) {
        const int iChunk = iLength - iDone < kVerifyChunk ? iLength - iDone : kVerifyChunk;
        const ReadStart start = iDone == 0 ? kReadIfPositioned : kReadOn;
        if (!ReadAt(iRegion + iDone, chunk, iChunk, start).Done(iChunk)) return kBlockUnreadable;
        check.Add(chunk, iChunk);
    }
    const int iRecord = check.RecordLength();
    if (pLength != nullptr) *pLength = iRecord;
    return iRecord >= 0 ? kBlockTrusted : kBlockUntrusted;
}

int CRomDevice::SearchCurrentBlock(int* found, int area) { return FindCurrentBlock(found, area, false); }

// The current block is the highest committed block that is trusted. When the area has committed
// blocks but none is trusted, its bytes may still matter, so a read leaves them alone; a write, which
// replaces the record anyway, passes bReplaceUntrusted and erases and formats the area first.
int CRomDevice::FindCurrentBlock(int* found, int area, bool bReplaceUntrusted) {
    const char* const pszCaller = "SearchCurrentBlock";
    if (found == nullptr) return RET_INVALID_ARG;

    int iHighest = -1;
    int iHighestUnread = -1;
    BlockHeader highest = {};
    bool bAllFree = true;
    for (int b = 0; b < BlocksPerArea(); ++b) {
        BlockHeader header;
        // Preset erased: a header that cannot be read never counts as committed.
        if (!ReadHeader(pszCaller, BlockOffset(area, b), &header, BlockFormat::kErasedWord)) iHighestUnread = b;
        const BlockFormat::BlockState state = BlockFormat::StateOf(header);
        if (state != BlockFormat::kBlockFree) bAllFree = false;
        if (state == BlockFormat::kBlockCommitted) {
            iHighest = b;
            highest = header;
            ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Find Current Block(%d,%s)", b, m_szDevName);
        }
    }

    // Recovery formats or erases the area, so it runs only on what was read in full: an I/O error
    // must never make the store erase what it could not read. Below the highest committed block,
    // headers are read again only when it does not verify, which takes a cut erase. A header that could
    // not be read may be a newer committed block: no block below it may answer for the area.
    *found = -1;
    for (int b = iHighest; b > iHighestUnread; --b) {
        BlockHeader header = highest;
        if (b != iHighest && !ReadHeader(pszCaller, BlockOffset(area, b), &header, BlockFormat::kErasedWord))
            return RET_OK;
        if (BlockFormat::StateOf(header) != BlockFormat::kBlockCommitted) continue;
        const BlockTrust trust = VerifyBlock(area, b, header);
        if (trust == kBlockUnreadable) return RET_OK;
        if (trust == kBlockTrusted) {
            *found = b;
            return RET_OK;
        }
        ROM_LOG_FROM(pszCaller, LOGLV_WARNING, "Skip unverified Block(%d,%s)", b, m_szDevName);
    }
    if (iHighestUnread >= 0 || (iHighest >= 0 && !bReplaceUntrusted)) return RET_OK;

    // The blank probe reads every header again; if it disagrees with the scan, one of the two reads
    // went wrong, and the area is left alone.
    bool bNew = IsNewDevice(area);
    if (bNew != bAllFree) return RET_OK;

    if (bNew) {
        ROM_LOG_FROM(pszCaller, LOGLV_WARNING, "Detect New Device(%d,%s)", area, m_szDevName);
        if (!WriteFormatMarker(area)) {
            ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to write Header(%s)", m_szDevName);
            return RET_OK;
        }
        ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to write Header(%s)", m_szDevName);
        if (IsFormatTrusted(pszCaller, area)) {
            *found = 0;
            return RET_OK;
        }
        // Blank headers over stray bits: no record to keep, and a write erases the area as below.
        if (!bReplaceUntrusted) return RET_OK;
    }

    ROM_LOG_FROM(pszCaller, LOGLV_WARNING, "This Device is't New Device. And can NOT FIND current block");
    if (EraseArea(area, false) == RET_FAIL) return RET_OK;
    if (!WriteFormatMarker(area))
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to write Header(%s)", m_szDevName);
    else if (IsFormatTrusted(pszCaller, area))
        *found = 0;
    return RET_OK;
}

int CRomDevice::SearchNextBlock(int* found, int area, int current) {
    if (found == nullptr) return RET_INVALID_ARG;
    int iBlocks = BlocksPerArea();
    if (iBlocks <= 0) {
        *found = 0;
        return RET_OK;
    }
    *found = -1;
    // A starting block outside the area has no blocks after it; none is handed out.
    if (iBlocks == 1 || current < 0 || current >= iBlocks) return RET_FAIL;

    for (int k = 1; k < iBlocks; ++k) {
        int c = current + k < iBlocks ? current + k : current + k - iBlocks;
        BlockHeader header;
        // Preset programmed: a header that cannot be read never counts as free.
        ReadHeader(__func__, BlockOffset(area, c), &header, 0);
        if (BlockFormat::StateOf(header) == BlockFormat::kBlockFree) {
            ROM_LOG(LOGLV_DEBUG, "Find Next Block(%d,%s)", c, m_szDevName);
            *found = c;
            return RET_OK;
        }
    }
    return RET_FAIL;
}

int CRomDevice::CheckCurrentBlock(int* found, int area, int block) {
    if (found == nullptr) return RET_INVALID_ARG;
    // Only headers inside the area are ever read.
    if (block < 0 || block >= BlocksPerArea()) return RET_BAD_BLOCK;

    BlockHeader header;
    if (!ReadHeader(__func__, BlockOffset(area, block), &header, BlockFormat::kErasedWord)) return RET_BAD_BLOCK;
    if (BlockFormat::StateOf(header) != BlockFormat::kBlockCommitted) return RET_BAD_BLOCK;
    ROM_LOG(LOGLV_DEBUG, "Find Current Block(%d,%s)", block, m_szDevName);
    const BlockTrust trust = VerifyBlock(area, block, header);
    if (trust != kBlockTrusted) {
        if (trust == kBlockUntrusted) ROM_LOG(LOGLV_WARNING, "Skip unverified Block(%d,%s)", block, m_szDevName);
        return RET_BAD_BLOCK;
    }
    *found = block;
    return RET_OK;
}

bool CRomDevice::IsRecordLengthValid(int area, unsigned char* data, int length) const {
    return area >= m_iStartArea && area <= m_iEndArea && data != nullptr && length >= 0 &&
           length <= m_iBlockSize - HEADER_SIZE;
}

// True when the block holds, from its checksum word on, what a completed write of the record leaves:
// the checksum word uiCrc, the record, and nothing but erased bytes after it. The record is compared
// with the caller's, whose checksum the word holds: the same test as checksumming it again, at a
// fraction of the cost. pScratch takes the m_iBlockSize - kCrcOffset bytes read.
bool CRomDevice::BlockHolds(int area, int block, unsigned int uiCrc, const unsigned char* data, int length,
                            unsigned char* pScratch) {
    const int iRead = m_iBlockSize - BlockFormat::kCrcOffset;
    const unsigned char* const pRecord = pScratch + BlockFormat::kWordSize;
    return ReadAt(BlockOffset(area, block) + BlockFormat::kCrcOffset, pScratch, iRead).Done(iRead) &&
           BlockFormat::DecodeWord(pScratch) == uiCrc && memcmp(pRecord, data, length) == 0 &&
           BlockFormat::IsErased(pRecord + length, m_iBlockSize - HEADER_SIZE - length);
}

// One attempt to store the record in free block `block`: the checksum word first, the record next,
// and the status word last, after the record has been read back and verified. Until the status word
// is programmed the block is neither free nor committed, so the previous record stays current. Every
// program follows a positioning that is checked. True when the block was committed.
bool CRomDevice::WriteAttempt(int area, int block, unsigned char* data, int length,
                              unsigned char* pScratch) {
    const char* const pszCaller = "SetData";
    const int iBlock = BlockOffset(area, block);
    const unsigned int uiCrc = BlockFormat::ChecksumWord(data, length);
    const auto unpositioned = [this, pszCaller] {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to seek(%s)", m_szDevName);
        return false;
    };

    const FlashAccess crc = ProgramWord(iBlock + BlockFormat::kCrcOffset, uiCrc);
    if (!crc.bPositioned) return unpositioned();
    if (crc.Done(BlockFormat::kWordSize))
        ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to Write CRC(%s)", m_szDevName);
    else
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to Write CRC(%s)", m_szDevName);

    const FlashAccess record = ProgramAt(iBlock + HEADER_SIZE, data, length);
    if (!record.bPositioned) return unpositioned();
    if (record.Done(length))
        ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to Write Data(%s)", m_szDevName);
    else
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to Write Data(%s)", m_szDevName);

    // The checksum word is read back with the record and the rest of the block, so that the store
    // commits only a block that later reads trust: the record under its checksum, then nothing but
    // erased bytes. A free header does not make a free block: an erase cut just before its end leaves
    // stray 0 bits behind erased headers. A read-back that does not deliver the whole block fails.
    const bool bVerified = BlockHolds(area, block, uiCrc, data, length, pScratch);
    if (bVerified)
        ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to Verify Data(%s)", m_szDevName);
    else
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to Verify Data(%s)", m_szDevName);

    // A commit that does not read back is a failed attempt like a failed verification. Nothing is
    // programmed over it: a word programmed to 0 cannot take the rejected pattern, and no search takes
    // a status word with a bit left at 1 for committed or free.
    const FlashAccess status = ProgramWord(iBlock, bVerified ? BLOCK_STATUS_CURRENT : BLOCK_STATUS_REJECTED);
    if (!status.bPositioned) return unpositioned();
    if (bVerified && status.Done(BlockFormat::kWordSize) && StatusReadsBack(iBlock, BLOCK_STATUS_CURRENT)) {
        ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to Write Header(%s)", m_szDevName);
        ROM_LOG_FROM(pszCaller, LOGLV_INFO, "Success to CRomDevice::SetData(A:%d,B:%d)", area, block);
        return true;
    }
    ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to Write Header(%s)", m_szDevName);
    return false;
}

// Erases a sector with up to 3 tries, stopping at the first that does not fail. The erase of the
// sector that a write moved out of (into iMovedTo) logs each try; -1 logs none.
int CRomDevice::EraseSectorTries(const char* pszCaller, int area, int sector, int iMovedTo) {
    int iResult = RET_FAIL;
    for (int iTry = 0; iTry < 3 && iResult == RET_FAIL; ++iTry) {
        if (iMovedTo >= 0) ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "<< Erase Process(%d->%d) >>", sector, iMovedTo);
        iResult = EraseSectorSystem(area, sector);
    }
    return iResult;
}

// The sector after the one that holds `block` should be blank; anything in it is left over from a
// write that was cut short before its clean-up. A failed erase is logged by the erase and ignored.
void CRomDevice::CleanNextSector(const char* pszCaller, int area, int block) {
    int iSector = NextSector(BlockToSector(block));
    if (IsNewSector(area, iSector)) return;
    ROM_LOG_FROM(pszCaller, LOGLV_WARNING, "Detect undeleted Next Sector(%d, %d, %s)", area, iSector,
                 m_szDevName);
    EraseSectorTries(pszCaller, area, iSector, -1);
}

// No block after the current one is free: cuts left the other sectors unerased, or rejected
// attempts used them up. They hold no record in force, only the current block's sector does, so they
// are erased to let the write go on instead of refusing until a read cleans up. True when all were.
bool CRomDevice::MakeRoom(int area, int iCurrentSector) {
    bool bErased = true;
    for (int iSector = 0; iSector < SectorsPerArea(); ++iSector) {
        if (iSector == iCurrentSector) continue;
        ROM_LOG_FROM("SetData", LOGLV_WARNING, "Detect full Area: erase Sector(%d, %d, %s)", area, iSector,
                     m_szDevName);
        if (EraseSectorTries("SetData", area, iSector, -1) != RET_OK) bErased = false;
    }
    return bErased;
}

int CRomDevice::SetData(int area, unsigned char* data, int length, bool bOpen) {
    if (!IsRecordLengthValid(area, data, length)) {
        ROM_LOG(LOGLV_ERROR, "Invalid argument(%d, %d, %s)", area, length, m_szDevName);
        return RET_INVALID_ARG;
    }
    if (bOpen) {
        int iOpen = DeviceOpen();
        if (iOpen != RET_OK) return iOpen;
    }

    int iCurrent = -1;
    FindCurrentBlock(&iCurrent, area, true);
    const int iCurrentSector = BlockToSector(iCurrent);
    if (iCurrentSector < 0) {
        if (bOpen) DeviceClose();
        ROM_LOG(LOGLV_ERROR, "FAIL to find Current Blcok(%d,%s)", iCurrent, m_szDevName);
        return RET_FAIL;
    }

    // The read-back takes the block from its checksum word on.
    unsigned char* pScratch = static_cast<unsigned char*>(malloc(m_iBlockSize - BlockFormat::kCrcOffset));
    if (pScratch == nullptr) {
        if (bOpen) DeviceClose();
        ROM_LOG(LOGLV_ERROR, "FAIL to alloc memory(%s)", m_szDevName);
        return RET_FAIL;
    }

    // Every attempt starts the search from the committed block: a block that an earlier attempt
    // programmed no longer reads free, so each attempt takes a fresh block.
    const int iBlocks = BlocksPerArea();
    int iCount = 0;
    int bWriteSuccsessFlg = 0;
    int iNextSector = iCurrentSector;
    int iNext = -1;
    bool bRoomMade = false;
    while (iCount < iBlocks) {
        if (SearchNextBlock(&iNext, area, iCurrent) != RET_OK) {
            if (!bRoomMade && MakeRoom(area, iCurrentSector)) {
                bRoomMade = true;
                continue;
            }
            ROM_LOG(LOGLV_ERROR, "FAIL to find Next Block(%s)", m_szDevName);
            break;
        }
        iNextSector = BlockToSector(iNext);
        if (WriteAttempt(area, iNext, data, length, pScratch)) {
            bWriteSuccsessFlg = 1;
            break;
        }
        ++iCount;
    }
    free(pScratch);
    ROM_LOG(LOGLV_DEBUG, "    bWriteSuccsessFlg(%d), iCount(%d/%d), iNextSector(%d), iCurrentSector(%d)",
            bWriteSuccsessFlg, iCount, iBlocks, iNextSector, iCurrentSector);

    // The old sector is erased only after the new block is committed, so the record is never without
    // a committed copy. Failing that erase fails the call: committed blocks now stand in two sectors.
    bool bCleanFailed = false;
    if (bWriteSuccsessFlg == 1) {
        if (iNextSector != iCurrentSector) {
            bCleanFailed = EraseSectorTries(__func__, area, iCurrentSector, iNextSector) == RET_FAIL;
        } else {
            CleanNextSector(__func__, area, iNext);
        }
    }
    if (bOpen) DeviceClose();

    // The address is logged as its low 32 bits, the width that the log format takes.
    const unsigned int uiAddress = static_cast<unsigned int>(reinterpret_cast<uintptr_t>(data));
    if (bWriteSuccsessFlg == 0 || bCleanFailed) {
        ROM_LOG(LOGLV_ERROR, "FAIL to SetData( %d, 0x%X, %d )", area, uiAddress, length);
        return RET_FAIL;
    }
    ROM_LOG(LOGLV_DEBUG, "Success to SetData( %d, 0x%X, %d )", area, uiAddress, length);
    return RET_OK;
}

// The start of a read of the current record, and of a write that compares with it: the arguments
// checked, the node opened and the current block searched for as a read searches. The node stays open
// only when the result is RET_OK.
int CRomDevice::OpenAtCurrent(const char* pszCaller, int area, unsigned char* data, int length, int* pCurrent) {
    if (!IsRecordLengthValid(area, data, length)) {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "Invalid argument(%d, %d, %s)", area, length, m_szDevName);
        return RET_INVALID_ARG;
    }
    int iOpen = DeviceOpen();
    if (iOpen == RET_OK) SearchCurrentBlock(pCurrent, area);
    return iOpen;
}

// The comparison and the write share one open, and so the node's lock: no other writer comes between
// them. Unchanged, the call programs and erases nothing, not even the clean-up of the next sector.
int CRomDevice::SetDataIfChanged(int area, unsigned char* data, int length) {
    int iCurrent = -1;
    int iOpen = OpenAtCurrent(__func__, area, data, length, &iCurrent);
    if (iOpen != RET_OK) return iOpen;
    // A block that cannot be read, or no memory to read it into, counts as changed: the write decides.
    unsigned char* pScratch = static_cast<unsigned char*>(malloc(m_iBlockSize - BlockFormat::kCrcOffset));
    const bool bUnchanged = iCurrent >= 0 && pScratch != nullptr &&
                            BlockHolds(area, iCurrent, BlockFormat::ChecksumWord(data, length), data, length, pScratch);
    free(pScratch);
    int iResult = RET_UNCHANGED;
    if (bUnchanged)
        ROM_LOG(LOGLV_INFO, "Skip unchanged SetData(A:%d,B:%d)", area, iCurrent);
    else
        iResult = SetData(area, data, length, false);
    DeviceClose();
    return iResult;
}

// Steps shared by both reads once the block is known: the record straight into the caller's buffer,
// then, after a complete read, the clean-up of the following sector. Closes the node.
int CRomDevice::ReadRecord(int area, int block, unsigned char* data, int length) {
    const char* const pszCaller = "GetData";
    // A read that was not positioned would answer with bytes of some other place.
    const int iRead = ReadAt(BlockOffset(area, block) + HEADER_SIZE, data, length, kReadIfPositioned).iMoved;
    if (iRead != length) {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "FAIL to Read Data(%d,%s)", area, m_szDevName);
        DeviceClose();
        return iRead;
    }
    ROM_LOG_FROM(pszCaller, LOGLV_DEBUG, "Success to Read Data(%d,%d,%s)", area, iRead, m_szDevName);
    CleanNextSector(pszCaller, area, block);
    DeviceClose();
    return iRead;
}

int CRomDevice::GetData(int area, unsigned char* data, int length) {
    int iCurrent = -1;
    int iOpen = OpenAtCurrent(__func__, area, data, length, &iCurrent);
    if (iOpen != RET_OK) return iOpen;
    if (iCurrent < 0) {
        DeviceClose();
        ROM_LOG(LOGLV_ERROR, "FAIL to find Current Blcok(%d,%s)", area, m_szDevName);
        return RET_FAIL;
    }
    return ReadRecord(area, iCurrent, data, length);
}

int CRomDevice::GetData(int area, int block, unsigned char* data, int length) {
    if (!IsRecordLengthValid(area, data, length)) {
        ROM_LOG(LOGLV_ERROR, "Invalid argument(%d, %d, %s)", area, length, m_szDevName);
        return RET_INVALID_ARG;
    }
    int iOpen = DeviceOpen();
    if (iOpen != RET_OK) return iOpen;

    if (block >= BlocksPerArea()) {
        DeviceClose();
        ROM_LOG(LOGLV_ERROR, "Invalid argument(%d, %d, %d, %s)", area, block, length, m_szDevName);
        return RET_BAD_BLOCK;
    }
    int iFound = -1;
    CheckCurrentBlock(&iFound, area, block);
    if (iFound < 0) {
        DeviceClose();
        ROM_LOG(LOGLV_ERROR, "FAIL to access target Blcok(%d,%d,%s)", area, block, m_szDevName);
        return RET_BAD_BLOCK;
    }
    return ReadRecord(area, block, data, length);
}

int CRomDevice::CheckHealth(int area, romstore_health* pHealth) {
    if (area < m_iStartArea || area > m_iEndArea || pHealth == nullptr) {
        ROM_LOG(LOGLV_ERROR, "Invalid argument(%d, %s)", area, m_szDevName);
        return RET_INVALID_ARG;
    }
    int iOpen = DeviceOpen();
    if (iOpen != RET_OK) return iOpen;
    ScanBlocks(area, pHealth);
    ScanSectors(area, pHealth);
    DeviceClose();
    return RET_OK;
}

// The blocks from the highest down, judged as a read judges them: the first committed block that
// verifies is the current one, unless a header or record region above it could not be read, which may
// hide a newer record and so fails a read.
void CRomDevice::ScanBlocks(int area, romstore_health* pHealth) {
    romstore_health& h = *pHealth;
    h = romstore_health{ROMSTORE_AREA_BLANK, -1, -1, 0, -1, 0, 0, 0, 0, -1, 0};
    int iTop = -1;
    bool bHidden = false;
    bool bMarker = false;
    for (int b = BlocksPerArea() - 1; b >= 0; --b) {
        BlockHeader header;
        const bool bRead = ReadHeader("CheckHealth", BlockOffset(area, b), &header, BlockFormat::kErasedWord);
        const BlockFormat::BlockState state = BlockFormat::StateOf(header);
        if (bRead && state == BlockFormat::kBlockFree) continue;
        h.state = ROMSTORE_AREA_NO_RECORD;
        if (bRead && state != BlockFormat::kBlockCommitted) {
            h.rejected += state == BlockFormat::kBlockRejected;
            h.unfinished += state == BlockFormat::kBlockWritten;
            h.other += state == BlockFormat::kBlockOther;
            continue;
        }
        int iLength = -1;
        const BlockTrust trust = bRead ? VerifyBlock(area, b, header, &iLength) : kBlockUnreadable;
        if (trust == kBlockUnreadable) {
            h.unreadable = 1;
            bHidden = bHidden || iTop < 0;
        } else if (trust == kBlockUntrusted) {
            if (iTop >= 0) ++h.older_damaged;
            else if (h.newer_damaged++ == 0) h.newest_damaged = b;
        } else if (iTop < 0) {
            iTop = b;
            h.record_length = iLength;
            bMarker = BlockFormat::IsFormatMarker(header);
        }
    }
    if (iTop < 0 || bHidden) {
        h.record_length = -1;
        return;
    }
    h.current_block = iTop;
    h.state = bMarker ? ROMSTORE_AREA_FORMATTED : ROMSTORE_AREA_RECORD;
}

// Once a write or a read has cleaned up, only the sector of the current block holds anything; a blank
// area holds nothing at all.
void CRomDevice::ScanSectors(int area, romstore_health* pHealth) {
    const bool bBlank = pHealth->state == ROMSTORE_AREA_BLANK;
    if (pHealth->current_block < 0 && !bBlank) return;
    const int iHome = bBlank ? -1 : BlockToSector(pHealth->current_block);
    for (int s = 0; s < SectorsPerArea(); ++s) {
        if (s == iHome) continue;
        const SectorState state = ProbeSector("CheckHealth", area, s, kReadIfPositioned);
        if (state == kSectorUnreadable) pHealth->unreadable = 1;
        if (state == kSectorWritten && pHealth->stale_sector < 0) pHealth->stale_sector = s;
    }
}
