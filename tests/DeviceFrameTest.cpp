// The device frame: geometry checks and arithmetic, opening and closing the node, erasing, and the two
// blank probes, observed on simulated NOR flash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomDevice.h"
#include "TableFlash.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::HeaderBytes;
using romtest::TableFlash;
using romtest::kArea;
using romtest::kSector;

namespace {

const std::uint32_t kBlock = 0x2000;

void ExpectConstructedState(const CRomDevice& d) {
    EXPECT_EQ(d.m_iFd, -1);
    EXPECT_EQ(d.m_iStartArea, 0);
    EXPECT_EQ(d.m_iEndArea, 0);
    EXPECT_EQ(d.m_iAreaSize, 0);
    EXPECT_EQ(d.m_iSectorSize, 0);
    EXPECT_EQ(d.m_iBlockSize, 0);
    EXPECT_STREQ(d.m_szDevName, "");
}

}  // namespace

TEST(DeviceInitialize, KeepsOnlyTheNumberOfAreas) {
    CRomDevice d;
    d.Initialize(31, 31, 0x100000, 0x80000, 0x10000, "/dev/mtd_backup2");
    EXPECT_EQ(d.m_iStartArea, 1);
    EXPECT_EQ(d.m_iEndArea, 1);
    EXPECT_EQ(d.m_iAreaSize, 0x100000);
    EXPECT_EQ(d.m_iSectorSize, 0x80000);
    EXPECT_EQ(d.m_iBlockSize, 0x10000);
    EXPECT_STREQ(d.m_szDevName, "/dev/mtd_backup2");
    EXPECT_EQ(d.m_iFd, -1);
}

TEST(DeviceInitialize, AcceptsBoundaryGeometries) {
    CRomDevice sameBlockAndSector;
    sameBlockAndSector.Initialize(1, 2, 0x80000, 0x40000, 0x40000, "/dev/x");
    EXPECT_EQ(sameBlockAndSector.m_iEndArea, 2);

    CRomDevice longestPath;
    std::string path(63, 'p');
    longestPath.Initialize(1, 1, 0x80000, 0x40000, 0x2000, path.c_str());
    EXPECT_EQ(std::string(longestPath.m_szDevName), path);

    // 4096 areas of 512 KiB end exactly at the last 32-bit signed offset.
    CRomDevice largest;
    largest.Initialize(1, 4096, 0x80000, 0x40000, 0x2000, "/dev/x");
    EXPECT_EQ(largest.m_iEndArea, 4096);
}

TEST(DeviceInitialize, RejectsBadGeometryWithOneLineAndNoChange) {
    struct Case {
        const char* what;
        int first, last, area, sector, block;
        const char* path;
    };
    std::string tooLong(64, 'p');
    const Case cases[] = {
        {"sector equal to area", 1, 1, 0x40000, 0x40000, 0x2000, "/dev/x"},
        {"block above sector", 1, 1, 0x80000, 0x40000, 0x80000, "/dev/x"},
        {"first above last", 2, 1, 0x80000, 0x40000, 0x2000, "/dev/x"},
        {"null path", 1, 1, 0x80000, 0x40000, 0x2000, nullptr},
        {"path of 64 characters", 1, 1, 0x80000, 0x40000, 0x2000, tooLong.c_str()},
        {"zero block", 1, 1, 0x80000, 0x40000, 0, "/dev/x"},
        {"negative sizes", 1, 1, -1, -2, -4, "/dev/x"},
        {"area not a multiple of sector", 1, 1, 0x60000, 0x40000, 0x2000, "/dev/x"},
        {"sector not a multiple of block", 1, 1, 0x80000, 0x40000, 0x3000, "/dev/x"},
        {"last byte beyond 32-bit offsets", 1, 4097, 0x80000, 0x40000, 0x2000, "/dev/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        CRomDevice d;
        d.Initialize(c.first, c.last, c.area, c.sector, c.block, c.path);
        ExpectConstructedState(d);
        auto errors = log.texts(LOGLV_ERROR);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind("FAIL to Initialize(", 0), 0u) << errors[0];
        EXPECT_EQ(log.lines()[0].function, "Initialize");
        EXPECT_EQ(log.lines()[0].file, "RomDevice");
    }
}

TEST(DeviceInitialize, FailureLineCarriesEveryArgument) {
    LogCapture log;
    CRomDevice d;
    d.Initialize(3, 2, 0x80000, 0x40000, 0x2000, "/dev/mtd_backup");
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to Initialize(3,2,524288,262144,8192,/dev/mtd_backup)"), 1);
}

TEST(DeviceGeometry, BlocksAndSectorsOfBothTableDevices) {
    CRomDevice first, second;
    romtest::InitializeFromTable(first, 0);
    romtest::InitializeFromTable(second, 1);

    EXPECT_EQ(first.BlockToSector(0), 0);
    EXPECT_EQ(first.BlockToSector(31), 0);
    EXPECT_EQ(first.BlockToSector(32), 1);
    EXPECT_EQ(first.BlockToSector(63), 1);
    EXPECT_EQ(first.NextSector(0), 1);
    EXPECT_EQ(first.NextSector(1), 0);

    EXPECT_EQ(second.BlockToSector(7), 0);
    EXPECT_EQ(second.BlockToSector(8), 1);
    EXPECT_EQ(second.BlockToSector(15), 1);

    LogCapture log;
    EXPECT_EQ(first.BlockToSector(64), -3);
    EXPECT_EQ(first.BlockToSector(-1), -3);
    EXPECT_EQ(second.BlockToSector(16), -3);
    EXPECT_EQ(log.texts(LOGLV_ERROR),
              (std::vector<std::string>{"Invalid argument(64,/dev/mtd_backup)",
                                        "Invalid argument(-1,/dev/mtd_backup)",
                                        "Invalid argument(16,/dev/mtd_backup2)"}));
}

TEST(DeviceGeometry, UninitialisedDeviceRefusesEverythingWithoutDividing) {
    TableFlash flash;
    CRomDevice d;
    EXPECT_EQ(d.BlockToSector(0), -3);
    EXPECT_EQ(d.NextSector(0), 0);
    EXPECT_EQ(d.EraseArea(1, true), -3);
    EXPECT_EQ(flash.node(0).ops().size(), 0u);
}

TEST(DeviceOpenClose, OpenSetsDescriptorAndCloseResetsIt) {
    TableFlash flash;
    CRomDevice d;
    romtest::InitializeFromTable(d, 0);
    LogCapture log;
    ASSERT_EQ(d.DeviceOpen(), 0);
    EXPECT_GE(d.m_iFd, 0);
    EXPECT_EQ(flash.node(0).openCount(), 1);
    EXPECT_EQ(d.DeviceClose(), 0);
    EXPECT_EQ(d.m_iFd, -1);
    EXPECT_EQ(flash.node(0).openCount(), 0);
    EXPECT_EQ(log.texts(LOGLV_DEBUG), (std::vector<std::string>{"Success open device(/dev/mtd_backup)",
                                                                "Success close device(/dev/mtd_backup)"}));
}

TEST(DeviceOpenClose, BusyAndMissingNodes) {
    TableFlash flash;
    CRomDevice d;
    romtest::InitializeFromTable(d, 0);
    LogCapture log;

    flash.node(0).setBusy(true);
    EXPECT_EQ(d.DeviceOpen(), -2);
    EXPECT_EQ(d.m_iFd, -1);
    EXPECT_EQ(log.count(LOGLV_WARNING, "FAIL to open BUSY device(/dev/mtd_backup) "), 1);

    CRomDevice missing;
    missing.Initialize(1, 1, 0x80000, 0x40000, 0x2000, "/nonexistent/romstore-node");
    EXPECT_EQ(missing.DeviceOpen(), -1);
    EXPECT_EQ(missing.m_iFd, -1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to open device(/nonexistent/romstore-node)"), 1);
}

TEST(DeviceOpenClose, CloseOfAnInvalidDescriptorStillCountsAsClosed) {
    CRomDevice d;
    romtest::InitializeFromTable(d, 0);
    int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ::close(fd);
    d.m_iFd = fd;
    LogCapture log;
    EXPECT_EQ(d.DeviceClose(), -1);
    EXPECT_EQ(d.m_iFd, -1);
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Success close device(/dev/mtd_backup)"), 1);
}

TEST(DeviceOpenClose, DestructorClosesOnlyWhatIsOpen) {
    TableFlash flash;
    {
        LogCapture log;
        {
            CRomDevice d;
            romtest::InitializeFromTable(d, 0);
        }
        EXPECT_TRUE(log.lines().empty());
    }
    EXPECT_EQ(flash.node(0).ops().size(), 0u);
    {
        CRomDevice d;
        romtest::InitializeFromTable(d, 0);
        ASSERT_EQ(d.DeviceOpen(), 0);
    }
    EXPECT_EQ(flash.node(0).openCount(), 0);
    EXPECT_EQ(CountOps(flash.node(0), OpKind::Close), 1);
}

class DeviceErase : public ::testing::Test {
protected:
    void SetUp() override {
        romtest::InitializeFromTable(m_dev, 0);
        // Program every byte of areas 2 to 4 so that an erase shows exactly where it landed.
        flash.node(0).fill(kArea, 3 * kArea, 0x00);
        flash.clearOps();
    }
    TableFlash flash;
    CRomDevice m_dev;
};

TEST_F(DeviceErase, AreaIsOneRequestOverTheWholeArea) {
    LogCapture log;
    EXPECT_EQ(m_dev.EraseArea(3, true), 0);
    const auto& ops = flash.node(0).ops();
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0].kind, OpKind::Open);
    EXPECT_EQ(ops[1].kind, OpKind::Erase);
    EXPECT_EQ(ops[1].offset, 0x100000u);
    EXPECT_EQ(ops[1].length, 0x80000u);
    EXPECT_EQ(ops[2].kind, OpKind::Close);
    EXPECT_EQ(flash.node(0).peek(0x100000, kArea), Bytes(kArea, 0xFF));
    EXPECT_EQ(flash.node(0).peek(0x100000 - 1, 1), Bytes(1, 0x00));
    EXPECT_EQ(flash.node(0).peek(0x180000, 1), Bytes(1, 0x00));
    EXPECT_EQ(m_dev.m_iFd, -1);
    // The node is closed before the outcome is logged.
    EXPECT_EQ(log.texts(LOGLV_DEBUG),
              (std::vector<std::string>{"Success open device(/dev/mtd_backup)",
                                        "Success close device(/dev/mtd_backup)",
                                        "Success to Erase area(3, /dev/mtd_backup)"}));

    ASSERT_EQ(m_dev.DeviceOpen(), 0);
    EXPECT_TRUE(m_dev.IsNewDevice(3));
    EXPECT_TRUE(m_dev.IsNewSector(3, 0));
    EXPECT_TRUE(m_dev.IsNewSector(3, 1));
    EXPECT_FALSE(m_dev.IsNewSector(2, 1));
    m_dev.DeviceClose();
}

TEST_F(DeviceErase, AreaOutOfRangeOrBusyTouchesNothing) {
    LogCapture log;
    auto before = flash.snapshot();
    EXPECT_EQ(m_dev.EraseArea(0, true), -3);
    EXPECT_EQ(m_dev.EraseArea(31, true), -3);
    EXPECT_EQ(m_dev.EraseArea(-5, false), -3);
    EXPECT_EQ(flash.node(0).ops().size(), 0u);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid argument(0, /dev/mtd_backup)"), 1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid argument(31, /dev/mtd_backup)"), 1);

    flash.node(0).setBusy(true);
    EXPECT_EQ(m_dev.EraseArea(3, true), -2);
    EXPECT_EQ(CountOps(flash.node(0), OpKind::Erase), 0);
    EXPECT_EQ(flash.snapshot(), before);
}

TEST_F(DeviceErase, FailedAreaRequestIsReportedAfterClosing) {
    flash.node(0).failNext(OpKind::Erase);
    LogCapture log;
    EXPECT_EQ(m_dev.EraseArea(3, true), -1);
    EXPECT_EQ(m_dev.m_iFd, -1);
    EXPECT_EQ(flash.node(0).openCount(), 0);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Fail to Erase area(3, /dev/mtd_backup)"), 1);
    EXPECT_EQ(flash.node(0).peek(0x100000, 1), Bytes(1, 0x00));
}

TEST_F(DeviceErase, AreaOnAnOpenNodeNeitherOpensNorCloses) {
    ASSERT_EQ(m_dev.DeviceOpen(), 0);
    flash.clearOps();
    EXPECT_EQ(m_dev.EraseArea(2, false), 0);
    EXPECT_GE(m_dev.m_iFd, 0);
    ASSERT_EQ(flash.node(0).ops().size(), 1u);
    EXPECT_EQ(flash.node(0).ops()[0].kind, OpKind::Erase);
    EXPECT_EQ(flash.node(0).ops()[0].offset, 0x80000u);
    m_dev.DeviceClose();
}

TEST_F(DeviceErase, SectorIsOneRequestOverOneSector) {
    ASSERT_EQ(m_dev.DeviceOpen(), 0);
    flash.clearOps();
    LogCapture log;
    EXPECT_EQ(m_dev.EraseSectorSystem(3, 1), 0);
    ASSERT_EQ(flash.node(0).ops().size(), 1u);
    EXPECT_EQ(flash.node(0).ops()[0].offset, 0x140000u);
    EXPECT_EQ(flash.node(0).ops()[0].length, 0x40000u);
    EXPECT_EQ(flash.node(0).peek(0x140000, kSector), Bytes(kSector, 0xFF));
    EXPECT_EQ(flash.node(0).peek(0x13FFFF, 1), Bytes(1, 0x00));
    EXPECT_EQ(log.count(LOGLV_DEBUG, "Success to Erase Sector(3, 1, /dev/mtd_backup)"), 1);

    flash.node(0).failNext(OpKind::Erase);
    EXPECT_EQ(m_dev.EraseSectorSystem(3, 0), -1);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Fail to Erase Sector(3, 0, /dev/mtd_backup)"), 1);
    EXPECT_EQ(flash.node(0).peek(0x100000, 1), Bytes(1, 0x00));
    m_dev.DeviceClose();
}

class DeviceProbe : public ::testing::Test {
protected:
    void SetUp() override {
        romtest::InitializeFromTable(m_dev, 0);
        ASSERT_EQ(m_dev.DeviceOpen(), 0);
        flash.clearOps();
    }
    void TearDown() override { m_dev.DeviceClose(); }
    norsim::Node& node() { return flash.node(0); }
    TableFlash flash;
    CRomDevice m_dev;
};

TEST_F(DeviceProbe, BlankAreaReadsEveryHeaderAndNothingElse) {
    EXPECT_TRUE(m_dev.IsNewDevice(2));
    ASSERT_EQ(CountOps(node(), OpKind::Read), 64);
    std::uint32_t expected = kArea;
    for (const norsim::Op& op : node().ops()) {
        if (op.kind != OpKind::Read) continue;
        EXPECT_EQ(op.offset, expected);
        EXPECT_EQ(op.length, 8u);
        expected += kBlock;
    }
}

TEST_F(DeviceProbe, AnyHeaderThatIsNotFreeMakesTheAreaNotBlank) {
    node().poke(kArea, HeaderBytes(0, 0xFFFFFFFF));  // formatted block 0 of area 2
    EXPECT_FALSE(m_dev.IsNewDevice(2));
    EXPECT_EQ(CountOps(node(), OpKind::Read), 64);

    node().clearOps();
    node().poke(2 * kArea + 63 * kBlock, HeaderBytes(0xFFFFFFFF, 0x00001234));  // last block of area 3
    EXPECT_FALSE(m_dev.IsNewDevice(3));
    EXPECT_EQ(CountOps(node(), OpKind::Read), 64);

    node().poke(3 * kArea + 8, Bytes(100, 0x00));  // record bytes only, headers free
    EXPECT_TRUE(m_dev.IsNewDevice(4));
}

TEST_F(DeviceProbe, UnreadableHeaderMakesTheAreaNotBlank) {
    LogCapture log;
    node().shortNext(OpKind::Read, 4);
    EXPECT_FALSE(m_dev.IsNewDevice(2));
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to read Header Data(/dev/mtd_backup)"), 1);

    node().failNext(OpKind::Seek);
    node().clearOps();
    m_dev.IsNewDevice(2);
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to lseek(/dev/mtd_backup)"), 1);
    EXPECT_EQ(CountOps(node(), OpKind::Read), 64);
}

TEST_F(DeviceProbe, SectorIsBlankOnlyWhenEveryByteReadsFF) {
    EXPECT_TRUE(m_dev.IsNewSector(2, 1));
    ASSERT_EQ(CountOps(node(), OpKind::Read), 1);
    for (const norsim::Op& op : node().ops())
        if (op.kind == OpKind::Read) {
            EXPECT_EQ(op.offset, kArea + kSector);
            EXPECT_EQ(op.length, kSector);
        }

    node().poke(kArea + 2 * kSector - 1, Bytes(1, 0xFE));
    EXPECT_FALSE(m_dev.IsNewSector(2, 1));
    EXPECT_TRUE(m_dev.IsNewSector(2, 0));
    node().poke(kArea, Bytes(1, 0x7F));
    EXPECT_FALSE(m_dev.IsNewSector(2, 0));
}

TEST_F(DeviceProbe, ShortOrFailedSectorReadIsNotBlank) {
    LogCapture log;
    node().shortNext(OpKind::Read, kSector - 1);
    EXPECT_FALSE(m_dev.IsNewSector(2, 0));
    node().failNext(OpKind::Read);
    EXPECT_FALSE(m_dev.IsNewSector(2, 0));
    EXPECT_EQ(log.count(LOGLV_ERROR, "FAIL to read Sector Data(/dev/mtd_backup)"), 2);
}

TEST(DeviceLogging, DisabledLevelsChangeNoResultAndNoByte) {
    romtest::ExpectLoggingChangesNothing([](TableFlash& flash) {
        flash.node(0).fill(0, 3 * kArea, 0x5A);
        CRomDevice d;
        romtest::InitializeFromTable(d, 0);
        std::vector<int> results;
        results.push_back(d.EraseArea(2, true));
        results.push_back(d.EraseArea(0, true));
        results.push_back(d.DeviceOpen());
        results.push_back(d.IsNewDevice(1));
        results.push_back(d.IsNewSector(2, 1));
        results.push_back(d.EraseSectorSystem(3, 0));
        results.push_back(d.BlockToSector(99));
        d.DeviceClose();
        return results;
    });
}
