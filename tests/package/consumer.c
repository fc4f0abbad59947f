// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// A host written in C, through romstore.h: needs no flash to tell the range and a bad area, and prints
// the library's version.
#include <romstore.h>
#include <stdio.h>

int main(void) {
    int first = 0, last = 0;
    unsigned char byte = 0;
    if (romstore_area_range(&first, &last) != ROMSTORE_OK || first != 1 || last != 31) return 1;
    puts(romstore_version());
    return romstore_read(0, &byte, 1) == ROMSTORE_INVALID_ARG ? 0 : 1;
}
