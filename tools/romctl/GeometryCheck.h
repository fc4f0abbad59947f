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

    // Prints both views of every node; returns one line for each node that does not fit the table,
    // or cannot be asked, and for each way in which it does not fit.
    std::vector<std::string> print(std::ostream& out) const;

private:
    CRomMgr& m_store;
};
