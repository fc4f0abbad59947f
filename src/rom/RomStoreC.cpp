// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The C functions of romstore.h: each runs one CRomMgr call on a manager of its own.
#include "romstore.h"

#include <new>

#include "RomMgr.h"
#include "RomResult.h"

static_assert(static_cast<int>(ROMSTORE_OK) == RET_OK && static_cast<int>(ROMSTORE_FAIL) == RET_FAIL &&
                  static_cast<int>(ROMSTORE_BUSY) == RET_BUSY &&
                  static_cast<int>(ROMSTORE_INVALID_ARG) == RET_INVALID_ARG &&
                  static_cast<int>(ROMSTORE_BAD_BLOCK) == RET_BAD_BLOCK &&
                  static_cast<int>(ROMSTORE_UNCHANGED) == RET_UNCHANGED,
              "the C results are the manager's");

namespace {

// A manager per call holds no descriptor between calls, so threads never share one. Building it
// allocates, and no exception may cross into C: a failed allocation fails the call, every bit set
// for the bulk operations, as InitializeArea reports its own.
template <typename Call>
int WithStore(Call call) noexcept {
    try {
        CRomMgr store;
        return call(store);
    } catch (const std::bad_alloc&) {
        return RET_FAIL;
    }
}

}  // namespace

extern "C" {

int romstore_read(int area, unsigned char* data, int length) {
    return WithStore([&](CRomMgr& store) { return store.GetData(area, data, length); });
}

int romstore_read_block(int area, int block, unsigned char* data, int length) {
    return WithStore([&](CRomMgr& store) { return store.GetData(area, block, data, length); });
}

// The store only reads the record.
int romstore_write(int area, const unsigned char* data, int length) {
    return WithStore(
        [&](CRomMgr& store) { return store.SetData(area, const_cast<unsigned char*>(data), length, true); });
}

int romstore_write_if_changed(int area, const unsigned char* data, int length) {
    return WithStore(
        [&](CRomMgr& store) { return store.SetDataIfChanged(area, const_cast<unsigned char*>(data), length); });
}

int romstore_erase(int mask) {
    return WithStore([&](CRomMgr& store) { return store.EraseArea(mask); });
}

int romstore_initialize(int mask) {
    return WithStore([&](CRomMgr& store) { return store.InitializeArea(mask); });
}

int romstore_area_range(int* first, int* last) {
    return WithStore([&](CRomMgr& store) { return store.GetAreaRange(first, last); });
}

int romstore_check(int area, struct romstore_health* health) {
    return WithStore([&](CRomMgr& store) { return store.CheckHealth(area, health); });
}

const char* romstore_version(void) { return ROMSTORE_VERSION; }

}  // extern "C"
