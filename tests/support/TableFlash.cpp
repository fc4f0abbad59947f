#include "TableFlash.h"

#include <algorithm>

#include "RomDeviceInfo.h"

namespace romtest {

TableFlash::TableFlash() {
    for (const RomDeviceInfo* row = g_RomDeviceInfoArray; row->iAreaNum > 0; ++row) {
        m_nodes.push_back(std::make_unique<norsim::ScopedNode>(
            row->pszDevName, static_cast<std::uint32_t>(row->iAreaNum) * row->iAreaSize,
            row->iSectorSize));
    }
}

void TableFlash::clearOps() {
    for (auto& n : m_nodes) (*n)->clearOps();
}

std::vector<Bytes> TableFlash::snapshot() const {
    std::vector<Bytes> all;
    for (const auto& n : m_nodes) {
        norsim::Node& node = **n;
        all.push_back(node.peek(0, node.size()));
    }
    return all;
}

void InitializeFromTable(CRomDevice& device, int row) {
    int first = 1;
    for (int i = 0; i < row; ++i) first += g_RomDeviceInfoArray[i].iAreaNum;
    const RomDeviceInfo& info = g_RomDeviceInfoArray[row];
    device.Initialize(first, first + info.iAreaNum - 1, info.iAreaSize, info.iSectorSize,
                      info.iBlockSize, info.pszDevName);
}

Bytes HeaderBytes(std::uint32_t status, std::uint32_t crc) {
    Bytes b;
    for (std::uint32_t word : {status, crc})
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(word >> shift));
    return b;
}

int CountOps(const norsim::Node& node, norsim::OpKind kind) {
    const auto& ops = node.ops();
    return static_cast<int>(
        std::count_if(ops.begin(), ops.end(), [kind](const norsim::Op& op) { return op.kind == kind; }));
}

}  // namespace romtest
