// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "StoreLog.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "NqLog.h"

namespace {

using StatusCall = int (*)(int, int);
using LogCall = int (*)(int, const char*, const char*, const char*, int, const char*, ...);

// The facility's own calls behind romctl's; none in a romctl linked statically, where no facility
// comes after it.
struct Facility {
    StatusCall status = reinterpret_cast<StatusCall>(dlsym(RTLD_NEXT, "NqGetStatus"));
    LogCall log = reinterpret_cast<LogCall>(dlsym(RTLD_NEXT, "NqLogX"));
};

// The store asks for a line's level and formats the line at once, with nothing in between that could
// change errno: what the level query saw belongs to the line.
struct Pass {
    int error = 0;
    bool forwarded = false;
    std::vector<EraseFailure> failures;
};

Facility& Next() {
    static Facility facility;
    return facility;
}

Pass& Current() {
    static Pass pass;
    return pass;
}

void Note(const EraseFailure& failure) {
    std::vector<EraseFailure>& failures = Current().failures;
    const auto same = std::find_if(failures.begin(), failures.end(), [&](const EraseFailure& f) {
        return f.node == failure.node && f.area == failure.area && f.sector == failure.sector;
    });
    if (same == failures.end()) failures.push_back(failure);
    else same->error = failure.error;
}

}  // namespace

std::vector<EraseFailure> TakeEraseFailures() {
    std::vector<EraseFailure> taken;
    taken.swap(Current().failures);
    return taken;
}

// Errors are always asked for, whatever the facility enables: no result of the store depends on its
// levels.
extern "C" __attribute__((visibility("default"))) int NqGetStatus(int module, int level) {
    Pass& pass = Current();
    pass.error = errno;
    pass.forwarded = Next().status != nullptr && Next().status(module, level) != 0;
    errno = pass.error;
    return pass.forwarded || (module == ROM_LOG_MODULE && level == LOGLV_ERROR) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int NqLogX(int level, const char* tag, const char* function,
                                                             const char* file, int line, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    const Pass& pass = Current();
    char node[64];
    int area = 0, sector = 0;
    if (level == LOGLV_ERROR && std::sscanf(text, "Fail to Erase Sector(%d, %d, %63[^)])", &area, &sector, node) == 3)
        Note(EraseFailure{node, area, sector, pass.error});
    return pass.forwarded && Next().log != nullptr ? Next().log(level, tag, function, file, line, "%s", text) : 0;
}
