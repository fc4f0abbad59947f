// Only records that verify are believed: what a cut erase or changed bytes leave is passed over, a
// read never erases it, and a write replaces it.
#include <gtest/gtest.h>

#include "DeviceFixture.h"
#include "LogCapture.h"
#include "NqLog.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::HeaderBytes;
using romtest::Record;
using romtest::kArea;
using romtest::kSector;

namespace {

const int kLargest = 0x2000 - 8;

class Trust : public romtest::FirstDevice {
protected:
    int read(int area, Bytes& out) { return dev.GetData(area, out.data(), static_cast<int>(out.size())); }
    int write(int area, Bytes record) {
        record.reserve(1);
        return dev.SetData(area, record.data(), static_cast<int>(record.size()), true);
    }
    int current(int area) {
        EXPECT_EQ(dev.DeviceOpen(), 0);
        int found = -7;
        dev.SearchCurrentBlock(&found, area);
        dev.DeviceClose();
        return found;
    }
};

}  // namespace

TEST_F(Trust, ZeroedSectorLeftByACutEraseAtTheWrapIsPassedOver) {
    // The wrap committed block 0; the erase of sector 1 was cut after its pre-programming.
    Bytes good = Record(300, 1);
    put(2, 0, good);
    node().fill(kArea + kSector, kSector, 0x00);
    LogCapture log;
    Bytes out(300);
    EXPECT_EQ(read(2, out), 300);
    EXPECT_EQ(out, good);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Skip unverified Block(63,/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Skip unverified Block(32,/dev/mtd_backup)"), 1);
    // The read's clean-up then finishes the erase.
    EXPECT_EQ(node().peek(kArea + kSector, kSector), Bytes(kSector, 0xFF));
}

TEST_F(Trust, ChangedRecordGivesWayToThePreviousVersion) {
    Bytes first = Record(64, 1), second = Record(64, 2);
    ASSERT_EQ(write(2, first), 0);
    ASSERT_EQ(write(2, second), 0);
    node().poke(start(2, 2) + 8 + 10, Bytes{0x00});
    Bytes out(64);
    EXPECT_EQ(read(2, out), 64);
    EXPECT_EQ(out, first);
    EXPECT_EQ(dev.GetData(2, 2, out.data(), 64), -4);
    EXPECT_EQ(dev.GetData(2, 1, out.data(), 64), 64);
}

TEST_F(Trust, AreaWithNoTrustedBlockIsReadAsFailureAndWrittenAfresh) {
    Bytes only = Record(64, 1);
    put(2, 40, only);
    node().poke(start(2, 40) + 8, Bytes{0x00, 0x00});
    auto before = flash.snapshot();
    LogCapture log;
    Bytes out(64);
    EXPECT_EQ(read(2, out), -1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to find Current Blcok(2,/dev/mtd_backup)"), 1);
    EXPECT_EQ(current(2), -1);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
    EXPECT_EQ(flash.snapshot(), before);

    Bytes fresh = Record(100, 2);
    ASSERT_EQ(write(2, fresh), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 1);
    EXPECT_EQ(log.count(LOGLV_WARNING, "This Device is't New Device. And can NOT FIND current block"), 1);
    Bytes back(100);
    EXPECT_EQ(read(2, back), 100);
    EXPECT_EQ(back, fresh);
    EXPECT_EQ(current(2), 1);
}

TEST_F(Trust, UnreadableRecordRegionErasesNothing) {
    put(2, 5, Record(64, 1));
    node().clearOps();
    // The 64 headers are read; the record region of block 5 is not.
    node().failNext(OpKind::Read, 1, 64);
    EXPECT_EQ(current(2), -1);
    node().shortNext(OpKind::Read, 100, 1, 64);
    Bytes record = Record(10, 2);
    EXPECT_EQ(dev.SetData(2, record.data(), 10, true), -1);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
}

TEST_F(Trust, RecordsThatEndInErasedBytesAndEmptyRecordsVerify) {
    Bytes trailing = {1, 2, 3, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(write(2, trailing), 0);
    EXPECT_EQ(current(2), 1);
    Bytes out(6);
    EXPECT_EQ(read(2, out), 6);
    EXPECT_EQ(out, trailing);

    ASSERT_EQ(write(2, {}), 0);
    EXPECT_EQ(current(2), 2);
    ASSERT_EQ(write(2, Bytes(kLargest, 0xFF)), 0);
    EXPECT_EQ(current(2), 3);
    ASSERT_EQ(write(2, Bytes(kLargest, 0x00)), 0);
    EXPECT_EQ(current(2), 4);
}

TEST_F(Trust, FormatMarkerOnlyWithErasedRecordBytes) {
    node().poke(start(2, 0), HeaderBytes(0, 0xFFFFFFFF));
    EXPECT_EQ(current(2), 0);
    node().poke(start(2, 0) + 8 + 1000, Bytes{0x7F});
    LogCapture log;
    EXPECT_EQ(current(2), -1);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Skip unverified Block(0,/dev/mtd_backup)"), 1);
}

TEST_F(Trust, ChecksumWordThatDidNotProgramRejectsTheBlock) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    LogCapture log;
    // Only the first two bytes of the next checksum word are stored.
    node().shortNext(OpKind::Program, 2, 1);
    Bytes record = Record(40, 2);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(header(2, 2).uiStatus, BLOCK_STATUS_REJECTED);
    EXPECT_EQ(header(2, 3).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Verify Data(/dev/mtd_backup)"), 1);
    EXPECT_EQ(current(2), 3);
}

TEST_F(Trust, NamedBlockMustVerify) {
    put(2, 3, Record(30, 3));
    put(2, 4, Record(30, 4));
    node().poke(start(2, 4) + 8 + 29, Bytes{0x00});
    Bytes out(30);
    EXPECT_EQ(dev.GetData(2, 3, out.data(), 30), 30);
    LogCapture log;
    EXPECT_EQ(dev.GetData(2, 4, out.data(), 30), -4);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Skip unverified Block(4,/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to access target Blcok(2,4,/dev/mtd_backup)"), 1);
}

// An erase cut just before its end leaves headers erased over stray 0 bits. The write commits only a
// block whose whole record region a read will trust, and makes its own room when no block is left.
TEST_F(Trust, WriteNeverCommitsABlockThatReadsWillNotTrust) {
    // One stray bit in the record region of the free block that comes next.
    Bytes first = Record(64, 1), second = Record(64, 2);
    ASSERT_EQ(write(2, first), 0);
    node().poke(start(2, 2) + 8 + 5000, Bytes{0xFB});
    LogCapture log;
    ASSERT_EQ(write(2, second), 0);
    EXPECT_EQ(header(2, 2).uiStatus, BLOCK_STATUS_REJECTED);
    EXPECT_EQ(header(2, 3).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Verify Data(/dev/mtd_backup)"), 1);
    Bytes out(64);
    EXPECT_EQ(read(2, out), 64);
    EXPECT_EQ(out, second);

    // The current block is the last of sector 0 and every block of sector 1 has a stray bit: each
    // attempt there is rejected, the write erases sector 1 and commits its first block.
    for (int b = 4; b < 32; ++b) put(2, b, Record(16, b));
    for (int b = 32; b < 64; ++b) node().poke(start(2, b) + 8 + 7 * b, Bytes{0x7F});
    const Bytes empty;
    ASSERT_EQ(write(2, empty), 0);
    EXPECT_EQ(header(2, 32).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(node().peek(start(2, 33), kSector - 0x2000), Bytes(kSector - 0x2000, 0xFF));
    EXPECT_EQ(node().peek(start(2, 0), kSector), Bytes(kSector, 0xFF));
    Bytes whole(kLargest);
    EXPECT_EQ(read(2, whole), kLargest);
    EXPECT_EQ(whole, Bytes(kLargest, 0xFF));
}

TEST_F(Trust, WriteErasesASectorThatACutLeftWithoutAFreeBlock) {
    // The move into sector 1 found it zeroed by an earlier cut erase, and no read cleaned it up.
    for (int b = 0; b < 32; ++b) put(2, b, Record(16, b));
    node().fill(kArea + kSector, kSector, 0x00);
    LogCapture log;
    Bytes record = Record(100, 99);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Detect full Area: erase Sector(2, 1, /dev/mtd_backup)"), 1);
    EXPECT_EQ(current(2), 32);
    Bytes out(100);
    EXPECT_EQ(read(2, out), 100);
    EXPECT_EQ(out, record);
}

TEST_F(Trust, ReadOfAFormatMarkerOverStrayBitsFailsAndTheNextWriteStartsAfresh) {
    // A bulk erase cut just before its end: every header erased, one bit left in block 0's record.
    node().poke(start(2, 0) + 8 + 100, Bytes{0xEF});
    LogCapture log;
    Bytes out(64);
    EXPECT_EQ(read(2, out), -1);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Skip unverified Block(0,/dev/mtd_backup)"), 1);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);

    Bytes record = Record(64, 5);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(node().peek(start(2, 0) + 8, kLargest), Bytes(kLargest, 0xFF));
    EXPECT_EQ(read(2, out), 64);
    EXPECT_EQ(out, record);
}

TEST_F(Trust, UnreadHeaderAboveTheCurrentBlockFailsBothCallsAndOneBelowChangesNothing) {
    for (int b = 1; b <= 5; ++b) put(2, b, Record(32, b));
    const auto before = flash.snapshot();
    Bytes out(32);
    // Headers are read in block order: the sixth read is block 5's.
    node().failNext(OpKind::Read, 1, 5);
    EXPECT_EQ(read(2, out), -1);
    node().failNext(OpKind::Read, 1, 5);
    EXPECT_EQ(write(2, Record(32, 9)), -1);
    EXPECT_EQ(flash.snapshot(), before);

    node().failNext(OpKind::Read, 1, 2);
    EXPECT_EQ(read(2, out), 32);
    EXPECT_EQ(out, Record(32, 5));
}

TEST_F(Trust, CommitThatDoesNotReadBackAtTheWrapKeepsTheRecord) {
    // The record stands in the last block; block 0, where the wrap goes, has a status cell stuck at 1
    // that takes the program without an error.
    Bytes held = Record(300, 1), next = Record(300, 2);
    put(2, 63, held);
    node().stick(start(2, 0) + 3, 0x04, true);
    EXPECT_EQ(write(2, next), 0);
    // Block 0 is left as the worn cell made it; the record went into block 1, and only then was the
    // sector of block 63 erased.
    EXPECT_EQ(node().peek(start(2, 0), 4), (Bytes{0x00, 0x00, 0x00, 0x04}));
    EXPECT_EQ(node().peek(start(2, 1), 4), (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(node().peek(kArea + kSector, kSector), Bytes(kSector, 0xFF));
    Bytes out(300);
    EXPECT_EQ(read(2, out), 300);
    EXPECT_EQ(out, next);
}

TEST_F(Trust, FormatMarkerThatDoesNotReadBackFailsTheCall) {
    node().stick(start(2, 0) + 3, 0x04, true);
    Bytes out(8);
    EXPECT_EQ(write(2, Record(8, 1)), -1);
    EXPECT_EQ(read(2, out), -1);
    EXPECT_EQ(node().peek(start(2, 1), 8), Bytes(8, 0xFF));
}
