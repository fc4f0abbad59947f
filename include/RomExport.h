// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The library is built with hidden symbols; only what carries ROMSTORE_EXPORT is its interface.
#pragma once

#define ROMSTORE_EXPORT __attribute__((visibility("default")))
