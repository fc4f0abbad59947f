// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// SHA-256 of a byte string, the same on every machine: flash images compare across architectures by a
// digest that the source keeps, and anyone can check that digest with sha256sum on an image file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace romtest {

// The digest as 64 lowercase hex digits.
std::string Sha256Hex(const std::vector<std::uint8_t>& message);

}  // namespace romtest
