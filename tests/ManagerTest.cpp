// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The manager over the device table: the rows it takes, nodes that are held, busy or missing, the bulk
// operations over masks with their wait for a busy node (on a virtual clock), and the C functions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomDeviceInfo.h"
#include "RomMgr.h"
#include "TableFlash.h"
#include "romstore.h"

using logcap::LogCapture;
using norsim::OpKind;

namespace romtest {
namespace {

// Reads the largest record of an area: true when it is all zero bytes, as an initialisation leaves it.
bool HoldsZeroRecord(CRomMgr& mgr, int area) {
    Bytes out(area <= 30 ? 0x2000 - 8 : 0x10000 - 8, 0x55);
    return mgr.GetData(area, out.data(), static_cast<int>(out.size())) == static_cast<int>(out.size()) &&
           out == Bytes(out.size(), 0x00);
}

}  // namespace

// A device takes a row only when its sizes divide one another and every offset fits 32 signed bits;
// refused, it serves no area. The manager counts rows up to the first without areas.
TEST(DeviceTable, RowsThatDoNotFitAreRefused) {
    const std::string longest(63, 'p'), tooLong(64, 'p');
    const struct {
        int first, last, area, sector, block;
        const char* path;
        bool fits;
    } rows[] = {
        {1, 2, 0x80000, 0x40000, 0x40000, "/x", true},    {1, 1, 0x80000, 0x40000, 0x2000, longest.c_str(), true},
        {1, 4096, 0x80000, 0x40000, 0x2000, "/x", true},  {31, 31, 0x100000, 0x80000, 0x10000, "/x", true},
        {1, 1, 0x40000, 0x40000, 0x2000, "/x", false},    {1, 1, 0x80000, 0x40000, 0x80000, "/x", false},
        {2, 1, 0x80000, 0x40000, 0x2000, "/x", false},    {1, 1, 0x80000, 0x40000, 0x2000, nullptr, false},
        {1, 1, 0x80000, 0x40000, 0x2000, tooLong.c_str(), false}, {1, 1, 0x80000, 0x40000, 0, "/x", false},
        {1, 1, -1, -2, -4, "/x", false},                  {1, 1, 0x60000, 0x40000, 0x2000, "/x", false},
        {1, 1, 0x80000, 0x40000, 0x3000, "/x", false},    {1, 4097, 0x80000, 0x40000, 0x2000, "/x", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.last) + " " + std::to_string(r.area) + " " + std::to_string(r.block));
        LogCapture log;
        CRomDevice d;
        d.Initialize(r.first, r.last, r.area, r.sector, r.block, r.path);
        const int areas = r.fits ? r.last - r.first + 1 : 0;
        EXPECT_EQ(d.EraseArea(areas + 1, true), -3);
        EXPECT_EQ(d.EraseArea(0, true), r.fits ? -3 : -1);  // unset, a device takes area 0 and fails to open ""
        EXPECT_TRUE(!r.fits || d.EraseArea(areas, true) != -3);
        EXPECT_EQ(d.BlockToSector(0), r.fits ? 0 : -3);
        EXPECT_EQ(d.NextSector(0), r.fits ? 1 : 0);  // never a division by no sectors
        // romctl reports a row's geometry from its device: a refused row has none.
        EXPECT_EQ(std::vector<int>({d.m_iAreaSize, d.m_iSectorSize, d.m_iBlockSize}),
                  r.fits ? std::vector<int>({r.area, r.sector, r.block}) : std::vector<int>(3, 0));
        EXPECT_EQ(log.texts(LOGLV_ERROR)[0].rfind("FAIL to Initialize(", 0) == 0, !r.fits);
    }
    const RomDeviceInfo compiled[3] = {g_RomDeviceInfoArray[0], g_RomDeviceInfoArray[1], g_RomDeviceInfoArray[2]};
    std::swap(g_RomDeviceInfoArray[0], g_RomDeviceInfoArray[1]);  // the larger blocks first: one zero record for both
    {
        TableFlash flash;
        CRomMgr mgr;
        int first = 0, last = 0;
        EXPECT_EQ(mgr.GetAreaRange(&first, &last), 0);
        EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 31));
        EXPECT_EQ(mgr.InitializeArea(0x3), 0);
        EXPECT_TRUE(HoldsZeroRecord(mgr, 1) && HoldsZeroRecord(mgr, 2));
    }
    g_RomDeviceInfoArray[0].iAreaNum = 0;
    CRomMgr none;
    int first = 5, last = 6;
    EXPECT_EQ(none.GetAreaRange(&first, &last), -1);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(5, 6));
    EXPECT_EQ(none.EraseArea(-1) | none.InitializeArea(-1), 0);
    std::memcpy(g_RomDeviceInfoArray, compiled, sizeof(compiled));
}

// Another user holds the node, or it is busy, or missing: a record call gives up after one open and
// keeps no descriptor open. A device closes the node it holds when it goes.
TEST(Busy, RecordCallsGiveUpAtOnce) {
    const std::function<int(CRomMgr&, unsigned char*)> calls[] = {
        [](CRomMgr& m, unsigned char* b) { return m.SetData(1, b, 10, true); },
        [](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, 10); },
        [](CRomMgr& m, unsigned char* b) { return m.GetData(1, 0, b, 10); },
        [](CRomMgr& m, unsigned char*) { return m.m_pRomDevice[0].EraseArea(1, true); },
    };
    for (const char* holder : {"locked", "busy", "missing"}) {
        for (const auto& call : calls) {
            SCOPED_TRACE(holder);
            const bool missing = holder[0] == 'm', locked = holder[0] == 'l';
            std::optional<TableFlash> flash;
            if (!missing) flash.emplace();
            CRomMgr mgr;
            const int held = locked ? ::open("/dev/mtd_backup", O_RDWR) : -1;
            EXPECT_EQ(locked ? ::flock(held, LOCK_EX) : 0, 0);
            if (holder[0] == 'b') flash->node(0).setBusy(true);
            LogCapture log;
            Bytes buffer(10);
            EXPECT_EQ(call(mgr, buffer.data()), missing ? -1 : -2);
            EXPECT_EQ(log.texts(missing ? LOGLV_ERROR : LOGLV_WARNING),
                      std::vector<std::string>{missing ? "FAIL to open device(/dev/mtd_backup)"
                                                       : "FAIL to open BUSY device(/dev/mtd_backup) "});
            if (missing) continue;
            EXPECT_EQ(flash->node(0).ops().size(), locked ? 3u : 1u);  // the holder's open, ours and its close
            EXPECT_EQ(flash->node(0).openCount(), locked ? 1 : 0);
            ::close(held);
        }
    }
    TableFlash flash;
    {
        CRomMgr mgr;
        ASSERT_EQ(mgr.m_pRomDevice[0].DeviceOpen(), 0);
        Bytes record(10, 0x11);
        EXPECT_EQ(mgr.SetData(2, record.data(), 10, false), 0);
        EXPECT_EQ(CountOps(flash.node(0), OpKind::Open) + CountOps(flash.node(0), OpKind::Close), 1);
    }
    EXPECT_EQ(flash.node(0).openCount(), 0);
}

// The bulk operations wait out a busy node: a pause of 100 ms before each new attempt, for 10 seconds.
TEST(Busy, BulkOperationsRetryEvery100MsFor10Seconds) {
    const std::uint64_t kPause = 100000000;
    const struct {
        int busyOpens;  // -1: busy for good
        bool initialise, eraseFails;
        int result;
        std::string line;
    } cases[] = {
        {1, false, false, 0, "Retry EraseArea(1,1)"},    {3, false, false, 0, "Retry EraseArea(1,3)"},
        {1, true, false, 0, "Retry SetData(1,1)"},       {1, false, true, 1 << 30, "Retry EraseArea(1,1)"},
        {-1, false, false, 1 << 30, "Retry timeout(1,100)"}, {-1, true, false, 1 << 30, "Retry timeout(1,100)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TableFlash flash;
        norsim::Node& node = flash.node(1);
        node.fill(0, node.size(), 0x00);
        CRomMgr mgr;
        norsim::VirtualClock clock;
        c.busyOpens < 0 ? node.setBusy(true) : node.busyFor(c.busyOpens);
        node.failNext(OpKind::Erase, c.eraseFails ? 1 : 0);
        LogCapture log;
        EXPECT_EQ(c.initialise ? mgr.InitializeArea(1 << 30) : mgr.EraseArea(1 << 30), c.result);
        const int pauses = c.busyOpens < 0 ? 100 : c.busyOpens;
        EXPECT_EQ(clock.slept(), pauses * kPause);
        EXPECT_EQ(CountOps(node, OpKind::Open), 1 + pauses);
        std::vector<std::string> retries;
        for (const logcap::Line& line : log.lines())
            if (line.function.rfind("retry", 0) == 0) retries.push_back(line.text);
        EXPECT_EQ(retries, std::vector<std::string>{c.line});
        node.setBusy(false);
        EXPECT_EQ(c.initialise ? HoldsZeroRecord(mgr, 31) : node.peek(0, 8) == Bytes(8, 0xFF), c.result == 0);
    }
}

// Each C function gives the result of its manager call.
TEST(CStore, EachFunctionGivesTheManagersResult) {
    TableFlash flash;
    unsigned char record[] = {'b', 'a', 'u', 'd', '=', '9', '6', '0', '0'}, back[9] = {};
    int first = 0, last = 0;
    EXPECT_EQ(romstore_area_range(&first, &last), ROMSTORE_OK);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 31));
    EXPECT_EQ(romstore_area_range(nullptr, nullptr), ROMSTORE_FAIL);
    EXPECT_EQ(romstore_write(32, record, 9), ROMSTORE_INVALID_ARG);
    EXPECT_EQ(romstore_write(30, record, 9), ROMSTORE_OK);
    EXPECT_EQ(romstore_write_if_changed(30, record, 9), ROMSTORE_UNCHANGED);
    EXPECT_EQ(romstore_write_if_changed(30, record, 8), ROMSTORE_OK);  // shorter: a changed record
    EXPECT_EQ(romstore_read(30, back, 9), 9);
    EXPECT_EQ(romstore_read_block(30, 1, back + 1, 8), 8);
    EXPECT_EQ(Bytes(back, back + 9), Bytes({'b', 'b', 'a', 'u', 'd', '=', '9', '6', '0'}));
    EXPECT_EQ(romstore_read_block(30, 3, back, 9), ROMSTORE_BAD_BLOCK);
    EXPECT_EQ(romstore_initialize(1 << 29), 0);
    flash.node(1).failNext(OpKind::Program, 100);
    EXPECT_EQ(romstore_initialize(1 << 29 | 1 << 30), 1 << 30);
    flash.node(1).failNext(OpKind::Erase);
    EXPECT_EQ(romstore_erase(1 << 29 | 1 << 30), 1 << 30);
    EXPECT_EQ(flash.node(0).peek(29 * kArea, kArea), Bytes(kArea, 0xFF));
}

}  // namespace romtest
