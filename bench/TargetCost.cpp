// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The instructions that each call of the benchmark table executes, for the target's processor. Built
// for the target and run under `qemu-ppc-static -d in_asm,exec,nochain`, which logs every block of
// guest code it translates and every time it runs one; TraceCost.cpp counts them. The program makes
// each call once, from the same flash state as the benchmark, between two hits of a marker function,
// and then writes a layout file: where the store, the simulator, the libraries and the program lie
// (from /proc/self/maps, which qemu-user answers for the guest), the marker's address, and each
// call's modelled flash time.
#include <cstdio>
#include <fstream>
#include <functional>
#include <iomanip>
#include <string>
#include <vector>

#include "FlashModel.h"
#include "StoreOnFlash.h"

namespace {

// Hit before and after each measured call. The empty asm keeps the call from being folded away.
__attribute__((noinline)) void Mark() { asm volatile("" ::: "memory"); }

using Record = std::vector<unsigned char>;

struct MeasuredCall {
    std::string name;
    double flashUs;
};

using Call = std::function<bool(rombench::StoreOnFlash&)>;

// A write of `length` bytes, as the benchmark makes them.
Call WriteOf(int length) {
    return [length](rombench::StoreOnFlash& f) {
        Record record(static_cast<std::size_t>(length), 0x5A);
        return f.store.SetData(f.area, record.data(), length, true) == 0;
    };
}

// A read of the first 1024 bytes of the current record or, with a block, of that block's.
Call ReadOf(int block = -1) {
    return [block](rombench::StoreOnFlash& f) {
        Record back(1024);
        const int got = block < 0 ? f.store.GetData(f.area, back.data(), 1024)
                                  : f.store.GetData(f.area, block, back.data(), 1024);
        return got == 1024;
    };
}

// Erases the area, runs `prepare`, then `call` between the marker's hits, with the node's log of that
// call alone. The node is made once for all the calls: filling a new one would be most of the log.
MeasuredCall Measure(const std::string& name, rombench::StoreOnFlash& flash, const Call& prepare,
                     const Call& call) {
    flash.node->poke(0, Record(static_cast<std::size_t>(flash.info.iAreaSize), 0xFF));
    if (!prepare(flash)) fprintf(stderr, "target_cost: %s: preparing failed\n", name.c_str());
    flash.node->clearOps();
    Mark();
    const bool ok = call(flash);
    Mark();
    if (!ok) fprintf(stderr, "target_cost: %s failed\n", name.c_str());
    return {name, rombench::FlashMicroseconds(*flash.node)};
}

std::vector<MeasuredCall> MeasureAll() {
    std::vector<MeasuredCall> calls;
    const auto nothing = [](rombench::StoreOnFlash&) { return true; };
    for (int row = 0; g_RomDeviceInfoArray[row].iAreaNum > 0; ++row) {
        const RomDeviceInfo& info = g_RomDeviceInfoArray[row];
        std::string node = info.pszDevName;
        node = node.substr(node.rfind('/') + 1);
        const int largest = info.iBlockSize - CRomDevice::HEADER_SIZE;
        rombench::StoreOnFlash flash(row);
        // The first write formats the area and fills block 1, so the measured one fills block 2 and
        // stays in its sector: it probes the next sector instead of erasing one.
        for (int length : {16, 1024, largest})
            calls.push_back(Measure("SetData " + node + ", " + std::to_string(length) + " B", flash,
                                    WriteOf(length), WriteOf(length)));
        calls.push_back(Measure("GetData " + node + ", 1024 B", flash, WriteOf(1024), ReadOf()));
        calls.push_back(Measure("GetData by block " + node + ", 1024 B", flash, WriteOf(1024), ReadOf(1)));
        calls.push_back(Measure("EraseArea " + node, flash, nothing,
                                [](rombench::StoreOnFlash& f) { return f.store.EraseArea(f.mask()) == 0; }));
        const auto initialize = [](rombench::StoreOnFlash& f) { return f.store.InitializeArea(f.mask()) == 0; };
        calls.push_back(Measure("InitializeArea " + node, flash, initialize, initialize));
    }
    return calls;
}

// "module CLASS START END FILE" for each executable mapping: the store, the simulator, a library, or the
// program itself.
void WriteModules(std::ofstream& out) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0, end = 0;
        char perms[8] = {};
        if (sscanf(line.c_str(), "%lx-%lx %7s", &start, &end, perms) != 3 || perms[2] != 'x') continue;
        const std::string::size_type slash = line.rfind('/');
        const std::string file = slash == std::string::npos ? "" : line.substr(slash + 1);
        const char* kind = file.find("libromstore") == 0 ? "store"
                           : file.find("libnorsim") == 0 ? "simulator"
                           : file.find(".so") != std::string::npos || file.empty() ? "library"
                                                                                  : "program";
        out << "module " << kind << ' ' << std::hex << start << ' ' << end << std::dec << ' ' << file << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s LAYOUT\n", argv[0]);
        return 2;
    }
    const std::vector<MeasuredCall> calls = MeasureAll();
    std::ofstream out(argv[1]);
    WriteModules(out);
    out << "marker " << std::hex << reinterpret_cast<unsigned long>(&Mark) << std::dec << '\n';
    out << std::fixed << std::setprecision(1);
    for (const MeasuredCall& call : calls) out << "call " << call.flashUs << ' ' << call.name << '\n';
    return out ? 0 : 1;
}
