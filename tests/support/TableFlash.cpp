// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "TableFlash.h"

#include <algorithm>

#include "BlockFormat.h"
#include "TableNodes.h"

namespace romtest {

TableFlash::TableFlash() {
    for (const norsim::TableNode& node : norsim::TableNodes())
        m_nodes.push_back(std::make_unique<norsim::ScopedNode>(node.path, node.size, node.eraseSize));
}

void TableFlash::clearOps() {
    for (auto& n : m_nodes) (*n)->clearOps();
}

std::vector<Bytes> TableFlash::snapshot() const {
    std::vector<Bytes> all;
    for (const auto& n : m_nodes) all.push_back((*n)->peek(0, (*n)->size()));
    return all;
}

std::vector<norsim::Op> OpsOf(const norsim::Node& node, norsim::OpKind kind) {
    std::vector<norsim::Op> out;
    std::copy_if(node.ops().begin(), node.ops().end(), std::back_inserter(out),
                 [kind](const norsim::Op& op) { return op.kind == kind; });
    return out;
}

Bytes Record(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + 1) % 251);
    return b;
}

void PutBlock(norsim::Node& node, const CRomDevice& device, int area, int block, const Bytes& record,
              std::uint32_t status) {
    Bytes bytes(BlockFormat::kHeaderSize + record.size());
    BlockFormat::EncodeBlock(status, record.data(), static_cast<int>(record.size()), bytes.data());
    node.poke(static_cast<std::uint32_t>((area - 1) * device.m_iAreaSize + block * device.m_iBlockSize), bytes);
}

}  // namespace romtest
