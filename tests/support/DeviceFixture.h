// A device of row `Row` of the table on erased simulated flash.
#pragma once

#include <gtest/gtest.h>

#include "RomDevice.h"
#include "TableFlash.h"

namespace romtest {

template <int Row>
class DeviceOn : public ::testing::Test {
protected:
    void SetUp() override { InitializeFromTable(dev, Row); }
    norsim::Node& node() { return flash.node(Row); }
    std::uint32_t start(int area, int block) const { return BlockStart(dev, area, block); }
    BlockHeader header(int area, int block) { return ReadBlockHeader(node(), dev, area, block); }
    void put(int area, int block, const Bytes& record, std::uint32_t status = BLOCK_STATUS_CURRENT) {
        PutBlock(node(), dev, area, block, record, status);
    }

    TableFlash flash;
    CRomDevice dev;
};

using FirstDevice = DeviceOn<0>;
using SecondDevice = DeviceOn<1>;

}  // namespace romtest
