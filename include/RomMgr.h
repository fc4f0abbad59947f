// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store's entry point: one manager over every node of the device table, areas numbered globally.
#pragma once

#include "RomDevice.h"
#include "RomExport.h"

// The global area numbers that one device serves, both ends inclusive.
struct AreaRange {
    int iStartArea;
    int iEndArea;
};

class ROMSTORE_EXPORT CRomMgr {
public:
    CRomMgr();
    virtual ~CRomMgr();

    int areaToDeviceNum(int area);
    int GetAreaRange(int* pStartArea, int* pEndArea);

    int GetData(int area, int block, unsigned char* data, int length);
    int GetData(int area, unsigned char* data, int length);
    int SetData(int area, unsigned char* data, int length, bool bOpen);
    // What the area holds and what is wrong with it, read without changing anything (romstore.h).
    int CheckHealth(int area, romstore_health* pHealth);
    // SetData, unless the area's current block already holds what the write would store: then nothing
    // is programmed or erased, and the result is 1.
    int SetDataIfChanged(int area, unsigned char* data, int length);

    // Bit k of a mask stands for global area k + 1; the result has a bit set for each selected area
    // that failed. Both ride out a busy node, for up to 10 seconds per area.
    int EraseArea(int mask);
    int InitializeArea(int mask);
    int retrySetData(CRomDevice* pDevice, int area, unsigned char* data, int length);
    int retryEraseArea(CRomDevice* pDevice, int area);

    int m_iDeviceNum;
    AreaRange* m_pAreaRange;
    CRomDevice* m_pRomDevice;
};
