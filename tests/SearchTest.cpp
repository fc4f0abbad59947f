// The header searches: which block is current, which is next, whether a named block is committed, and
// the recovery of blank and damaged areas.
#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "LogCapture.h"
#include "NqLog.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::HeaderBytes;
using romtest::OpsOf;
using romtest::Record;

namespace {

class Search : public romtest::FirstDevice {
protected:
    void SetUp() override {
        romtest::FirstDevice::SetUp();
        ASSERT_EQ(dev.DeviceOpen(), 0);
    }
    void TearDown() override { dev.DeviceClose(); }
    // Marks every block of area 2 but `except` with a header that is neither free nor committed.
    void FillWithRejected(int except) {
        for (int b = 0; b < 64; ++b)
            if (b != except) put(2, b, Record(4, b), BLOCK_STATUS_REJECTED);
    }
};

}  // namespace

TEST_F(Search, CurrentIsTheHighestCommittedBlock) {
    for (int b = 0; b <= 5; ++b) put(2, b, Record(10, b));
    node().clearOps();
    LogCapture log;
    int found = -7;
    EXPECT_EQ(dev.SearchCurrentBlock(&found, 2), 0);
    EXPECT_EQ(found, 5);
    std::vector<std::string> expected;
    for (int b = 0; b <= 5; ++b) expected.push_back("Find Current Block(" + std::to_string(b) + ",/dev/mtd_backup)");
    EXPECT_EQ(log.texts(LOGLV_DEBUG), expected);
    // Every header, then the record region of block 5 alone, which verifies.
    auto reads = OpsOf(node(), OpKind::Read);
    ASSERT_EQ(reads.size(), 66u);
    EXPECT_EQ(reads[64].offset, start(2, 5) + 8);
    EXPECT_EQ(reads[64].length + reads[65].length, 0x2000u - 8);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
}

TEST_F(Search, PassesOverRejectedAndHalfWrittenBlocks) {
    put(2, 3, Record(10, 3));
    for (int b = 4; b < 40; ++b) put(2, b, Record(10, b), BLOCK_STATUS_REJECTED);
    put(2, 40, Record(10, 40));
    node().poke(start(2, 41), HeaderBytes(BLOCK_STATUS_ERASED, 0x00001234));
    int found = -1;
    dev.SearchCurrentBlock(&found, 2);
    EXPECT_EQ(found, 40);
}

TEST_F(Search, BlankAreaIsFormattedOnce) {
    LogCapture log;
    int found = -1;
    EXPECT_EQ(dev.SearchCurrentBlock(&found, 2), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(node().peek(start(2, 0), 16), (Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                   0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(log.count(LOGLV_WARNING, "Detect New Device(2,/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Success to write Header(/dev/mtd_backup)"), 1);
    auto programs = OpsOf(node(), OpKind::Program);
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].offset, start(2, 0));
    EXPECT_EQ(programs[0].length, 4u);
    // Scan and blank probe, two passes over the 64 headers; then the marker's status word must read
    // back, and its record region, read through the 4 KiB buffer of the trust check, be erased before
    // the marker counts.
    const auto reads = OpsOf(node(), OpKind::Read);
    ASSERT_EQ(reads.size(), 131u);
    EXPECT_EQ(reads[128].offset, start(2, 0));
    EXPECT_EQ(reads[128].length, 4u);
    EXPECT_EQ(reads[129].offset, start(2, 0) + 8);
    EXPECT_EQ(reads[129].length + reads[130].length, 8184u);

    node().clearOps();
    found = -1;
    dev.SearchCurrentBlock(&found, 2);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    EXPECT_EQ(node().overwriteCount(), 0u);
}

TEST_F(Search, AreaWithoutCommittedBlockIsErasedAndFormatted) {
    put(2, 7, Record(10, 7), BLOCK_STATUS_REJECTED);
    put(2, 40, Record(10, 40), BLOCK_STATUS_REJECTED);
    LogCapture log;
    int found = -1;
    EXPECT_EQ(dev.SearchCurrentBlock(&found, 2), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(log.count(LOGLV_WARNING, "This Device is't New Device. And can NOT FIND current block"), 1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Success to write Header(/dev/mtd_backup)"), 0);
    auto erases = OpsOf(node(), OpKind::Erase);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].offset, 0x80000u);
    EXPECT_EQ(erases[0].length, 0x80000u);
    Bytes expected(0x80000, 0xFF);
    expected[0] = expected[1] = expected[2] = expected[3] = 0;
    EXPECT_EQ(node().peek(0x80000, 0x80000), expected);
}

TEST_F(Search, UnreadableHeaderLeavesTheAreaUntouched) {
    put(2, 7, Record(10, 7), BLOCK_STATUS_REJECTED);
    auto before = flash.snapshot();
    for (OpKind fault : {OpKind::Read, OpKind::Seek}) {
        node().clearOps();
        node().failNext(fault);
        int found = 9;
        EXPECT_EQ(dev.SearchCurrentBlock(&found, 2), 0);
        EXPECT_EQ(found, -1);
        EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
        EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    }
    EXPECT_EQ(flash.snapshot(), before);
}

TEST_F(Search, FailedFormatWriteLeavesNoCurrentBlock) {
    LogCapture log;
    node().failNext(OpKind::Program);
    int found = 9;
    EXPECT_EQ(dev.SearchCurrentBlock(&found, 2), 0);
    EXPECT_EQ(found, -1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to write Header(/dev/mtd_backup)"), 1);

    // A failed positioning before the format word writes nothing at all.
    node().clearOps();
    node().failNext(OpKind::Seek, 1, 128);
    found = 9;
    dev.SearchCurrentBlock(&found, 2);
    EXPECT_EQ(found, -1);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to write Header(/dev/mtd_backup)"), 2);
    EXPECT_EQ(node().peek(start(2, 0), 8), Bytes(8, 0xFF));
}

TEST_F(Search, NextCandidatesWrapOnceAndSkipTheCurrentBlock) {
    FillWithRejected(-1);
    for (int current : {62, 63, 0}) {
        node().clearOps();
        int found = 5;
        EXPECT_EQ(dev.SearchNextBlock(&found, 2, current), -1);
        EXPECT_EQ(found, -1);
        auto reads = OpsOf(node(), OpKind::Read);
        ASSERT_EQ(reads.size(), 63u);
        for (int k = 1; k < 64; ++k)
            EXPECT_EQ(reads[k - 1].offset, start(2, (current + k) % 64)) << "current " << current;
    }
}

TEST_F(Search, NextIsTheFirstFreeBlockAfterTheCurrentOne) {
    FillWithRejected(5);
    node().fill(start(2, 5), 8, 0xFF);
    node().poke(start(2, 5) + 8, Bytes(16, 0x00));  // record bytes do not matter, only the header
    LogCapture log;
    int found = -1;
    EXPECT_EQ(dev.SearchNextBlock(&found, 2, 40), 0);
    EXPECT_EQ(found, 5);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Find Next Block(5,/dev/mtd_backup)"), 1);

    // A header with only its checksum word written is not free.
    node().poke(start(2, 5), HeaderBytes(BLOCK_STATUS_ERASED, 0x00001234));
    EXPECT_EQ(dev.SearchNextBlock(&found, 2, 40), -1);
}

TEST_F(Search, UnreadableHeaderIsNeverFree) {
    node().failNext(OpKind::Read);
    int found = -1;
    EXPECT_EQ(dev.SearchNextBlock(&found, 2, 0), 0);
    EXPECT_EQ(found, 2);
}

TEST_F(Search, NamedBlockMustBeCommitted) {
    put(2, 3, Record(10, 3));
    put(2, 4, Record(10, 4));
    put(2, 5, Record(10, 5), BLOCK_STATUS_REJECTED);
    LogCapture log;
    int found = -1;
    EXPECT_EQ(dev.CheckCurrentBlock(&found, 2, 3), 0);
    EXPECT_EQ(found, 3);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Find Current Block(3,/dev/mtd_backup)"), 1);

    log.clear();
    for (int block : {5, 6}) {
        found = -1;
        EXPECT_EQ(dev.CheckCurrentBlock(&found, 2, block), -4);
        EXPECT_EQ(found, -1);
    }
    EXPECT_TRUE(log.lines().empty());

    // Blocks outside the area are refused without reading anything.
    node().clearOps();
    for (int block : {-1, -64, 64}) {
        found = -1;
        EXPECT_EQ(dev.CheckCurrentBlock(&found, 2, block), -4);
        EXPECT_EQ(found, -1);
    }
    EXPECT_TRUE(node().ops().empty());
}

TEST_F(Search, NullOutPointerReadsNothing) {
    node().clearOps();
    EXPECT_EQ(dev.SearchCurrentBlock(nullptr, 2), -3);
    EXPECT_EQ(dev.SearchNextBlock(nullptr, 2, 0), -3);
    EXPECT_EQ(dev.CheckCurrentBlock(nullptr, 2, 0), -3);
    EXPECT_TRUE(node().ops().empty());
}
