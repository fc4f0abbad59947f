// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Where each area of the store lies: its device's node and geometry, as the manager set them up
// from the compiled-in device table.
#pragma once

#include <cstddef>
#include <string>

#include "RomMgr.h"

struct AreaGeometry {
    std::string node;
    int offset;  // of the area on its node
    int areaSize;
    int sectorSize;
    int blockSize;
};

class AreaTable {
public:
    explicit AreaTable(CRomMgr& store);

    int first() const { return m_iFirst; }
    int last() const { return m_iLast; }
    // The area that `text` names; a usage Failure when it is not a number or is out of the
    // range.
    int parse(const std::string& text) const;
    AreaGeometry geometry(int area) const;
    // The area that the store's log lines call `local` on `node`.
    int globalArea(const std::string& node, int local) const;
    // How many blocks the area has: blocks 0 to blocks(area) - 1.
    int blocks(int area) const;
    // The block size less the header: the longest record that the area takes.
    int largestRecord(int area) const;
    // Why a record of `length` bytes does not fit the area, naming both lengths; empty when it fits.
    std::string lengthProblem(int area, std::size_t length) const;

private:
    CRomMgr& m_store;
    int m_iFirst = 1;
    int m_iLast = 0;
};
