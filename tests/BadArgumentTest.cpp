// Every public operation against every kind of bad argument: its result, its one log line, whether it
// opens the node at all, and flash and the caller's buffer byte for byte as they were.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomMgr.h"
#include "TableFlash.h"

using norsim::OpKind;
using romtest::Bytes;
using romtest::CountOps;

namespace {

using Call = std::function<int(CRomMgr&, unsigned char*)>;

struct Case {
    Call call;
    int result;
    bool opens;        // the call opens the node before it can tell
    std::string line;  // its error line: "function: text"
};

CRomDevice& First(CRomMgr& m) { return m.m_pRomDevice[0]; }

}  // namespace

TEST(BadArguments, AreRefusedWithOneLineAndLeaveFlashAsItWas) {
    romtest::TableFlash flash;
    CRomMgr mgr;
    for (int area : {1, 31}) {
        Bytes record = romtest::Record(50, static_cast<unsigned>(area));
        ASSERT_EQ(mgr.SetData(area, record.data(), 50, true), 0);
    }
    const auto before = flash.snapshot();
    const Case cases[] = {
        {[](CRomMgr& m, unsigned char* b) { return m.SetData(0, b, 10, true); }, -3, false, "SetData: Invalid argument(0)"},
        {[](CRomMgr& m, unsigned char* b) { return m.SetData(32, b, 10, true); }, -3, false, "SetData: Invalid argument(32)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(-1, b, 10); }, -3, false, "GetData: Invalid argument(-1)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(32, 0, b, 10); }, -3, false, "GetData: Invalid argument(32)"},
        {[](CRomMgr& m, unsigned char*) { return m.SetData(1, nullptr, 10, true); }, -3, false,
         "SetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.SetData(1, b, -1, true); }, -3, false,
         "SetData: Invalid argument(1, -1, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.SetData(30, b, 0x2000 - 7, true); }, -3, false,
         "SetData: Invalid argument(30, 8185, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.SetData(31, b, 0x10000 - 7, true); }, -3, false,
         "SetData: Invalid argument(1, 65529, /dev/mtd_backup2)"},
        {[](CRomMgr& m, unsigned char*) { return m.GetData(1, nullptr, 10); }, -3, false,
         "GetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, -1); }, -3, false,
         "GetData: Invalid argument(1, -1, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(1, b, 0x2000 - 7); }, -3, false,
         "GetData: Invalid argument(1, 8185, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char*) { return m.GetData(1, 1, nullptr, 10); }, -3, false,
         "GetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(1, 1, b, 0x2000 - 7); }, -3, false,
         "GetData: Invalid argument(1, 8185, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(1, -1, b, 10); }, -4, true,
         "GetData: FAIL to access target Blcok(1,-1,/dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(1, 64, b, 10); }, -4, true,
         "GetData: Invalid argument(1, 64, 10, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char* b) { return m.GetData(31, 16, b, 10); }, -4, true,
         "GetData: Invalid argument(1, 16, 10, /dev/mtd_backup2)"},
        {[](CRomMgr& m, unsigned char*) { return m.GetAreaRange(nullptr, nullptr); }, -1, false,
         "GetAreaRange: Invalid argument"},
        {[](CRomMgr& m, unsigned char*) { return First(m).EraseArea(0, true); }, -3, false,
         "EraseArea: Invalid argument(0, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char*) { return First(m).EraseArea(31, false); }, -3, false,
         "EraseArea: Invalid argument(31, /dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char*) { return First(m).BlockToSector(-1); }, -3, false,
         "BlockToSector: Invalid argument(-1,/dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char*) { return First(m).BlockToSector(64); }, -3, false,
         "BlockToSector: Invalid argument(64,/dev/mtd_backup)"},
        {[](CRomMgr& m, unsigned char*) { return First(m).SearchCurrentBlock(nullptr, 1); }, -3, false, ""},
        {[](CRomMgr& m, unsigned char*) { return First(m).SearchNextBlock(nullptr, 1, 0); }, -3, false, ""},
        {[](CRomMgr& m, unsigned char*) { return First(m).CheckCurrentBlock(nullptr, 1, 0); }, -3, false, ""},
        {[](CRomMgr& m, unsigned char*) { return m.retryEraseArea(nullptr, 1); }, -3, false, ""},
        {[](CRomMgr& m, unsigned char* b) { return m.retrySetData(nullptr, 1, b, 1); }, -3, false, ""},
    };
    Bytes buffer(0x10000, 0x5A);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        flash.clearOps();
        logcap::LogCapture log;
        EXPECT_EQ(c.call(mgr, buffer.data()), c.result);
        std::vector<std::string> errors;
        for (const logcap::Line& l : log.lines())
            if (l.level == LOGLV_ERROR) errors.push_back(l.function + ": " + l.text);
        EXPECT_EQ(errors, c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line});
        int opens = 0;
        for (int n : {0, 1}) {
            opens += CountOps(flash.node(n), OpKind::Open);
            EXPECT_EQ(flash.node(n).openCount(), 0);
            EXPECT_EQ(CountOps(flash.node(n), OpKind::Program) + CountOps(flash.node(n), OpKind::Erase), 0);
        }
        EXPECT_EQ(opens, c.opens ? 1 : 0);
        EXPECT_TRUE(flash.snapshot() == before);
        EXPECT_EQ(buffer, Bytes(0x10000, 0x5A)) << "the caller's buffer was written";
    }
}
