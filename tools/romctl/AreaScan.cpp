// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "AreaScan.h"

#include <algorithm>
#include <string>

#include "BlockFormat.h"
#include "Failure.h"
#include "NodeReader.h"

AreaScan::AreaScan(const AreaTable& areas, int area) : m_geometry(areas.geometry(area)) {
    const AreaGeometry& g = m_geometry;
    if (g.blockSize <= 0 || g.sectorSize < g.blockSize)
        throw Failure(kExitFailed, "area " + std::to_string(area) + " has no valid geometry");
    const int iBlocksPerSector = g.sectorSize / g.blockSize;
    const int iRegion = g.blockSize - BlockFormat::kHeaderSize;

    NodeReader node(g.node);
    for (int s = 0; s < g.areaSize / g.sectorSize; ++s) {
        const std::vector<unsigned char> sector = node.read(g.offset + s * g.sectorSize, g.sectorSize);
        for (int b = 0; b < iBlocksPerSector; ++b) {
            const unsigned char* const block = sector.data() + b * g.blockSize;
            const BlockHeader header = BlockFormat::DecodeHeader(block);
            int iLength = -1;
            if (BlockFormat::StateOf(header) == BlockFormat::kBlockCommitted) {
                BlockFormat::RecordCheck check(header.uiCrc);
                check.Add(block + BlockFormat::kHeaderSize, iRegion);
                iLength = check.RecordLength();
            }
            if (iLength >= 0) {
                m_iCurrent = static_cast<int>(m_blocks.size());
                m_currentRecord.assign(block + BlockFormat::kHeaderSize, block + BlockFormat::kHeaderSize + iLength);
            }
            m_blocks.push_back(Block{header, iLength});
        }
        if (!BlockFormat::IsErased(sector.data(), g.sectorSize)) m_notBlank.push_back(s);
    }
}
