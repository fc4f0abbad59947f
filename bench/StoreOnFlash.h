// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store over one simulated node: the node of one row of the device table, erased and in memory,
// and a manager over the whole table, which touches no node until it is used.
#pragma once

#include <cstdint>

#include "NorSim.h"
#include "RomDeviceInfo.h"
#include "RomMgr.h"
#include "TableNodes.h"

namespace rombench {

struct StoreOnFlash {
    explicit StoreOnFlash(int row)
        : info(g_RomDeviceInfoArray[row]),
          table(norsim::TableNodes().at(row)),
          node(table.path, table.size, table.eraseSize),
          area(store.m_pAreaRange[row].iStartArea) {}

    // The bit of the bulk operations' masks that selects `area`.
    int mask() const { return 1 << (area - 1); }

    const RomDeviceInfo& info;
    const norsim::TableNode table;
    norsim::ScopedNode node;
    CRomMgr store;
    int area;  // the global number of the node's first area, which lies at offset 0
};

}  // namespace rombench
