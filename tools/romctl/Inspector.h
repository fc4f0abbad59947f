// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// A read-only look at the blocks of an area. The store's own searches format a blank area and erase
// one without a committed block, so the inspector reads the flash itself (AreaScan).
#pragma once

#include <ostream>

#include "AreaTable.h"

class Inspector {
public:
    explicit Inspector(const AreaTable& areas) : m_areas(areas) {}

    // What the characters of a block map stand for; printed once before the areas.
    static void printLegend(std::ostream& out);
    // The area's current block (the highest committed block whose record verifies, the one that the
    // store reads), its blocks by state sector by sector, its sectors that are not blank, and the
    // record length of each committed block. Throws a Failure when the node cannot be opened or read.
    void print(int area, std::ostream& out) const;
    // The same as one JSON object on one line: area, node, offset, sectors, blocks_per_sector,
    // block_size, current_block (-1 for none), blocks (a string of block marks per sector),
    // not_blank_sectors, and records: each committed block's block, length (-1 when it does not
    // verify) and format_marker.
    void printJson(int area, std::ostream& out) const;

private:
    const AreaTable& m_areas;
};
