// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// A host application's use of the store: write a record, read it back, look at the result codes.
#include <stdio.h>
#include <string.h>

#include "RomMgr.h"

int main() {
    CRomMgr store;

    int first = 0, last = 0;
    if (store.GetAreaRange(&first, &last) != 0) return 1;
    printf("areas %d to %d\n", first, last);

    unsigned char settings[64];
    memset(settings, 0, sizeof(settings));
    snprintf(reinterpret_cast<char*>(settings), sizeof(settings), "baud=115200 mode=8N1");

    // -2 means another process holds the node: try again later. Any other negative result is final.
    int result = store.SetData(1, settings, sizeof(settings), true);
    if (result != 0) {
        fprintf(stderr, "write failed: %d\n", result);
        return 1;
    }

    // The store keeps no length: ask for the bytes you wrote and compare the result with the length.
    unsigned char back[sizeof(settings)];
    result = store.GetData(1, back, sizeof(back));
    if (result != static_cast<int>(sizeof(back))) {
        fprintf(stderr, "read failed: %d\n", result);
        return 1;
    }
    printf("area 1 holds \"%s\"\n", reinterpret_cast<char*>(back));
    return memcmp(settings, back, sizeof(back)) == 0 ? 0 : 1;
}
