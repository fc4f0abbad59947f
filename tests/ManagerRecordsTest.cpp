// Records through the manager: global area numbers, the bulk operations over masks, and the retry
// while a node is busy.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomDeviceInfo.h"
#include "RomMgr.h"
#include "TableFlash.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::OpsOf;
using romtest::Record;
using romtest::kArea;

namespace {

class Manager : public ::testing::Test {
protected:
    int write(int area, Bytes record) {
        return mgr.SetData(area, record.data(), static_cast<int>(record.size()), true);
    }
    norsim::Node& first() { return flash.node(0); }
    norsim::Node& second() { return flash.node(1); }

    romtest::TableFlash flash;
    CRomMgr mgr;
};

}  // namespace

TEST_F(Manager, AreasOutsideTheTableAreRefusedWithoutOpening) {
    LogCapture log;
    Bytes buf(10);
    EXPECT_EQ(mgr.GetData(0, buf.data(), 10), -3);
    EXPECT_EQ(mgr.GetData(32, 0, buf.data(), 10), -3);
    EXPECT_EQ(mgr.SetData(32, buf.data(), 10, true), -3);
    EXPECT_EQ(mgr.SetData(-1, buf.data(), 10, true), -3);
    EXPECT_TRUE(first().ops().empty());
    EXPECT_TRUE(second().ops().empty());
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "Invalid argument(0)");
    EXPECT_EQ(lines[0].function, "GetData");
    EXPECT_EQ(lines[1].text, "Invalid argument(32)");
    EXPECT_EQ(lines[2].function, "SetData");
    EXPECT_EQ(lines[3].text, "Invalid argument(-1)");
    EXPECT_EQ(lines[3].file, "RomMgr");
}

TEST_F(Manager, GlobalAreasReachTheirDeviceAndLocalArea) {
    Bytes a1 = Record(20, 1), a30 = Record(20, 30), a31 = Record(20, 31);
    ASSERT_EQ(write(1, a1), 0);
    ASSERT_EQ(write(30, a30), 0);
    ASSERT_EQ(write(31, a31), 0);
    // Local area 1 of each node holds block 0 at offset 0 and the record in block 1.
    EXPECT_EQ(first().peek(0x2000 + 8, 20), a1);
    EXPECT_EQ(first().peek(29 * kArea + 0x2000 + 8, 20), a30);
    EXPECT_EQ(second().peek(0x10000 + 8, 20), a31);

    Bytes out(20);
    EXPECT_EQ(mgr.GetData(31, out.data(), 20), 20);
    EXPECT_EQ(out, a31);
    EXPECT_EQ(mgr.GetData(30, 1, out.data(), 20), 20);
    EXPECT_EQ(out, a30);
    EXPECT_EQ(mgr.GetData(1, 2, out.data(), 20), -4);
}

TEST_F(Manager, BusyIsPassedOnAtOnceAfterOneAttempt) {
    first().setBusy(true);
    Bytes buf(10);
    EXPECT_EQ(mgr.SetData(1, buf.data(), 10, true), -2);
    EXPECT_EQ(mgr.GetData(1, buf.data(), 10), -2);
    EXPECT_EQ(mgr.GetData(1, 0, buf.data(), 10), -2);
    EXPECT_EQ(CountOps(first(), OpKind::Open), 3);
}

TEST_F(Manager, WriteWithTheNodeHeldOpenByTheCaller) {
    ASSERT_EQ(mgr.m_pRomDevice[0].DeviceOpen(), 0);
    first().clearOps();
    Bytes record = Record(10, 1);
    EXPECT_EQ(mgr.SetData(2, record.data(), 10, false), 0);
    EXPECT_EQ(CountOps(first(), OpKind::Open), 0);
    EXPECT_EQ(CountOps(first(), OpKind::Close), 0);
    EXPECT_GE(mgr.m_pRomDevice[0].m_iFd, 0);
    mgr.m_pRomDevice[0].DeviceClose();
}

TEST_F(Manager, EmptyMaskTouchesNothing) {
    LogCapture log;
    EXPECT_EQ(mgr.EraseArea(0), 0);
    EXPECT_EQ(mgr.InitializeArea(0), 0);
    EXPECT_TRUE(first().ops().empty());
    EXPECT_TRUE(second().ops().empty());
    EXPECT_EQ(log.texts(LOGLV_NOTICE), (std::vector<std::string>{"CALLED(0x00000000)", "CALLED(0x00000000)"}));
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST_F(Manager, FullMaskInitialisesEveryAreaWithTheLongestZeroRecord) {
    LogCapture log;
    EXPECT_EQ(mgr.InitializeArea(-1), 0);
    EXPECT_EQ(log.count(LOGLV_NOTICE, "CALLED(0xFFFFFFFF)"), 1);
    for (int area = 1; area <= 30; ++area) {
        Bytes out(0x2000 - 8, 0x55);
        ASSERT_EQ(mgr.GetData(area, out.data(), static_cast<int>(out.size())), 0x2000 - 8);
        EXPECT_EQ(out, Bytes(out.size(), 0x00)) << area;
    }
    Bytes out(0x10000 - 8, 0x55);
    ASSERT_EQ(mgr.GetData(31, out.data(), static_cast<int>(out.size())), 0x10000 - 8);
    EXPECT_EQ(out, Bytes(out.size(), 0x00));

    EXPECT_EQ(mgr.EraseArea(-1), 0);
    EXPECT_EQ(first().peek(0, first().size()), Bytes(first().size(), 0xFF));
    EXPECT_EQ(second().peek(0, second().size()), Bytes(second().size(), 0xFF));
}

TEST_F(Manager, SingleBitsSelectSingleAreas) {
    EXPECT_EQ(mgr.InitializeArea(1 << 30), 0);
    EXPECT_TRUE(first().ops().empty());
    EXPECT_GT(CountOps(second(), OpKind::Program), 0);

    second().clearOps();
    EXPECT_EQ(mgr.EraseArea(1 << 30), 0);
    EXPECT_TRUE(first().ops().empty());
    auto erases = OpsOf(second(), OpKind::Erase);
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(erases[0].offset, 0u);
    EXPECT_EQ(erases[0].length, 0x100000u);

    EXPECT_EQ(mgr.InitializeArea(1), 0);
    EXPECT_EQ(first().peek(0x2000 + 8, 0x2000 - 8), Bytes(0x2000 - 8, 0x00));
    EXPECT_EQ(first().peek(kArea, 8), Bytes(8, 0xFF));
}

TEST_F(Manager, FailedAreasAreReportedAndTheOthersStillRun) {
    LogCapture log;
    first().failNext(OpKind::Erase, 1, 1);
    EXPECT_EQ(mgr.EraseArea(0x7), 0x2);
    EXPECT_EQ(CountOps(first(), OpKind::Erase), 3);
    // A plain failure is not retried.
    EXPECT_TRUE(log.texts(LOGLV_INFO).empty());
}

TEST_F(Manager, BusyOnceIsRetriedAfterOnePause) {
    LogCapture log;
    second().busyFor(1);
    EXPECT_EQ(mgr.InitializeArea(1 << 30), 0);
    EXPECT_EQ(log.texts(LOGLV_INFO).back(), "Retry SetData(1,1)");
    EXPECT_EQ(log.lines().back().function, "retrySetData");

    first().busyFor(1);
    EXPECT_EQ(mgr.EraseArea(1 << 4), 0);
    EXPECT_EQ(log.texts(LOGLV_INFO).back(), "Retry EraseArea(5,1)");
    EXPECT_EQ(first().peek(4 * kArea, kArea), Bytes(kArea, 0xFF));
}

TEST_F(Manager, RetryThatFailsOtherwiseEndsAtOnce) {
    LogCapture log;
    first().busyFor(1);
    first().failNext(OpKind::Erase);
    EXPECT_EQ(mgr.EraseArea(1), 1);
    EXPECT_EQ(log.count(LOGLV_INFO, "Retry EraseArea(1,1)"), 1);
    EXPECT_EQ(CountOps(first(), OpKind::Erase), 1);
}

TEST_F(Manager, RetryOfNoDeviceIsRefused) {
    LogCapture log;
    Bytes buf(4);
    EXPECT_EQ(mgr.retryEraseArea(nullptr, 1), -3);
    EXPECT_EQ(mgr.retrySetData(nullptr, 1, buf.data(), 4), -3);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Manager, NodeThatStaysBusyTimesOut) {
    LogCapture log;
    second().setBusy(true);
    EXPECT_EQ(mgr.EraseArea(1 << 30), 1 << 30);
    auto errors = log.texts(LOGLV_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Retry timeout(1,", 0), 0u) << errors[0];
    EXPECT_TRUE(log.texts(LOGLV_INFO).empty());
    // Between 9 and 10 seconds of 100 ms pauses, plus the plain attempt.
    int opens = CountOps(second(), OpKind::Open);
    EXPECT_GE(opens, 50);
    EXPECT_LE(opens, 102);
}

TEST(ManagerWithoutDevices, BulkOperationsSelectNothing) {
    romtest::TableOverride restore;
    g_RomDeviceInfoArray[0].iAreaNum = 0;
    CRomMgr mgr;
    LogCapture log;
    EXPECT_EQ(mgr.EraseArea(-1), 0);
    EXPECT_EQ(mgr.InitializeArea(-1), 0);
    EXPECT_EQ(log.texts(LOGLV_NOTICE).size(), 2u);
    EXPECT_EQ(log.lines().size(), 2u);
}

TEST(ManagerLogging, DisabledLevelsChangeNoResultAndNoByte) {
    romtest::ExpectLoggingChangesNothing([](romtest::TableFlash&) {
        CRomMgr mgr;
        std::vector<int> results;
        for (int i = 0; i < 40; ++i) {
            Bytes record = Record(static_cast<std::size_t>(i * 150), i);
            results.push_back(mgr.SetData(1 + i % 3, record.data(), static_cast<int>(record.size()), true));
        }
        Bytes out(500);
        results.push_back(mgr.GetData(2, out.data(), 500));
        results.push_back(mgr.GetData(2, 3, out.data(), 500));
        results.push_back(mgr.GetData(40, out.data(), 500));
        results.push_back(mgr.InitializeArea(0x40000010));
        results.push_back(mgr.EraseArea(0x2));
        return results;
    });
}
