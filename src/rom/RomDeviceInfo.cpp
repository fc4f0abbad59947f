// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "RomDeviceInfo.h"

RomDeviceInfo g_RomDeviceInfoArray[3] = {
    {30, 0x80000, 0x40000, 0x2000, "/dev/mtd_backup"},
    {1, 0x100000, 0x80000, 0x10000, "/dev/mtd_backup2"},
    {-1, -1, -1, -1, ""},
};
