// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "GeometryCheck.h"

#include <cstdio>

#include <mtd/mtd-user.h>

#include "Failure.h"
#include "NodeReader.h"

namespace {

std::string Hex(unsigned int uiValue) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%x", uiValue);
    return text;
}

std::string Areas(int iAreas, int iAreaSize) {
    return std::to_string(iAreas) + (iAreas == 1 ? " area of " : " areas of ") +
           Hex(static_cast<unsigned int>(iAreaSize));
}

std::string TypeName(unsigned int uiType) {
    switch (uiType) {
    case MTD_ABSENT: return "absent";
    case MTD_RAM: return "ram";
    case MTD_ROM: return "rom";
    case MTD_NORFLASH: return "nor flash";
    case MTD_NANDFLASH: return "nand flash";
    case MTD_DATAFLASH: return "dataflash";
    case MTD_UBIVOLUME: return "ubi volume";
    case MTD_MLCNANDFLASH: return "mlc nand flash";
    default: return "type " + std::to_string(uiType);
    }
}

}  // namespace

std::vector<std::string> GeometryCheck::print(std::ostream& out) const {
    std::vector<std::string> mismatches;
    for (int i = 0; i < m_store.m_iDeviceNum; ++i) {
        const CRomDevice& dev = m_store.m_pRomDevice[i];
        const std::string node = dev.m_szDevName;
        const int iAreas = m_store.m_pAreaRange[i].iEndArea - m_store.m_pAreaRange[i].iStartArea + 1;
        const unsigned int uiNeeded = static_cast<unsigned int>(iAreas) * static_cast<unsigned int>(dev.m_iAreaSize);
        const unsigned int uiSector = static_cast<unsigned int>(dev.m_iSectorSize);

        out << node << "\n";
        try {
            const mtd_info_user info = NodeReader(node).info();
            out << "  kernel: " << TypeName(info.type) << ", size " << Hex(info.size) << ", erase size "
                << Hex(info.erasesize) << ", write size " << info.writesize << "\n";
            // The kernel's mtdram test driver gives RAM nodes that keep the NOR rules of erase and
            // program, so the store runs on them; only a power cut loses what they hold.
            if (info.type == MTD_RAM)
                out << "  note:   ram stands in for nor flash here, and keeps nothing over a power cut\n";
            else if (info.type != MTD_NORFLASH)
                mismatches.push_back(node + " is " + TypeName(info.type) + ", not nor flash");
            if (info.size < uiNeeded)
                mismatches.push_back(node + " is smaller than its areas: size " + Hex(info.size) + ", needed " +
                                     Hex(uiNeeded) + " for " + Areas(iAreas, dev.m_iAreaSize));
            if (info.erasesize == 0 || uiSector % info.erasesize != 0)
                mismatches.push_back(node + ": erase size " + Hex(info.erasesize) +
                                     " does not divide the table's sector size " + Hex(uiSector));
        } catch (const Failure& failure) {
            mismatches.push_back(failure.what());
        }
        out << "  table:  nor flash, size " << Hex(uiNeeded) << " (" << Areas(iAreas, dev.m_iAreaSize)
            << "), sectors of " << Hex(uiSector) << "\n";
    }
    return mismatches;
}
