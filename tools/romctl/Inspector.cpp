#include "Inspector.h"

#include <algorithm>
#include <string>
#include <vector>

#include "BlockFormat.h"
#include "Failure.h"
#include "NodeReader.h"

namespace {

char BlockState(const unsigned char* block, int blockSize) {
    const BlockHeader header = BlockFormat::DecodeHeader(block);
    switch (BlockFormat::StateOf(header)) {
    case BlockFormat::kBlockFree: return '.';
    case BlockFormat::kBlockWritten: return 'W';
    case BlockFormat::kBlockRejected: return 'R';
    case BlockFormat::kBlockOther: return '?';
    case BlockFormat::kBlockCommitted: break;
    }
    BlockFormat::RecordCheck check(header.uiCrc);
    check.Add(block + BlockFormat::kHeaderSize, blockSize - BlockFormat::kHeaderSize);
    return check.Trusted() ? 'C' : '!';
}

}  // namespace

void Inspector::printLegend(std::ostream& out) {
    out << "blocks: C committed, ! committed but its record does not verify, . free, R rejected,\n"
           "        W written but not committed, ? other\n";
}

void Inspector::print(int area, std::ostream& out) const {
    const AreaGeometry g = m_areas.geometry(area);
    if (g.blockSize <= 0) throw Failure(kExitFailed, "area " + std::to_string(area) + " has no valid geometry");
    const int iSectors = g.areaSize / g.sectorSize;
    const int iBlocksPerSector = g.sectorSize / g.blockSize;

    NodeReader node(g.node);
    int iCurrent = -1;
    std::vector<std::string> map;
    std::vector<int> notBlank;
    for (int s = 0; s < iSectors; ++s) {
        std::vector<unsigned char> sector = node.read(g.offset + s * g.sectorSize, g.sectorSize);
        std::string states;
        for (int b = 0; b < iBlocksPerSector; ++b) {
            states += BlockState(sector.data() + b * g.blockSize, g.blockSize);
            if (states.back() == 'C') iCurrent = s * iBlocksPerSector + b;
        }
        map.push_back(states);
        if (std::any_of(sector.begin(), sector.end(), [](unsigned char c) { return c != 0xFF; }))
            notBlank.push_back(s);
    }

    out << "area " << area << ": " << g.node << " at 0x" << std::hex << g.offset << std::dec << ", " << iSectors
        << " sectors of " << iBlocksPerSector << " blocks of " << g.blockSize << " bytes\n";
    out << "  current block: " << (iCurrent >= 0 ? std::to_string(iCurrent) : "none") << "\n";
    for (int s = 0; s < iSectors; ++s) out << "  sector " << s << ": " << map[s] << "\n";
    // Worded so that the sector numbers cannot be read as a count.
    out << "  not blank: " << (notBlank.empty() ? "no sector" : notBlank.size() == 1 ? "sector" : "sectors");
    for (const int s : notBlank) out << " " << s;
    out << "\n";
}
