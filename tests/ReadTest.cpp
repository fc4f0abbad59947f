// The record reads: current record and named block, their results, and the clean-up of the sector
// that follows.
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
using romtest::kArea;
using romtest::kSector;

namespace {

class Read : public romtest::FirstDevice {
protected:
    int read(int area, Bytes& out) { return dev.GetData(area, out.data(), static_cast<int>(out.size())); }
    int readBlock(int area, int block, Bytes& out) {
        return dev.GetData(area, block, out.data(), static_cast<int>(out.size()));
    }
    void store(int area, Bytes record) {
        ASSERT_EQ(dev.SetData(area, record.data(), static_cast<int>(record.size()), true), 0);
    }
};

}  // namespace

TEST_F(Read, FirstReadOfABlankAreaFormatsItAndReturnsErasedBytes) {
    Bytes out(100, 0x00);
    EXPECT_EQ(read(2, out), 100);
    EXPECT_EQ(out, Bytes(100, 0xFF));
    EXPECT_EQ(node().peek(start(2, 0), 8), HeaderBytes(0, 0xFFFFFFFF));
    EXPECT_EQ(node().openCount(), 0);
}

TEST_F(Read, ReturnsThePrefixOrTheRecordFollowedByErasedBytes) {
    Bytes record = Record(200, 5);
    store(2, record);
    Bytes shorter(50), longer(300);
    EXPECT_EQ(read(2, shorter), 50);
    EXPECT_EQ(shorter, Bytes(record.begin(), record.begin() + 50));
    EXPECT_EQ(read(2, longer), 300);
    EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 200), record);
    EXPECT_EQ(Bytes(longer.begin() + 200, longer.end()), Bytes(100, 0xFF));

    Bytes largest(0x2000 - 8);
    EXPECT_EQ(read(2, largest), 0x2000 - 8);
    unsigned char none = 0;
    EXPECT_EQ(dev.GetData(2, &none, 0), 0);
}

TEST_F(Read, ReadsStraightIntoTheCallersBufferWithOneRead) {
    store(2, Record(200, 5));
    node().clearOps();
    Bytes out(200);
    ASSERT_EQ(read(2, out), 200);
    auto reads = OpsOf(node(), OpKind::Read);
    // 64 headers, the record region in two pieces to verify the block, the record, and the probe of
    // the following sector.
    ASSERT_EQ(reads.size(), 68u);
    EXPECT_EQ(reads[66].offset, start(2, 1) + 8);
    EXPECT_EQ(reads[66].length, 200u);
    EXPECT_EQ(reads[67].offset, kArea + kSector);
    EXPECT_EQ(reads[67].length, kSector);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
}

TEST_F(Read, BadArgumentsOpenNothing) {
    LogCapture log;
    Bytes out(0x2000 - 7);
    EXPECT_EQ(read(2, out), -3);
    EXPECT_EQ(readBlock(2, 1, out), -3);
    EXPECT_EQ(dev.GetData(2, out.data(), -5), -3);
    EXPECT_EQ(dev.GetData(2, 1, out.data(), -5), -3);
    EXPECT_EQ(dev.GetData(2, nullptr, 10), -3);
    EXPECT_EQ(dev.GetData(0, out.data(), 10), -3);
    EXPECT_EQ(dev.GetData(31, 0, out.data(), 10), -3);
    EXPECT_TRUE(node().ops().empty());
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid argument(2, 8185, /dev/mtd_backup)"), 2);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid argument(2, -5, /dev/mtd_backup)"), 2);
}

TEST_F(Read, ShortReadReturnsItsCountAndSkipsTheCleanUp) {
    store(2, Record(100, 1));
    node().poke(kArea + kSector + 5, Bytes{0x00});
    node().clearOps();
    LogCapture log;
    // 64 header reads and the two pieces of the verification come first.
    node().shortNext(OpKind::Read, 60, 1, 66);
    Bytes out(100);
    EXPECT_EQ(read(2, out), 60);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Read Data(2,/dev/mtd_backup)"), 1);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
    EXPECT_EQ(node().openCount(), 0);

    node().failNext(OpKind::Read, 1, 66);
    EXPECT_EQ(read(2, out), -1);
}

TEST_F(Read, NoCurrentBlockFailsTheRead) {
    LogCapture log;
    node().failNext(OpKind::Program);
    Bytes out(10);
    EXPECT_EQ(read(2, out), -1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to find Current Blcok(2,/dev/mtd_backup)"), 1);
    EXPECT_EQ(node().openCount(), 0);
}

TEST_F(Read, NamedBlockOutOfRangeOrNotCommitted) {
    store(2, Record(10, 1));
    put(2, 5, Record(10, 5), BLOCK_STATUS_REJECTED);
    auto before = flash.snapshot();
    node().clearOps();
    LogCapture log;
    Bytes out(10);
    EXPECT_EQ(readBlock(2, 64, out), -4);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid argument(2, 64, 10, /dev/mtd_backup)"), 1);
    for (int block : {-1, -100, 5, 6}) {
        EXPECT_EQ(readBlock(2, block, out), -4) << block;
        EXPECT_EQ(log.count(LOGLV_ERROR,
                            "FAIL to access target Blcok(2," + std::to_string(block) + ",/dev/mtd_backup)"),
                  1);
    }
    EXPECT_EQ(node().openCount(), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
    EXPECT_EQ(flash.snapshot(), before);

    node().setBusy(true);
    EXPECT_EQ(readBlock(2, 64, out), -2);
    EXPECT_EQ(read(2, out), -2);
}

TEST_F(Read, NamedBlockReturnsAnOlderCommittedRecord) {
    Bytes first = Record(30, 1), second = Record(30, 2);
    store(2, first);
    store(2, second);
    Bytes out(30);
    EXPECT_EQ(readBlock(2, 1, out), 30);
    EXPECT_EQ(out, first);
    EXPECT_EQ(readBlock(2, 2, out), 30);
    EXPECT_EQ(out, second);
    // The named-block read never formats: an unwritten area has no committed block 0.
    EXPECT_EQ(readBlock(3, 0, out), -4);
    EXPECT_EQ(node().peek(start(3, 0), 8), Bytes(8, 0xFF));
}

TEST_F(Read, StaleFollowingSectorIsErasedAfterAReadWithThreeTriesAtMost) {
    store(2, Record(10, 1));
    for (int failures : {0, 1, 5}) {
        SCOPED_TRACE(failures);
        node().poke(kArea + kSector + 77, Bytes{0x00});
        node().clearOps();
        node().failNext(OpKind::Erase, failures);
        LogCapture log;
        Bytes out(10);
        EXPECT_EQ(readBlock(2, 1, out), 10);
        EXPECT_EQ(log.count(LOGLV_WARNING, "Detect undeleted Next Sector(2, 1, /dev/mtd_backup)"), 1);
        auto erases = OpsOf(node(), OpKind::Erase);
        ASSERT_EQ(static_cast<int>(erases.size()), failures == 0 ? 1 : failures == 1 ? 2 : 3);
        EXPECT_EQ(erases[0].offset, kArea + kSector);
        EXPECT_EQ(erases[0].length, kSector);
    }
    EXPECT_EQ(node().peek(kArea + kSector + 77, 1), Bytes{0x00});
}

TEST_F(Read, WriteCutBeforeTheOldSectorWasErased) {
    // Committed blocks in both sectors. Moving forward, the newer block is the higher one: it is
    // read, and the read erases the other sector.
    Bytes older = Record(40, 1), newer = Record(40, 2);
    put(2, 31, older);
    put(2, 32, newer);
    Bytes out(40);
    EXPECT_EQ(read(2, out), 40);
    EXPECT_EQ(out, newer);
    EXPECT_EQ(node().peek(kArea, kSector), Bytes(kSector, 0xFF));

    // Wrapping from the last sector to the first, the older block is the higher one, and the read
    // keeps it: the record committed into block 0 is erased with sector 0.
    put(3, 63, older);
    put(3, 0, newer);
    EXPECT_EQ(read(3, out), 40);
    EXPECT_EQ(out, older);
    EXPECT_EQ(node().peek(2 * kArea, 8), Bytes(8, 0xFF));
}

TEST(ReadSecondDevice, LargestRecordRoundTrips) {
    romtest::TableFlash flash;
    CRomDevice dev;
    romtest::InitializeFromTable(dev, 1);
    Bytes record = Record(0x10000 - 8, 9), out(0x10000 - 8);
    ASSERT_EQ(dev.SetData(1, record.data(), static_cast<int>(record.size()), true), 0);
    EXPECT_EQ(dev.GetData(1, out.data(), static_cast<int>(out.size())), 0x10000 - 8);
    EXPECT_EQ(out, record);
    EXPECT_EQ(dev.GetData(1, 1, out.data(), 0x10000 - 7), -3);
}
