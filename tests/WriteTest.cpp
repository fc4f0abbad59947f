// The record write: the order of its programs, verification, moving through blocks and sectors, and
// every way it can fail.
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

class Write : public romtest::FirstDevice {
protected:
    int write(int area, Bytes record, bool bOpen = true) {
        return dev.SetData(area, record.data(), static_cast<int>(record.size()), bOpen);
    }
    unsigned crcOf(Bytes record) {
        return dev.CalculateCRC16(record.data(), static_cast<int>(record.size()));
    }
    // Writes records until block `last` of area 2 is the current one; block 0 is the format marker.
    void writeUpTo(int last) {
        for (int b = 1; b <= last; ++b) ASSERT_EQ(write(2, Record(100, b)), 0) << b;
    }
    std::string summary(int flag, int count, int next, int current) {
        return "    bWriteSuccsessFlg(" + std::to_string(flag) + "), iCount(" + std::to_string(count) +
               "/64), iNextSector(" + std::to_string(next) + "), iCurrentSector(" +
               std::to_string(current) + ")";
    }
};

}  // namespace

TEST_F(Write, FirstWriteFormatsTheAreaAndUsesBlockOne) {
    LogCapture log;
    Bytes record = Record(100, 1);
    ASSERT_EQ(write(2, record), 0);

    EXPECT_EQ(node().peek(start(2, 0), 8), HeaderBytes(0, 0xFFFFFFFF));
    EXPECT_EQ(node().peek(start(2, 1), 8), HeaderBytes(0, crcOf(record)));
    EXPECT_EQ(node().peek(start(2, 1) + 8, 100), record);
    EXPECT_EQ(node().peek(start(2, 1) + 108, 0x2000 - 108), Bytes(0x2000 - 108, 0xFF));
    EXPECT_EQ(node().overwriteCount(), 0u);
    EXPECT_EQ(log.count(LOGLV_DEBUG, summary(1, 0, 0, 0)), 1);
    EXPECT_EQ(log.count(LOGLV_INFO, "Success to CRomDevice::SetData(A:2,B:1)"), 1);
    EXPECT_EQ(dev.m_iFd, -1);
    EXPECT_EQ(node().openCount(), 0);
}

TEST_F(Write, AttemptProgramsChecksumRecordAndStatusInThatOrder) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    node().clearOps();
    ASSERT_EQ(write(2, Record(300, 2)), 0);

    auto programs = OpsOf(node(), OpKind::Program);
    ASSERT_EQ(programs.size(), 3u);
    EXPECT_EQ(programs[0].offset, start(2, 2) + 4);
    EXPECT_EQ(programs[0].length, 4u);
    EXPECT_EQ(programs[1].offset, start(2, 2) + 8);
    EXPECT_EQ(programs[1].length, 300u);
    EXPECT_EQ(programs[2].offset, start(2, 2));
    EXPECT_EQ(programs[2].length, 4u);

    // The read-back lies between the record and the status word, and covers the block from the
    // checksum word to its end; the following sector is probed whole.
    const auto& ops = node().ops();
    int recordAt = -1, statusAt = -1, readBackAt = -1, probeAt = -1;
    for (int i = 0; i < static_cast<int>(ops.size()); ++i) {
        const norsim::Op& op = ops[i];
        if (op.kind == OpKind::Program && op.offset == start(2, 2) + 8) recordAt = i;
        if (op.kind == OpKind::Program && op.offset == start(2, 2)) statusAt = i;
        if (op.kind == OpKind::Read && op.offset == start(2, 2) + 4 && op.length == 0x2000 - 4) readBackAt = i;
        if (op.kind == OpKind::Read && op.offset == kArea + kSector && op.length == kSector) probeAt = i;
    }
    EXPECT_LT(recordAt, readBackAt);
    EXPECT_LT(readBackAt, statusAt);
    EXPECT_LT(statusAt, probeAt);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
}

TEST_F(Write, RecordsMoveThroughBothSectorsAndWrap) {
    LogCapture log;
    writeUpTo(31);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 0);
    for (int b = 0; b <= 31; ++b) EXPECT_EQ(header(2, b).uiStatus, BLOCK_STATUS_CURRENT) << b;

    // From the last block of sector 0 into sector 1: sector 0 is erased after the commit.
    node().clearOps();
    ASSERT_EQ(write(2, Record(100, 32)), 0);
    EXPECT_EQ(header(2, 32).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(node().peek(kArea, kSector), Bytes(kSector, 0xFF));
    auto erases = OpsOf(node(), OpKind::Erase);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].offset, kArea);
    EXPECT_EQ(erases[0].length, kSector);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "<< Erase Process(0->1) >>"), 1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, summary(1, 0, 1, 0)), 1);

    // From block 63 back to block 0: sector 1 is erased.
    for (int b = 33; b <= 63; ++b) ASSERT_EQ(write(2, Record(100, b)), 0);
    node().clearOps();
    Bytes wrapped = Record(77, 64);
    ASSERT_EQ(write(2, wrapped), 0);
    EXPECT_EQ(node().peek(start(2, 0), 8), HeaderBytes(0, crcOf(wrapped)));
    EXPECT_EQ(node().peek(kArea + kSector, kSector), Bytes(kSector, 0xFF));
    EXPECT_EQ(log.count(LOGLV_DEBUG, "<< Erase Process(1->0) >>"), 1);
    EXPECT_EQ(node().eraseCount(2), 1u);
    EXPECT_EQ(node().eraseCount(3), 1u);
    EXPECT_EQ(node().overwriteCount(), 0u);

    Bytes back(77);
    EXPECT_EQ(dev.GetData(2, back.data(), 77), 77);
    EXPECT_EQ(back, wrapped);
}

TEST_F(Write, RejectedBlockIsFollowedByTheNextFreeBlock) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    LogCapture log;
    // The record program of the first attempt stores only half: its read-back does not verify.
    node().shortNext(OpKind::Program, 50, 1, 1);
    Bytes record = Record(100, 2);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(header(2, 2).uiStatus, BLOCK_STATUS_REJECTED);
    EXPECT_EQ(node().peek(start(2, 3), 8), HeaderBytes(0, crcOf(record)));
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Write Data(/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Verify Data(/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Write Header(/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, summary(1, 1, 0, 0)), 1);

    Bytes back(100);
    EXPECT_EQ(dev.GetData(2, back.data(), 100), 100);
    EXPECT_EQ(back, record);
}

TEST_F(Write, NoFreeBlockErasesTheOtherSectorOnceAndWritesThere) {
    Bytes old = Record(100, 1);
    ASSERT_EQ(write(2, old), 0);
    for (int b = 2; b < 64; ++b) put(2, b, Record(4, b), BLOCK_STATUS_REJECTED);
    {
        // When that erase fails, the write gives up and the previous record stays current.
        LogCapture log;
        node().clearOps();
        node().failNext(OpKind::Erase, 3);
        EXPECT_EQ(write(2, Record(100, 2)), -1);
        EXPECT_EQ(log.count(LOGLV_WARNING, "Detect full Area: erase Sector(2, 1, /dev/mtd_backup)"), 1);
        EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to find Next Block(/dev/mtd_backup)"), 1);
        EXPECT_EQ(log.count(LOGLV_DEBUG, summary(0, 0, 0, 0)), 1);
        EXPECT_EQ(CountOps(node(), OpKind::Erase), 3);
        EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
        Bytes back(100);
        EXPECT_EQ(dev.GetData(2, back.data(), 100), 100);
        EXPECT_EQ(back, old);
    }
    // The read above cleaned sector 1 up; fill it again.
    for (int b = 32; b < 64; ++b) put(2, b, Record(4, b), BLOCK_STATUS_REJECTED);
    LogCapture log;
    node().clearOps();
    Bytes record = Record(100, 2);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Detect full Area: erase Sector(2, 1, /dev/mtd_backup)"), 1);
    // Sector 1 made room, the record went to its first block, and sector 0 was left behind.
    const auto erases = OpsOf(node(), OpKind::Erase);
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0].offset, kArea + kSector);
    EXPECT_EQ(erases[1].offset, kArea);
    EXPECT_EQ(header(2, 32).uiStatus, BLOCK_STATUS_CURRENT);
    Bytes back(100);
    EXPECT_EQ(dev.GetData(2, back.data(), 100), 100);
    EXPECT_EQ(back, record);
}

TEST_F(Write, AttemptsStopAtTheBlockCount) {
    Bytes old = Record(10, 1);
    ASSERT_EQ(write(2, old), 0);
    auto before = flash.snapshot();
    node().clearOps();
    LogCapture log;
    // No program lands, so every attempt finds block 2 still free and fails again.
    node().failNext(OpKind::Program, 1000);
    EXPECT_EQ(write(2, Record(10, 2)), -1);
    EXPECT_EQ(CountOps(node(), OpKind::Program), 3 * 64);
    EXPECT_EQ(log.count(LOGLV_DEBUG, summary(0, 64, 0, 0)), 1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Write Header(/dev/mtd_backup)"), 64);
    EXPECT_EQ(flash.snapshot(), before);
}

TEST_F(Write, FailedPositioningBeforeTheChecksumWritesNothing) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    node().clearOps();
    LogCapture log;
    // 64 header seeks of the scan, one to verify the current block and one of the next-block search
    // come first.
    node().failNext(OpKind::Seek, 1, 66);
    Bytes record = Record(40, 2);
    ASSERT_EQ(write(2, record), 0);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to seek(/dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, summary(1, 1, 0, 0)), 1);
    // The block of the failed attempt stayed free, so the next attempt used it.
    EXPECT_EQ(node().peek(start(2, 2), 8), HeaderBytes(0, crcOf(record)));
    EXPECT_EQ(header(2, 3).uiStatus, BLOCK_STATUS_ERASED);
}

TEST_F(Write, OldSectorThatCannotBeErasedFailsTheWrite) {
    writeUpTo(31);
    LogCapture log;
    node().failNext(OpKind::Erase, 3);
    EXPECT_EQ(write(2, Record(100, 32)), -1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "<< Erase Process(0->1) >>"), 3);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 3);
    // The new block is committed all the same, and as the highest committed block it is current.
    EXPECT_EQ(header(2, 32).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(header(2, 31).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(dev.m_iFd, -1);
}

TEST_F(Write, SecondEraseTryIsEnough) {
    writeUpTo(31);
    node().clearOps();
    node().failNext(OpKind::Erase, 1);
    EXPECT_EQ(write(2, Record(100, 32)), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 2);
}

TEST_F(Write, FollowingSectorIsCleanedAndItsFailureIgnored) {
    ASSERT_EQ(write(2, Record(10, 1)), 0);
    node().poke(kArea + kSector + 1000, Bytes{0x12});
    LogCapture log;
    node().clearOps();
    ASSERT_EQ(write(2, Record(10, 2)), 0);
    EXPECT_EQ(log.count(LOGLV_WARNING, "Detect undeleted Next Sector(2, 1, /dev/mtd_backup)"), 1);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 1);
    EXPECT_EQ(node().peek(kArea + kSector, kSector), Bytes(kSector, 0xFF));

    node().poke(kArea + kSector + 1000, Bytes{0x12});
    node().clearOps();
    node().failNext(OpKind::Erase, 5);
    EXPECT_EQ(write(2, Record(10, 3)), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Erase), 3);
    EXPECT_EQ(node().peek(kArea + kSector + 1000, 1), Bytes{0x12});
}

TEST_F(Write, BadArgumentsTouchNothing) {
    auto before = flash.snapshot();
    LogCapture log;
    Bytes longest(0x2000 - 8, 0x11), tooLong(0x2000 - 7, 0x11);
    EXPECT_EQ(dev.SetData(2, tooLong.data(), static_cast<int>(tooLong.size()), true), -3);
    EXPECT_EQ(dev.SetData(2, longest.data(), -1, true), -3);
    EXPECT_EQ(dev.SetData(2, nullptr, 0, true), -3);
    EXPECT_EQ(dev.SetData(0, longest.data(), 10, true), -3);
    EXPECT_EQ(dev.SetData(31, longest.data(), 10, false), -3);
    EXPECT_TRUE(node().ops().empty());
    EXPECT_EQ(flash.snapshot(), before);
    EXPECT_EQ(log.texts(LOGLV_ERROR),
              (std::vector<std::string>{"Invalid argument(2, 8185, /dev/mtd_backup)",
                                        "Invalid argument(2, -1, /dev/mtd_backup)",
                                        "Invalid argument(2, 0, /dev/mtd_backup)",
                                        "Invalid argument(0, 10, /dev/mtd_backup)",
                                        "Invalid argument(31, 10, /dev/mtd_backup)"}));

    ASSERT_EQ(dev.SetData(2, longest.data(), static_cast<int>(longest.size()), true), 0);
    EXPECT_EQ(node().peek(start(2, 1) + 8, 0x2000 - 8), longest);
}

TEST_F(Write, EmptyRecordCommitsTheChecksumOfNoBytes) {
    unsigned char byte = 0;
    ASSERT_EQ(dev.SetData(2, &byte, 0, true), 0);
    EXPECT_EQ(node().peek(start(2, 1), 9), (Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Write, BusyNodeIsReportedWithoutALineOfTheWrite) {
    node().setBusy(true);
    LogCapture log;
    EXPECT_EQ(write(2, Record(10, 1)), -2);
    for (const logcap::Line& line : log.lines()) EXPECT_NE(line.function, "SetData");
    EXPECT_EQ(CountOps(node(), OpKind::Program), 0);
}

TEST_F(Write, ClosedNodeStaysAsTheCallerHasIt) {
    // bOpen false: the caller's descriptor is used and never opened or closed, on success and on
    // the failure of finding a current block.
    ASSERT_EQ(dev.DeviceOpen(), 0);
    const int fd = dev.m_iFd;
    node().clearOps();
    EXPECT_EQ(write(2, Record(10, 1), false), 0);
    node().failNext(OpKind::Program);
    EXPECT_EQ(write(3, Record(10, 1), false), -1);
    EXPECT_EQ(CountOps(node(), OpKind::Open), 0);
    EXPECT_EQ(CountOps(node(), OpKind::Close), 0);
    EXPECT_EQ(dev.m_iFd, fd);
    dev.DeviceClose();

    // bOpen true: closed again on every path after the open.
    node().failNext(OpKind::Program);
    EXPECT_EQ(write(4, Record(10, 1)), -1);
    EXPECT_EQ(node().openCount(), 0);
    EXPECT_EQ(dev.m_iFd, -1);
}

TEST_F(Write, InterruptedWriteLeavesThePreviousRecordCurrent) {
    Bytes old = Record(100, 1);
    ASSERT_EQ(write(2, old), 0);
    // A write cut after its checksum word and record: no status word.
    Bytes cut = Record(100, 2);
    node().poke(start(2, 2), HeaderBytes(BLOCK_STATUS_ERASED, crcOf(cut)));
    node().poke(start(2, 2) + 8, cut);
    Bytes back(100);
    EXPECT_EQ(dev.GetData(2, back.data(), 100), 100);
    EXPECT_EQ(back, old);

    Bytes next = Record(100, 3);
    ASSERT_EQ(write(2, next), 0);
    EXPECT_EQ(header(2, 3).uiStatus, BLOCK_STATUS_CURRENT);
    EXPECT_EQ(node().overwriteCount(), 0u);
}

TEST(WriteSecondDevice, LargestRecordMovesAfterEightWrites) {
    romtest::TableFlash flash;
    CRomDevice dev;
    romtest::InitializeFromTable(dev, 1);
    Bytes record(0x10000 - 8);
    for (int i = 1; i <= 8; ++i) {
        record = Record(record.size(), i);
        ASSERT_EQ(dev.SetData(1, record.data(), static_cast<int>(record.size()), true), 0);
    }
    // Blocks 1 to 7 filled sector 0; the eighth write moved into sector 1 and erased sector 0.
    EXPECT_EQ(flash.node(1).eraseCount(0), 1u);
    EXPECT_EQ(flash.node(1).peek(0, 0x80000), Bytes(0x80000, 0xFF));
    EXPECT_EQ(flash.node(1).peek(0x80000 + 8, static_cast<std::uint32_t>(record.size())), record);
}
