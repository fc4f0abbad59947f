#include "Inspector.h"

#include <algorithm>
#include <string>
#include <vector>

#include "Failure.h"
#include "NodeReader.h"
#include "RomDevice.h"

namespace {

// Header words are big-endian on flash, whatever the machine.
unsigned int WordAt(const unsigned char* bytes) {
    return static_cast<unsigned int>(bytes[0]) << 24 | static_cast<unsigned int>(bytes[1]) << 16 |
           static_cast<unsigned int>(bytes[2]) << 8 | bytes[3];
}

// Whether a committed block's record verifies as the store checks it before it trusts the block: some
// length of record, followed by nothing but 0xFF to the end of the block, has the checksum of the
// header. A bare format marker (checksum word erased) verifies when its whole record is erased. The
// store keeps no record length, so every length from the last byte that is not 0xFF is tried.
bool Verifies(unsigned char* record, int size, unsigned int uiCrc) {
    int iEnd = size;
    while (iEnd > 0 && record[iEnd - 1] == 0xFF) --iEnd;
    if (uiCrc == 0xFFFFFFFFu) return iEnd == 0;
    if ((uiCrc >> 16) != 0) return false;
    CRomDevice checksum;
    unsigned short usCrc = checksum.CalculateCRC16(record, iEnd);
    for (int length = iEnd; usCrc != (uiCrc & 0xFFFFu); ++length) {
        if (length == size) return false;
        usCrc = checksum.CalculateCRC16Continuation(record + length, 1, usCrc);
    }
    return true;
}

char BlockState(unsigned char* block, int blockSize) {
    const unsigned int uiStatus = WordAt(block);
    const unsigned int uiCrc = WordAt(block + 4);
    const int iHeader = CRomDevice::HEADER_SIZE;
    if (uiStatus == BLOCK_STATUS_CURRENT) return Verifies(block + iHeader, blockSize - iHeader, uiCrc) ? 'C' : '!';
    if (uiStatus == BLOCK_STATUS_REJECTED) return 'R';
    if (uiStatus == BLOCK_STATUS_ERASED) return uiCrc == 0xFFFFFFFFu ? '.' : 'W';
    return '?';
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
