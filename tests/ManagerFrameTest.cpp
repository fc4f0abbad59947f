// The manager frame: devices and ranges built from the device table, area numbering, the range query.
#include <gtest/gtest.h>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomDeviceInfo.h"
#include "RomMgr.h"
#include "TableFlash.h"

using logcap::LogCapture;

using romtest::TableOverride;

TEST(ManagerFrame, BuildsTwoDevicesFromTheCompiledInTable) {
    romtest::TableFlash flash;
    {
        CRomMgr mgr;
        ASSERT_EQ(mgr.m_iDeviceNum, 2);
        EXPECT_EQ(mgr.m_pAreaRange[0].iStartArea, 1);
        EXPECT_EQ(mgr.m_pAreaRange[0].iEndArea, 30);
        EXPECT_EQ(mgr.m_pAreaRange[1].iStartArea, 31);
        EXPECT_EQ(mgr.m_pAreaRange[1].iEndArea, 31);

        const CRomDevice& first = mgr.m_pRomDevice[0];
        EXPECT_EQ(first.m_iStartArea, 1);
        EXPECT_EQ(first.m_iEndArea, 30);
        EXPECT_EQ(first.m_iAreaSize, 0x80000);
        EXPECT_EQ(first.m_iSectorSize, 0x40000);
        EXPECT_EQ(first.m_iBlockSize, 0x2000);
        EXPECT_STREQ(first.m_szDevName, "/dev/mtd_backup");
        const CRomDevice& second = mgr.m_pRomDevice[1];
        EXPECT_EQ(second.m_iStartArea, 1);
        EXPECT_EQ(second.m_iEndArea, 1);
        EXPECT_EQ(second.m_iBlockSize, 0x10000);
        EXPECT_STREQ(second.m_szDevName, "/dev/mtd_backup2");
        EXPECT_EQ(first.m_iFd, -1);
        EXPECT_EQ(second.m_iFd, -1);

        int start = 0, end = 0;
        EXPECT_EQ(mgr.GetAreaRange(&start, &end), 0);
        EXPECT_EQ(start, 1);
        EXPECT_EQ(end, 31);
    }
    // Neither construction nor destruction touches a node.
    EXPECT_TRUE(flash.node(0).ops().empty());
    EXPECT_TRUE(flash.node(1).ops().empty());
}

TEST(ManagerFrame, MapsGlobalAreasToDevices) {
    CRomMgr mgr;
    EXPECT_EQ(mgr.areaToDeviceNum(1), 0);
    EXPECT_EQ(mgr.areaToDeviceNum(30), 0);
    EXPECT_EQ(mgr.areaToDeviceNum(31), 1);
    EXPECT_EQ(mgr.areaToDeviceNum(0), -1);
    EXPECT_EQ(mgr.areaToDeviceNum(32), -1);
    EXPECT_EQ(mgr.areaToDeviceNum(-1), -1);
    EXPECT_EQ(mgr.areaToDeviceNum(-2147483647 - 1), -1);
}

TEST(ManagerFrame, RangeQueryRefusesNullPointersAndWritesNothing) {
    CRomMgr mgr;
    LogCapture log;
    int value = 77;
    EXPECT_EQ(mgr.GetAreaRange(nullptr, &value), -1);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(mgr.GetAreaRange(&value, nullptr), -1);
    EXPECT_EQ(value, 77);
    EXPECT_EQ(mgr.GetAreaRange(nullptr, nullptr), -1);
    ASSERT_EQ(log.count(LOGLV_ERROR, "Invalid argument"), 3);
    EXPECT_EQ(log.lines()[0].function, "GetAreaRange");
    EXPECT_EQ(log.lines()[0].file, "RomMgr");
    EXPECT_EQ(log.lines()[0].tag, "RO");
}

TEST(ManagerFrame, TableWithoutDeviceRowsGivesAnEmptyManager) {
    TableOverride restore;
    g_RomDeviceInfoArray[0].iAreaNum = 0;
    CRomMgr mgr;
    EXPECT_EQ(mgr.m_iDeviceNum, 0);
    EXPECT_EQ(mgr.areaToDeviceNum(1), -1);
    LogCapture log;
    int start = 5, end = 6;
    EXPECT_EQ(mgr.GetAreaRange(&start, &end), -1);
    EXPECT_EQ(start, 5);
    EXPECT_EQ(end, 6);
    EXPECT_EQ(log.count(LOGLV_ERROR, "Invalid RomMgr config"), 1);
}

TEST(ManagerFrame, CountingStopsAtTheFirstTerminator) {
    TableOverride restore;
    g_RomDeviceInfoArray[1].iAreaNum = -1;
    g_RomDeviceInfoArray[2] = {4, 0x80000, 0x40000, 0x2000, "/dev/after_terminator"};
    CRomMgr mgr;
    EXPECT_EQ(mgr.m_iDeviceNum, 1);
    EXPECT_EQ(mgr.areaToDeviceNum(31), -1);
}

TEST(ManagerFrame, BadRowStillGetsItsRangeButItsDeviceServesNothing) {
    TableOverride restore;
    g_RomDeviceInfoArray[0].iSectorSize = g_RomDeviceInfoArray[0].iAreaSize;
    LogCapture log;
    CRomMgr mgr;
    EXPECT_EQ(mgr.m_iDeviceNum, 2);
    EXPECT_EQ(mgr.m_pAreaRange[0].iEndArea, 30);
    EXPECT_EQ(mgr.m_pAreaRange[1].iStartArea, 31);
    EXPECT_EQ(mgr.m_pRomDevice[0].m_iEndArea, 0);
    EXPECT_EQ(mgr.m_pRomDevice[1].m_iEndArea, 1);
    EXPECT_EQ(log.texts(LOGLV_ERROR).size(), 1u);
}
