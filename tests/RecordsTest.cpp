// Writes and reads of records on one node: the order of a write's calls, its retries in fresh blocks,
// the erases that follow it, and what a read believes. States that power cuts and failed calls leave
// are the sweeps' (PowerCutTest.cpp, FaultSweepTest.cpp); these are the ones the sweeps cannot judge.
#include <gtest/gtest.h>

#include <functional>

#include "LogCapture.h"
#include "NqLog.h"
#include "Store.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::At;
using romtest::Bytes;
using romtest::Record;
using romtest::kArea;
using romtest::kBlock;
using romtest::kSector;

namespace {

struct Records : ::testing::Test, romtest::Store {};

struct Call {
    OpKind kind;
    std::uint32_t offset, length;
    bool operator==(const Call& o) const { return kind == o.kind && offset == o.offset && length == o.length; }
};

// The erases of the first node, as (offset, length).
std::vector<std::pair<std::uint32_t, std::uint32_t>> Erases(const norsim::Node& node) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const norsim::Op& op : romtest::OpsOf(node, OpKind::Erase)) out.emplace_back(op.offset, op.length);
    return out;
}

}  // namespace

TEST_F(Records, WriteProgramsChecksumRecordAndStatusAroundTheReadBack) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    flash.clearOps();
    ASSERT_EQ(write(2, Record(300, 2)), 0);
    // The calls on block 2 and beyond, past the header scan: the status word programmed last, after
    // the read-back from the checksum word to the block's end, and read back itself; then the probe
    // of the next sector, which is blank and so not erased.
    std::vector<Call> calls;
    for (const norsim::Op& op : node().ops())
        if (op.offset >= At(2, 2) && (op.kind == OpKind::Program || (op.kind == OpKind::Read && op.length != 8)))
            calls.push_back({op.kind, op.offset, op.length});
    const std::vector<Call> expected = {
        {OpKind::Program, At(2, 2) + 4, 4}, {OpKind::Program, At(2, 2) + 8, 300},
        {OpKind::Read, At(2, 2) + 4, kBlock - 4}, {OpKind::Program, At(2, 2), 4},
        {OpKind::Read, At(2, 2), 4}, {OpKind::Read, kArea + kSector, kSector}};
    EXPECT_TRUE(calls == expected);
    EXPECT_TRUE(Erases(node()).empty());

    Bytes prefix(50), longer(400);
    EXPECT_EQ(read(2, prefix), 50);
    EXPECT_EQ(prefix, Record(50, 2));
    EXPECT_EQ(romtest::OpsOf(node(), OpKind::Read).back().offset, kArea + kSector);
    EXPECT_EQ(read(2, longer), 400);
    Bytes padded = Record(300, 2);
    padded.resize(400, 0xFF);
    EXPECT_EQ(longer, padded);
}

TEST(Write, FailedAttemptIsRejectedAndTheRecordGoesToTheNextBlock) {
    const std::string node = "(/dev/mtd_backup)";
    const struct {
        const char* what;
        std::function<void(norsim::Node&)> fault;
        Bytes status;  // block 2's status word after the write
        int block;     // where the record went
        std::vector<std::string> errors;
    } cases[] = {
        {"checksum word stored in part", [](norsim::Node& n) { n.shortNext(OpKind::Program, 2, 1, 0, 4); },
         {0, 1, 0, 0}, 3, {"FAIL to Write CRC", "FAIL to Verify Data", "FAIL to Write Header"}},
        {"record stored in part", [](norsim::Node& n) { n.shortNext(OpKind::Program, 50, 1, 0, 100); },
         {0, 1, 0, 0}, 3, {"FAIL to Write Data", "FAIL to Verify Data", "FAIL to Write Header"}},
        {"read-back short", [](norsim::Node& n) { n.shortNext(OpKind::Read, 100, 1, 0, kBlock - 4); },
         {0, 1, 0, 0}, 3, {"FAIL to Verify Data", "FAIL to Write Header"}},
        {"stray bit in the record region", [](norsim::Node& n) { n.poke(At(2, 2) + 5000, {0xFB}); },
         {0, 1, 0, 0}, 3, {"FAIL to Verify Data", "FAIL to Write Header"}},
        {"status cell stuck at 1", [](norsim::Node& n) { n.stick(At(2, 2) + 3, 0x04, true); },
         {0, 0, 0, 4}, 3, {"FAIL to Write Header"}},
        {"no positioning for the record", [](norsim::Node& n) { n.failNext(OpKind::Seek, 1, 0, {}, At(2, 2) + 8); },
         {0xFF, 0xFF, 0xFF, 0xFF}, 3, {"FAIL to seek"}},
        {"no positioning for the checksum word", [](norsim::Node& n) { n.failNext(OpKind::Seek, 1, 0, {}, At(2, 2) + 4); },
         {0, 0, 0, 0}, 2, {"FAIL to seek"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        romtest::Store s;
        const Bytes old = Record(100, 1), record = Record(100, 2);
        Bytes out(100);
        ASSERT_EQ(s.write(2, old), 0);
        c.fault(s.node());
        LogCapture log;
        ASSERT_EQ(s.write(2, record), 0);
        std::vector<std::string> errors;
        for (const std::string& e : c.errors) errors.push_back(e + node);
        EXPECT_EQ(log.texts(LOGLV_ERROR), errors);
        EXPECT_EQ(s.node().peek(At(2, 2), 4), c.status);
        EXPECT_EQ(s.node().peek(At(2, c.block) + 8, 100), record);
        EXPECT_EQ(s.read(2, out), 100);
        EXPECT_EQ(out, record);
        EXPECT_EQ(s.readBlock(2, 1, out), 100);
        EXPECT_EQ(out, old);
    }
}

// A sector is erased with three tries at most: the old one after a write moved out of it, which fails
// the write when it stays unerased, and the next one when a write or a read finds it not blank, which
// fails nothing. A probe that cannot read the next sector takes it as not blank.
TEST(Erase, EachSectorGetsThreeTriesAtMost) {
    enum Op { kMove, kWriteProbe, kReadProbe };
    const struct {
        const char* what;
        Op op;
        int failures;
        int result;
        int erases;
    } cases[] = {
        {"move, erased at once", kMove, 0, 0, 1},   {"move, second try", kMove, 1, 0, 2},
        {"move, third try", kMove, 2, 0, 3},        {"move, never erased", kMove, 3, -1, 3},
        {"write, erased at once", kWriteProbe, 0, 0, 1}, {"write, never erased", kWriteProbe, 5, 0, 3},
        {"read, second try", kReadProbe, 1, 10, 2}, {"read, never erased", kReadProbe, 5, 10, 3},
        {"read, probe unreadable", kReadProbe, -1, 10, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        romtest::Store s;
        const std::uint32_t sector = c.op == kMove ? kArea : kArea + kSector;
        Bytes out(10);
        if (c.op == kMove) {
            for (int b = 0; b < 32; ++b) s.put(2, b, Record(10, b));
        } else {
            ASSERT_EQ(s.write(2, Record(10, 1)), 0);
            if (c.failures >= 0) s.node().poke(sector + 1000, {0x12});
        }
        s.flash.clearOps();
        if (c.failures >= 0) s.node().failNext(OpKind::Erase, c.failures);
        if (c.failures < 0) s.node().failNext(OpKind::Read, 1, 0, kSector, sector);
        EXPECT_EQ(c.op == kReadProbe ? s.read(2, out) : s.write(2, Record(10, 99)), c.result);
        EXPECT_EQ(Erases(s.node()), decltype(Erases(s.node()))(c.erases, {sector, kSector}));
        EXPECT_EQ(s.node().peek(sector, kSector) == Bytes(kSector, 0xFF), c.failures < 3);
        EXPECT_EQ(s.node().openCount(), 0);
    }
}

// No free block is left after the current one: the write erases the other sector once, and writes
// there if that made room.
TEST(Write, FullAreaIsMadeRoomInOnce) {
    const struct {
        const char* what;
        std::function<void(romtest::Store&)> otherSector;
        int result;
        int erasesOfSector1;
    } cases[] = {
        {"rejected blocks", [](romtest::Store&) {}, 0, 1},
        {"rejected blocks that cannot be erased",
         [](romtest::Store& s) { s.node().failNext(OpKind::Erase, 3, 0, {}, kArea + kSector); }, -1, 3},
        {"headers stuck at 0 that erase without becoming free",
         [](romtest::Store& s) {
             for (int b = 32; b < 64; ++b) s.node().stick(At(2, b), 0x01, false);
         },
         -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        romtest::Store s;
        for (int b = 0; b < 32; ++b) s.put(2, b, Record(10, b));
        for (int b = 32; b < 64; ++b) s.put(2, b, Record(10, b), BLOCK_STATUS_REJECTED);
        c.otherSector(s);
        s.flash.clearOps();
        EXPECT_EQ(s.write(2, Record(10, 99)), c.result);
        int erases = 0;
        for (const auto& e : Erases(s.node())) erases += e.first == kArea + kSector;
        EXPECT_EQ(erases, c.erasesOfSector1);
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

// What a read believes: the highest committed block that verifies; with none, it fails and changes
// nothing, but an area without any committed block is erased and formatted. A write replaces both.
TEST(Trust, OnlyRecordsThatVerifyAreBelievedAndOnlyAWriteReplacesThem) {
    const auto records = [](romtest::Store& s) {
        s.put(2, 1, Record(64, 1));
        s.put(2, 2, Record(64, 2));
    };
    const auto changed = [records](romtest::Store& s) {
        records(s);
        s.node().poke(At(2, 1) + 18, {0});
        s.node().poke(At(2, 2) + 18, {0});
    };
    const struct {
        const char* what;
        std::function<void(romtest::Store&)> setUp;
        bool write;
        int result;
        bool erasesArea;
        Bytes holds;  // what a read then returns
    } cases[] = {
        {"current record changed, read", [records](romtest::Store& s) { records(s); s.node().poke(At(2, 2) + 18, {0}); },
         false, 64, false, Record(64, 1)},
        {"no record that verifies, read", changed, false, -1, false, {}},
        {"no record that verifies, write", changed, true, 0, true, Record(64, 9)},
        {"only a rejected block, read", [](romtest::Store& s) { s.put(2, 1, Record(64, 1), BLOCK_STATUS_REJECTED); },
         false, 64, true, Bytes(64, 0xFF)},
        {"record region unreadable, write",
         [records](romtest::Store& s) { records(s); s.node().failNext(OpKind::Read, 1, 0, 4096, At(2, 2) + 8); },
         true, -1, false, Record(64, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        romtest::Store s;
        c.setUp(s);
        const auto before = s.flash.snapshot();
        s.flash.clearOps();
        Bytes out(64);
        EXPECT_EQ(c.write ? s.write(2, Record(64, 9)) : s.read(2, out), c.result);
        EXPECT_EQ(Erases(s.node()).size(), c.erasesArea ? 1u : 0u);
        if (c.erasesArea) {
            EXPECT_EQ(Erases(s.node())[0], std::make_pair(kArea, kArea));
        }
        if (c.result < 0) {
            EXPECT_TRUE(s.flash.snapshot() == before);
        }
        if (c.holds.empty()) continue;
        EXPECT_EQ(s.read(2, out), 64);
        EXPECT_EQ(out, c.holds);
    }
}

// A header that cannot be read may be a newer committed block: above the current one it fails reads
// and writes alike; below it, it changes nothing.
TEST_F(Records, UnreadHeaderAboveTheCurrentBlockFailsTheCall) {
    for (int b = 1; b <= 5; ++b) put(2, b, Record(32, b));
    const auto before = flash.snapshot();
    Bytes out(32);
    node().failNext(OpKind::Read, 1, 0, 8, At(2, 5));
    EXPECT_EQ(read(2, out), -1);
    node().failNext(OpKind::Read, 1, 0, 8, At(2, 5));
    EXPECT_EQ(write(2, Record(32, 9)), -1);
    EXPECT_TRUE(flash.snapshot() == before);
    node().failNext(OpKind::Read, 1, 0, 8, At(2, 2));
    EXPECT_EQ(read(2, out), 32);
    EXPECT_EQ(out, Record(32, 5));
}

TEST_F(Records, NamedBlockIsReadOnlyWhenItIsCommittedAndVerifies) {
    put(1, 63, Record(10, 63));
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    ASSERT_EQ(write(2, Record(10, 2)), 0);
    node().poke(At(2, 2) + 12, {0});
    put(2, 3, Record(10, 3), BLOCK_STATUS_REJECTED);
    const auto before = flash.snapshot();
    LogCapture log;
    const struct {
        int area, block, result;
        Bytes holds;
    } cases[] = {
        {2, 0, 10, Bytes(10, 0xFF)}, {2, 1, 10, Record(10, 1)}, {2, 2, -4, {}}, {2, 3, -4, {}},
        {2, 4, -4, {}},              {2, -1, -4, {}},           {2, 64, -4, {}}, {3, 0, -4, {}},
    };
    for (const auto& c : cases) {
        Bytes out(10);
        EXPECT_EQ(readBlock(c.area, c.block, out), c.result) << c.area << " " << c.block;
        if (c.result > 0) {
            EXPECT_EQ(out, c.holds) << c.block;
        }
    }
    EXPECT_TRUE(flash.snapshot() == before);
    EXPECT_EQ(node().openCount(), 0);
    EXPECT_EQ(log.texts(LOGLV_WARNING), std::vector<std::string>{"Skip unverified Block(2,/dev/mtd_backup)"});
}

// A status word counts as committed only as flash holds it.
TEST_F(Records, CommitThatDoesNotReadBackAtTheWrapKeepsTheRecord) {
    put(2, 63, Record(300, 1));
    node().stick(At(2, 0) + 3, 0x04, true);
    EXPECT_EQ(write(2, Record(300, 2)), 0);
    // Block 0 is left as the worn cell made it; the record went into block 1, and only then was the
    // sector of block 63 erased.
    EXPECT_EQ(node().peek(At(2, 0), 4), (Bytes{0x00, 0x00, 0x00, 0x04}));
    EXPECT_EQ(node().peek(At(2, 1), 4), (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(node().peek(kArea + kSector, kSector), Bytes(kSector, 0xFF));
    Bytes out(300);
    EXPECT_EQ(read(2, out), 300);
    EXPECT_EQ(out, Record(300, 2));
}

TEST_F(Records, FormatMarkerThatDoesNotReadBackFailsTheCall) {
    node().stick(At(2, 0) + 3, 0x04, true);
    Bytes out(8);
    EXPECT_EQ(write(2, Record(8, 1)), -1);
    EXPECT_EQ(read(2, out), -1);
    EXPECT_EQ(node().peek(At(2, 1), 8), Bytes(8, 0xFF));
}

TEST_F(Records, RecordsEndingInErasedBytesVerify) {
    const Bytes records[] = {{1, 2, 3, 0xFF, 0xFF, 0xFF}, {}, Bytes(kBlock - 8, 0xFF), Bytes(kBlock - 8, 0x00)};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(write(2, records[i]), 0);
        const int length = static_cast<int>(records[i].size());
        Bytes out(records[i].size() + 1);
        EXPECT_EQ(mgr.GetData(2, i + 1, out.data(), length), length) << i;
        EXPECT_EQ(Bytes(out.begin(), out.begin() + length), records[i]);
    }
}
