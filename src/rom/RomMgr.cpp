// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "RomMgr.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "RomDeviceInfo.h"
#include "RomResult.h"

#define ROM_LOG_FILE "RomMgr"
#include "RomLog.h"

CRomMgr::CRomMgr() : m_iDeviceNum(0), m_pAreaRange(nullptr), m_pRomDevice(nullptr) {
    while (g_RomDeviceInfoArray[m_iDeviceNum].iAreaNum > 0) ++m_iDeviceNum;

    m_pAreaRange = new AreaRange[m_iDeviceNum];
    for (int i = 0; i < m_iDeviceNum; ++i) {
        m_pAreaRange[i].iStartArea = i == 0 ? 1 : m_pAreaRange[i - 1].iEndArea + 1;
        m_pAreaRange[i].iEndArea = m_pAreaRange[i].iStartArea + g_RomDeviceInfoArray[i].iAreaNum - 1;
    }

    m_pRomDevice = new CRomDevice[m_iDeviceNum];
    for (int i = 0; i < m_iDeviceNum; ++i) {
        const RomDeviceInfo& info = g_RomDeviceInfoArray[i];
        m_pRomDevice[i].Initialize(m_pAreaRange[i].iStartArea, m_pAreaRange[i].iEndArea, info.iAreaSize,
                                   info.iSectorSize, info.iBlockSize, info.pszDevName);
    }
}

CRomMgr::~CRomMgr() {
    delete[] m_pRomDevice;
    m_pRomDevice = nullptr;
    delete[] m_pAreaRange;
    m_pAreaRange = nullptr;
}

int CRomMgr::areaToDeviceNum(int area) {
    for (int i = 0; i < m_iDeviceNum; ++i) {
        if (m_pAreaRange[i].iStartArea <= area && area <= m_pAreaRange[i].iEndArea) return i;
    }
    return -1;
}

int CRomMgr::GetAreaRange(int* pStartArea, int* pEndArea) {
    if (pStartArea == nullptr || pEndArea == nullptr) {
        ROM_LOG(LOGLV_ERROR, "Invalid argument");
        return RET_FAIL;
    }
    if (m_iDeviceNum == 0) {
        ROM_LOG(LOGLV_ERROR, "Invalid RomMgr config");
        return RET_FAIL;
    }
    *pStartArea = m_pAreaRange[0].iStartArea;
    *pEndArea = m_pAreaRange[m_iDeviceNum - 1].iEndArea;
    return RET_OK;
}

namespace {

// The device that holds a global area, and the area's number on it; null, with the caller's error
// line, when no device holds the area.
CRomDevice* LocateArea(CRomMgr& mgr, const char* pszCaller, int area, int* pLocal) {
    int iDevice = mgr.areaToDeviceNum(area);
    if (iDevice < 0) {
        ROM_LOG_FROM(pszCaller, LOGLV_ERROR, "Invalid argument(%d)", area);
        return nullptr;
    }
    *pLocal = area - mgr.m_pAreaRange[iDevice].iStartArea + 1;
    return &mgr.m_pRomDevice[iDevice];
}

}  // namespace

int CRomMgr::GetData(int area, int block, unsigned char* data, int length) {
    int iLocal = 0;
    CRomDevice* pDevice = LocateArea(*this, __func__, area, &iLocal);
    return pDevice != nullptr ? pDevice->GetData(iLocal, block, data, length) : RET_INVALID_ARG;
}

int CRomMgr::GetData(int area, unsigned char* data, int length) {
    int iLocal = 0;
    CRomDevice* pDevice = LocateArea(*this, __func__, area, &iLocal);
    return pDevice != nullptr ? pDevice->GetData(iLocal, data, length) : RET_INVALID_ARG;
}

int CRomMgr::SetData(int area, unsigned char* data, int length, bool bOpen) {
    int iLocal = 0;
    CRomDevice* pDevice = LocateArea(*this, __func__, area, &iLocal);
    return pDevice != nullptr ? pDevice->SetData(iLocal, data, length, bOpen) : RET_INVALID_ARG;
}

int CRomMgr::CheckHealth(int area, romstore_health* pHealth) {
    int iLocal = 0;
    CRomDevice* pDevice = LocateArea(*this, __func__, area, &iLocal);
    return pDevice != nullptr ? pDevice->CheckHealth(iLocal, pHealth) : RET_INVALID_ARG;
}

int CRomMgr::SetDataIfChanged(int area, unsigned char* data, int length) {
    int iLocal = 0;
    CRomDevice* pDevice = LocateArea(*this, __func__, area, &iLocal);
    return pDevice != nullptr ? pDevice->SetDataIfChanged(iLocal, data, length) : RET_INVALID_ARG;
}

namespace {

// Walks the areas selected by mask in ascending order and runs attempt(device index, local area) on
// each; the areas whose attempt did not return RET_OK are set in the result. A manager without any
// device selects nothing.
template <class Attempt>
int ForEachSelectedArea(CRomMgr& mgr, int mask, Attempt attempt) {
    if (mgr.m_iDeviceNum <= 0) return 0;
    unsigned int uiFailed = 0;
    unsigned int uiBit = 1;
    const int iLast = mgr.m_pAreaRange[mgr.m_iDeviceNum - 1].iEndArea;
    for (int area = mgr.m_pAreaRange[0].iStartArea; area <= iLast; ++area, uiBit <<= 1) {
        if ((static_cast<unsigned int>(mask) & uiBit) == 0) continue;
        int iDevice = mgr.areaToDeviceNum(area);
        if (attempt(iDevice, area - mgr.m_pAreaRange[iDevice].iStartArea + 1) != RET_OK)
            uiFailed |= uiBit;
    }
    return static_cast<int>(uiFailed);
}

// Repeats attempt() after a 100 ms pause for as long as it reports the node busy, within a window of
// 10 whole seconds of the calendar clock. A clock set back makes the unsigned difference huge and
// closes the window rather than stretching it.
template <class Attempt>
int RetryWhileBusy(const char* pszFunction, const char* pszDoneFormat, int area, Attempt attempt) {
    const time_t start = time(nullptr);
    int iTries = 0;
    for (;;) {
        struct timespec pause = {0, 100000000};
        nanosleep(&pause, nullptr);
        int iResult = attempt();
        ++iTries;
        if (iResult != RET_BUSY) {
            ROM_LOG_FROM(pszFunction, LOGLV_INFO, pszDoneFormat, area, iTries);
            return iResult;
        }
        if (static_cast<uint32_t>(time(nullptr) - start) >= 10) {
            ROM_LOG_FROM(pszFunction, LOGLV_ERROR, "Retry timeout(%d,%d)", area, iTries);
            return iResult;
        }
    }
}

}  // namespace

int CRomMgr::EraseArea(int mask) {
    ROM_LOG(LOGLV_NOTICE, "CALLED(0x%08X)", static_cast<unsigned int>(mask));
    return ForEachSelectedArea(*this, mask, [this](int iDevice, int iLocal) {
        CRomDevice* pDevice = &m_pRomDevice[iDevice];
        int iResult = pDevice->EraseArea(iLocal, true);
        return iResult == RET_BUSY ? retryEraseArea(pDevice, iLocal) : iResult;
    });
}

int CRomMgr::InitializeArea(int mask) {
    ROM_LOG(LOGLV_NOTICE, "CALLED(0x%08X)", static_cast<unsigned int>(mask));
    if (m_iDeviceNum <= 0) return 0;

    // One zero record serves every selected area: as long as the largest block, and each area takes
    // the longest record that its own blocks hold.
    int iSize = 0;
    for (int i = 0; i < m_iDeviceNum; ++i)
        if (g_RomDeviceInfoArray[i].iBlockSize > iSize) iSize = g_RomDeviceInfoArray[i].iBlockSize;
    unsigned char* pZero = static_cast<unsigned char*>(malloc(iSize));
    if (pZero == nullptr) return -1;
    memset(pZero, 0, iSize);

    int iFailed = ForEachSelectedArea(*this, mask, [this, pZero](int iDevice, int iLocal) {
        CRomDevice* pDevice = &m_pRomDevice[iDevice];
        int iLength = g_RomDeviceInfoArray[iDevice].iBlockSize - CRomDevice::HEADER_SIZE;
        int iResult = pDevice->SetData(iLocal, pZero, iLength, true);
        return iResult == RET_BUSY ? retrySetData(pDevice, iLocal, pZero, iLength) : iResult;
    });
    free(pZero);
    return iFailed;
}

int CRomMgr::retrySetData(CRomDevice* pDevice, int area, unsigned char* data, int length) {
    if (pDevice == nullptr) return RET_INVALID_ARG;
    return RetryWhileBusy("retrySetData", "Retry SetData(%d,%d)", area,
                          [=] { return pDevice->SetData(area, data, length, true); });
}

int CRomMgr::retryEraseArea(CRomDevice* pDevice, int area) {
    if (pDevice == nullptr) return RET_INVALID_ARG;
    return RetryWhileBusy("retryEraseArea", "Retry EraseArea(%d,%d)", area,
                          [=] { return pDevice->EraseArea(area, true); });
}
