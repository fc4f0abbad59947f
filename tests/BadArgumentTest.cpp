// Every public operation against every kind of bad argument: the result it gives, whether the node is
// opened at all, and flash that is byte for byte as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "RomMgr.h"
#include "TableFlash.h"

using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::Record;

namespace {

struct Case {
    std::string what;
    std::function<int(CRomMgr&, unsigned char*)> call;
    int result;
    bool opens;  // the call opens the node before it can tell
};

const int kLargest = 0x2000 - 8;

std::vector<Case> Cases() {
    auto dev = [](CRomMgr& m) -> CRomDevice& { return m.m_pRomDevice[0]; };
    return {
        {"write to area 0", [](CRomMgr& m, unsigned char* b) { return m.SetData(0, b, 10, true); }, -3, false},
        {"write to area 32", [](CRomMgr& m, unsigned char* b) { return m.SetData(32, b, 10, true); }, -3, false},
        {"write to area -1", [](CRomMgr& m, unsigned char* b) { return m.SetData(-1, b, 10, true); }, -3, false},
        {"write of a null buffer", [](CRomMgr& m, unsigned char*) { return m.SetData(1, nullptr, 10, true); }, -3, false},
        {"write of length -1", [](CRomMgr& m, unsigned char* b) { return m.SetData(1, b, -1, true); }, -3, false},
        {"write one byte too long", [](CRomMgr& m, unsigned char* b) { return m.SetData(1, b, kLargest + 1, true); },
         -3, false},
        {"read of area 0", [](CRomMgr& m, unsigned char* b) { return m.GetData(0, b, 10); }, -3, false},
        {"read of area 32", [](CRomMgr& m, unsigned char* b) { return m.GetData(32, b, 10); }, -3, false},
        {"read into a null buffer", [](CRomMgr& m, unsigned char*) { return m.GetData(1, nullptr, 10); }, -3, false},
        {"read of length -1", [](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, -1); }, -3, false},
        {"read one byte too long", [](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, kLargest + 1); }, -3,
         false},
        {"block read of area -1", [](CRomMgr& m, unsigned char* b) { return m.GetData(-1, 1, b, 10); }, -3, false},
        {"block read of length -1", [](CRomMgr& m, unsigned char* b) { return m.GetData(1, 1, b, -1); }, -3, false},
        {"block read into a null buffer", [](CRomMgr& m, unsigned char*) { return m.GetData(1, 1, nullptr, 10); }, -3,
         false},
        {"block -1", [](CRomMgr& m, unsigned char* b) { return m.GetData(1, -1, b, 10); }, -4, true},
        {"block N", [](CRomMgr& m, unsigned char* b) { return m.GetData(1, 64, b, 10); }, -4, true},
        {"block N of area 31", [](CRomMgr& m, unsigned char* b) { return m.GetData(31, 16, b, 10); }, -4, true},
        {"range into null pointers", [](CRomMgr& m, unsigned char*) { return m.GetAreaRange(nullptr, nullptr); },
         -1, false},
        {"device erase of area 0", [dev](CRomMgr& m, unsigned char*) { return dev(m).EraseArea(0, true); }, -3,
         false},
        {"device erase of area 31", [dev](CRomMgr& m, unsigned char*) { return dev(m).EraseArea(31, true); }, -3,
         false},
        {"current-block search into null",
         [dev](CRomMgr& m, unsigned char*) { return dev(m).SearchCurrentBlock(nullptr, 1); }, -3, false},
        {"next-block search into null",
         [dev](CRomMgr& m, unsigned char*) { return dev(m).SearchNextBlock(nullptr, 1, 0); }, -3, false},
        {"block check into null",
         [dev](CRomMgr& m, unsigned char*) { return dev(m).CheckCurrentBlock(nullptr, 1, 0); }, -3, false},
        {"sector of block -1", [dev](CRomMgr& m, unsigned char*) { return dev(m).BlockToSector(-1); }, -3, false},
        {"sector of block N", [dev](CRomMgr& m, unsigned char*) { return dev(m).BlockToSector(64); }, -3, false},
        {"retried erase of no device", [](CRomMgr& m, unsigned char*) { return m.retryEraseArea(nullptr, 1); }, -3,
         false},
    };
}

}  // namespace

TEST(BadArguments, AreRefusedAndLeaveFlashAsItWas) {
    romtest::TableFlash flash;
    CRomMgr mgr;
    for (int area : {1, 31}) {
        Bytes record = Record(50, static_cast<unsigned>(area));
        ASSERT_EQ(mgr.SetData(area, record.data(), 50, true), 0);
    }
    const auto before = flash.snapshot();
    Bytes buffer(0x10000, 0x5A);
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        flash.clearOps();
        EXPECT_EQ(c.call(mgr, buffer.data()), c.result);
        int opens = CountOps(flash.node(0), OpKind::Open) + CountOps(flash.node(1), OpKind::Open);
        EXPECT_EQ(opens, c.opens ? 1 : 0);
        EXPECT_EQ(flash.node(0).openCount() + flash.node(1).openCount(), 0);
        EXPECT_EQ(CountOps(flash.node(0), OpKind::Program) + CountOps(flash.node(1), OpKind::Program), 0);
        EXPECT_EQ(CountOps(flash.node(0), OpKind::Erase) + CountOps(flash.node(1), OpKind::Erase), 0);
        EXPECT_TRUE(flash.snapshot() == before);
        EXPECT_EQ(buffer, Bytes(0x10000, 0x5A)) << "the caller's buffer was written";
    }
}
