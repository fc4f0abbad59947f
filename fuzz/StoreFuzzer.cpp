// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Fills the first two areas of each node with fuzzer bytes and runs a fuzzer-chosen sequence of
// operations with fuzzer-chosen arguments and faults. Whatever the flash holds, the store must not
// crash, must not program or erase outside the areas it was asked about, must not read more than it
// was asked for, and must give only results that each operation may give.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "NorSim.h"
#include "RomMgr.h"
#include "TableNodes.h"

namespace {

using norsim::OpKind;

// A broken promise ends the run with the condition and the value that broke it.
void Check(bool condition, const char* what, long value) {
    if (condition) return;
    fprintf(stderr, "store promise broken: %s (value %ld)\n", what, value);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The nodes live for the whole run; each input starts from erased flash without faults.
    static const std::vector<norsim::TableNode> table = norsim::TableNodes();
    static norsim::Node nodes[] = {norsim::Flash::instance().add(table[0].path, table[0].size, table[0].eraseSize),
                                   norsim::Flash::instance().add(table[1].path, table[1].size, table[1].eraseSize)};
    const std::uint32_t limits[] = {2 * table[0].areaSize, table[1].size};
    for (int n = 0; n < 2; ++n) nodes[n].fill(0, limits[n], 0xFF);
    for (norsim::Node& node : nodes) {
        node.clearOps();
        node.heal();
    }

    FuzzedDataProvider in(data, size);
    // Flash as anything may have left it: headers and records of the fuzzer's choosing.
    for (int pokes = in.ConsumeIntegralInRange(0, 24); pokes > 0; --pokes) {
        const int n = in.ConsumeBool();
        std::uint32_t offset = in.ConsumeIntegralInRange<std::uint32_t>(0, limits[n] - 1);
        // Most pokes land on a block header, where they matter most.
        if (in.ConsumeBool()) offset &= ~static_cast<std::uint32_t>(g_RomDeviceInfoArray[n].iBlockSize - 1);
        std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(1, 16));
        bytes.resize(std::min<std::size_t>(bytes.size(), limits[n] - offset));
        nodes[n].poke(offset, bytes);
    }

    CRomMgr mgr;
    while (in.remaining_bytes() > 0) {
        // Areas 1, 2 and 31 are the ones the store may be asked about, and some that no device holds.
        const int area = in.PickValueInArray({-1, 0, 1, 2, 31, 32});
        const int length = in.ConsumeIntegralInRange(-4, 0x10004);
        std::vector<unsigned char> buffer(length > 0 ? static_cast<std::size_t>(length) : 1);
        unsigned char* pBuffer = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : buffer.data();
        const int op = in.ConsumeIntegralInRange(0, 5);
        const int mask = op == 3 || op == 4 ? in.PickValueInArray({0, 1, 2, 3, 1 << 30, (1 << 30) | 1, INT32_MIN}) : 0;
        const int r = op == 0   ? mgr.SetData(area, pBuffer, length, true)
                      : op == 1 ? mgr.GetData(area, pBuffer, length)
                      : op == 2 ? mgr.GetData(area, in.ConsumeIntegralInRange(-3, 70), pBuffer, length)
                      : op == 3 ? mgr.EraseArea(mask)
                      : op == 4 ? mgr.InitializeArea(mask)
                                : 0;
        if (op == 0) Check(r == 0 || r == -1 || r == -3, "a write gives 0, -1 or -3", r);
        if (op == 1 || op == 2)
            Check(r == -1 || r == -3 || (op == 2 && r == -4) || (r >= 0 && r <= length),
                  "a read gives a count up to the length, -1, -3 or (of a block) -4", r);
        if (op == 3 || op == 4) Check((r & ~mask & 0x7FFFFFFF) == 0, "a bulk operation fails only selected areas", r);
        if (op == 5) {
            const OpKind kind = in.PickValueInArray({OpKind::Seek, OpKind::Read, OpKind::Program, OpKind::Erase});
            const int after = in.ConsumeIntegralInRange(0, 80);
            if ((kind == OpKind::Read || kind == OpKind::Program) && in.ConsumeBool())
                nodes[0].shortNext(kind, in.ConsumeIntegralInRange<std::uint32_t>(0, 9000), 1, after);
            else
                nodes[0].failNext(kind, 1, after);
        }
        for (const norsim::Op& call : nodes[0].ops()) {
            const bool changes = call.kind == OpKind::Program || call.kind == OpKind::Erase;
            Check(!changes || std::uint64_t{call.offset} + call.length <= limits[0],
                  "flash changed outside areas 1 and 2", static_cast<long>(call.offset));
        }
    }
    return 0;
}
