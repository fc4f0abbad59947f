// The power-loss promise, measured: every program and every erase of long workloads is cut in turn,
// the store is rebooted, and each area must hold the last record whose write returned, or the one
// being written, byte for byte; then it must take a new record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "TableNodes.h"
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
Bytes Padded(const Bytes& record, int area) {
    Bytes padded = record;
    padded.resize(static_cast<std::size_t>(Largest(area)), 0xFF);
    return padded;
}

std::vector<int> AreasOf(int mask) {
    std::vector<int> areas;
    for (int bit = 0; bit < 31; ++bit)
        if (mask & (1 << bit)) areas.push_back(bit + 1);
    return areas;
}

// The content that each area must show: the confirmed one, and while an operation runs, its new one.
class Expectation {
public:
    explicit Expectation(const std::vector<int>& areas) {
        for (int area : areas) m_confirmed[area] = Padded({}, area);
    }
    void begin(const Step& step) {
        m_pending.clear();
        m_bulkErase = step.kind == Step::Erase;
        if (step.kind == Step::Write) m_pending[step.area] = Padded(step.record, step.area);
        for (int area : step.kind == Step::Erase || step.kind == Step::Init ? AreasOf(step.mask) : std::vector<int>{})
            m_pending[area] = step.kind == Step::Init ? Bytes(static_cast<std::size_t>(Largest(area)), 0x00)
                                                      : Padded({}, area);
    }
    void end() {
        for (auto& [area, content] : m_pending) m_confirmed[area] = content;
        m_pending.clear();
    }
    // True when what a read after the cut returned is one of the records the area may hold. An area
    // whose bulk erase was cut may also have no record that can be believed, until it is written.
    bool allows(int area, int result, const Bytes& read) const {
        bool pending = m_pending.count(area) != 0;
        if (result == -1 && pending && m_bulkErase) return true;
        if (result != Largest(area)) return false;
        return read == m_confirmed.at(area) || (pending && read == m_pending.at(area));
    }
private:
    std::map<int, Bytes> m_confirmed;
    std::map<int, Bytes> m_pending;
    bool m_bulkErase = false;
};

struct Workload {
    std::string name;
    std::vector<int> areas;
    std::vector<Step> steps;
};

// Runs one step through a fresh view of the store, as a host would.
int Run(CRomMgr& mgr, const Step& step) {
    Bytes buffer(static_cast<std::size_t>(Largest(step.area > 0 ? step.area : 1)));
    // An empty record still needs a buffer: the store refuses a null one.
    Bytes record = step.record;
    record.reserve(1);
    switch (step.kind) {
    case Step::Write:
        return mgr.SetData(step.area, record.data(), static_cast<int>(record.size()), true);
    case Step::Read:
        return mgr.GetData(step.area, buffer.data(), static_cast<int>(buffer.size())) ==
                       static_cast<int>(buffer.size())
                   ? 0
                   : -1;
    case Step::Erase:
        return mgr.EraseArea(step.mask);
    case Step::Init:
        return mgr.InitializeArea(step.mask);
    }
    return -1;
}

// Where an area lies: the device row of the table that holds it and its bytes on that node.
struct AreaSpan {
    int device;
    std::uint32_t offset;
    std::uint32_t size;
};

AreaSpan SpanOf(int area) {
    const std::vector<norsim::TableNode> nodes = norsim::TableNodes();
    int device = 0;
    while (area >= nodes[device].firstArea + static_cast<int>(nodes[device].size / nodes[device].areaSize)) ++device;
    const norsim::TableNode& node = nodes[device];
    return {device, static_cast<std::uint32_t>(area - node.firstArea) * node.areaSize, node.areaSize};
}

// A flash operation of the workload run without a cut: the one to cut, and what it was.
struct FlashOp {
    OpKind kind;
    std::uint32_t length;
};

// The workload run once without a cut. The store keeps nothing between calls but what is on flash, so a
// cut that falls in step k is replayed from the bytes its areas held before step k instead of from the
// start: the same calls on the same bytes, in a fraction of the time.
struct CleanRun {
    std::vector<FlashOp> ops;
    std::vector<std::size_t> firstOp;       // per step: the index in `ops` of its first operation
    std::vector<std::vector<Bytes>> areas;  // per step: the bytes of each workload area before it

    // The step that flash operation `op` belongs to.
    std::size_t stepOf(std::size_t op) const {
        return static_cast<std::size_t>(std::upper_bound(firstOp.begin(), firstOp.end(), op) - firstOp.begin()) - 1;
    }
};

std::vector<Bytes> AreaBytes(romtest::TableFlash& flash, const std::vector<int>& areas) {
    std::vector<Bytes> bytes;
    for (int area : areas) {
        const AreaSpan span = SpanOf(area);
        bytes.push_back(flash.node(span.device).peek(span.offset, span.size));
    }
    return bytes;
}

CleanRun RunClean(const Workload& w) {
    romtest::TableFlash flash;
    norsim::Flash& power = norsim::Flash::instance();
    power.powerOn();
    CRomMgr mgr;
    CleanRun run;
    for (const Step& step : w.steps) {
        run.firstOp.push_back(power.flashOperations());
        run.areas.push_back(AreaBytes(flash, w.areas));
        EXPECT_EQ(Run(mgr, step), 0);
    }
    // One node per workload keeps the order of its operations that of the cut's count.
    for (int device = 0; device < 2; ++device)
        for (const norsim::Op& op : flash.node(device).ops())
            if (op.kind == OpKind::Program || op.kind == OpKind::Erase) run.ops.push_back({op.kind, op.length});
    EXPECT_EQ(run.ops.size(), power.flashOperations());
    return run;
}

struct Tally {
    int cuts = 0;
    int violations = 0;
    std::vector<std::string> examples;
};

// Cuts the workload at flash operation `op` (counted from 0 in the clean run), reboots and checks every
// area. Returns false on a loss.
bool CutAndCheck(const Workload& w, const CleanRun& clean, std::size_t op, norsim::PowerCut cut,
                 romtest::TableFlash& flash, std::string* detail) {
    const std::size_t first = clean.stepOf(op);
    for (std::size_t i = 0; i < w.areas.size(); ++i) {
        const AreaSpan span = SpanOf(w.areas[i]);
        flash.node(span.device).poke(span.offset, clean.areas[first][i]);
    }
    flash.clearOps();
    Expectation expect(w.areas);
    for (std::size_t s = 0; s < first; ++s) {
        expect.begin(w.steps[s]);
        expect.end();
    }

    norsim::Flash& power = norsim::Flash::instance();
    cut.at = op - clean.firstOp[first] + 1;
    power.cutPower(cut);
    {
        CRomMgr mgr;
        for (std::size_t s = first; s < w.steps.size(); ++s) {
            expect.begin(w.steps[s]);
            int result = Run(mgr, w.steps[s]);
            if (power.powerLost()) break;
            EXPECT_EQ(result, 0) << "before the cut";
            expect.end();
        }
    }
    EXPECT_TRUE(power.powerLost()) << "the cut at " << op + 1 << " never fell";
    power.powerOn();

    CRomMgr rebooted;
    for (int area : w.areas) {
        Bytes read(static_cast<std::size_t>(Largest(area)));
        int result = rebooted.GetData(area, read.data(), static_cast<int>(read.size()));
        bool ok = expect.allows(area, result, read);
        Bytes fresh = Record(static_cast<std::size_t>(Largest(area) / 3), 999u + static_cast<unsigned>(area));
        Bytes back(fresh.size());
        bool writable = rebooted.SetData(area, fresh.data(), static_cast<int>(fresh.size()), true) == 0 &&
                        rebooted.GetData(area, back.data(), static_cast<int>(back.size())) ==
                            static_cast<int>(back.size()) &&
                        back == fresh;
        if (!ok || !writable) {
            char text[160];
            snprintf(text, sizeof(text), "cut at op %llu (%u bytes kept): area %d read %d%s%s",
                     static_cast<unsigned long long>(op + 1), cut.programBytes, area, result,
                     ok ? "" : ", not a record it may hold", writable ? "" : ", then refused a new record");
            *detail = text;
            return false;
        }
    }
    return true;
}

// Where a program of `length` bytes is cut: at every word boundary of a header word, and at the
// start, the first word, the middle and the last byte of a record.
std::vector<std::uint32_t> CutPoints(std::uint32_t length) {
    if (length <= 4) {
        std::vector<std::uint32_t> points;
        for (std::uint32_t j = 0; j < length; ++j) points.push_back(j);
        return points.empty() ? std::vector<std::uint32_t>{0} : points;
    }
    return {0, 4, length / 2, length - 1};
}

const char* Name(EraseCut e) {
    switch (e) {
    case EraseCut::Untouched: return "erase cut, untouched";
    case EraseCut::Completed: return "erase cut, completed";
    case EraseCut::Zeroed: return "erase cut, pre-programmed to 0x00";
    case EraseCut::Mixed: return "erase cut, random mix";
    }
    return "";
}

std::vector<Workload> Workloads() {
    std::vector<Workload> all;
    const int firstLengths[] = {0, 1, 7, 100, 1000, 4097, 8183, 8184};
    Workload first{"first node, area 1: 140 writes and reads", {1}, {}};
    for (int i = 0; i < 140; ++i) {
        first.steps.push_back({Step::Write, 1, Record(static_cast<std::size_t>(firstLengths[i % 8]), i), 0});
        if (i % 5 == 4) first.steps.push_back({Step::Read, 1, {}, 0});
    }
    all.push_back(first);

    const int secondLengths[] = {65528, 0, 5, 30000};
    Workload second{"second node, area 31: 40 writes and reads", {31}, {}};
    for (int i = 0; i < 40; ++i) {
        second.steps.push_back({Step::Write, 31, Record(static_cast<std::size_t>(secondLengths[i % 4]), i), 0});
        if (i % 3 == 2) second.steps.push_back({Step::Read, 31, {}, 0});
    }
    all.push_back(second);

    Workload bulk{"first node, areas 2 to 4: bulk initialise and erase between writes", {2, 3, 4}, {}};
    bulk.steps.push_back({Step::Init, 0, {}, 0x7 << 1});
    for (int i = 0; i < 3; ++i) bulk.steps.push_back({Step::Write, 2 + i, Record(300, 50 + i), 0});
    bulk.steps.push_back({Step::Erase, 0, {}, 0x5 << 1});
    bulk.steps.push_back({Step::Write, 3, Record(20, 60), 0});
    bulk.steps.push_back({Step::Init, 0, {}, 0x3 << 1});
    bulk.steps.push_back({Step::Erase, 0, {}, 0x7 << 1});
    all.push_back(bulk);
    return all;
}

class PowerCut : public ::testing::Test {
protected:
    static void TearDownTestSuite() {
        printf("\n%-40s %8s %11s\n", "cut model", "cuts", "violations");
        for (const auto& [model, tally] : s_tallies) {
            printf("%-40s %8d %11d\n", model.c_str(), tally.cuts, tally.violations);
            for (const std::string& example : tally.examples) printf("    e.g. %s\n", example.c_str());
        }
    }
    static Tally& tally(const std::string& model) { return s_tallies[model]; }

    // Cuts every operation of `kind` in every workload with the cuts that `make` gives, and tallies.
    template <class MakeCuts>
    void sweep(OpKind kind, const std::string& model, MakeCuts make) {
        Tally& t = tally(model);
        for (const Workload& w : Workloads()) {
            const CleanRun clean = RunClean(w);
            romtest::TableFlash flash;
            for (std::size_t i = 0; i < clean.ops.size(); ++i) {
                if (clean.ops[i].kind != kind) continue;
                for (const norsim::PowerCut& cut : make(clean.ops[i])) {
                    ++t.cuts;
                    std::string detail;
                    if (!CutAndCheck(w, clean, i, cut, flash, &detail)) {
                        ++t.violations;
                        if (t.examples.size() < 3) t.examples.push_back(w.name + ": " + detail);
                    }
                }
            }
        }
    }
    void sweepErase(EraseCut erase) {
        sweep(OpKind::Erase, Name(erase), [erase](const FlashOp&) {
            std::vector<norsim::PowerCut> cuts;
            for (std::uint32_t seed : {1u, 2u, 3u}) {
                norsim::PowerCut cut;
                cut.erase = erase;
                cut.seed = seed;
                cuts.push_back(cut);
                if (erase != EraseCut::Mixed) break;
            }
            return cuts;
        });
    }

    static std::map<std::string, Tally> s_tallies;
};

std::map<std::string, Tally> PowerCut::s_tallies;

}  // namespace

TEST_F(PowerCut, ProgramCutAtAnyByteLosesNothing) {
    sweep(OpKind::Program, "program cut at byte j", [](const FlashOp& op) {
        std::vector<norsim::PowerCut> cuts;
        for (std::uint32_t j : CutPoints(op.length)) {
            norsim::PowerCut cut;
            cut.programBytes = j;
            cuts.push_back(cut);
        }
        return cuts;
    });
    EXPECT_GT(tally("program cut at byte j").cuts, 500);
    EXPECT_EQ(tally("program cut at byte j").violations, 0);
}

TEST_F(PowerCut, EraseCutUntouchedOrCompletedLosesNothing) {
    sweepErase(EraseCut::Untouched);
    sweepErase(EraseCut::Completed);
    EXPECT_EQ(tally(Name(EraseCut::Untouched)).violations, 0);
    EXPECT_EQ(tally(Name(EraseCut::Completed)).violations, 0);
    EXPECT_GT(tally(Name(EraseCut::Untouched)).cuts, 5);
}

TEST_F(PowerCut, EraseCutPartwayLosesNothing) {
    sweepErase(EraseCut::Zeroed);
    sweepErase(EraseCut::Mixed);
    EXPECT_EQ(tally(Name(EraseCut::Zeroed)).violations, 0);
    EXPECT_EQ(tally(Name(EraseCut::Mixed)).violations, 0);
    EXPECT_GT(tally(Name(EraseCut::Mixed)).cuts, 15);
}
