// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The power-loss promise, measured: every program and every erase of long workloads is cut in turn,
// and cut again in the first operation after the reboot; the same workloads run on worn flash. Each
// area must then hold the last record whose write returned, or the one being written, byte for byte,
// and take a new record. Every system call of an operation is made to fail, once or every time, or to
// come back short, aimed at by what it is: its kind, offset and length.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "RomDeviceInfo.h"
#include "RomMgr.h"
#include "TableFlash.h"

using norsim::EraseCut;
using norsim::OpKind;
using romtest::Bytes;
using romtest::Record;

namespace {

struct Step {
    enum Kind { Write, Read, Erase, Init } kind;
    int area;  // Write and Read
    Bytes record;
    int mask;  // Erase and Init
};

int Largest(int area) { return area <= 30 ? 0x2000 - 8 : 0x10000 - 8; }

// What a read of the largest record returns for a record: the record, then erased bytes.
Bytes Padded(Bytes record, int area) {
    record.resize(static_cast<std::size_t>(Largest(area)), 0xFF);
    return record;
}

std::vector<int> Touched(const Step& step) {
    if (step.kind == Step::Write) return {step.area};
    std::vector<int> areas;
    for (int bit = 0; bit < 31 && step.kind != Step::Read; ++bit)
        if (step.mask & (1 << bit)) areas.push_back(bit + 1);
    return areas;
}

// What a read may find in each area: the last record whose write returned (confirmed), the records
// being written (pending: the one a cut fell in, one after a nested cut, those of writes that failed),
// and the records it held before (older). An area that holds no record (never written, or erased) or
// whose bulk erase was cut may be left with nothing a read can believe until it is written: its read
// may fail, which loses nothing.
// What a check found; Refused is a new record that could not be written.
enum Verdict { Allowed, Failed, Older, Lost, Wrong, Refused, kVerdicts };

class Expectation {
public:
    using Record = std::shared_ptr<const Bytes>;  // copied with every case: shared, not duplicated

    explicit Expectation(const std::vector<int>& areas) {
        for (int area : areas) m_areas[area] = {std::make_shared<const Bytes>(Padded({}, area)), {}, {}, true};
    }
    void begin(const Step& step) {
        for (int area : Touched(step)) {
            Area& a = m_areas.at(area);
            const Bytes content = step.kind == Step::Init  ? Bytes(static_cast<std::size_t>(Largest(area)), 0x00)
                                  : step.kind == Step::Write ? Padded(step.record, area)
                                                             : Padded({}, area);
            a.pending.push_back(std::make_shared<const Bytes>(content));
            a.mayFail = a.mayFail || step.kind == Step::Erase;
        }
    }
    // The step returned `result`: a write counts when it returned 0, a bulk operation for each area
    // whose bit is clear in the mask of failed areas it returned.
    void end(const Step& step, int result = 0) {
        for (int area : Touched(step)) {
            if (step.kind == Step::Write ? result != 0 : (result & (1 << (area - 1))) != 0) continue;
            Area& a = m_areas.at(area);
            a.older.push_back(a.confirmed);
            a.confirmed = a.pending.back();
            a.older.insert(a.older.end(), a.pending.begin(), a.pending.end() - 1);
            a.pending.clear();
            a.mayFail = step.kind == Step::Erase;
        }
    }
    // A read cut short by a fault is judged by the bytes that it returned.
    Verdict judge(int area, int result, const Bytes& read, bool cutShort = false) const {
        const Area& a = m_areas.at(area);
        const auto has = [&](const Record& r) { return std::equal(read.begin(), read.begin() + result, r->begin()); };
        const auto holds = [&](const std::vector<Record>& rs) { return std::any_of(rs.begin(), rs.end(), has); };
        if (result == -1) return a.mayFail ? Failed : Lost;
        if (result < 0 || result > Largest(area) || (result != Largest(area) && !cutShort)) return Wrong;
        if (has(a.confirmed) || holds(a.pending)) return Allowed;
        return holds(a.older) ? Older : Wrong;
    }

private:
    struct Area {
        Record confirmed;
        std::vector<Record> pending, older;
        bool mayFail;
    };
    std::map<int, Area> m_areas;
};

struct Workload {
    std::string name;
    std::vector<int> areas;
    std::vector<Step> steps;
};

std::vector<Workload> Workloads() {
    const int firstLengths[] = {0, 1, 7, 100, 1000, 4097, 8183, 8184};
    Workload first{"first node, area 1: 140 writes and reads", {1}, {}};
    for (int i = 0; i < 140; ++i) {
        first.steps.push_back({Step::Write, 1, Record(static_cast<std::size_t>(firstLengths[i % 8]), i), 0});
        if (i % 5 == 4) first.steps.push_back({Step::Read, 1, {}, 0});
    }
    const int secondLengths[] = {65528, 0, 5, 30000};
    Workload second{"second node, area 31: 40 writes and reads", {31}, {}};
    for (int i = 0; i < 40; ++i) {
        second.steps.push_back({Step::Write, 31, Record(static_cast<std::size_t>(secondLengths[i % 4]), i), 0});
        if (i % 3 == 2) second.steps.push_back({Step::Read, 31, {}, 0});
    }
    Workload bulk{"first node, areas 2 to 4: bulk initialise and erase between writes", {2, 3, 4}, {}};
    bulk.steps = {{Step::Init, 0, {}, 0x7 << 1},      {Step::Write, 2, Record(300, 50), 0},
                  {Step::Write, 3, Record(300, 51), 0}, {Step::Write, 4, Record(300, 52), 0},
                  {Step::Erase, 0, {}, 0x5 << 1},      {Step::Write, 3, Record(20, 60), 0},
                  {Step::Init, 0, {}, 0x3 << 1},       {Step::Erase, 0, {}, 0x7 << 1}};
    return {first, second, bulk};
}

// Runs one step through a view of the store, as a host would. A read asks for the largest record and
// gives 0 when it got all of it; given `read`, it gives its count and leaves its bytes there instead.
int RunStep(CRomMgr& mgr, const Step& step, Bytes* read = nullptr) {
    Bytes buffer;
    Bytes& into = read != nullptr ? *read : buffer;
    into.assign(static_cast<std::size_t>(Largest(step.area > 0 ? step.area : 1)), 0xA5);
    // An empty record still needs a buffer: the store refuses a null one.
    Bytes record(step.record.size() + 1);
    std::copy(step.record.begin(), step.record.end(), record.begin());
    switch (step.kind) {
    case Step::Write: return mgr.SetData(step.area, record.data(), static_cast<int>(step.record.size()), true);
    case Step::Read: {
        const int count = mgr.GetData(step.area, into.data(), static_cast<int>(into.size()));
        return read != nullptr ? count : count == Largest(step.area) ? 0 : -1;
    }
    case Step::Erase: return mgr.EraseArea(step.mask);
    case Step::Init: return mgr.InitializeArea(step.mask);
    }
    return -1;
}

// Where an area lies: the node that holds it (the first holds areas 1 to 30, the second area 31) and
// its bytes on that node.
struct AreaSpan {
    int device;
    std::uint32_t offset, size;
};

std::uint32_t BlockOf(int device) { return device == 0 ? romtest::kBlock : 0x10000; }

AreaSpan SpanOf(int area) {
    return area <= 30 ? AreaSpan{0, (area - 1) * romtest::kArea, romtest::kArea} : AreaSpan{1, 0, 0x100000};
}

std::vector<Bytes> AreaBytes(romtest::TableFlash& flash, const std::vector<int>& areas) {
    std::vector<Bytes> bytes;
    for (int area : areas)
        bytes.push_back(flash.node(SpanOf(area).device).peek(SpanOf(area).offset, SpanOf(area).size));
    return bytes;
}

void Restore(romtest::TableFlash& flash, const std::vector<int>& areas, const std::vector<Bytes>& bytes) {
    for (std::size_t i = 0; i < areas.size(); ++i)
        flash.node(SpanOf(areas[i]).device).poke(SpanOf(areas[i]).offset, bytes[i]);
    flash.clearOps();
}

// The programs and erases in the nodes' logs. A workload keeps to one node, so this is their order.
std::vector<norsim::Op> FlashOps(romtest::TableFlash& flash) {
    std::vector<norsim::Op> ops;
    for (int device = 0; device < 2; ++device)
        for (const norsim::Op& op : flash.node(device).ops())
            if (op.kind == OpKind::Program || op.kind == OpKind::Erase) ops.push_back(op);
    return ops;
}

// The workload run once without a fault. The store keeps nothing between calls but what is on flash,
// so a case that starts in step k is replayed from the bytes its areas held before step k instead of
// from the start: the same calls on the same bytes, in a fraction of the time.
struct CleanRun {
    std::vector<norsim::Op> ops;
    std::vector<std::size_t> firstOp;       // per step: the index in `ops` of its first operation
    std::vector<std::vector<Bytes>> areas;  // per step: the bytes of each workload area before it
    std::vector<Expectation> expected;      // per step: what the areas may hold before it

    explicit CleanRun(const Workload& w) {
        romtest::TableFlash flash;
        norsim::Flash::instance().powerOn();
        CRomMgr mgr;
        Expectation expect(w.areas);
        for (const Step& step : w.steps) {
            firstOp.push_back(norsim::Flash::instance().flashOperations());
            areas.push_back(AreaBytes(flash, w.areas));
            expected.push_back(expect);
            expect.begin(step);
            EXPECT_EQ(RunStep(mgr, step), 0);
            expect.end(step);
        }
        ops = FlashOps(flash);
    }
    std::size_t stepOf(std::size_t op) const {
        return static_cast<std::size_t>(std::upper_bound(firstOp.begin(), firstOp.end(), op) - firstOp.begin()) - 1;
    }
};

// A cut of one flash operation, and the model it stands for.
struct Cut {
    std::string model, detail;
    norsim::PowerCut power;
};

// Every cut of an operation: a program at every byte of a header word and at the start, the first word,
// the middle and the last byte of a record; an erase in every model (the random ones with three seeds),
// stray bits one to a block of `block` bytes.
std::vector<Cut> CutsOf(const norsim::Op& op, std::uint32_t block) {
    std::vector<Cut> cuts;
    if (op.kind == OpKind::Program) {
        std::vector<std::uint32_t> points = {0, 4, op.length / 2, op.length - 1};
        if (op.length <= 4) points.assign({0, 1, 2, 3});
        for (std::uint32_t j : points)
            if (j == 0 || j < op.length) cuts.push_back({"program cut at byte j", "at byte " + std::to_string(j), {1, j}});
        return cuts;
    }
    const std::pair<EraseCut, const char*> models[] = {
        {EraseCut::Untouched, "untouched"}, {EraseCut::Completed, "completed"},
        {EraseCut::Zeroed, "pre-programmed to 0x00"}, {EraseCut::Mixed, "random mix"},
        {EraseCut::AlmostErased, "almost erased"}};
    for (const auto& [erase, name] : models) {
        const bool seeded = erase == EraseCut::Mixed || erase == EraseCut::AlmostErased;
        for (std::uint32_t seed = 1; seed <= (seeded ? 3u : 1u); ++seed)
            cuts.push_back({std::string("erase cut, ") + name,
                            "(erase cut, " + std::string(name) + ", seed " + std::to_string(seed) + ")",
                            {1, 0, erase, seed, block}});
    }
    return cuts;
}

std::string Describe(std::size_t op, const Cut& cut) {
    return (cut.model[0] == 'p' ? "program " : "erase ") + std::to_string(op + 1) + " cut " + cut.detail;
}

// Whether the cut armed fell on `op` and left the bytes its model says: a program only its first
// bytes, an erase its range as it was, 0xFF, 0x00, a mix with 0x00 in it, or 0xFF but for one 0 bit in
// each block past its header.
bool FellAsModelled(const norsim::Op& op, const norsim::PowerCut& cut, romtest::TableFlash& flash, int device) {
    norsim::Flash& power = norsim::Flash::instance();
    const std::optional<norsim::FallenCut> fallen = power.fallenCut();
    if (!power.powerLost() || power.flashOperations() != cut.at || !fallen || fallen->op.kind != op.kind ||
        fallen->op.offset != op.offset || fallen->op.length != op.length)
        return false;
    const Bytes now = flash.node(device).peek(op.offset, op.length);
    const Bytes& before = fallen->before;
    const auto count = [&now](std::uint8_t value) { return std::count(now.begin(), now.end(), value); };
    const long all = static_cast<long>(now.size());
    if (op.kind == OpKind::Program) {
        for (std::size_t i = 0; i < now.size(); ++i)
            if (i < cut.programBytes ? (now[i] & ~before[i]) != 0 : now[i] != before[i]) return false;
        return true;
    }
    switch (cut.erase) {
    case EraseCut::Untouched: return now == before;
    case EraseCut::Completed: return count(0xFF) == all;
    case EraseCut::Zeroed: return count(0x00) == all;
    case EraseCut::Mixed: return count(0x00) > all / 8;
    case EraseCut::AlmostErased:
        for (auto first = now.begin(); first != now.end(); first += cut.strayStride) {
            int cleared = 0;
            for (auto byte = first; byte != first + cut.strayStride; ++byte) cleared += 8 - __builtin_popcount(*byte);
            if (cleared != 1 || std::count(first, first + 8, 0xFF) != 8) return false;
        }
        return true;
    }
    return false;
}

// What the checks after a reboot found: the first example of each verdict.
struct Outcome {
    std::string found[kVerdicts];
    void note(Verdict v, const std::string& text) {
        if (v != Allowed && found[v].empty()) found[v] = text;
    }
};

// The first operation after a reboot: a read of every area, each judged; or a write of a new record
// to each area, read back. It stops where the power fails; the expectation follows the writes.
enum class Phase { Reads, Writes };

void RunPhase(Phase phase, const Workload& w, unsigned seed, Expectation& expect, Outcome& out) {
    CRomMgr mgr;
    for (int area : w.areas) {
        std::string text = "area " + std::to_string(area);
        int result = 0;
        if (phase == Phase::Writes) {
            const Step step{Step::Write, area, Record(static_cast<std::size_t>(Largest(area) / 3), seed + area), 0};
            expect.begin(step);
            result = RunStep(mgr, step);
            if (norsim::Flash::instance().powerLost()) return;
            expect.end(step, result);
            text += " took a new record: " + std::to_string(result) + ", and";
        }
        Bytes read(static_cast<std::size_t>(Largest(area)));
        const int back = mgr.GetData(area, read.data(), static_cast<int>(read.size()));
        if (norsim::Flash::instance().powerLost()) return;
        // An acknowledged write that reads back an older record rolled it back.
        const Verdict v = expect.judge(area, back, read);
        out.note(result != 0 ? Refused : phase == Phase::Writes && v == Older ? Wrong : v,
                 text + " read " + std::to_string(back));
    }
}

// From the bytes `after` a reboot: every area read; then, from the same bytes again, a new record
// written to each area and read back. The flash operations of each, for a nested cut to fall on.
std::vector<std::vector<norsim::Op>> CheckFrom(const std::vector<Bytes>& after, const Workload& w,
                                               romtest::TableFlash& flash, const Expectation& expect, Outcome& out) {
    std::vector<std::vector<norsim::Op>> ops;
    for (Phase phase : {Phase::Reads, Phase::Writes}) {
        Restore(flash, w.areas, after);
        Expectation e = expect;
        RunPhase(phase, w, 999u, e, out);
        ops.push_back(FlashOps(flash));
    }
    return ops;
}

// Whether the node's log holds a call of `kind` over `offset` that failed, or that did not.
bool Met(const norsim::Node& node, OpKind kind, std::uint32_t offset, bool failed) {
    const std::vector<norsim::Op>& ops = node.ops();
    return std::any_of(ops.begin(), ops.end(), [&](const norsim::Op& op) {
        return op.kind == kind && offset >= op.offset && (offset == op.offset || offset - op.offset < op.length) &&
               (op.result < 0) == failed;
    });
}

// Runs the workload from step `first` until the power fails; the expectation follows it.
void Replay(const Workload& w, std::size_t first, Expectation& expect) {
    CRomMgr mgr;
    for (std::size_t s = first; s < w.steps.size(); ++s) {
        expect.begin(w.steps[s]);
        const int result = RunStep(mgr, w.steps[s]);
        if (norsim::Flash::instance().powerLost()) return;
        EXPECT_EQ(result, 0) << "before the cut";
        expect.end(w.steps[s]);
    }
}

// A workload on the simulated flash, and the one node that it keeps to.
struct OnFlash {
    const Workload& w;
    romtest::TableFlash& flash;
    int device;

    std::uint32_t block() const { return BlockOf(device); }
    std::uint32_t sector() const { return device == 0 ? romtest::kSector : 0x80000; }
    // From the areas' `bytes`, `run` with the power cut at its operation `at`, which must fall on `op`
    // and leave what the model says; then the power comes back, and the bytes the cut left.
    std::vector<Bytes> cut(const std::vector<Bytes>& bytes, const norsim::Op& op, Cut cut, std::uint64_t at,
                           const std::string& where, const std::function<void()>& run) const {
        Restore(flash, w.areas, bytes);
        cut.power.at = at;
        norsim::Flash::instance().cutPower(cut.power);
        run();
        EXPECT_TRUE(FellAsModelled(op, cut.power, flash, device)) << where;
        norsim::Flash::instance().powerOn();
        return AreaBytes(flash, w.areas);
    }
};

// A power cut may fail a read of an area that held no record to lose, but never lose, garble or refuse;
// worn flash may refuse writes, but never lose or roll back a record.
const int kCutGate = 1 << Lost | 1 << Wrong | 1 << Refused;
const int kWornGate = 1 << Lost | 1 << Wrong | 1 << Older;

class PowerCut : public ::testing::Test {
protected:
    // Per model: the cases (in the column of Allowed), and how many found each verdict.
    using Tally = std::array<int, kVerdicts>;

    static void TearDownTestSuite() {
        printf("\n%-58s %7s %5s %6s %6s %8s %12s\n", "model", "cases", "lost", "wrong", "older", "refused",
               "read failed");
        for (const auto& [model, t] : s_tallies)
            printf("%-58s %7d %5d %6d %6d %8d %12d\n", model.c_str(), t[Allowed], t[Lost], t[Wrong], t[Older],
                   t[Refused], t[Failed]);
    }
    // Counts a case of `model`; a verdict of the gate fails the test, with the case and its example.
    static void count(const std::string& model, const std::string& where, const Outcome& out, int gate) {
        Tally& t = s_tallies[model];
        ++t[Allowed];
        for (int v = Failed; v < kVerdicts; ++v) {
            t[v] += !out.found[v].empty();
            EXPECT_TRUE(out.found[v].empty() || (gate >> v & 1) == 0) << where << ": " << out.found[v];
        }
    }
    static int cases(const std::string& model) { return s_tallies[model][Allowed]; }

    // Cuts every program and erase of every workload in each of its models, replaying from the step it
    // falls in, and checks after the reboot. After every erase cut, and after each program cut that
    // keeps all but its last byte (an earlier byte leaves the block nearer to what the program before it
    // left, so these stand for it), each operation of those checks is cut in turn. Each `half` takes
    // every other operation, so that ctest runs the halves side by side.
    void sweep(std::size_t half) {
        for (const Workload& w : Workloads()) {
            const CleanRun clean(w);
            romtest::TableFlash flash;
            const OnFlash node{w, flash, SpanOf(w.areas.front()).device};
            for (std::size_t i = half; i < clean.ops.size(); i += 2) {
                for (const Cut& cut : CutsOf(clean.ops[i], node.block())) {
                    const std::size_t first = clean.stepOf(i);
                    Expectation expect = clean.expected[first];
                    const std::string where = w.name + ": " + Describe(i, cut);
                    const auto after = node.cut(clean.areas[first], clean.ops[i], cut, i - clean.firstOp[first] + 1,
                                                where, [&] { Replay(w, first, expect); });
                    Outcome out;
                    const auto checks = CheckFrom(after, w, flash, expect, out);
                    count(cut.model, where, out, kCutGate);
                    if (clean.ops[i].kind == OpKind::Erase || cut.power.programBytes + 1 == clean.ops[i].length)
                        nest(node, after, checks, expect, where);
                }
            }
        }
        EXPECT_GT(cases("program cut at byte j"), 500);
        for (const char* model : {"untouched", "completed", "pre-programmed to 0x00", "random mix", "almost erased"})
            EXPECT_GT(cases(std::string("erase cut, ") + model), 2) << model;
        EXPECT_GT(cases("nested in the writes: program cut at byte j"), 2500);
    }

    // Cuts each operation of the checks made from the bytes `after`, and checks after the reboot again.
    void nest(const OnFlash& node, const std::vector<Bytes>& after, const std::vector<std::vector<norsim::Op>>& checks,
              const Expectation& expect, const std::string& where) {
        for (Phase phase : {Phase::Reads, Phase::Writes}) {
            const std::vector<norsim::Op>& ops = checks[phase == Phase::Writes];
            const std::string in = phase == Phase::Reads ? "nested in the reads: " : "nested in the writes: ";
            for (std::size_t k = 0; k < ops.size(); ++k) {
                for (const Cut& cut : CutsOf(ops[k], node.block())) {
                    Expectation nested = expect;
                    Outcome out;
                    const std::string case_ = where + ", then " + Describe(k, cut);
                    CheckFrom(node.cut(after, ops[k], cut, k + 1, case_,
                                       [&] { RunPhase(phase, node.w, 555u, nested, out); }),
                              node.w, node.flash, nested, out);
                    count(in + cut.model, case_, out, kCutGate);
                }
            }
        }
    }

    // A worn-flash case: `arm` wears the node before step `first`; the workload runs on from there for
    // `steps` steps (to its end when 0), every area read after each step, and after a reboot every
    // area is read and written anew. The wear must meet a call of `kind` over `offset` that failed or
    // not, as `fails` says.
    void worn(const std::string& model, const OnFlash& on, const CleanRun& clean, std::size_t first, std::size_t steps,
              const std::function<void(norsim::Node&)>& arm, OpKind kind, std::uint32_t offset, bool fails,
              const std::string& where) {
        const Workload& w = on.w;
        norsim::Node& node = on.flash.node(on.device);
        node.heal();
        Restore(on.flash, w.areas, clean.areas[first]);
        arm(node);
        Expectation expect = clean.expected[first];
        Outcome outcome;
        CRomMgr mgr;
        for (std::size_t s = first; s < (steps == 0 ? w.steps.size() : std::min(w.steps.size(), first + steps)); ++s) {
            expect.begin(w.steps[s]);
            expect.end(w.steps[s], RunStep(mgr, w.steps[s]));
            RunPhase(Phase::Reads, w, 0, expect, outcome);
        }
        RunPhase(Phase::Writes, w, 999u, expect, outcome);
        EXPECT_TRUE(Met(node, kind, offset, fails)) << where;
        count(model, where, outcome, kWornGate);
    }

    static std::map<std::string, Tally> s_tallies;
};

std::map<std::string, PowerCut::Tally> PowerCut::s_tallies;

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
    return std::any_of(node.ops().begin(), node.ops().end(), [&f](const norsim::Op& op) {
        return op.kind == f.call.kind && op.offset == f.call.offset && op.length == f.call.length &&
               op.result == (f.mode == Fault::Short ? static_cast<long>(f.call.length / 2) : -1L);
    });
}

}  // namespace

TEST_F(PowerCut, EveryCutOfTheEvenOperationsAndOfTheChecksAfterItLosesNothing) { sweep(0); }
TEST_F(PowerCut, EveryCutOfTheOddOperationsAndOfTheChecksAfterItLosesNothing) { sweep(1); }

// Worn flash: a sector that stops erasing for good, erases that leave stray 0 bits, a program that
// fails with EIO after none, half or all of its bytes, and a bit stuck at 1 that a program reports as
// stored. Writes may fail; no area may lose or roll back its last acknowledged record.
TEST_F(PowerCut, WornFlashNeverLosesAnAcknowledgedRecord) {
    for (const Workload& w : Workloads()) {
        const CleanRun clean(w);
        romtest::TableFlash flash;
        const OnFlash on{w, flash, SpanOf(w.areas.front()).device};
        const std::uint32_t block = on.block(), sector = on.sector();
        std::set<std::pair<std::size_t, std::uint32_t>> erased;
        std::set<std::uint32_t> blocks;
        for (std::size_t i = 0; i < clean.ops.size(); ++i) {
            const norsim::Op op = clean.ops[i];
            const std::size_t step = clean.stepOf(i);
            const std::string where =
                w.name + ": " + (op.kind == OpKind::Erase ? "erase " : "program ") + std::to_string(i + 1);
            if (op.kind == OpKind::Program) {
                for (std::uint32_t stored : {0u, op.length / 2, op.length})
                    worn("worn: program fails after none, half or all of its bytes", on, clean, step, 3,
                         [&](norsim::Node& n) { n.failProgram(op.offset, op.length, stored); }, OpKind::Program,
                         op.offset, true, where + ", " + std::to_string(stored) + " bytes stored");
                // The blocks that a record is written into first or last in their sector, or second.
                const std::uint32_t inSector = (op.offset - 4) % sector;
                if (op.length == 4 && op.offset % block == 4 && (inSector <= block || inSector == sector - block))
                    blocks.insert(op.offset - 4);
                continue;
            }
            // Each sector that a step erases wears out in that step, or leaves stray bits in the status
            // word, the checksum word and the record of three of its blocks.
            if (!erased.insert({step, op.offset}).second) continue;
            worn("worn: a sector stops erasing", on, clean, step, 0, [&](norsim::Node& n) { n.wearOut(op.offset); },
                 OpKind::Erase, op.offset, true, where);
            const std::uint32_t strays[] = {op.offset + 1, op.offset + block + 6, op.offset + sector - block + 100};
            worn("worn: erases leave stray 0 bits", on, clean, step, 0,
                 [&](norsim::Node& n) { for (std::uint32_t at : strays) n.stick(at, 0x10, false); }, OpKind::Erase,
                 op.offset, false, where);
        }
        // A bit stuck at 1 from the start in the status word, the checksum word or the first record byte.
        for (std::uint32_t at : blocks)
            for (std::uint32_t cell : {at + 3, at + 4, at + 8})
                worn("worn: a bit stuck at 1", on, clean, 0, 0, [&](norsim::Node& n) { n.stick(cell, 0x04, true); },
                     OpKind::Program, cell, false, w.name + ": byte " + std::to_string(cell));
    }
    for (const auto& [model, t] : s_tallies) EXPECT_TRUE(model.rfind("worn", 0) != 0 || t[Allowed] > 10) << model;
}

// One bit flipped after each write of each workload but the last step: in the record, its checksum
// word, the block below it, or the erased byte after the record. The reads are counted, not judged;
// the health check must report every read that failed or returned an older record.
TEST_F(PowerCut, BitFlipsAreCountedAndTheCheckReportsEveryOlderOrFailedRead) {
    const char* const places[] = {"the current record", "its checksum word", "an older block",
                                  "the erased byte after the record"};
    int counts[4][kVerdicts + 1] = {};  // per verdict of the read, then the cases that the check reported
    for (const Workload& w : Workloads()) {
        const CleanRun clean(w);
        romtest::TableFlash flash;
        const OnFlash on{w, flash, SpanOf(w.areas.front()).device};
        const std::uint32_t block = on.block(), sector = on.sector();
        norsim::Node& node = flash.node(on.device);
        for (std::size_t s = 0; s + 1 < w.steps.size(); ++s) {
            if (w.steps[s].kind != Step::Write) continue;
            std::uint32_t at = 0;  // the block that the write committed: its last program of a status word
            for (std::size_t i = clean.firstOp[s]; i < clean.firstOp[s + 1]; ++i)
                if (clean.ops[i].kind == OpKind::Program && clean.ops[i].length == 4 && clean.ops[i].offset % block == 0)
                    at = clean.ops[i].offset;
            const auto length = static_cast<std::uint32_t>(w.steps[s].record.size());
            const std::uint32_t flips[] = {length > 0 ? at + 8 : 0, at + 7, at % sector != 0 ? at - block + 8 : 0,
                                           length + 8 < block ? at + 8 + length : 0};
            for (int p = 0; p < 4; ++p) {
                if (flips[p] == 0) continue;
                Restore(flash, w.areas, clean.areas[s + 1]);
                node.poke(flips[p], {static_cast<std::uint8_t>(node.peek(flips[p], 1)[0] ^ 1)});
                CRomMgr mgr;
                romstore_health health{};
                EXPECT_TRUE(mgr.CheckHealth(w.steps[s].area, &health) == 0 && health.unreadable == 0);
                Bytes read(static_cast<std::size_t>(Largest(w.steps[s].area)));
                const int result = mgr.GetData(w.steps[s].area, read.data(), static_cast<int>(read.size()));
                const Verdict v = clean.expected[s + 1].judge(w.steps[s].area, result, read);
                const bool reported = health.newer_damaged > 0 || health.state == ROMSTORE_AREA_NO_RECORD;
                ++counts[p][v], counts[p][kVerdicts] += reported;
                EXPECT_TRUE(reported || v == Allowed || v == Wrong) << w.name << ", step " << s << ": " << places[p];
            }
        }
    }
    printf("\n%-34s %6s %6s %7s %7s %6s %18s\n", "bit flipped in", "cases", "right", "failed", "older", "wrong",
           "reported by check");
    for (const auto& c : counts)  // a read that fails where the area holds a record is counted as failed
        printf("%-34s %6d %6d %7d %7d %6d %18d\n", places[&c - counts], std::accumulate(c, c + kVerdicts, 0),
               c[Allowed], c[Failed] + c[Lost], c[Older], c[Wrong], c[kVerdicts]);
}

// Every system call of each step that formats an area or erases, and of the step after it, in every
// workload, made to fail once or every time, or to come back short, in turn: the step gives one of its
// results, a read hands out only bytes of a record that the area may hold, nothing outside the areas is
// programmed or erased, no descriptor stays open, and every area then reads as after a power cut.
TEST(FaultSweep, EverySystemCallFailingOrShortLosesNoRecord) {
    int faults = 0;
    for (const Workload& w : Workloads()) {
        const CleanRun clean(w);
        romtest::TableFlash flash;
        const int device = SpanOf(w.areas.front()).device;
        norsim::Node& node = flash.node(device);
        std::set<std::size_t> faulted = {0};  // the steps that format or erase, and the steps after them
        for (std::size_t i = 0; i < clean.ops.size(); ++i)
            if (clean.ops[i].kind == OpKind::Erase) faulted.insert({clean.stepOf(i), clean.stepOf(i) + 1});
        const AreaSpan first = SpanOf(w.areas.front()), last = SpanOf(w.areas.back());  // the areas lie in a row
        for (std::size_t s : faulted) {
            if (s == w.steps.size()) continue;
            const Step& step = w.steps[s];
            Restore(flash, w.areas, clean.areas[s]);
            Bytes out;
            CRomMgr mgr;  // one manager for the step's every run, as a host keeps one
            RunStep(mgr, step, &out);
            for (const Fault& f : Plan(node)) {
                SCOPED_TRACE(w.name + ", step " + std::to_string(s + 1) + ": " + Describe(f));
                ++faults;
                Restore(flash, w.areas, clean.areas[s]);
                Arm(node, f);
                const int result = RunStep(mgr, step, &out);
                EXPECT_TRUE(Landed(node, f));
                node.heal();
                Expectation expect = clean.expected[s];
                if (step.kind == Step::Read) {
                    const bool shortRead = f.mode == Fault::Short && f.call.kind == OpKind::Read;
                    const Verdict v = expect.judge(step.area, result, out, shortRead);
                    EXPECT_TRUE(v != Wrong && v != Older) << "read " << result;
                } else {
                    EXPECT_TRUE(step.kind == Step::Write ? result == 0 || result == -1 : (result & ~step.mask) == 0)
                        << "result " << result;
                    expect.begin(step);
                    expect.end(step, result);
                }
                for (const norsim::Op& op : node.ops())
                    EXPECT_TRUE((op.kind != OpKind::Program && op.kind != OpKind::Erase) ||
                                (op.offset >= first.offset && op.offset + op.length <= last.offset + last.size));
                EXPECT_TRUE(flash.node(1 - device).ops().empty());
                EXPECT_EQ(node.openCount(), 0);
                Outcome after;
                RunPhase(Phase::Reads, w, 0, expect, after);
                for (Verdict v : {Lost, Wrong, Older}) EXPECT_EQ(after.found[v], "");
            }
        }
    }
    EXPECT_GT(faults, 1000);
}
