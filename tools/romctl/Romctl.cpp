// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Romctl.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>

#include "AreaScan.h"
#include "BlockFormat.h"
#include "Directory.h"
#include "Failure.h"
#include "GeometryCheck.h"
#include "Files.h"
#include "HexDump.h"
#include "Inspector.h"
#include "Manifest.h"
#include "NodeReader.h"
#include "ResultText.h"
#include "romstore.h"

namespace {

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
    if (command == "load") return load(line);
    if (command == "save") return save(line);
    throw Failure(kExitUsage, "unknown command \"" + command + "\"; see romctl --help");
}

void Romctl::range(const CommandLine& line) {
    line.allowOnly("range", {"--verbose"});
    Expect(line.operands(), 1, 1, "range");
    std::cout << m_areas.first() << " " << m_areas.last() << "\n";
}

void Romctl::write(const CommandLine& line) {
    line.allowOnly("write", {"--verbose", "--if-changed"});
    Expect(line.operands(), 2, 3, "write AREA [FILE|-] [--if-changed]");
    const int area = m_areas.parse(line.operands()[1]);
    const std::string name = line.operands().size() == 3 ? line.operands()[2] : "-";
    std::vector<unsigned char> record = name == "-" ? ReadAll(stdin, "standard input") : ReadFile(name);
    const std::string problem = m_areas.lengthProblem(area, record.size());
    if (!problem.empty()) throw Failure(kExitUsage, problem + "; nothing was written");
    store(area, std::move(record), line);
}

void Romctl::read(const CommandLine& line) {
    line.allowOnly("read", {"--verbose", "--length", "--block", "--out", "--hex"});
    Expect(line.operands(), 2, 2, "read AREA [--length N] [--block B] [--out FILE] [--hex]");
    const int area = m_areas.parse(line.operands()[1]);
    const int iLargest = m_areas.largestRecord(area);
    // Without --length the whole record region is read, and the record's own length found in it.
    const bool bOwnLength = !line.has("--length");
    const int length = bOwnLength ? iLargest : CommandLine::number(line.value("--length", ""), "--length");
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
    if (bOwnLength) record.resize(static_cast<std::size_t>(ownLength(area, block, record, what)));

    const std::string outName = line.value("--out", "-");
    File out(stdout, [](std::FILE*) { return 0; });
    if (outName != "-") out = OpenFile(outName, "wb");
    if (line.has("--hex")) {
        std::ostringstream dump;
        WriteHexDump(record, dump);
        const std::string text = dump.str();
        record.assign(text.begin(), text.end());
    }
    WriteAll(out.get(), outName == "-" ? "standard output" : outName, record);
}

int Romctl::ownLength(int area, int block, const std::vector<unsigned char>& region, const std::string& what) const {
    const AreaScan scan(m_areas, area);
    const int iBlock = block >= 0 ? block : scan.current();
    int iLength = -1;
    if (iBlock >= 0) {
        BlockFormat::RecordCheck check(scan.blocks()[iBlock].header.uiCrc);
        check.Add(region.data(), static_cast<int>(region.size()));
        iLength = check.RecordLength();
    }
    // The store's read and this look at the headers open the node apart: a writer may have come between.
    if (iLength < 0) throw Failure(kExitFailed, what + ": the record changed while it was read; read it again");
    return iLength;
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

void Romctl::load(const CommandLine& line) {
    line.allowOnly("load", {"--verbose", "--if-changed"});
    Expect(line.operands(), 2, 2, "load MANIFEST [--if-changed]");
    const Manifest manifest(line.operands()[1], m_areas);
    const std::vector<Manifest::Entry>& entries = manifest.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        try {
            store(entries[i].area, entries[i].record, line);
        } catch (const Failure& failure) {
            const std::string written = i == 0 ? "" : "; the lines above it were written";
            throw Failure(failure.status(), manifest.where(entries[i].line) + ": " + failure.what() + written);
        }
    }
}

void Romctl::save(const CommandLine& line) {
    line.allowOnly("save", {"--verbose"});
    Expect(line.operands(), 2, 2, "save DIR");
    const std::string dir = line.operands()[1];
    // Every area is read before anything is written, so that a node that cannot be read leaves DIR as it
    // was. The flash is read as inspect reads it, so that saving changes nothing on it.
    std::string manifest = "# The current record of each area, saved by romctl save; romctl load writes them back.\n";
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
    const int iDigits = static_cast<int>(std::to_string(m_areas.last()).size());
    for (int area = m_areas.first(); area <= m_areas.last(); ++area) {
        const AreaScan scan(m_areas, area);
        const int iCurrent = scan.current();
        if (iCurrent < 0 || BlockFormat::IsFormatMarker(scan.blocks()[iCurrent].header)) {
            const bool bDamaged = std::any_of(scan.blocks().begin(), scan.blocks().end(), [](const AreaScan::Block& b) {
                return BlockFormat::StateOf(b.header) == BlockFormat::kBlockCommitted && b.recordLength < 0;
            });
            manifest += "# area " + std::to_string(area) + ": no record" +
                        (bDamaged && iCurrent < 0 ? ", no committed block verifies" : "") + "\n";
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof(name), "area-%0*d.bin", iDigits, area);
        manifest += Manifest::Line(area, name);
        files.emplace_back(name, scan.currentRecord());
    }

    MakeDirectory(dir);
    // An earlier manifest goes before the first file is written, and the new one comes after the last,
    // so that a manifest stands only beside the files of a save that finished.
    const std::filesystem::path manifestPath = std::filesystem::path(dir) / kManifestName;
    std::error_code error;
    std::filesystem::remove(manifestPath, error);
    if (error) throw Failure(kExitFailed, "cannot remove " + manifestPath.string() + ": " + error.message());
    for (const auto& [name, record] : files) WriteFile((std::filesystem::path(dir) / name).string(), record);
    WriteFile(manifestPath.string(), std::vector<unsigned char>(manifest.begin(), manifest.end()));
}

void Romctl::store(int area, std::vector<unsigned char> record, const CommandLine& line) {
    // The store wants a buffer even for a record of no bytes.
    unsigned char none = 0;
    unsigned char* const data = record.empty() ? &none : record.data();
    const int length = static_cast<int>(record.size());
    const int result = line.has("--if-changed") ? m_store.SetDataIfChanged(area, data, length)
                                                : m_store.SetData(area, data, length, true);
    if (result == ROMSTORE_UNCHANGED && line.has("--verbose"))
        std::cerr << "romctl: area " << area << " holds these " << length << " bytes already; nothing was written\n";
    if (result != 0 && result != ROMSTORE_UNCHANGED) refused("write area " + std::to_string(area), result, area);
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
