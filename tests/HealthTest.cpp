// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The health check on hand-built flash: what it reports of each state an area can be in, through the
// C function, and that it changes no byte and programs and erases nothing.
#include <gtest/gtest.h>

#include <functional>

#include "LogCapture.h"
#include "NqLog.h"
#include "Store.h"
#include "romstore.h"

using norsim::OpKind;
using romtest::At;
using romtest::Bytes;

TEST(Health, ReportsEachStateAndChangesNothing) {
    // CRC-16/MODBUS of "version 1" is 0x5523, of "123456789" 0x4B37; uiCrc holds them byte-swapped.
    const Bytes marker = {0, 0, 0, 0}, v1 = {0, 0, 0, 0, 0, 0, 0x23, 0x55, 'v', 'e', 'r', 's', 'i', 'o', 'n', ' ', '1'};
    const Bytes digits = {0, 0, 0, 0, 0, 0, 0x37, 0x4B, '1', '2', '3', '4', '5', '6', '7', '8', '8'};  // last digit wrong
    using Pokes = std::vector<std::pair<std::uint32_t, Bytes>>;
    const std::string headerError = "FAIL to read Header Data(/dev/mtd_backup)";
    const struct {
        const char* what;
        Pokes pokes;
        std::function<void(norsim::Node&)> fault;
        int area, result;
        std::vector<int> health;
        std::vector<std::string> errors;
    } cases[] = {
        {"blank", {}, {}, 3, 0, {0, -1, -1, 0, -1, 0, 0, 0, 0, -1, 0}, {}},
        {"blank with a stray bit", {{At(3, 40) + 100, {0xEF}}}, {}, 3, 0, {0, -1, -1, 0, -1, 0, 0, 0, 0, 1, 0}, {}},
        {"format marker", {{At(3, 0), marker}}, {}, 3, 0, {1, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0}, {}},
        {"record", {{At(3, 0), marker}, {At(3, 1), v1}}, {}, 3, 0, {2, 1, 9, 0, -1, 0, 0, 0, 0, -1, 0}, {}},
        {"newer damaged", {{At(3, 0), marker}, {At(3, 1), v1}, {At(3, 2), digits}, {At(3, 5), digits}}, {}, 3, 0,
         {2, 1, 9, 2, 5, 0, 0, 0, 0, -1, 0}, {}},
        {"older damaged, rejected, unfinished, other",
         {{At(3, 0), digits}, {At(3, 1), v1}, {At(3, 2), {0, 1, 0, 0}}, {At(3, 3), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0}},
          {At(3, 4), {0, 0xFF}}},
         {}, 3, 0, {2, 1, 9, 0, -1, 1, 1, 1, 1, -1, 0}, {}},
        {"stale sector", {{At(3, 0), marker}, {At(3, 32), v1}}, {}, 3, 0, {2, 32, 9, 0, -1, 0, 0, 0, 0, 0, 0}, {}},
        {"no record", {{At(3, 0), digits}}, {}, 3, 0, {3, -1, -1, 1, 0, 0, 0, 0, 0, -1, 0}, {}},
        {"header above unreadable", {{At(3, 0), marker}, {At(3, 1), v1}},
         [](norsim::Node& n) { n.failNext(OpKind::Read, 1, 0, 8, At(3, 9)); }, 3, 0,
         {3, -1, -1, 0, -1, 0, 0, 0, 0, -1, 1}, {headerError}},
        {"record region unreadable", {{At(3, 0), marker}, {At(3, 1), v1}},
         [](norsim::Node& n) { n.failNext(OpKind::Read, 1, 0, 4096, At(3, 1) + 8); }, 3, 0,
         {3, -1, -1, 0, -1, 0, 0, 0, 0, -1, 1}, {}},
        {"header below unreadable", {{At(3, 0), marker}, {At(3, 1), v1}},
         [](norsim::Node& n) { n.failNext(OpKind::Read, 1, 0, 8, At(3, 0)); }, 3, 0,
         {2, 1, 9, 0, -1, 0, 0, 0, 0, -1, 1}, {headerError}},
        {"other sector unreadable", {{At(3, 0), marker}, {At(3, 1), v1}},
         [](norsim::Node& n) { n.failNext(OpKind::Read, 1, 0, romtest::kSector, At(3, 32)); }, 3, 0,
         {2, 1, 9, 0, -1, 0, 0, 0, 0, -1, 1}, {"FAIL to read Sector Data(/dev/mtd_backup)"}},
        {"busy", {}, [](norsim::Node& n) { n.setBusy(true); }, 3, -2, {}, {}},
        {"area out of range", {}, {}, 32, -3, {}, {"Invalid argument(32)"}},
        {"no health", {}, {}, 3, -3, {}, {"Invalid argument(3, /dev/mtd_backup)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        romtest::Store s;
        for (const auto& [at, bytes] : c.pokes) s.node().poke(at, bytes);
        if (c.fault) c.fault(s.node());
        const auto before = s.flash.snapshot();
        s.flash.clearOps();
        logcap::LogCapture log;
        romstore_health health{};
        EXPECT_EQ(romstore_check(c.area, std::string(c.what) == "no health" ? nullptr : &health), c.result);
        const romstore_health& h = health;
        const std::vector<int> fields = {h.state,         h.current_block, h.record_length, h.newer_damaged,
                                         h.newest_damaged, h.older_damaged, h.rejected,      h.unfinished,
                                         h.other,         h.stale_sector,  h.unreadable};
        EXPECT_EQ(c.result == 0 ? fields : std::vector<int>{}, c.health);
        EXPECT_EQ(log.texts(LOGLV_ERROR), c.errors);
        EXPECT_TRUE(s.flash.snapshot() == before);
        for (int n : {0, 1})
            EXPECT_EQ(romtest::CountOps(s.flash.node(n), OpKind::Program) + romtest::CountOps(s.flash.node(n), OpKind::Erase), 0);
    }
}
