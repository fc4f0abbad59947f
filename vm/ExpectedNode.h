// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// What one node must hold after a run of writes, from the records alone: the format as docs/format.md
// describes it, built independently of the store's own searches, to compare with a dump of the node.
#pragma once

#include <string>
#include <vector>

#include "RomDeviceInfo.h"

using Bytes = std::vector<unsigned char>;

class ExpectedNode {
public:
    explicit ExpectedNode(const RomDeviceInfo& info);

    // The area (1 = the node's first) was erased; it stays erased until the next Wrote.
    void Erased(int area);
    // A write that returned 0 stored this record in the area.
    void Wrote(int area, const Bytes& record);
    // Every byte of the node: in each written area the sector of the current block holds the blocks
    // written since the record entered it, the other sectors are erased.
    Bytes Image() const;

private:
    Bytes Block(int index, const std::vector<Bytes>& writes) const;

    RomDeviceInfo m_info;
    std::vector<std::vector<Bytes>> m_writes;  // per area, since its erase
};
