// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Every line of the store is asked for first and formatted only when its level is enabled, so that a
// disabled level costs one call and nothing that a line would print is evaluated for nothing.
// A source file defines ROM_LOG_FILE (its name as the log shows it) before it includes this header.
//
// A line names the public operation that it reports on; a private step that logs on behalf of its
// caller is handed the caller's name and uses ROM_LOG_FROM.
#pragma once

#include "NqLog.h"

#define ROM_LOG_FROM(function, level, ...)                                               \
    do {                                                                                 \
        if (NqGetStatus(ROM_LOG_MODULE, (level)) != 0)                                   \
            NqLogX((level), "RO", (function), ROM_LOG_FILE, __LINE__, __VA_ARGS__);      \
    } while (0)

#define ROM_LOG(level, ...) ROM_LOG_FROM(__func__, level, __VA_ARGS__)
