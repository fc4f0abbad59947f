// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Counts the instructions of each call that TargetCost.cpp made, from qemu-user's log of the blocks it
// translated and ran (read on standard input) and the layout file that the program wrote, and prints
// them beside the call's modelled flash time. A host program: the log is the target's.
//
// An instruction in the store or the simulator counts for it. One in a library (the C library, the
// loader, the C++ runtime, the log facility) counts for whichever of the two ran last, so that the
// memcmp or memcpy a call makes is its own. The store's CPU time is modelled at 400 MHz and one
// instruction a cycle: the slow end of the target's in-order cores.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr double kInstructionsPerUs = 400.0;

enum Owner { kStore, kStoreLibrary, kSimulator, kProgram, kOwners };

struct Module {
    std::string kind;
    std::uint32_t start;
    std::uint32_t end;
};

struct Call {
    double flashUs = 0;
    std::string name;
    std::uint64_t count[kOwners] = {};
};

struct Layout {
    std::vector<Module> modules;
    std::uint32_t marker = 0;
    std::vector<Call> calls;
};

bool ReadLayout(const char* path, Layout& layout) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string tag;
        fields >> tag;
        if (tag == "module") {
            Module m;
            fields >> m.kind >> std::hex >> m.start >> m.end;
            layout.modules.push_back(m);
        } else if (tag == "marker") {
            fields >> std::hex >> layout.marker;
        } else if (tag == "call") {
            Call call;
            fields >> call.flashUs >> std::ws;
            std::getline(fields, call.name);
            layout.calls.push_back(call);
        }
    }
    return layout.marker != 0 && !layout.calls.empty();
}

// A hexadecimal number at `from`, up to the first character that is no hex digit.
std::uint32_t HexAt(const std::string& line, std::size_t from) {
    std::uint32_t value = 0;
    for (std::size_t i = from; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i)
        value = value << 4 | static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(line[i]))
                                                            ? line[i] - '0'
                                                            : (line[i] | 0x20) - 'a' + 10);
    return value;
}

// A translated block executed: its first address and its instructions.
struct Executed {
    std::uint32_t address;
    std::uint32_t instructions;
};

// qemu logs each block of guest code once when it translates it ("IN:", then a line
// "0xADDRESS:  ..." for each instruction) and a line "Trace 0: 0xHOST [00000000/ADDRESS/...]" each
// time it runs one. A block runs to its end: a system call or a branch ends it.
bool ReadTrace(std::istream& in, std::vector<Executed>& trace) {
    std::unordered_map<std::uint32_t, std::uint32_t> sizes;
    std::uint32_t first = 0, count = 0;
    bool translating = false;
    std::string line;
    while (std::getline(in, line)) {
        if (translating && line.compare(0, 2, "0x") == 0) {
            if (count++ == 0) first = HexAt(line, 2);
            continue;
        }
        if (translating) sizes[first] = count;
        translating = line.compare(0, 3, "IN:") == 0;
        count = 0;
        const std::string::size_type slash = line.find('/');
        if (line.compare(0, 6, "Trace ") != 0 || slash == std::string::npos) continue;
        const std::uint32_t address = HexAt(line, slash + 1);
        const auto size = sizes.find(address);
        if (size == sizes.end()) {
            fprintf(stderr, "trace_cost: block %08x ran untranslated: run qemu with -d in_asm,exec,nochain\n", address);
            return false;
        }
        trace.push_back({address, size->second});
    }
    return true;
}

// Walks the executed addresses and adds each instruction between the marker's hits to its call.
bool Attribute(const std::vector<Executed>& trace, Layout& layout) {
    const Module* last = nullptr;
    Owner running = kProgram;
    std::size_t hits = 0;
    for (const auto& [address, instructions] : trace) {
        if (address == layout.marker) ++hits;
        if (last == nullptr || address < last->start || address >= last->end) {
            last = nullptr;
            for (const Module& m : layout.modules)
                if (address >= m.start && address < m.end) last = &m;
            if (last == nullptr) {
                fprintf(stderr, "trace_cost: address %08x lies in no module\n", address);
                return false;
            }
        }
        Owner owner = kProgram;
        if (last->kind == "store") owner = running = kStore;
        else if (last->kind == "simulator") owner = running = kSimulator;
        else if (last->kind == "library") owner = running == kStore ? kStoreLibrary : running;
        else running = kProgram;
        if (hits % 2 == 1 && hits / 2 < layout.calls.size()) layout.calls[hits / 2].count[owner] += instructions;
    }
    if (hits != 2 * layout.calls.size()) {
        fprintf(stderr, "trace_cost: the marker ran %zu times for %zu calls\n", hits, layout.calls.size());
        return false;
    }
    return true;
}

void PrintTable(const Layout& layout) {
    printf("| call | store | C library for the store | simulator | store CPU ms at 400 MHz | flash ms | CPU / flash |\n");
    printf("|---|---|---|---|---|---|---|\n");
    for (const Call& call : layout.calls) {
        const double cpuUs = (call.count[kStore] + call.count[kStoreLibrary]) / kInstructionsPerUs;
        printf("| %s | %llu | %llu | %llu | %.3f | %.2f | %.1f %% |\n", call.name.c_str(),
               static_cast<unsigned long long>(call.count[kStore]),
               static_cast<unsigned long long>(call.count[kStoreLibrary]),
               static_cast<unsigned long long>(call.count[kSimulator]), cpuUs / 1000, call.flashUs / 1000,
               100 * cpuUs / call.flashUs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: qemu-ppc-static -d in_asm,exec,nochain -D /dev/stdout target_cost LAYOUT | %s LAYOUT\n",
                argv[0]);
        return 2;
    }
    // The layout is written when the program ends, so the blocks run are kept until then.
    std::ios::sync_with_stdio(false);
    std::vector<Executed> trace;
    if (!ReadTrace(std::cin, trace)) return 1;
    Layout layout;
    if (!ReadLayout(argv[1], layout)) {
        fprintf(stderr, "trace_cost: %s is no layout written by target_cost\n", argv[1]);
        return 1;
    }
    if (!Attribute(trace, layout)) return 1;
    PrintTable(layout);
    return 0;
}
