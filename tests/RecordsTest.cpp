// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Writes and reads of records on one node: a write's retries in fresh blocks, the erases around it,
// and what a read believes. The states that power cuts and failed calls leave are the sweeps'
// (SweepTest.cpp); these are the outcomes that the sweeps accept either way.
#include <gtest/gtest.h>

#include <functional>

#include "LogCapture.h"
#include "NqLog.h"
#include "Store.h"

using logcap::LogCapture;
using norsim::OpKind;

namespace romtest {
namespace {

struct Records : ::testing::Test, Store {};

int ErasesAt(const norsim::Node& node, std::uint32_t offset, std::uint32_t length) {
    int n = 0;
    for (const norsim::Op& op : romtest::OpsOf(node, OpKind::Erase)) n += op.offset == offset && op.length == length;
    return n;
}

}  // namespace

// An attempt that does not verify is marked rejected, one that could not be positioned is left, and
// the record goes to the next free block; the record before stays readable by its block.
TEST(Write, FailedAttemptGivesWayToTheNextBlock) {
    using Fault = std::function<void(norsim::Node&)>;
    const struct {
        Fault fault;
        Bytes status;  // block 2's status word after the write
        int block;     // where the record went
        std::vector<std::string> errors;
    } cases[] = {
        {[](norsim::Node& n) { n.shortNext(OpKind::Program, 2, 1, 0, 4); }, {0, 1, 0, 0}, 3,
         {"FAIL to Write CRC", "FAIL to Verify Data", "FAIL to Write Header"}},
        {[](norsim::Node& n) { n.shortNext(OpKind::Program, 50, 1, 0, 100); }, {0, 1, 0, 0}, 3,
         {"FAIL to Write Data", "FAIL to Verify Data", "FAIL to Write Header"}},
        {[](norsim::Node& n) { n.poke(At(2, 2) + 5000, {0xFB}); }, {0, 1, 0, 0}, 3, {"FAIL to Verify Data", "FAIL to Write Header"}},
        {[](norsim::Node& n) { n.stick(At(2, 2) + 3, 0x04, true); }, {0, 0, 0, 4}, 3, {"FAIL to Write Header"}},
        {[](norsim::Node& n) { n.failNext(OpKind::Seek, 1, 0, {}, At(2, 2) + 8); }, {0xFF, 0xFF, 0xFF, 0xFF}, 3, {"FAIL to seek"}},
        {[](norsim::Node& n) { n.failNext(OpKind::Seek, 1, 0, {}, At(2, 2) + 4); }, {0, 0, 0, 0}, 2, {"FAIL to seek"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errors.front());
        Store s;
        Bytes out(100);
        ASSERT_EQ(s.write(2, Record(100, 1)), 0);
        c.fault(s.node());
        LogCapture log;
        ASSERT_EQ(s.write(2, Record(100, 2)), 0);
        std::vector<std::string> errors;
        for (const std::string& e : c.errors) errors.push_back(e + "(/dev/mtd_backup)");
        EXPECT_EQ(log.texts(LOGLV_ERROR), errors);
        EXPECT_EQ(s.node().peek(At(2, 2), 4), c.status);
        EXPECT_EQ(s.node().peek(At(2, c.block) + 8, 100), Record(100, 2));
        EXPECT_EQ(s.read(2, out), 100);
        EXPECT_EQ(out, Record(100, 2));
        EXPECT_EQ(s.readBlock(2, 1, out), 100);
        EXPECT_EQ(out, Record(100, 1));
    }
}

// A sector is erased with three tries at most: the old one after a write moved out of it, which fails
// the write if it stays unerased, and the next one when a write or a read finds it not blank (or
// cannot read it), which fails nothing.
TEST(Erase, EachSectorGetsThreeTriesAtMost) {
    enum Op { kMove, kWrite, kRead };
    const struct {
        Op op;
        int failures;  // -1: the probe of the next sector cannot read it
        bool stale;
        int result, erases;
    } cases[] = {
        {kMove, 0, true, 0, 1},   {kMove, 1, true, 0, 2},    {kMove, 2, true, 0, 3},  {kMove, 3, true, -1, 3},
        {kWrite, 0, false, 0, 0}, {kWrite, 0, true, 0, 1},   {kWrite, 5, true, 0, 3}, {kRead, 1, true, 10, 2},
        {kRead, 5, true, 10, 3},  {kRead, -1, false, 10, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.op) + " " + std::to_string(c.failures));
        Store s;
        const std::uint32_t sector = c.op == kMove ? kArea : kArea + kSector;
        for (int b = 0; b < (c.op == kMove ? 32 : 2); ++b) s.put(2, b, Record(10, b));
        if (c.stale && c.op != kMove) s.node().poke(sector + 1000, {0x12});
        s.flash.clearOps();
        s.node().failNext(OpKind::Erase, std::max(c.failures, 0));
        if (c.failures < 0) s.node().failNext(OpKind::Read, 1, 0, kSector, sector);
        Bytes out(10);
        EXPECT_EQ(c.op == kRead ? s.read(2, out) : s.write(2, Record(10, 99)), c.result);
        EXPECT_EQ(ErasesAt(s.node(), sector, kSector), c.erases);
        EXPECT_EQ(romtest::CountOps(s.node(), OpKind::Erase), c.erases);
        EXPECT_EQ(s.node().peek(sector, kSector) == Bytes(kSector, 0xFF), c.failures < 3);
    }
}

// No block after the current one is free: the write erases the other sector once, and writes there if
// that made room; the record before stays current if it did not.
TEST(Write, FullAreaIsMadeRoomInOnce) {
    const struct {
        std::function<void(norsim::Node&)> otherSector;
        int result, erases;
    } cases[] = {
        {[](norsim::Node&) {}, 0, 1},
        {[](norsim::Node& n) { n.failNext(OpKind::Erase, 3); }, -1, 3},
        {[](norsim::Node& n) {  // headers stuck at 0 that an erase leaves not free
             for (int b = 32; b < 64; ++b) n.stick(At(2, b), 0x01, false);
         },
         -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.erases);
        Store s;
        for (int b = 0; b < 64; ++b) s.put(2, b, Record(10, b), b < 32 ? BLOCK_STATUS_CURRENT : BLOCK_STATUS_REJECTED);
        c.otherSector(s.node());
        s.flash.clearOps();
        EXPECT_EQ(s.write(2, Record(10, 99)), c.result);
        EXPECT_EQ(ErasesAt(s.node(), kArea + kSector, kSector), c.erases);
        Bytes out(10);
        EXPECT_EQ(s.read(2, out), 10);
        EXPECT_EQ(out, c.result == 0 ? Record(10, 99) : Record(10, 31));
    }
}

// Every attempt fails and none lands: the write gives up after as many attempts as the area has blocks.
TEST_F(Records, AttemptsStopAtTheBlockCount) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    const auto before = flash.snapshot();
    flash.clearOps();
    node().failNext(OpKind::Program, 1000);
    EXPECT_EQ(write(2, Record(10, 2)), -1);
    int statusWords = 0;
    for (const norsim::Op& op : romtest::OpsOf(node(), OpKind::Program)) statusWords += op.offset == At(2, 2);
    EXPECT_EQ(statusWords, 64);
    EXPECT_TRUE(flash.snapshot() == before);
}

// The record of a block is read back only while it is committed and verifies, whatever bytes it ends in;
// a block outside the area, even one of the area before, is never read, and the read never formats.
TEST_F(Records, NamedBlockIsReadOnlyWhenItIsCommittedAndVerifies) {
    put(1, 63, Record(10, 63));
    Bytes run = Record(4000, 1);  // an erased run across the 4 KiB pieces in which a block is verified
    run.insert(run.end(), 200, 0xFF);
    run.insert(run.end(), 10, 0x00);
    const Bytes records[] = {Bytes(10, 0xFF), {1, 2, 3, 0xFF, 0xFF, 0xFF}, {}, Bytes(kBlock - 8, 0xFF),
                             Bytes(kBlock - 8, 0x00), run, Record(10, 6)};
    for (int b = 1; b < 7; ++b) ASSERT_EQ(write(2, records[b]), 0);
    node().poke(At(2, 6) + 8, {0});
    put(2, 7, Record(10, 7), BLOCK_STATUS_REJECTED);
    const auto before = flash.snapshot();
    LogCapture log;
    for (int b = 0; b < 6; ++b) {
        const int length = static_cast<int>(records[b].size());
        Bytes out(records[b].size() + 1);
        EXPECT_EQ(mgr.GetData(2, b, out.data(), length), length) << b;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + length), records[b]) << b;
    }
    Bytes out(10);
    for (int b : {6, 7, 8, -1, 64}) EXPECT_EQ(readBlock(2, b, out), -4) << b;
    EXPECT_EQ(readBlock(3, 0, out), -4);
    EXPECT_TRUE(flash.snapshot() == before);
    EXPECT_EQ(log.texts(LOGLV_WARNING), std::vector<std::string>{"Skip unverified Block(6,/dev/mtd_backup)"});
}

// The device's own search calls, for a host that drives a device itself: 0 and the block found, or
// -1 for none; a named block that is outside the area or not committed is -4, and nothing is found.
TEST_F(Records, SearchCallsReportTheBlockTheyFind) {
    for (int b : {3, 63}) put(2, b, Record(10, b));
    put(2, 4, Record(10, 4), BLOCK_STATUS_REJECTED);
    for (int b = 0; b < 64; ++b) put(4, b, Record(4, b), BLOCK_STATUS_REJECTED);
    node().stick(At(5, 0) + 3, 0x04, true);                 // area 5: its format marker does not read back
    put(6, 7, Record(10, 7), BLOCK_STATUS_REJECTED);        // area 6: its first header will not read
    node().poke(At(7, 0), {0, 0, 0, 0});                    // area 7: a format marker over a stray bit
    node().poke(At(7, 0) + 100, {0xEF});
    CRomDevice& dev = mgr.m_pRomDevice[0];
    ASSERT_EQ(dev.DeviceOpen(), 0);
    const struct {
        std::function<int(int*)> call;
        int result, found;
    } cases[] = {
        {[&](int* f) { return dev.SearchCurrentBlock(f, 2); }, 0, 63},
        {[&](int* f) { return dev.SearchCurrentBlock(f, 3); }, 0, 0},
        {[&](int* f) { return dev.SearchCurrentBlock(f, 5); }, 0, -1},
        {[&](int* f) { node().failNext(OpKind::Read, 1, 0, 8, At(6, 0)); return dev.SearchCurrentBlock(f, 6); }, 0, -1},
        {[&](int* f) { return dev.SearchCurrentBlock(f, 7); }, 0, -1},
        {[&](int* f) { return dev.SearchNextBlock(f, 2, 3); }, 0, 5},
        {[&](int* f) { return dev.SearchNextBlock(f, 2, 63); }, 0, 0},
        {[&](int* f) { return dev.SearchNextBlock(f, 4, 0); }, -1, -1},
        {[&](int* f) { return dev.CheckCurrentBlock(f, 2, 3); }, 0, 3},
        {[&](int* f) { return dev.CheckCurrentBlock(f, 2, 4); }, -4, 9},
    };
    for (const auto& c : cases) {
        int found = 9;  // a named block that is not found leaves it as it was
        EXPECT_EQ(c.call(&found), c.result) << &c - cases;
        EXPECT_EQ(found, c.found) << &c - cases;
    }
    dev.DeviceClose();
}

}  // namespace romtest
