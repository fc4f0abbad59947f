// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Each node of the device table as the kernel reports it, beside what the table assumes of it: the
// store needs NOR flash at least as large as the node's areas, erased in blocks that divide its
// sectors.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "RomMgr.h"

class GeometryCheck {
public:
    explicit GeometryCheck(CRomMgr& store) : m_store(store) {}

    // Prints both views of every node, as text or as one JSON object a node (node; kernel: type,
    // size, erase_size, write_size, or null; table: size, areas, area_size, sector_size; problems);
    // returns one line for each node that does not fit the table, or cannot be asked, and for each
    // way in which it does not fit. Throws the busy Failure of a node that another holder keeps from
    // being opened.
    std::vector<std::string> print(std::ostream& out, bool bJson) const;

private:
    CRomMgr& m_store;
};
