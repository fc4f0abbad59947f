// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "AreaTable.h"

#include <stdexcept>

#include "CommandLine.h"
#include "Failure.h"

AreaTable::AreaTable(CRomMgr& store) : m_store(store) {
    if (m_store.GetAreaRange(&m_iFirst, &m_iLast) != 0) throw Failure(kExitFailed, "the device table holds no area");
}

int AreaTable::parse(const std::string& text) const {
    // A negative number is a number all the same, one below the range.
    const bool bNegative = text.size() > 1 && text[0] == '-';
    int area = 0;
    try {
        area = CommandLine::number(bNegative ? text.substr(1) : text, "an area");
    } catch (const std::invalid_argument&) {
        throw Failure(kExitUsage, "area \"" + text + "\" is not a number");
    }
    if (bNegative) area = -area;
    if (area < m_iFirst || area > m_iLast)
        throw Failure(kExitUsage, "area " + text + " is out of range " + std::to_string(m_iFirst) + ".." +
                                      std::to_string(m_iLast));
    return area;
}

AreaGeometry AreaTable::geometry(int area) const {
    const int iDevice = m_store.areaToDeviceNum(area);
    const CRomDevice& dev = m_store.m_pRomDevice[iDevice];
    const int iLocal = area - m_store.m_pAreaRange[iDevice].iStartArea;
    return AreaGeometry{dev.m_szDevName, iLocal * dev.m_iAreaSize, dev.m_iAreaSize, dev.m_iSectorSize,
                        dev.m_iBlockSize};
}

int AreaTable::globalArea(const std::string& node, int local) const {
    for (int i = 0; i < m_store.m_iDeviceNum; ++i)
        if (node == m_store.m_pRomDevice[i].m_szDevName) return m_store.m_pAreaRange[i].iStartArea + local - 1;
    return local;
}

int AreaTable::blocks(int area) const {
    const AreaGeometry g = geometry(area);
    return g.blockSize > 0 ? g.areaSize / g.blockSize : 0;
}

int AreaTable::largestRecord(int area) const {
    const int iLargest = geometry(area).blockSize - CRomDevice::HEADER_SIZE;
    return iLargest > 0 ? iLargest : 0;
}

std::string AreaTable::lengthProblem(int area, std::size_t length) const {
    const int iLargest = largestRecord(area);
    if (length <= static_cast<std::size_t>(iLargest)) return "";
    return "a record of " + std::to_string(length) + " bytes is longer than area " + std::to_string(area) +
           "'s largest record of " + std::to_string(iLargest) + " bytes";
}
