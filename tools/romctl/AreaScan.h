// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The blocks of one area as they are on flash, read once through a read-only descriptor and judged by
// the block format's own rules. inspect and save look at the flash through it without changing it, and
// read takes from it the checksum word of the block whose record the store returned.
#pragma once

#include <vector>

#include "AreaTable.h"
#include "RomDevice.h"

class AreaScan {
public:
    struct Block {
        BlockHeader header;
        int recordLength;  // of a committed block whose record verifies (0 for the format marker), or -1
    };

    // Reads the whole area; throws a Failure when its node cannot be opened or read.
    AreaScan(const AreaTable& areas, int area);

    const AreaGeometry& geometry() const { return m_geometry; }
    const std::vector<Block>& blocks() const { return m_blocks; }
    // The highest committed block whose record verifies, the one the store reads; -1 when none does.
    int current() const { return m_iCurrent; }
    // The current block's record, as long as its own length; empty when there is no current block.
    const std::vector<unsigned char>& currentRecord() const { return m_currentRecord; }
    // The sectors that hold any byte other than 0xFF.
    const std::vector<int>& notBlankSectors() const { return m_notBlank; }

private:
    AreaGeometry m_geometry;
    std::vector<Block> m_blocks;
    int m_iCurrent = -1;
    std::vector<unsigned char> m_currentRecord;
    std::vector<int> m_notBlank;
};
