// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The compiled-in storage layout: one row per MTD node, ended by a row whose iAreaNum is 0 or less.
#pragma once

#include "RomExport.h"

struct RomDeviceInfo {
    int iAreaNum;            // areas on the node; 0 or less ends the table
    int iAreaSize;           // bytes per area
    int iSectorSize;         // bytes per sector, the unit the store erases
    int iBlockSize;          // bytes per block, 8-byte header included
    const char* pszDevName;  // path of the device node
};

// Writable on purpose: a board port may patch the layout before the first CRomMgr is built.
extern ROMSTORE_EXPORT RomDeviceInfo g_RomDeviceInfoArray[3];
