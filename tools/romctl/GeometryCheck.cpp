// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "GeometryCheck.h"

#include <cstdio>
#include <optional>

#include <mtd/mtd-user.h>

#include "Failure.h"
#include "Json.h"
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

std::vector<std::string> GeometryCheck::print(std::ostream& out, bool bJson) const {
    std::vector<std::string> mismatches;
    for (int i = 0; i < m_store.m_iDeviceNum; ++i) {
        const CRomDevice& dev = m_store.m_pRomDevice[i];
        const std::string node = dev.m_szDevName;
        const int iAreas = m_store.m_pAreaRange[i].iEndArea - m_store.m_pAreaRange[i].iStartArea + 1;
        const unsigned int uiNeeded = static_cast<unsigned int>(iAreas) * static_cast<unsigned int>(dev.m_iAreaSize);
        const unsigned int uiSector = static_cast<unsigned int>(dev.m_iSectorSize);

        std::vector<std::string> problems;
        std::optional<mtd_info_user> kernel;
        try {
            kernel = NodeReader(node).info();
        } catch (const Failure& failure) {
            // A busy node is not one that does not fit: it is the command's to wait for.
            if (failure.status() == kExitBusy) throw;
            problems.push_back(failure.what());
        }
        // The kernel's mtdram test driver gives RAM nodes that keep the NOR rules of erase and program,
        // so the store runs on them; only a power cut loses what they hold.
        if (kernel && kernel->type != MTD_RAM && kernel->type != MTD_NORFLASH)
            problems.push_back(node + " is " + TypeName(kernel->type) + ", not nor flash");
        if (kernel && kernel->size < uiNeeded)
            problems.push_back(node + " is smaller than its areas: size " + Hex(kernel->size) + ", needed " +
                               Hex(uiNeeded) + " for " + Areas(iAreas, dev.m_iAreaSize));
        if (kernel && (kernel->erasesize == 0 || uiSector % kernel->erasesize != 0))
            problems.push_back(node + ": erase size " + Hex(kernel->erasesize) +
                               " does not divide the table's sector size " + Hex(uiSector));
        mismatches.insert(mismatches.end(), problems.begin(), problems.end());

        if (bJson) {
            std::vector<std::string> quoted;
            for (const std::string& problem : problems) quoted.push_back(JsonObject::Text(problem));
            const std::string kernelJson = !kernel ? "null"
                                                   : JsonObject()
                                                         .text("type", TypeName(kernel->type))
                                                         .number("size", kernel->size)
                                                         .number("erase_size", kernel->erasesize)
                                                         .number("write_size", kernel->writesize)
                                                         .str();
            out << JsonObject()
                       .text("node", node)
                       .raw("kernel", kernelJson)
                       .raw("table", JsonObject()
                                         .number("size", uiNeeded)
                                         .number("areas", iAreas)
                                         .number("area_size", dev.m_iAreaSize)
                                         .number("sector_size", dev.m_iSectorSize)
                                         .str())
                       .raw("problems", JsonObject::Array(quoted))
                       .str()
                << "\n";
            continue;
        }
        out << node << "\n";
        if (kernel) {
            out << "  kernel: " << TypeName(kernel->type) << ", size " << Hex(kernel->size) << ", erase size "
                << Hex(kernel->erasesize) << ", write size " << kernel->writesize << "\n";
            if (kernel->type == MTD_RAM)
                out << "  note:   ram stands in for nor flash here, and keeps nothing over a power cut\n";
        }
        out << "  table:  nor flash, size " << Hex(uiNeeded) << " (" << Areas(iAreas, dev.m_iAreaSize)
            << "), sectors of " << Hex(uiSector) << "\n";
    }
    return mismatches;
}
