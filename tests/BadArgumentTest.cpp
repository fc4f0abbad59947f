// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Every public operation against every kind of bad argument: its result and its one error line, no
// open unless the call must open the node to tell, and flash and the caller's buffer as they were.
#include <gtest/gtest.h>

#include <functional>

#include "LogCapture.h"
#include "NqLog.h"
#include "RomMgr.h"
#include "TableFlash.h"

using norsim::OpKind;
using romtest::Bytes;

TEST(BadArguments, AreRefusedWithOneLineAndLeaveFlashAsItWas) {
    romtest::TableFlash flash;
    CRomMgr mgr;
    Bytes record = romtest::Record(50, 1), buffer(0x10000, 0x5A);
    for (int area : {1, 31}) ASSERT_EQ(mgr.SetData(area, record.data(), 50, true), 0);
    const auto before = flash.snapshot();
    CRomDevice& dev = mgr.m_pRomDevice[0];
    unsigned char* const b = buffer.data();
    const struct {
        std::function<int()> call;
        int result;
        std::string line;  // "function: text"; a bad block is only known once the node is open
    } cases[] = {
        {[&] { return mgr.SetData(0, b, 10, true); }, -3, "SetData: Invalid argument(0)"},
        {[&] { return mgr.SetData(32, b, 10, true); }, -3, "SetData: Invalid argument(32)"},
        {[&] { return mgr.GetData(-1, b, 10); }, -3, "GetData: Invalid argument(-1)"},
        {[&] { return mgr.GetData(32, 0, b, 10); }, -3, "GetData: Invalid argument(32)"},
        {[&] { return mgr.SetData(1, nullptr, 10, true); }, -3, "SetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[&] { return mgr.SetData(1, b, -1, true); }, -3, "SetData: Invalid argument(1, -1, /dev/mtd_backup)"},
        {[&] { return mgr.SetData(30, b, 8185, true); }, -3, "SetData: Invalid argument(30, 8185, /dev/mtd_backup)"},
        {[&] { return mgr.SetData(31, b, 65529, true); }, -3, "SetData: Invalid argument(1, 65529, /dev/mtd_backup2)"},
        {[&] { return mgr.GetData(1, nullptr, 10); }, -3, "GetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, b, -1); }, -3, "GetData: Invalid argument(1, -1, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, b, 8185); }, -3, "GetData: Invalid argument(1, 8185, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, 1, nullptr, 10); }, -3, "GetData: Invalid argument(1, 10, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, 1, b, 8185); }, -3, "GetData: Invalid argument(1, 8185, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, -1, b, 10); }, -4, "GetData: FAIL to access target Blcok(1,-1,/dev/mtd_backup)"},
        {[&] { return mgr.GetData(1, 64, b, 10); }, -4, "GetData: Invalid argument(1, 64, 10, /dev/mtd_backup)"},
        {[&] { return mgr.GetData(31, 16, b, 10); }, -4, "GetData: Invalid argument(1, 16, 10, /dev/mtd_backup2)"},
        {[&] { return mgr.GetAreaRange(nullptr, nullptr); }, -1, "GetAreaRange: Invalid argument"},
        {[&] { return dev.EraseArea(0, true); }, -3, "EraseArea: Invalid argument(0, /dev/mtd_backup)"},
        {[&] { return dev.EraseArea(31, false); }, -3, "EraseArea: Invalid argument(31, /dev/mtd_backup)"},
        {[&] { return dev.BlockToSector(-1); }, -3, "BlockToSector: Invalid argument(-1,/dev/mtd_backup)"},
        {[&] { return dev.BlockToSector(64); }, -3, "BlockToSector: Invalid argument(64,/dev/mtd_backup)"},
        {[&] { return dev.SearchCurrentBlock(nullptr, 1); }, -3, ""},
        {[&] { return dev.SearchNextBlock(nullptr, 1, 0); }, -3, ""},
        {[&] { return dev.CheckCurrentBlock(nullptr, 1, 0); }, -3, ""},
        {[&] { return mgr.retryEraseArea(nullptr, 1); }, -3, ""},
        {[&] { return mgr.retrySetData(nullptr, 1, b, 1); }, -3, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        flash.clearOps();
        logcap::LogCapture log;
        EXPECT_EQ(c.call(), c.result);
        std::vector<std::string> errors;
        for (const logcap::Line& l : log.lines())
            if (l.level == LOGLV_ERROR) errors.push_back(l.function + ": " + l.text);
        EXPECT_EQ(errors, c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line});
        EXPECT_EQ(romtest::CountOps(flash.node(0), OpKind::Open) + romtest::CountOps(flash.node(1), OpKind::Open),
                  c.result == -4 ? 1 : 0);
        EXPECT_EQ(flash.node(0).openCount() + flash.node(1).openCount(), 0);
        EXPECT_TRUE(flash.snapshot() == before);
        EXPECT_EQ(buffer, Bytes(0x10000, 0x5A)) << "the caller's buffer was written";
    }
}
