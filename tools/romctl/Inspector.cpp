// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Inspector.h"

#include <cstdio>
#include <string>

#include "AreaScan.h"
#include "BlockFormat.h"
#include "Json.h"

namespace {

char StateMark(const AreaScan::Block& block) {
    switch (BlockFormat::StateOf(block.header)) {
    case BlockFormat::kBlockFree: return '.';
    case BlockFormat::kBlockWritten: return 'W';
    case BlockFormat::kBlockRejected: return 'R';
    case BlockFormat::kBlockOther: return '?';
    case BlockFormat::kBlockCommitted: break;
    }
    return block.recordLength >= 0 ? 'C' : '!';
}

std::string LengthText(const AreaScan::Block& block) {
    if (block.recordLength < 0) return "does not verify";
    return BlockFormat::IsFormatMarker(block.header) ? "format marker" : std::to_string(block.recordLength);
}

}  // namespace

void Inspector::printLegend(std::ostream& out) {
    out << "blocks: C committed, ! committed but its record does not verify, . free, R rejected,\n"
           "        W written but not committed, ? other\n";
}

void Inspector::print(int area, std::ostream& out) const {
    const AreaScan scan(m_areas, area);
    const AreaGeometry& g = scan.geometry();
    const int iSectors = g.areaSize / g.sectorSize;
    const int iBlocksPerSector = g.sectorSize / g.blockSize;

    out << "area " << area << ": " << g.node << " at 0x" << std::hex << g.offset << std::dec << ", " << iSectors
        << " sectors of " << iBlocksPerSector << " blocks of " << g.blockSize << " bytes\n";
    out << "  current block: " << (scan.current() >= 0 ? std::to_string(scan.current()) : "none") << "\n";
    std::string lengths;
    for (int s = 0; s < iSectors; ++s) {
        out << "  sector " << s << ": ";
        for (int b = s * iBlocksPerSector; b < (s + 1) * iBlocksPerSector; ++b) {
            const AreaScan::Block& block = scan.blocks()[b];
            const char mark = StateMark(block);
            out << mark;
            if (mark != 'C' && mark != '!') continue;
            char row[64];
            std::snprintf(row, sizeof(row), "  %5d  %s\n", b, LengthText(block).c_str());
            lengths += row;
        }
        out << "\n";
    }
    // Worded so that the sector numbers cannot be read as a count.
    const std::vector<int>& notBlank = scan.notBlankSectors();
    out << "  not blank: " << (notBlank.empty() ? "no sector" : notBlank.size() == 1 ? "sector" : "sectors");
    for (const int s : notBlank) out << " " << s;
    out << "\n";
    if (!lengths.empty()) out << "  block  length\n" << lengths;
}

void Inspector::printJson(int area, std::ostream& out) const {
    const AreaScan scan(m_areas, area);
    const AreaGeometry& g = scan.geometry();
    const int iBlocksPerSector = g.sectorSize / g.blockSize;
    std::vector<std::string> sectors, notBlank, records;
    for (std::size_t b = 0; b < scan.blocks().size(); ++b) {
        const AreaScan::Block& block = scan.blocks()[b];
        if (b % iBlocksPerSector == 0) sectors.push_back("");
        sectors.back() += StateMark(block);
        if (BlockFormat::StateOf(block.header) != BlockFormat::kBlockCommitted) continue;
        records.push_back(JsonObject()
                              .number("block", static_cast<long long>(b))
                              .number("length", block.recordLength)
                              .raw("format_marker", BlockFormat::IsFormatMarker(block.header) ? "true" : "false")
                              .str());
    }
    for (std::string& marks : sectors) marks = JsonObject::Text(marks);
    for (const int s : scan.notBlankSectors()) notBlank.push_back(std::to_string(s));
    out << JsonObject()
               .number("area", area)
               .text("node", g.node)
               .number("offset", g.offset)
               .number("sectors", g.areaSize / g.sectorSize)
               .number("blocks_per_sector", iBlocksPerSector)
               .number("block_size", g.blockSize)
               .number("current_block", scan.current())
               .raw("blocks", JsonObject::Array(sectors))
               .raw("not_blank_sectors", JsonObject::Array(notBlank))
               .raw("records", JsonObject::Array(records))
               .str()
        << "\n";
}
