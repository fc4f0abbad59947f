// The manager over the device table: rows it accepts, nodes that are busy or missing, the bulk
// operations over masks and their wait for a busy node on a virtual clock, and the C functions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomDeviceInfo.h"
#include "Store.h"
#include "romstore.h"

using logcap::LogCapture;
using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;
using romtest::Record;
using romtest::TableFlash;

namespace {

// The compiled-in rows, put back when the test that changed them ends.
class TableRows {
public:
    TableRows() { std::memcpy(m_saved, g_RomDeviceInfoArray, sizeof(m_saved)); }
    ~TableRows() { std::memcpy(g_RomDeviceInfoArray, m_saved, sizeof(m_saved)); }

private:
    RomDeviceInfo m_saved[3];
};

// The bytes of a global area of the table.
Bytes AreaBytes(TableFlash& flash, int area) {
    return area <= 30 ? flash.node(0).peek((area - 1) * romtest::kArea, romtest::kArea) : flash.node(1).peek(0, 0x100000);
}

int Largest(int area) { return area <= 30 ? 0x2000 - 8 : 0x10000 - 8; }

}  // namespace

TEST(DeviceTable, RowsThatDoNotFitAreRefusedWithOneLine) {
    const std::string longest(63, 'p'), tooLong(64, 'p');
    const struct {
        int first, last, area, sector, block;
        const char* path;
        bool fits;
    } rows[] = {
        {1, 2, 0x80000, 0x40000, 0x40000, "/dev/x", true},     {1, 1, 0x80000, 0x40000, 0x2000, longest.c_str(), true},
        {1, 4096, 0x80000, 0x40000, 0x2000, "/dev/x", true},   {31, 31, 0x100000, 0x80000, 0x10000, "/dev/x", true},
        {1, 1, 0x40000, 0x40000, 0x2000, "/dev/x", false},     {1, 1, 0x80000, 0x40000, 0x80000, "/dev/x", false},
        {2, 1, 0x80000, 0x40000, 0x2000, "/dev/x", false},     {1, 1, 0x80000, 0x40000, 0x2000, nullptr, false},
        {1, 1, 0x80000, 0x40000, 0x2000, tooLong.c_str(), false}, {1, 1, 0x80000, 0x40000, 0, "/dev/x", false},
        {1, 1, -1, -2, -4, "/dev/x", false},                   {1, 1, 0x60000, 0x40000, 0x2000, "/dev/x", false},
        {1, 1, 0x80000, 0x40000, 0x3000, "/dev/x", false},     {1, 4097, 0x80000, 0x40000, 0x2000, "/dev/x", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.first) + "-" + std::to_string(r.last) + " " + std::to_string(r.block));
        LogCapture log;
        CRomDevice d;
        d.Initialize(r.first, r.last, r.area, r.sector, r.block, r.path);
        const int areas = r.fits ? r.last - r.first + 1 : 0;
        EXPECT_EQ(d.EraseArea(areas + 1, true), -3);
        EXPECT_EQ(d.EraseArea(0, true), r.fits ? -3 : -1);
        if (r.fits) {
            EXPECT_NE(d.EraseArea(areas, true), -3);
        }
        EXPECT_EQ(d.BlockToSector(0), r.fits ? 0 : -3);
        int refusals = 0;
        for (const std::string& e : log.texts(LOGLV_ERROR)) refusals += e.rfind("FAIL to Initialize(", 0) == 0;
        EXPECT_EQ(refusals, r.fits ? 0 : 1);
    }
}

TEST(DeviceTable, ManagerCountsRowsToTheEndAndSizesOneZeroRecordForAll) {
    TableRows restore;
    std::swap(g_RomDeviceInfoArray[0], g_RomDeviceInfoArray[1]);  // the larger blocks come first
    {
        TableFlash flash;
        CRomMgr mgr;
        int first = 0, last = 0;
        ASSERT_EQ(mgr.GetAreaRange(&first, &last), 0);
        EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 31));
        EXPECT_EQ(mgr.InitializeArea(0x3), 0);
        for (int area : {1, 2}) {
            Bytes out(area == 1 ? 0x10000 - 8 : 0x2000 - 8, 0x55);
            EXPECT_EQ(mgr.GetData(area, out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
            EXPECT_EQ(out, Bytes(out.size(), 0x00)) << area;
        }
    }
    g_RomDeviceInfoArray[0].iAreaNum = 0;
    CRomMgr none;
    LogCapture log;
    int first = 5, last = 6;
    EXPECT_EQ(none.GetAreaRange(&first, &last), -1);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(5, 6));
    EXPECT_EQ(none.EraseArea(-1), 0);
    EXPECT_EQ(none.InitializeArea(-1), 0);
    EXPECT_EQ(log.texts(LOGLV_ERROR), std::vector<std::string>{"Invalid RomMgr config"});
}

// Another user holds the node, or it is busy, or missing: a record call gives up after one open and
// leaves no descriptor of its own open.
TEST(Busy, RecordCallsGiveUpAtOnce) {
    const std::function<int(CRomMgr&, unsigned char*)> calls[] = {
        [](CRomMgr& m, unsigned char* b) { return m.SetData(1, b, 10, true); },
        [](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, 10); },
        [](CRomMgr& m, unsigned char* b) { return m.GetData(1, 0, b, 10); },
        [](CRomMgr& m, unsigned char*) { return m.m_pRomDevice[0].EraseArea(1, true); },
    };
    enum Holder { kLocked, kBusy, kMissing };
    for (Holder holder : {kLocked, kBusy, kMissing}) {
        for (const auto& call : calls) {
            SCOPED_TRACE(holder);
            std::optional<TableFlash> flash;
            if (holder != kMissing) flash.emplace();
            CRomMgr mgr;
            const int held = holder == kLocked ? ::open("/dev/mtd_backup", O_RDWR) : -1;
            if (holder == kLocked) {
                ASSERT_EQ(::flock(held, LOCK_EX), 0);
            }
            if (holder == kBusy) flash->node(0).setBusy(true);
            LogCapture log;
            Bytes buffer(10);
            EXPECT_EQ(call(mgr, buffer.data()), holder == kMissing ? -1 : -2);
            if (holder == kMissing) {
                EXPECT_EQ(log.texts(LOGLV_ERROR), std::vector<std::string>{"FAIL to open device(/dev/mtd_backup)"});
                continue;
            }
            EXPECT_EQ(log.texts(LOGLV_WARNING), std::vector<std::string>{"FAIL to open BUSY device(/dev/mtd_backup) "});
            EXPECT_EQ(CountOps(flash->node(0), OpKind::Open), holder == kLocked ? 2 : 1);
            EXPECT_EQ(flash->node(0).openCount(), holder == kLocked ? 1 : 0);
            EXPECT_EQ(flash->node(0).ops().size(), holder == kLocked ? 3u : 1u);
            if (held >= 0) ::close(held);
        }
    }
}

// The bulk operations wait out a busy node: a pause of 100 ms before each new attempt, for 10 seconds.
TEST(Busy, BulkOperationsRetryEvery100MsFor10Seconds) {
    const std::uint64_t kMs = 1000000;
    const struct {
        const char* what;
        int busyOpens;  // -1: busy for good
        bool initialise, eraseFails;
        int result;
        std::string line;
        std::uint64_t slept;
    } cases[] = {
        {"erase, busy once", 1, false, false, 0, "Retry EraseArea(1,1)", 100 * kMs},
        {"erase, busy three times", 3, false, false, 0, "Retry EraseArea(1,3)", 300 * kMs},
        {"initialise, busy once", 1, true, false, 0, "Retry SetData(1,1)", 100 * kMs},
        {"erase, busy once then failing", 1, false, true, 1 << 30, "Retry EraseArea(1,1)", 100 * kMs},
        {"erase, busy for good", -1, false, false, 1 << 30, "Retry timeout(1,100)", 10000 * kMs},
        {"initialise, busy for good", -1, true, false, 1 << 30, "Retry timeout(1,100)", 10000 * kMs},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TableFlash flash;
        norsim::Node& node = flash.node(1);
        if (!c.initialise) node.fill(0, node.size(), 0x00);
        CRomMgr mgr;
        norsim::VirtualClock clock;
        if (c.busyOpens < 0) node.setBusy(true);
        if (c.busyOpens > 0) node.busyFor(c.busyOpens);
        if (c.eraseFails) node.failNext(OpKind::Erase);
        LogCapture log;
        EXPECT_EQ(c.initialise ? mgr.InitializeArea(1 << 30) : mgr.EraseArea(1 << 30), c.result);
        EXPECT_EQ(clock.slept(), c.slept);
        EXPECT_EQ(CountOps(node, OpKind::Open), 1 + static_cast<int>(c.slept / (100 * kMs)));
        std::vector<std::string> retries;
        for (const logcap::Line& line : log.lines())
            if (line.function.rfind("retry", 0) == 0) retries.push_back(line.text);
        EXPECT_EQ(retries, std::vector<std::string>{c.line});
        Bytes out(0x10000 - 8, 0x55);
        if (c.result == 0 && c.initialise) {
            EXPECT_EQ(mgr.GetData(31, out.data(), 0x10000 - 8), 0x10000 - 8);
            EXPECT_EQ(out, Bytes(out.size(), 0x00));
        }
        if (!c.initialise) {
            EXPECT_EQ(node.peek(0, node.size()), Bytes(node.size(), c.result == 0 ? 0xFF : 0x00));
        }
    }
}

TEST(Bulk, MasksSelectAreasAndReportTheOnesThatFailed) {
    const struct {
        const char* what;
        int mask;
        bool initialise;
        int result;
    } cases[] = {
        {"erase of no area", 0, false, 0},        {"initialisation of no area", 0, true, 0},
        {"erase of area 31", 1 << 30, false, 0}, {"initialisation of area 31", 1 << 30, true, 0},
        {"erase of areas 1 to 3, area 2 failing", 0x7, false, 0x2},
        {"erase of every area", -1, false, 0},    {"initialisation of every area", -1, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TableFlash flash;
        const std::uint8_t before = c.initialise ? 0xFF : 0x00;
        for (int n : {0, 1}) flash.node(n).fill(0, flash.node(n).size(), before);
        flash.node(0).failNext(OpKind::Erase, c.result != 0 ? 1 : 0, 0, {}, romtest::kArea);
        CRomMgr mgr;
        EXPECT_EQ(c.initialise ? mgr.InitializeArea(c.mask) : mgr.EraseArea(c.mask), c.result);
        for (int area = 1; area <= 31; ++area) {
            const bool selected = (static_cast<unsigned>(c.mask) >> (area - 1) & 1) != 0;
            const bool done = selected && (c.result >> (area - 1) & 1) == 0;
            if (!done) {
                EXPECT_EQ(AreaBytes(flash, area), Bytes(AreaBytes(flash, area).size(), before)) << area;
            } else if (c.initialise) {
                Bytes out(static_cast<std::size_t>(Largest(area)), 0x55);
                EXPECT_EQ(mgr.GetData(area, out.data(), Largest(area)), Largest(area)) << area;
                EXPECT_EQ(out, Bytes(out.size(), 0x00)) << area;
            } else {
                EXPECT_EQ(AreaBytes(flash, area), Bytes(AreaBytes(flash, area).size(), 0xFF)) << area;
            }
        }
    }
}

TEST(Open, NodeHeldByTheCallerIsNeitherOpenedNorClosedAndItsDeviceClosesItWhenItGoes) {
    TableFlash flash;
    {
        CRomMgr mgr;
        ASSERT_EQ(mgr.m_pRomDevice[0].DeviceOpen(), 0);
        flash.clearOps();
        Bytes record = Record(10, 1);
        EXPECT_EQ(mgr.SetData(2, record.data(), 10, false), 0);
        EXPECT_EQ(CountOps(flash.node(0), OpKind::Open) + CountOps(flash.node(0), OpKind::Close), 0);
        EXPECT_EQ(flash.node(0).openCount(), 1);
    }
    EXPECT_EQ(flash.node(0).openCount(), 0);
}

TEST(CStore, EachFunctionGivesTheManagersResult) {
    TableFlash flash;
    const Bytes record{'b', 'a', 'u', 'd', '=', '9', '6', '0', '0'};
    Bytes back(0x10000, 0x55);
    int first = 0, last = 0;
    const struct {
        const char* what;
        std::function<int()> call;
        int result;
        Bytes read;  // what a read leaves at the start of its buffer
    } steps[] = {
        {"range", [&] { return romstore_area_range(&first, &last); }, ROMSTORE_OK, {}},
        {"range into null", [] { return romstore_area_range(nullptr, nullptr); }, ROMSTORE_FAIL, {}},
        {"write", [&] { return romstore_write(30, record.data(), 9); }, ROMSTORE_OK, {}},
        {"read", [&] { return romstore_read(30, back.data(), 9); }, 9, record},
        {"read of block 1", [&] { return romstore_read_block(30, 1, back.data(), 9); }, 9, record},
        {"read of free block 2", [&] { return romstore_read_block(30, 2, back.data(), 9); }, ROMSTORE_BAD_BLOCK, {}},
        {"write to area 32", [&] { return romstore_write(32, record.data(), 9); }, ROMSTORE_INVALID_ARG, {}},
        {"initialise area 31", [] { return romstore_initialize(1 << 30); }, 0, {}},
        {"read of area 31, block 1", [&] { return romstore_read_block(31, 1, back.data(), 0xFFF8); }, 0xFFF8,
         Bytes(0xFFF8, 0x00)},
        {"erase of areas 30 and 31, 31 failing",
         [&] {
             flash.node(1).failNext(OpKind::Erase);
             return romstore_erase(1 << 29 | 1 << 30);
         },
         1 << 30, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        std::fill(back.begin(), back.end(), 0x55);
        EXPECT_EQ(step.call(), step.result);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<long>(step.read.size())), step.read);
    }
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(1, 31));
    EXPECT_EQ(AreaBytes(flash, 30), Bytes(romtest::kArea, 0xFF));
    EXPECT_EQ(flash.node(1).peek(0x10000 + 8, 4), Bytes(4, 0x00));
}

// The log's levels are asked for and never change what the store does.
TEST(Logging, DisabledLevelsChangeNoResultAndNoByte) {
    std::vector<int> results[2];
    std::vector<Bytes> images[2];
    for (unsigned levels : {0u, 1u}) {
        TableFlash flash;
        LogCapture log(levels == 0 ? 0u : 0xFFu);
        CRomMgr mgr;
        for (int i = 0; i < 40; ++i) {
            Bytes record = Record(static_cast<std::size_t>(i * 150), static_cast<unsigned>(i));
            results[levels].push_back(mgr.SetData(1 + i % 3, record.data(), static_cast<int>(record.size()), true));
        }
        Bytes out(500);
        results[levels].push_back(mgr.GetData(2, out.data(), 500));
        results[levels].push_back(mgr.GetData(2, 3, out.data(), 500));
        results[levels].push_back(mgr.GetData(40, out.data(), 500));
        results[levels].push_back(mgr.InitializeArea(0x40000010));
        results[levels].push_back(mgr.EraseArea(0x2));
        images[levels] = flash.snapshot();
        EXPECT_EQ(log.strayCalls(), 0);
        EXPECT_EQ(log.lines().empty(), levels == 0);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_TRUE(images[0] == images[1]);
}
