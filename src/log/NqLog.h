// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The two calls of the platform log facility (libnq.so), the only parts of it that the store uses.
#pragma once

extern "C" {
int NqGetStatus(int module, int level);
int NqLogX(int level, const char* tag, const char* function, const char* file, int line,
           const char* format, ...) __attribute__((format(printf, 6, 7)));
}

enum {
    LOGLV_ERROR = 3,
    LOGLV_WARNING = 4,
    LOGLV_NOTICE = 5,
    LOGLV_INFO = 6,
    LOGLV_DEBUG = 7,
};

enum { ROM_LOG_MODULE = 14 };
