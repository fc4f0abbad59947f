#include "Romctl.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>

#include "Failure.h"
#include "GeometryCheck.h"
#include "HexDump.h"
#include "Inspector.h"
#include "NodeReader.h"
#include "ResultText.h"

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenFile(const std::string& name, const char* mode) {
    File file(std::fopen(name.c_str(), mode), &std::fclose);
    if (!file) throw Failure(kExitFailed, "cannot open " + name + ": " + std::strerror(errno));
    return file;
}

std::vector<unsigned char> ReadAll(std::FILE* in, const std::string& name) {
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), in)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    if (std::ferror(in)) throw Failure(kExitFailed, "cannot read " + name + ": " + std::strerror(errno));
    return bytes;
}

// Why `node` cannot be opened read-only, the way inspect opens it; empty when it can. The store tells
// a missing node only by -1. Under romsim the node exists only inside the simulator, which interposes
// open(), so nothing but an open can tell.
std::string OpenProblem(const std::string& node) {
    try {
        const NodeReader probe(node);
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "";
}

void Expect(const std::vector<std::string>& operands, std::size_t least, std::size_t most, const std::string& usage) {
    if (operands.size() < least || operands.size() > most) throw Failure(kExitUsage, "usage: romctl " + usage);
}

}  // namespace

void Romctl::run(const CommandLine& line) {
    if (line.operands().empty()) throw Failure(kExitUsage, "no command given; see romctl --help");
    const std::string& command = line.operands()[0];
    if (command == "range") return range(line);
    if (command == "write") return write(line);
    if (command == "read") return read(line);
    if (command == "erase" || command == "init") return bulk(line, command);
    if (command == "inspect") return inspect(line);
    if (command == "info") return info(line);
    throw Failure(kExitUsage, "unknown command \"" + command + "\"; see romctl --help");
}

void Romctl::range(const CommandLine& line) {
    line.allowOnly("range", {"--verbose"});
    Expect(line.operands(), 1, 1, "range");
    std::cout << m_areas.first() << " " << m_areas.last() << "\n";
}

void Romctl::write(const CommandLine& line) {
    line.allowOnly("write", {"--verbose"});
    Expect(line.operands(), 2, 3, "write AREA [FILE|-]");
    const int area = m_areas.parse(line.operands()[1]);
    const std::string name = line.operands().size() == 3 ? line.operands()[2] : "-";

    std::vector<unsigned char> record;
    if (name == "-") {
        record = ReadAll(stdin, "standard input");
    } else {
        const File in = OpenFile(name, "rb");
        record = ReadAll(in.get(), name);
    }
    const int iLargest = m_areas.largestRecord(area);
    if (record.size() > static_cast<std::size_t>(iLargest))
        throw Failure(kExitUsage, "a record of " + std::to_string(record.size()) + " bytes is longer than area " +
                                      std::to_string(area) + "'s largest record of " + std::to_string(iLargest) +
                                      " bytes; nothing was written");

    // The store wants a buffer even for a record of no bytes.
    unsigned char none = 0;
    unsigned char* const data = record.empty() ? &none : record.data();
    const int result = m_store.SetData(area, data, static_cast<int>(record.size()), true);
    if (result != 0) refused("write area " + std::to_string(area), result, area);
}

void Romctl::read(const CommandLine& line) {
    line.allowOnly("read", {"--verbose", "--length", "--block", "--out", "--hex"});
    Expect(line.operands(), 2, 2, "read AREA [--length N] [--block B] [--out FILE] [--hex]");
    const int area = m_areas.parse(line.operands()[1]);
    const int iLargest = m_areas.largestRecord(area);
    const int length = line.has("--length") ? CommandLine::number(line.value("--length", ""), "--length") : iLargest;
    if (length > iLargest)
        throw Failure(kExitUsage, "--length " + std::to_string(length) + " is longer than area " +
                                      std::to_string(area) + "'s largest record of " + std::to_string(iLargest) +
                                      " bytes");

    std::string what = "read area " + std::to_string(area);
    int block = -1;  // none given: the current record
    if (line.has("--block")) {
        block = CommandLine::number(line.value("--block", ""), "--block");
        const int iBlocks = m_areas.blocks(area);
        if (block >= iBlocks)
            throw Failure(kExitUsage, "block " + std::to_string(block) + " is out of range 0.." +
                                          std::to_string(iBlocks - 1) + " of area " + std::to_string(area));
        what += " block " + std::to_string(block);
    }

    // One byte more than asked for, so that the store gets a buffer even for a length of 0.
    std::vector<unsigned char> record(static_cast<std::size_t>(length) + 1);
    const int result = block >= 0 ? m_store.GetData(area, block, record.data(), length)
                                  : m_store.GetData(area, record.data(), length);
    if (result < 0) refused(what, result, area);
    if (result != length)
        throw Failure(kExitFailed, what + ": read " + std::to_string(result) + " of " + std::to_string(length) +
                                       " bytes");
    record.resize(static_cast<std::size_t>(length));

    const std::string outName = line.value("--out", "-");
    File out(stdout, [](std::FILE*) { return 0; });
    if (outName != "-") out = OpenFile(outName, "wb");
    if (line.has("--hex")) {
        std::ostringstream dump;
        WriteHexDump(record, dump);
        const std::string text = dump.str();
        std::fwrite(text.data(), 1, text.size(), out.get());
    } else {
        std::fwrite(record.data(), 1, record.size(), out.get());
    }
    if (std::fflush(out.get()) != 0 || std::ferror(out.get()))
        throw Failure(kExitFailed, "cannot write " + (outName == "-" ? "standard output" : outName) + ": " +
                                       std::strerror(errno));
}

void Romctl::bulk(const CommandLine& line, const std::string& command) {
    line.allowOnly(command, {"--verbose", "--all", "--mask"});
    const std::vector<std::string>& operands = line.operands();
    const std::string usage = command + " AREA... | --all | --mask M";
    // Bit k of a mask stands for area first + k; a mask has room for 32 areas.
    const int iAreas = m_areas.last() - m_areas.first() + 1;
    const unsigned int uiAll = iAreas >= 32 ? 0xFFFFFFFFu : (1u << iAreas) - 1u;
    unsigned int uiMask = line.has("--all") ? uiAll : 0u;
    if (line.has("--mask")) {
        const std::string text = line.value("--mask", "");
        const unsigned int uiGiven = static_cast<unsigned int>(CommandLine::number(text, "--mask"));
        if ((uiGiven & ~uiAll) != 0)
            throw Failure(kExitUsage, "--mask " + text + " selects areas beyond " + std::to_string(m_areas.last()));
        uiMask |= uiGiven;
    }
    for (std::size_t i = 1; i < operands.size(); ++i)
        uiMask |= 1u << (m_areas.parse(operands[i]) - m_areas.first());
    if (uiMask == 0 && line.has("--mask"))
        throw Failure(kExitUsage, "--mask " + line.value("--mask", "") + " selects no area (bit k of M is area k + " +
                                      std::to_string(m_areas.first()) + ")");
    if (uiMask == 0) throw Failure(kExitUsage, "usage: romctl " + usage);

    const int iFailed = command == "erase" ? m_store.EraseArea(static_cast<int>(uiMask))
                                           : m_store.InitializeArea(static_cast<int>(uiMask));
    const unsigned int uiFailed = static_cast<unsigned int>(iFailed) & uiMask;
    if (uiFailed == 0) return;
    std::string areas;
    std::set<std::string> nodes;
    for (int area = m_areas.first(); area <= m_areas.last(); ++area) {
        if ((uiFailed >> (area - m_areas.first()) & 1u) == 0) continue;
        areas += " " + std::to_string(area);
        nodes.insert(m_areas.geometry(area).node);
    }
    std::string problems;
    for (const std::string& node : nodes) {
        const std::string problem = OpenProblem(node);
        if (!problem.empty()) problems += (problems.empty() ? ": " : "; ") + problem;
    }
    throw Failure(kExitFailed, command + " failed in areas" + areas + problems);
}

void Romctl::inspect(const CommandLine& line) {
    line.allowOnly("inspect", {"--verbose"});
    std::vector<int> areas;
    for (std::size_t i = 1; i < line.operands().size(); ++i) areas.push_back(m_areas.parse(line.operands()[i]));
    if (areas.empty())
        for (int area = m_areas.first(); area <= m_areas.last(); ++area) areas.push_back(area);

    const Inspector inspector(m_areas);
    Inspector::printLegend(std::cout);
    for (const int area : areas) inspector.print(area, std::cout);
}

void Romctl::info(const CommandLine& line) {
    line.allowOnly("info", {"--verbose"});
    Expect(line.operands(), 1, 1, "info");
    const std::vector<std::string> mismatches = GeometryCheck(m_store).print(std::cout);
    if (mismatches.empty()) return;
    // One line each, every one after the first with romctl's name as main gives it to the first.
    std::string lines = mismatches.front();
    for (std::size_t i = 1; i < mismatches.size(); ++i) lines += "\nromctl: " + mismatches[i];
    throw Failure(kExitFailed, lines);
}

void Romctl::refused(const std::string& what, int result, int area) const {
    const std::string node = m_areas.geometry(area).node;
    const std::string failed = what + ": " + ResultText(result);
    if (result == -2)
        throw Failure(kExitBusy, failed + ": another holder has " + node + " open; nothing was done, try again later");
    if (result == -4)
        throw Failure(kExitFailed, failed + ": the block is not committed or its record does not verify; "
                                            "romctl inspect " + std::to_string(area) + " shows the blocks");
    const std::string problem = result == -1 ? OpenProblem(node) : "";
    if (!problem.empty()) throw Failure(kExitFailed, failed + ": " + problem);
    throw Failure(kExitFailed, failed + "; --verbose shows the store's log lines");
}
