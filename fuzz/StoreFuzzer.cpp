// Fills the first two areas of each node with fuzzer bytes and runs a fuzzer-chosen sequence of
// operations with fuzzer-chosen arguments and faults. Whatever the flash holds, the store must not
// crash, must not program or erase outside the areas it was asked about, must not read more than it
// was asked for, and must give only results that each operation may give.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "NorSim.h"
#include "RomMgr.h"
#include "TableNodes.h"

namespace {

const std::vector<norsim::TableNode> kTable = norsim::TableNodes();
const std::uint32_t kArea = kTable.at(0).areaSize;
const std::uint32_t kSecondNode = kTable.at(1).size;

norsim::Node Add(const norsim::TableNode& node) {
    return norsim::Flash::instance().add(node.path, node.size, node.eraseSize);
}

// The nodes live for the whole run; each input starts from erased flash.
struct Nodes {
    norsim::Node first = Add(kTable[0]);
    norsim::Node second = Add(kTable[1]);
};

// A broken promise ends the run with the condition and the values that broke it.
void Check(bool condition, const char* what, long value) {
    if (condition) return;
    fprintf(stderr, "store promise broken: %s (value %ld)\n", what, value);
    abort();
}

// Areas 1, 2 and 31 are the ones the store may be asked about, and some that no device holds.
int PickArea(FuzzedDataProvider& in) {
    const int areas[] = {-1, 0, 1, 2, 31, 32};
    return in.PickValueInArray(areas);
}

int PickMask(FuzzedDataProvider& in) {
    const int masks[] = {0, 1, 2, 3, 1 << 30, (1 << 30) | 1, static_cast<int>(0x80000000u)};
    return in.PickValueInArray(masks);
}

void ExpectInsideTheChosenAreas(const Nodes& nodes) {
    for (const norsim::Op& op : nodes.first.ops())
        if (op.kind == norsim::OpKind::Program || op.kind == norsim::OpKind::Erase)
            Check(std::uint64_t{op.offset} + op.length <= 2 * kArea, "flash changed outside areas 1 and 2",
                  static_cast<long>(op.offset));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Nodes nodes;
    nodes.first.fill(0, 2 * kArea, 0xFF);
    nodes.second.fill(0, kSecondNode, 0xFF);
    nodes.first.clearOps();
    nodes.second.clearOps();
    for (norsim::OpKind kind : {norsim::OpKind::Seek, norsim::OpKind::Read, norsim::OpKind::Program,
                                norsim::OpKind::Erase}) {
        nodes.first.failNext(kind, 0);
        nodes.second.failNext(kind, 0);
    }
    nodes.first.shortNext(norsim::OpKind::Read, 0, 0);
    nodes.first.shortNext(norsim::OpKind::Program, 0, 0);

    FuzzedDataProvider in(data, size);
    // Flash as anything may have left it: headers and records of the fuzzer's choosing.
    for (int pokes = in.ConsumeIntegralInRange(0, 24); pokes > 0; --pokes) {
        const bool second = in.ConsumeBool();
        const std::uint32_t limit = second ? kSecondNode : 2 * kArea;
        std::uint32_t offset = in.ConsumeIntegralInRange<std::uint32_t>(0, limit - 1);
        // Most pokes land on a block header, where they matter most.
        if (in.ConsumeBool()) offset &= ~(second ? 0xFFFFu : 0x1FFFu);
        std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(1, 16));
        if (offset + bytes.size() > limit) bytes.resize(limit - offset);
        (second ? nodes.second : nodes.first).poke(offset, bytes);
    }

    CRomMgr mgr;
    while (in.remaining_bytes() > 0) {
        const int area = PickArea(in);
        const int length = in.ConsumeIntegralInRange(-4, 0x10004);
        std::vector<unsigned char> buffer(length > 0 ? static_cast<std::size_t>(length) : 1);
        unsigned char* pBuffer = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : buffer.data();
        switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const int r = mgr.SetData(area, pBuffer, length, true);
            Check(r == 0 || r == -1 || r == -3, "a write gives 0, -1 or -3", r);
            break;
        }
        case 1: {
            const int r = mgr.GetData(area, pBuffer, length);
            Check(r == -1 || r == -3 || (r >= 0 && r <= length), "a read gives a count up to the length, -1 or -3", r);
            break;
        }
        case 2: {
            const int r = mgr.GetData(area, in.ConsumeIntegralInRange(-3, 70), pBuffer, length);
            Check(r == -1 || r == -3 || r == -4 || (r >= 0 && r <= length),
                  "a block read gives a count up to the length, -1, -3 or -4", r);
            break;
        }
        case 3: {
            const int mask = PickMask(in);
            const int r = mgr.EraseArea(mask);
            Check((r & ~mask & 0x7FFFFFFF) == 0, "an erase fails only selected areas", r);
            break;
        }
        case 4: {
            const int mask = PickMask(in);
            const int r = mgr.InitializeArea(mask);
            Check((r & ~mask & 0x7FFFFFFF) == 0, "an initialisation fails only selected areas", r);
            break;
        }
        case 5: {
            const norsim::OpKind kinds[] = {norsim::OpKind::Seek, norsim::OpKind::Read, norsim::OpKind::Program,
                                            norsim::OpKind::Erase};
            const norsim::OpKind kind = in.PickValueInArray(kinds);
            const int after = in.ConsumeIntegralInRange(0, 80);
            if ((kind == norsim::OpKind::Read || kind == norsim::OpKind::Program) && in.ConsumeBool())
                nodes.first.shortNext(kind, in.ConsumeIntegralInRange<std::uint32_t>(0, 9000), 1, after);
            else
                nodes.first.failNext(kind, 1, after);
            break;
        }
        }
        ExpectInsideTheChosenAreas(nodes);
    }
    return 0;
}
