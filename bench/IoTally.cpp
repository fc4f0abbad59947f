// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "IoTally.h"

#include <tuple>

#include "RomDevice.h"

namespace rombench {

std::uint64_t BytesMoved(const norsim::Op& op) {
    return op.result > 0 ? static_cast<std::uint64_t>(op.result) : 0;
}

void IoTally::add(const norsim::Node& node) {
    for (const norsim::Op& op : node.ops()) {
        ++calls;
        switch (op.kind) {
        case norsim::OpKind::Read:
            if (op.length == sizeof(BlockHeader)) ++headerReads;
            bytesRead += BytesMoved(op);
            break;
        case norsim::OpKind::Program:
            ++programs;
            bytesProgrammed += BytesMoved(op);
            break;
        case norsim::OpKind::Erase:
            if (op.result == 0) sectorsErased += op.length / node.eraseSize();
            break;
        default:
            break;
        }
    }
}

IoTally& IoTally::operator+=(const IoTally& other) {
    calls += other.calls;
    headerReads += other.headerReads;
    bytesRead += other.bytesRead;
    programs += other.programs;
    bytesProgrammed += other.bytesProgrammed;
    sectorsErased += other.sectorsErased;
    return *this;
}

bool IoTally::operator==(const IoTally& other) const {
    return std::tie(calls, headerReads, bytesRead, programs, bytesProgrammed, sectorsErased) ==
           std::tie(other.calls, other.headerReads, other.bytesRead, other.programs, other.bytesProgrammed,
                    other.sectorsErased);
}

}  // namespace rombench
