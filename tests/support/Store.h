// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store as a host uses it: a manager over erased nodes of the table, for the life of a test or of
// one case of a table.
#pragma once

#include "RomMgr.h"
#include "TableFlash.h"

namespace romtest {

// Where block `block` of area `area` starts on the first node.
constexpr std::uint32_t At(int area, int block) { return (area - 1) * kArea + block * kBlock; }

struct Store {
    int write(int area, Bytes record) {
        const int length = static_cast<int>(record.size());
        record.push_back(0);  // a record of no bytes still needs a buffer
        return mgr.SetData(area, record.data(), length, true);
    }
    int read(int area, Bytes& out) { return mgr.GetData(area, out.data(), static_cast<int>(out.size())); }
    int readBlock(int area, int block, Bytes& out) {
        return mgr.GetData(area, block, out.data(), static_cast<int>(out.size()));
    }
    // The first node, which holds areas 1 to 30.
    norsim::Node& node() { return flash.node(0); }
    void put(int area, int block, const Bytes& record, std::uint32_t status = BLOCK_STATUS_CURRENT) {
        PutBlock(node(), mgr.m_pRomDevice[0], area, block, record, status);
    }

    TableFlash flash;
    CRomMgr mgr;
};

}  // namespace romtest
