// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Bytes as a hex dump: offset, sixteen bytes in hex, the same bytes as text. A run of lines equal to
// the one before is shown as one "*", so that the erased tail of a record takes one line.
#pragma once

#include <ostream>
#include <vector>

void WriteHexDump(const std::vector<unsigned char>& bytes, std::ostream& out);
