/* SPDX-FileCopyrightText: 2026 The romstore developers */
/* SPDX-License-Identifier: MIT */

/* The store from C: the operations of CRomMgr over the compiled-in device table, with the same
 * results. Each call builds its own manager and lets it go before it returns; the manager keeps
 * nothing but the flash between calls, so no handle is needed, and calls from several threads meet
 * as calls from several processes do: the one that finds a node in use gets ROMSTORE_BUSY. */
#ifndef ROMSTORE_H
#define ROMSTORE_H

#include "RomExport.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The results, as CRomMgr returns them. A read returns the number of bytes it read instead of
 * ROMSTORE_OK: compare it with the length asked for. */
enum {
    ROMSTORE_OK = 0,
    ROMSTORE_FAIL = -1,
    ROMSTORE_BUSY = -2,
    ROMSTORE_INVALID_ARG = -3,
    ROMSTORE_BAD_BLOCK = -4,
    ROMSTORE_UNCHANGED = 1
};

/* The first `length` bytes of the area's current record. */
ROMSTORE_EXPORT int romstore_read(int area, unsigned char* data, int length);
/* The first `length` bytes of the record in committed block `block` of the area. */
ROMSTORE_EXPORT int romstore_read_block(int area, int block, unsigned char* data, int length);
/* Stores `length` bytes as the area's new record. */
ROMSTORE_EXPORT int romstore_write(int area, const unsigned char* data, int length);
/* As romstore_write, unless the area's current record already is these bytes: then nothing is
 * programmed or erased, and the result is ROMSTORE_UNCHANGED. */
ROMSTORE_EXPORT int romstore_write_if_changed(int area, const unsigned char* data, int length);
/* Bit k of `mask` selects area k + 1. Both return the mask of the selected areas that failed, and
 * wait out a busy node for up to 10 seconds per area. */
ROMSTORE_EXPORT int romstore_erase(int mask);
/* Stores in each selected area a record of zero bytes, as long as the area takes. */
ROMSTORE_EXPORT int romstore_initialize(int mask);
/* The first and the last area number. */
ROMSTORE_EXPORT int romstore_area_range(int* first, int* last);
/* The library's version, "MAJOR.MINOR.PATCH": the package's, as pkg-config and CMake report it. */
ROMSTORE_EXPORT const char* romstore_version(void);

/* What an area holds, as romstore_health.state tells it. */
enum {
    ROMSTORE_AREA_BLANK = 0,      /* every header erased: the first read or write formats the area */
    ROMSTORE_AREA_FORMATTED = 1,  /* the current block is the format marker: no record was written */
    ROMSTORE_AREA_RECORD = 2,     /* the current block holds a record */
    ROMSTORE_AREA_NO_RECORD = 3   /* no current block: a read fails, or erases and formats an area
                                     without any committed block */
};

/* An area as romstore_check finds it. Blocks and sectors count from 0 within the area; -1 is none. */
struct romstore_health {
    int state;           /* ROMSTORE_AREA_... */
    int current_block;   /* the block whose record a read returns; -1 when a read finds none */
    int record_length;   /* the current record's own length, 0 for the format marker; -1 without one */
    int newer_damaged;   /* committed blocks above the current one whose record does not verify: the
                            record a read returns is older than the newest one written */
    int newest_damaged;  /* the highest of them */
    int older_damaged;   /* committed blocks below the current one whose record does not verify */
    int rejected;        /* blocks whose record did not read back as written */
    int unfinished;      /* blocks written but never committed (status erased, checksum word not) */
    int other;           /* blocks whose status word is in no state the store writes */
    int stale_sector;    /* the lowest sector that holds any byte other than 0xFF although the current
                            block lies in another one (any sector of a blank area); -1 when none does */
    int unreadable;      /* 1 when a header, record region or sector could not be read */
};

/* Fills *health for the area. Reads only: it formats, erases and programs nothing, and a read that
 * fails sets `unreadable` instead of failing the call. Returns ROMSTORE_OK, or ROMSTORE_FAIL when the
 * node cannot be opened, ROMSTORE_BUSY, ROMSTORE_INVALID_ARG for an area out of range or no health. */
ROMSTORE_EXPORT int romstore_check(int area, struct romstore_health* health);

#ifdef __cplusplus
}
#endif

#endif
