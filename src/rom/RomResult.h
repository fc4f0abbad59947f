// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Result codes of the store. The interface returns them as plain ints; callers compare with values.
#pragma once

enum {
    RET_OK = 0,
    RET_FAIL = -1,
    RET_BUSY = -2,
    RET_INVALID_ARG = -3,
    RET_BAD_BLOCK = -4,
    RET_UNCHANGED = 1,  // SetDataIfChanged: the current record holds these bytes; nothing was written
};
