// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Every system call of every operation made to fail, once or every time, or to come back short, in
// turn. Each fault is aimed at a call by what it is, its kind, offset and length: the operation gives
// one of its results, a read hands out only bytes of the record held, nothing outside the area is
// touched, and the area still holds the record it held or, once a write returned 0, the new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "RomMgr.h"
#include "TableFlash.h"

using norsim::OpKind;
using romtest::Bytes;
using romtest::Record;
using romtest::kArea;

namespace {

const int kLargest = 0x2000 - 8;
const int kAsked = 100;  // bytes a read asks for

Bytes Padded(Bytes record, std::size_t length = kLargest) {
    record.resize(length, 0xFF);
    return record;
}

enum class Kind { Write, Read, Erase, Init };

struct Scenario {
    std::string name;
    int writesBefore;  // records written into area 1 first; -1 leaves only a rejected block
    Kind kind;
    int block;  // a read of this block, -1 for the current record
};

const Bytes kNew = Record(700, 77);

// Area 1 as the scenario starts, and the record it then holds.
Bytes Prepare(romtest::TableFlash& flash, int writes) {
    CRomMgr mgr;
    if (writes < 0) {
        flash.node(0).poke(9 * 0x2000, Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x55});
        return {};
    }
    Bytes last;
    for (int i = 0; i < writes; ++i) {
        last = Record(static_cast<std::size_t>(10 + i * 97 % 900), static_cast<unsigned>(i));
        EXPECT_EQ(mgr.SetData(1, last.data(), static_cast<int>(last.size()), true), 0);
    }
    // A leftover in the other sector, so that the reads' clean-up erases too.
    if (writes == 40) flash.node(0).poke(100, Bytes{0x00});
    return last;
}

int Operate(const Scenario& s, Bytes& out) {
    CRomMgr mgr;
    Bytes record = kNew;
    out.assign(kAsked, 0xA5);
    switch (s.kind) {
    case Kind::Write: return mgr.SetData(1, record.data(), static_cast<int>(record.size()), true);
    case Kind::Read:
        return s.block < 0 ? mgr.GetData(1, out.data(), kAsked) : mgr.GetData(1, s.block, out.data(), kAsked);
    case Kind::Erase: return mgr.EraseArea(1);
    case Kind::Init: return mgr.InitializeArea(1);
    }
    return INT_MIN;
}

// A fault: the call it is aimed at, and whether it fails once, fails every time, or moves half its bytes;
// `after` calls like it go through first.
struct Fault {
    norsim::Op call;
    enum Mode { Once, Always, Short } mode;
    int after;
};

std::string Describe(const Fault& f) {
    const char* const kinds[] = {"open", "close", "seek", "read", "program", "erase"};
    const char* const modes[] = {"fails once", "fails always", "comes back short"};
    return std::string(kinds[static_cast<int>(f.call.kind)]) + " of " + std::to_string(f.call.length) + " at " +
           std::to_string(f.call.offset) + " " + modes[f.mode] + " after " + std::to_string(f.after) + " like it";
}

// Every distinct call that the operation makes, in every mode it can be faulted in; a call made again
// (the same header read by the scan and by the blank probe, the same seek before a verification and
// before the record's read) fails once at each of its later times too.
std::vector<Fault> Plan(const norsim::Node& node) {
    std::vector<Fault> plan;
    std::map<std::tuple<OpKind, std::uint32_t, std::uint32_t>, int> seen;
    for (const norsim::Op& op : node.ops()) {
        if (op.kind == OpKind::Open || op.kind == OpKind::Close) continue;
        const int before = seen[{op.kind, op.offset, op.length}]++;
        plan.push_back({op, Fault::Once, before});
        if (before > 0) continue;
        plan.push_back({op, Fault::Always, 0});
        if (op.kind == OpKind::Read || op.kind == OpKind::Program) plan.push_back({op, Fault::Short, 0});
    }
    return plan;
}

void Arm(norsim::Node& node, const Fault& f) {
    const std::optional<std::uint32_t> length =
        f.call.kind == OpKind::Seek ? std::nullopt : std::optional<std::uint32_t>(f.call.length);
    if (f.mode == Fault::Short)
        node.shortNext(f.call.kind, f.call.length / 2, 1, 0, length, f.call.offset);
    else
        node.failNext(f.call.kind, f.mode == Fault::Once ? 1 : INT_MAX, f.after, length, f.call.offset);
}

// The fault fell on the call it was aimed at: that call failed, or moved half its bytes.
bool Landed(const norsim::Node& node, const Fault& f) {
    for (const norsim::Op& op : node.ops())
        if (op.kind == f.call.kind && op.offset == f.call.offset && op.length == f.call.length &&
            op.result == (f.mode == Fault::Short ? static_cast<long>(f.call.length / 2) : -1L))
            return true;
    return false;
}

}  // namespace

TEST(FaultSweep, EverySystemCallFailingOrShortLosesNoRecord) {
    const std::vector<Scenario> scenarios = {
        {"first write into a blank area", 0, Kind::Write, -1},
        {"write within the sector", 5, Kind::Write, -1},
        {"write that moves to the other sector", 31, Kind::Write, -1},
        {"write at the wrap", 63, Kind::Write, -1},
        {"write into a damaged area", -1, Kind::Write, -1},
        {"read of the current record", 40, Kind::Read, -1},
        // Right after a move the area holds one committed block: a header that cannot be read must
        // not make it look damaged.
        {"read of the only committed block", 32, Kind::Read, -1},
        {"write over the only committed block", 32, Kind::Write, -1},
        {"read of a named block", 40, Kind::Read, 40},
        {"bulk erase", 40, Kind::Erase, -1},
        {"bulk initialisation", 40, Kind::Init, -1},
    };
    int faults = 0;
    for (const Scenario& s : scenarios) {
        romtest::TableFlash flash;
        norsim::Node& node = flash.node(0);
        const Bytes held = Padded(Prepare(flash, s.writesBefore));
        const Bytes start = node.peek(0, kArea);
        // What the area may hold once the operation returned 0, and what it may hold after a failure.
        const Bytes done = s.kind == Kind::Write ? Padded(kNew)
                           : s.kind == Kind::Erase ? Padded({})
                           : s.kind == Kind::Init ? Bytes(kLargest, 0x00) : held;
        flash.clearOps();
        Bytes out;
        Operate(s, out);
        for (const Fault& f : Plan(node)) {
            SCOPED_TRACE(s.name + ": " + Describe(f));
            ++faults;
            node.poke(0, start);
            flash.clearOps();
            Arm(node, f);
            const int result = Operate(s, out);
            EXPECT_TRUE(Landed(node, f));
            node.heal();

            if (s.kind == Kind::Read) {
                // A failed call fails the read; only a short read hands out fewer bytes, all of them
                // the record's.
                const bool shortRead = f.mode == Fault::Short && f.call.kind == OpKind::Read;
                const bool allowed = result == kAsked || result == -1 || (s.block >= 0 && result == -4) ||
                                     (shortRead && result >= 0 && result < kAsked);
                EXPECT_TRUE(allowed) << "result " << result;
                if (result > 0) {
                    EXPECT_TRUE(std::equal(out.begin(), out.begin() + result, held.begin()));
                }
            } else {
                EXPECT_TRUE(result == 0 || result == (s.kind == Kind::Write ? -1 : 1)) << "result " << result;
            }
            for (const norsim::Op& op : node.ops())
                EXPECT_TRUE((op.kind != OpKind::Program && op.kind != OpKind::Erase) || op.offset + op.length <= kArea);
            EXPECT_TRUE(flash.node(1).ops().empty());
            EXPECT_EQ(node.openCount(), 0);

            CRomMgr after;
            Bytes read(kLargest);
            EXPECT_EQ(after.GetData(1, read.data(), kLargest), kLargest);
            if (result == 0)
                EXPECT_EQ(read, done) << "an acknowledged operation is not what the area holds";
            else
                EXPECT_TRUE(read == held || read == done) << "area 1 lost its record";
        }
    }
    RecordProperty("faults", faults);
    EXPECT_GT(faults, 1000);
}
