// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Counts the heap allocations of the benchmark program by interposing malloc, calloc, realloc and
// operator new, and tells apart those that the store's own code asks for: the simulator allocates
// as well (its descriptor table, its operation log), and those are not the store's.
#pragma once

#include <cstdint>

namespace rombench {

struct Allocations {
    std::uint64_t all;
    std::uint64_t store;  // called from the store's code
};

// From now on, allocations called from the code of libromstore.so count as the store's; with the
// store linked in statically, those called from the program's own code.
void AttributeAllocationsToStore();

// The counts since the program started.
Allocations AllocationsSoFar();

}  // namespace rombench
