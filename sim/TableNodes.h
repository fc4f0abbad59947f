// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The nodes that the store's compiled-in device table names, as the simulator stands them in: one per
// row, as large as the row's areas, erased in the row's sectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RomDeviceInfo.h"

namespace norsim {

struct TableNode {
    std::string path;
    std::uint32_t size;       // all the row's areas
    std::uint32_t eraseSize;  // the row's sector
    std::uint32_t areaSize;
    int firstArea;            // the number of the area at offset 0, counted over the whole table
};

// Read anew at each call, since a test or a board port may have changed the table.
inline std::vector<TableNode> TableNodes() {
    std::vector<TableNode> nodes;
    int first = 1;
    for (const RomDeviceInfo& row : g_RomDeviceInfoArray) {
        if (row.iAreaNum <= 0) break;
        nodes.push_back(TableNode{row.pszDevName, static_cast<std::uint32_t>(row.iAreaNum) * row.iAreaSize,
                                  static_cast<std::uint32_t>(row.iSectorSize),
                                  static_cast<std::uint32_t>(row.iAreaSize), first});
        first += row.iAreaNum;
    }
    return nodes;
}

}  // namespace norsim
