// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "FlashModel.h"

#include <algorithm>

#include "IoTally.h"

namespace rombench {
namespace {

// Page-mode reads: 90 ns for the first word of a 16-byte page, 25 ns for each of the other seven.
constexpr double kReadBytesPerUs = 16.0 / (0.090 + 7 * 0.025);
// Programs go through the 512-byte write buffer at 340 us a buffer, and none takes less than the
// 60 us of a single word program.
constexpr double kBufferProgramUs = 340.0;
constexpr double kBufferBytes = 512.0;
constexpr double kWordProgramUs = 60.0;
// 0.5 s a 128 KiB sector; a larger erase block is erased sector by sector.
constexpr double kSectorEraseUs = 500000.0;
constexpr double kSectorBytes = 128.0 * 1024;

}  // namespace

double FlashMicroseconds(const norsim::Node& node) {
    double us = 0;
    for (const norsim::Op& op : node.ops()) {
        switch (op.kind) {
        case norsim::OpKind::Read:
            us += BytesMoved(op) / kReadBytesPerUs;
            break;
        case norsim::OpKind::Program:
            us += std::max(kWordProgramUs, BytesMoved(op) / kBufferBytes * kBufferProgramUs);
            break;
        case norsim::OpKind::Erase:
            if (op.result == 0) us += op.length / kSectorBytes * kSectorEraseUs;
            break;
        default:
            break;
        }
    }
    return us;
}

}  // namespace rombench
