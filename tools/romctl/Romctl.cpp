// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Romctl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>

#include "AreaScan.h"
#include "BlockFormat.h"
#include "Directory.h"
#include "Failure.h"
#include "GeometryCheck.h"
#include "Files.h"
#include "HealthReport.h"
#include "HexDump.h"
#include "Inspector.h"
#include "Manifest.h"
#include "NodeReader.h"
#include "ResultText.h"
#include "StoreLog.h"
#include "romstore.h"

namespace {

std::string Held(const std::string& node) { return "another holder has " + node + " open"; }

// What keeps the store from `node`, as far as a look from outside tells: another holder (a busy
// Failure) or an open that fails; nothing when neither. The store tells a missing node only by -1, and
// a busy one in a bulk call not at all. Under romsim the node exists only inside the simulator, which
// interposes open(), so nothing but an open can tell.
std::optional<Failure> OpenProblem(const std::string& node) {
    try {
        if (!NodeReader(node).heldElsewhere()) return std::nullopt;
    } catch (const Failure& failure) {
        if (failure.status() != kExitBusy) return failure;
    }
    return Failure(kExitBusy, Held(node));
}

// The sectors whose erase the store logged as failed since the last call: "sector 1 of area 1 on
// /dev/mtd_backup could not be erased: Input/output error", joined by "; ".
std::string ErasesFailed(const AreaTable& areas) {
    std::string text;
    for (const EraseFailure& f : TakeEraseFailures())
        text += (text.empty() ? "" : "; ") + std::string("sector ") + std::to_string(f.sector) + " of area " +
                std::to_string(areas.globalArea(f.node, f.area)) + " on " + f.node +
                " could not be erased: " + std::strerror(f.error);
    return text;
}

void Expect(const std::vector<std::string>& operands, std::size_t least, std::size_t most, const std::string& usage) {
    if (operands.size() < least || operands.size() > most) throw Failure(kExitUsage, "usage: romctl " + usage);
}

}  // namespace

void Romctl::run(const CommandLine& line) {
    if (line.operands().empty()) throw Failure(kExitUsage, "no command given; see romctl --help");
    const std::string& command = line.operands()[0];
    const bool bBulk = command == "erase" || command == "init";
    const std::string wait = line.value("--wait", std::to_string(bBulk ? BusyWait::kStoreSeconds : 0));
    m_wait = BusyWait(wait.empty() ? BusyWait::kStoreSeconds : CommandLine::number(wait, "--wait"));
    if (command == "range") range(line);
    else if (command == "write") write(line);
    else if (command == "read") read(line);
    else if (bBulk) bulk(line, command);
    else if (command == "inspect") inspect(line);
    else if (command == "check") check(line);
    else if (command == "info") info(line);
    else if (command == "load") load(line);
    else if (command == "save") save(line);
    else throw Failure(kExitUsage, "unknown command \"" + command + "\"; see romctl --help");
    // A read or a write may succeed although the clean-up of a sector after it failed.
    const std::string erases = ErasesFailed(m_areas);
    if (!erases.empty()) std::cerr << "romctl: warning: " << erases << "\n";
}

void Romctl::range(const CommandLine& line) {
    line.allowOnly("range", {"--verbose"});
    Expect(line.operands(), 1, 1, "range");
    std::cout << m_areas.first() << " " << m_areas.last() << "\n";
}

void Romctl::write(const CommandLine& line) {
    line.allowOnly("write", {"--verbose", "--wait", "--if-changed"});
    Expect(line.operands(), 2, 3, "write AREA [FILE|-] [--if-changed]");
    const int area = m_areas.parse(line.operands()[1]);
    const std::string name = line.operands().size() == 3 ? line.operands()[2] : "-";
    std::vector<unsigned char> record = name == "-" ? ReadAll(stdin, "standard input") : ReadFile(name);
    const std::string problem = m_areas.lengthProblem(area, record.size());
    if (!problem.empty()) throw Failure(kExitUsage, problem + "; nothing was written");
    store(area, std::move(record), line);
}

void Romctl::read(const CommandLine& line) {
    line.allowOnly("read", {"--verbose", "--wait", "--length", "--block", "--out", "--hex", "--strict"});
    Expect(line.operands(), 2, 2, "read AREA [--length N] [--block B] [--out FILE] [--hex] [--strict]");
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
    const int result = m_wait.retry([&] {
        const int iResult = block >= 0 ? m_store.GetData(area, block, record.data(), length)
                                       : m_store.GetData(area, record.data(), length);
        if (iResult < 0) refused(what, iResult, area);
        return iResult;
    });
    if (result != length)
        throw Failure(kExitFailed, what + ": read " + std::to_string(result) + " of " + std::to_string(length) +
                                       " bytes");
    record.resize(static_cast<std::size_t>(length));
    if (bOwnLength) record.resize(static_cast<std::size_t>(ownLength(area, block, record, what)));
    if (block < 0) vouch(area, what, line);

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

int Romctl::ownLength(int area, int block, const std::vector<unsigned char>& region, const std::string& what) {
    const AreaScan scan = m_wait.retry([&] { return AreaScan(m_areas, area); });
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

void Romctl::vouch(int area, const std::string& what, const CommandLine& line) const {
    romstore_health health{};
    if (m_store.CheckHealth(area, &health) != 0) return;
    const bool bStrict = line.has("--strict");
    if (health.newer_damaged > 0) {
        const std::string damage = what + ": the record of block " + std::to_string(health.current_block) +
                                   " is older than block " + std::to_string(health.newest_damaged) +
                                   ", whose record does not verify; romctl check " + std::to_string(area) +
                                   " tells more";
        if (bStrict) throw Failure(kExitDamaged, damage);
        std::cerr << "romctl: warning: " << damage << "\n";
    }
    if (health.state != ROMSTORE_AREA_FORMATTED) return;
    const std::string none = what + ": the area holds no record, only the format marker";
    if (bStrict) throw Failure(kExitNoRecord, none);
    if (line.has("--verbose")) std::cerr << "romctl: " << none << "\n";
}

void Romctl::bulk(const CommandLine& line, const std::string& command) {
    line.allowOnly(command, {"--verbose", "--wait", "--all", "--mask"});
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

    // The store rides out a busy node for 10 s in each area on its own, and its mask of failed areas
    // does not say why they failed. So romctl hands it only the areas of nodes that are free, waits out
    // the busy ones itself for as long as --wait says, and looks at the nodes of areas that failed.
    std::map<std::string, unsigned int> onNode;
    for (int area = m_areas.first(); area <= m_areas.last(); ++area)
        onNode[m_areas.geometry(area).node] |= uiMask & 1u << (area - m_areas.first());
    unsigned int uiPending = uiMask;
    unsigned int uiFailed = 0;
    do {
        unsigned int uiFree = 0;
        for (const auto& [node, uiAreas] : onNode) {
            if ((uiPending & uiAreas) == 0) continue;
            const std::optional<Failure> problem = OpenProblem(node);
            if (!problem || problem->status() != kExitBusy) uiFree |= uiPending & uiAreas;
        }
        if (uiFree != 0) {
            const int iFailed = command == "erase" ? m_store.EraseArea(static_cast<int>(uiFree))
                                                   : m_store.InitializeArea(static_cast<int>(uiFree));
            uiFailed |= static_cast<unsigned int>(iFailed) & uiFree;
        }
        uiPending &= ~uiFree;
    } while (uiPending != 0 && m_wait.pause());
    if ((uiFailed | uiPending) == 0) return;

    std::string areas;
    for (int area = m_areas.first(); area <= m_areas.last(); ++area)
        if (((uiFailed | uiPending) >> (area - m_areas.first()) & 1u) != 0) areas += " " + std::to_string(area);
    std::string problems = ErasesFailed(m_areas);
    if (!problems.empty()) problems = ": " + problems;
    // A sector that would not erase is a failure, whatever else kept the other areas from the store.
    bool bBusy = problems.empty();
    for (const auto& [node, uiAreas] : onNode) {
        if (((uiFailed | uiPending) & uiAreas) == 0) continue;
        // A node still pending was busy at the last look; a look now might find it just given up.
        const std::optional<Failure> problem =
            (uiPending & uiAreas) != 0 ? Failure(kExitBusy, Held(node)) : OpenProblem(node);
        bBusy = bBusy && problem && problem->status() == kExitBusy;
        if (problem) problems += (problems.empty() ? ": " : "; ") + std::string(problem->what());
    }
    const std::string failed = command + " failed in areas" + areas + problems;
    if (bBusy) throw Failure(kExitBusy, failed + "; try again later" + m_wait.waited());
    throw Failure(kExitFailed, failed);
}

std::vector<int> Romctl::areasNamed(const CommandLine& line) const {
    std::vector<int> areas;
    for (std::size_t i = 1; i < line.operands().size(); ++i) areas.push_back(m_areas.parse(line.operands()[i]));
    if (areas.empty())
        for (int area = m_areas.first(); area <= m_areas.last(); ++area) areas.push_back(area);
    return areas;
}

void Romctl::inspect(const CommandLine& line) {
    line.allowOnly("inspect", {"--verbose", "--wait", "--json"});
    const std::vector<int> areas = areasNamed(line);
    const Inspector inspector(m_areas);
    if (!line.has("--json")) Inspector::printLegend(std::cout);
    // An area is printed whole or not at all: each print reads it before it prints it.
    for (const int area : areas)
        m_wait.retry([&] { line.has("--json") ? inspector.printJson(area, std::cout) : inspector.print(area, std::cout); });
}

void Romctl::check(const CommandLine& line) {
    line.allowOnly("check", {"--verbose", "--wait", "--json"});
    // The areas of each status but healthy; the exit status is the highest of them.
    std::map<ExitStatus, std::string> found;
    for (const int area : areasNamed(line)) {
        romstore_health health{};
        int result = m_store.CheckHealth(area, &health);
        while (result == -2 && m_wait.pause()) result = m_store.CheckHealth(area, &health);
        const std::string node = m_areas.geometry(area).node;
        const std::optional<Failure> problem = result == -1 ? OpenProblem(node) : std::nullopt;
        const HealthReport report(area, node, result, health, problem ? problem->what() : "");
        std::cout << (line.has("--json") ? report.json() : report.line()) << "\n";
        if (report.status() != kExitOk) found[report.status()] += " " + std::to_string(area);
    }
    if (found.empty()) return;
    const std::map<ExitStatus, std::string> kinds = {{kExitBusy, "busy, try again later" + m_wait.waited() + ":"},
                                                     {kExitDamaged, "damaged:"},
                                                     {kExitUnreadable, "unreadable:"}};
    std::string lines;
    for (const auto& [status, areas] : found)
        lines += (lines.empty() ? "" : "\nromctl: ") + std::string("check: ") + kinds.at(status) + " areas" + areas;
    std::cout.flush();
    throw Failure(found.rbegin()->first, lines);
}

void Romctl::info(const CommandLine& line) {
    line.allowOnly("info", {"--verbose", "--wait", "--json"});
    Expect(line.operands(), 1, 1, "info");
    // Printed once every node answered, so that a busy node tried again prints nothing twice.
    std::ostringstream out;
    const std::vector<std::string> mismatches = m_wait.retry([&] {
        out.str("");
        return GeometryCheck(m_store).print(out, line.has("--json"));
    });
    std::cout << out.str();
    if (mismatches.empty()) return;
    // One line each, every one after the first with romctl's name as main gives it to the first.
    std::string lines = mismatches.front();
    for (std::size_t i = 1; i < mismatches.size(); ++i) lines += "\nromctl: " + mismatches[i];
    throw Failure(kExitFailed, lines);
}

void Romctl::load(const CommandLine& line) {
    line.allowOnly("load", {"--verbose", "--wait", "--if-changed"});
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
    line.allowOnly("save", {"--verbose", "--wait"});
    Expect(line.operands(), 2, 2, "save DIR");
    const std::string dir = line.operands()[1];
    // Every area is read before anything is written, so that a node that cannot be read leaves DIR as it
    // was. The flash is read as inspect reads it, so that saving changes nothing on it.
    std::string manifest = "# The current record of each area, saved by romctl save; romctl load writes them back.\n";
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
    const int iDigits = static_cast<int>(std::to_string(m_areas.last()).size());
    for (int area = m_areas.first(); area <= m_areas.last(); ++area) {
        const AreaScan scan = m_wait.retry([&] { return AreaScan(m_areas, area); });
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
    // The comparison is part of the attempt: a busy node tried again is compared again.
    const int result = m_wait.retry([&] {
        const int iResult = line.has("--if-changed") ? m_store.SetDataIfChanged(area, data, length)
                                                     : m_store.SetData(area, data, length, true);
        if (iResult != 0 && iResult != ROMSTORE_UNCHANGED) refused("write area " + std::to_string(area), iResult, area);
        return iResult;
    });
    if (result == ROMSTORE_UNCHANGED && line.has("--verbose"))
        std::cerr << "romctl: area " << area << " holds these " << length << " bytes already; nothing was written\n";
}

void Romctl::refused(const std::string& what, int result, int area) const {
    const std::string node = m_areas.geometry(area).node;
    const std::string failed = what + ": " + ResultText(result);
    if (result == -2)
        throw Failure(kExitBusy, failed + ": " + Held(node) + "; nothing was done, try again later");
    if (result == -4)
        throw Failure(kExitFailed, failed + ": the block is not committed or its record does not verify; "
                                            "romctl inspect " + std::to_string(area) + " shows the blocks");
    const std::string erases = ErasesFailed(m_areas);
    if (!erases.empty()) throw Failure(kExitFailed, failed + ": " + erases);
    const std::optional<Failure> problem = result == -1 ? OpenProblem(node) : std::nullopt;
    if (problem) throw Failure(kExitFailed, failed + ": " + problem->what());
    throw Failure(kExitFailed, failed + "; --verbose shows the store's log lines");
}
