// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// One MTD character node holding a run of equally sized areas, one record per area.
//
// On flash an area is a row of blocks; each block is an 8-byte header (status word, checksum word,
// both big-endian) followed by the record. The record moves to a fresh block on every write, the status
// word that commits it is programmed last, and the current record is the committed block with the
// highest number.
#pragma once

#include "RomExport.h"
#include "romstore.h"

struct BlockHeader {
    unsigned int uiStatus;
    unsigned int uiCrc;
};

// Values of BlockHeader::uiStatus.
const unsigned int BLOCK_STATUS_ERASED = 0xFFFFFFFFu;    // not committed or rejected since the erase
const unsigned int BLOCK_STATUS_CURRENT = 0x00000000u;   // committed
const unsigned int BLOCK_STATUS_REJECTED = 0x00010000u;  // written, but its read-back did not verify

class ROMSTORE_EXPORT CRomDevice {
public:
    CRomDevice();
    virtual ~CRomDevice();

    void Initialize(int iStartArea, int iEndArea, int iAreaSize, int iSectorSize, int iBlockSize,
                    const char* pszDevName);
    int BlockToSector(int block);
    int NextSector(int sector);

    unsigned short CalculateCRC16(unsigned char* buffer, int length);
    unsigned short CalculateCRC16Continuation(unsigned char* buffer, int length, unsigned short seed);

    int DeviceOpen();
    int DeviceClose();
    int EraseArea(int area, bool bOpen);
    int EraseSectorSystem(int area, int sector);
    bool IsNewDevice(int area);
    bool IsNewSector(int area, int sector);

    int SearchCurrentBlock(int* found, int area);
    int SearchNextBlock(int* found, int area, int current);
    int CheckCurrentBlock(int* found, int area, int block);

    int SetData(int area, unsigned char* data, int length, bool bOpen);
    // SetData with the node opened here, unless the current block already holds what it would write:
    // then RET_UNCHANGED (1), and nothing programmed or erased.
    int SetDataIfChanged(int area, unsigned char* data, int length);
    int GetData(int area, unsigned char* data, int length);
    int GetData(int area, int block, unsigned char* data, int length);
    // Reads the area's blocks and sectors as a read would judge them, and changes nothing.
    int CheckHealth(int area, romstore_health* pHealth);

    static int HEADER_SIZE;

    int m_iFd;
    int m_iStartArea;
    int m_iEndArea;
    int m_iAreaSize;
    int m_iSectorSize;
    int m_iBlockSize;
    char m_szDevName[64];

private:
    enum BlockTrust { kBlockTrusted, kBlockUntrusted, kBlockUnreadable };
    // What one access to flash did: whether the node took the offset, and the bytes that the read or
    // program moved, or -1 (an erase moves its whole range or fails).
    struct FlashAccess {
        bool bPositioned;
        int iMoved;
        bool Done(int length) const { return bPositioned && iMoved == length; }
    };
    // How a read is positioned: at its offset, and read even where that failed, as the store's reads
    // always have been (a header read presets its buffer against it); at its offset or not at all; or
    // where the previous read ended, for a region read in pieces.
    enum ReadStart { kReadAnyway, kReadIfPositioned, kReadOn };
    enum SectorState { kSectorErased, kSectorWritten, kSectorUnreadable };

    int SectorsPerArea() const;
    int BlocksPerArea() const;
    int AreaOffset(int area) const;
    int BlockOffset(int area, int block) const;
    bool IsRecordLengthValid(int area, unsigned char* data, int length) const;
    int OpenAtCurrent(const char* pszCaller, int area, unsigned char* data, int length, int* pCurrent);
    FlashAccess ReadAt(int offset, unsigned char* pBuffer, int length, ReadStart start = kReadAnyway);
    FlashAccess ProgramAt(int offset, const unsigned char* pData, int length);
    FlashAccess EraseAt(int offset, int length);
    FlashAccess ProgramWord(int offset, unsigned int word);
    bool ReadHeader(const char* pszCaller, int offset, BlockHeader* header, unsigned int preset);
    bool StatusReadsBack(int offset, unsigned int uiStatus);
    bool WriteFormatMarker(int area);
    bool IsFormatTrusted(const char* pszCaller, int area);
    SectorState ProbeSector(const char* pszCaller, int area, int sector, ReadStart start);
    BlockTrust VerifyBlock(int area, int block, const BlockHeader& header, int* pLength = nullptr);
    int FindCurrentBlock(int* found, int area, bool bReplaceUntrusted);
    bool BlockHolds(int area, int block, unsigned int uiCrc, const unsigned char* data, int length,
                    unsigned char* pScratch);
    bool WriteAttempt(int area, int block, unsigned char* data, int length, unsigned char* pScratch);
    int EraseSectorTries(const char* pszCaller, int area, int sector, int iMovedTo);
    bool MakeRoom(int area, int iCurrentSector);
    void CleanNextSector(const char* pszCaller, int area, int block);
    int ReadRecord(int area, int block, unsigned char* data, int length);
    void ScanBlocks(int area, romstore_health* pHealth);
    void ScanSectors(int area, romstore_health* pHealth);
};
