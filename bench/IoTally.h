// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// What calls on a simulated node cost in flash I/O, counted from the simulator's operation log.
#pragma once

#include <cstdint>

#include "NorSim.h"

namespace rombench {

struct IoTally {
    std::uint64_t calls = 0;  // every call on the node: open, close, seek, read, program, erase, ioctl
    std::uint64_t headerReads = 0;  // reads of one 8-byte block header
    std::uint64_t bytesRead = 0;
    std::uint64_t programs = 0;
    std::uint64_t bytesProgrammed = 0;
    std::uint64_t sectorsErased = 0;

    // Adds the calls in the node's log.
    void add(const norsim::Node& node);
    IoTally& operator+=(const IoTally& other);
    bool operator==(const IoTally& other) const;
};

// The bytes that a read or a program moved; a failed call moved none.
std::uint64_t BytesMoved(const norsim::Op& op);

}  // namespace rombench
