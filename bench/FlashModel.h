// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The time that a node's calls would keep real flash busy, with typical datasheet figures of a 3 V
// parallel NOR flash of the 128 Mbit class: x16 bus with 16-byte page reads, 128 KiB sectors, a
// 512-byte write buffer. Opens, closes and seeks cost the flash nothing; the kernel's and the store's
// own time is not part of it.
#pragma once

#include "NorSim.h"

namespace rombench {

// Microseconds for the calls in the node's log.
double FlashMicroseconds(const norsim::Node& node);

}  // namespace rombench
