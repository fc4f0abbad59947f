// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store's result codes as a person reads them.
#pragma once

#include <string>

// "ok (0)", "failed (-1)", "busy (-2)", "invalid argument (-3)", "bad block (-4)"; "result N" for
// any other value.
std::string ResultText(int result);
