// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include <RomMgr.h>

int main() {
    CRomMgr store;
    int first = 0, last = 0;
    return store.GetAreaRange(&first, &last) == 0 && first == 1 && last == 31 ? 0 : 1;
}
