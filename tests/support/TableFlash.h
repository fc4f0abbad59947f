// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Erased simulated nodes for every device row of g_RomDeviceInfoArray, for the life of a test, and
// the small helpers that tests use to look at them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "NorSim.h"
#include "RomDevice.h"

namespace romtest {

using Bytes = std::vector<std::uint8_t>;

// The geometry of the table's first node, as the tests address its bytes.
constexpr std::uint32_t kArea = 0x80000;
constexpr std::uint32_t kSector = 0x40000;
constexpr std::uint32_t kBlock = 0x2000;

class TableFlash {
public:
    TableFlash();

    // The node of device row i of the table.
    norsim::Node& node(int device) { return **m_nodes.at(device); }
    // Operations of every node since the last clearOps().
    void clearOps();
    // Every byte of every node, to compare the whole flash before and after a call.
    std::vector<Bytes> snapshot() const;

private:
    std::vector<std::unique_ptr<norsim::ScopedNode>> m_nodes;
};

// The operations of a kind in a node's log, in order, and their number.
std::vector<norsim::Op> OpsOf(const norsim::Node& node, norsim::OpKind kind);
inline int CountOps(const norsim::Node& node, norsim::OpKind kind) { return static_cast<int>(OpsOf(node, kind).size()); }

// A record of n bytes that differs with seed; no byte of it is 0xFF.
Bytes Record(std::size_t n, unsigned seed);

// Builds a block on flash as a completed write leaves it, through the block format itself: for setting
// flash up, never for the bytes a test expects.
void PutBlock(norsim::Node& node, const CRomDevice& device, int area, int block, const Bytes& record,
              std::uint32_t status = BLOCK_STATUS_CURRENT);

}  // namespace romtest
