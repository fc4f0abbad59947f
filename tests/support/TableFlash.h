// Erased simulated nodes for every device row of g_RomDeviceInfoArray, for the life of a test, and
// the small helpers that tests use to look at them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "NorSim.h"
#include "RomDevice.h"
#include "RomDeviceInfo.h"

namespace romtest {

using Bytes = std::vector<std::uint8_t>;

// The geometry of the table's first node, as the tests address its bytes.
constexpr std::uint32_t kArea = 0x80000;
constexpr std::uint32_t kSector = 0x40000;

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

// Replaces the compiled-in device table for one test and puts it back afterwards.
class TableOverride {
public:
    TableOverride();
    ~TableOverride();
    TableOverride(const TableOverride&) = delete;
    TableOverride& operator=(const TableOverride&) = delete;

private:
    RomDeviceInfo m_saved[3];
};

// Runs the workload twice on fresh flash, once with every log level enabled and once with none: its
// results and every byte of the flash must come out the same, and no disabled line may be emitted.
void ExpectLoggingChangesNothing(const std::function<std::vector<int>(TableFlash&)>& workload);

// A device set up from row i of the table, as the manager sets it up.
void InitializeFromTable(CRomDevice& device, int row);

// Header bytes of a block as they lie on flash: both words big-endian.
Bytes HeaderBytes(std::uint32_t status, std::uint32_t crc);

// A block as a completed write leaves it, header then record, without the erased tail.
Bytes BlockBytes(std::uint32_t status, const Bytes& record);

// Number of operations of a kind in a node's log.
int CountOps(const norsim::Node& node, norsim::OpKind kind);
// The operations of a kind in a node's log, in order.
std::vector<norsim::Op> OpsOf(const norsim::Node& node, norsim::OpKind kind);

// A record of n bytes that differs with seed.
Bytes Record(std::size_t n, unsigned seed);

// Where block `block` of local area `area` of a device starts on its node.
std::uint32_t BlockStart(const CRomDevice& device, int area, int block);

// Builds a block on flash as a completed write leaves it: checksum word, record, then status word.
void PutBlock(norsim::Node& node, const CRomDevice& device, int area, int block, const Bytes& record,
              std::uint32_t status = BLOCK_STATUS_CURRENT);

// The two header words of a block as stored, in host order.
BlockHeader ReadBlockHeader(const norsim::Node& node, const CRomDevice& device, int area, int block);

}  // namespace romtest
