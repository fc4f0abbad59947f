// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The store's log lines pass through romctl on their way to the log facility, so that romctl can tell
// what a result code cannot: which sector would not erase, and why. The facility gets every line it
// enables as before.
#pragma once

#include <string>
#include <vector>

struct EraseFailure {
    std::string node;
    int area;    // counted from 1 on its node, as the store's line names it
    int sector;
    int error;   // errno as the failed erase left it
};

// The sectors whose erase failed since the last call, each once, with the errno of its last try.
std::vector<EraseFailure> TakeEraseFailures();
