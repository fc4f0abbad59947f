#include "TableFlash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "BlockFormat.h"
#include "LogCapture.h"
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
    for (const auto& n : m_nodes) {
        norsim::Node& node = **n;
        all.push_back(node.peek(0, node.size()));
    }
    return all;
}

TableOverride::TableOverride() { memcpy(m_saved, g_RomDeviceInfoArray, sizeof(m_saved)); }

TableOverride::~TableOverride() { memcpy(g_RomDeviceInfoArray, m_saved, sizeof(m_saved)); }

void ExpectLoggingChangesNothing(const std::function<std::vector<int>(TableFlash&)>& workload) {
    auto run = [&workload](unsigned levels, std::vector<int>& results) {
        TableFlash flash;
        logcap::LogCapture log(levels);
        results = workload(flash);
        EXPECT_EQ(log.strayCalls(), 0);
        if (levels == logcap::kNoLevels) {
            EXPECT_TRUE(log.lines().empty());
        } else {
            EXPECT_FALSE(log.lines().empty());
        }
        return flash.snapshot();
    };
    std::vector<int> quiet, verbose;
    auto quietFlash = run(logcap::kNoLevels, quiet);
    auto verboseFlash = run(logcap::kAllLevels, verbose);
    EXPECT_EQ(quiet, verbose);
    EXPECT_TRUE(quietFlash == verboseFlash);
}

void InitializeFromTable(CRomDevice& device, int row) {
    int first = 1;
    for (int i = 0; i < row; ++i) first += g_RomDeviceInfoArray[i].iAreaNum;
    const RomDeviceInfo& info = g_RomDeviceInfoArray[row];
    device.Initialize(first, first + info.iAreaNum - 1, info.iAreaSize, info.iSectorSize,
                      info.iBlockSize, info.pszDevName);
}

Bytes HeaderBytes(std::uint32_t status, std::uint32_t crc) {
    Bytes b(BlockFormat::kHeaderSize);
    BlockFormat::EncodeHeader(BlockHeader{status, crc}, b.data());
    return b;
}

Bytes BlockBytes(std::uint32_t status, const Bytes& record) {
    Bytes block(BlockFormat::kHeaderSize + record.size());
    BlockFormat::EncodeBlock(status, record.data(), static_cast<int>(record.size()), block.data());
    return block;
}

int CountOps(const norsim::Node& node, norsim::OpKind kind) {
    const auto& ops = node.ops();
    return static_cast<int>(
        std::count_if(ops.begin(), ops.end(), [kind](const norsim::Op& op) { return op.kind == kind; }));
}

std::vector<norsim::Op> OpsOf(const norsim::Node& node, norsim::OpKind kind) {
    std::vector<norsim::Op> out;
    for (const norsim::Op& op : node.ops())
        if (op.kind == kind) out.push_back(op);
    return out;
}

Bytes Record(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + 1) % 251);
    return b;
}

std::uint32_t BlockStart(const CRomDevice& device, int area, int block) {
    return static_cast<std::uint32_t>((area - 1) * device.m_iAreaSize + block * device.m_iBlockSize);
}

void PutBlock(norsim::Node& node, const CRomDevice& device, int area, int block, const Bytes& record,
              std::uint32_t status) {
    node.poke(BlockStart(device, area, block), BlockBytes(status, record));
}

BlockHeader ReadBlockHeader(const norsim::Node& node, const CRomDevice& device, int area, int block) {
    return BlockFormat::DecodeHeader(node.peek(BlockStart(device, area, block), BlockFormat::kHeaderSize).data());
}

}  // namespace romtest
