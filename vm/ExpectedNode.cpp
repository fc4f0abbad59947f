// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "ExpectedNode.h"

#include <algorithm>

#include "BlockFormat.h"

ExpectedNode::ExpectedNode(const RomDeviceInfo& info)
    : m_info(info), m_writes(static_cast<std::size_t>(info.iAreaNum)) {}

void ExpectedNode::Erased(int area) { m_writes.at(area - 1).clear(); }

void ExpectedNode::Wrote(int area, const Bytes& record) { m_writes.at(area - 1).push_back(record); }

// Index 0 is the format marker that the first write commits in block 0, index k the k-th write.
Bytes ExpectedNode::Block(int index, const std::vector<Bytes>& writes) const {
    Bytes block(static_cast<std::size_t>(m_info.iBlockSize), 0xFF);
    if (index == 0) {
        BlockFormat::EncodeHeader(BlockFormat::kFormatMarker, block.data());
    } else {
        const Bytes& record = writes.at(index - 1);
        BlockFormat::EncodeBlock(BLOCK_STATUS_CURRENT, record.data(), static_cast<int>(record.size()), block.data());
    }
    return block;
}

Bytes ExpectedNode::Image() const {
    Bytes image(static_cast<std::size_t>(m_info.iAreaNum) * m_info.iAreaSize, 0xFF);
    const int blocks = m_info.iAreaSize / m_info.iBlockSize;
    const int perSector = m_info.iSectorSize / m_info.iBlockSize;
    for (std::size_t area = 0; area < m_writes.size(); ++area) {
        const int count = static_cast<int>(m_writes[area].size());
        if (count == 0) continue;
        // Write k lands in block k modulo the blocks of the area, the marker in block 0.
        const int current = count % blocks;
        for (int block = current / perSector * perSector; block <= current; ++block) {
            Bytes content = Block(count - (current - block), m_writes[area]);
            std::copy(content.begin(), content.end(),
                      image.begin() + area * m_info.iAreaSize + block * m_info.iBlockSize);
        }
    }
    return image;
}
