// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Runs a program with the NOR flash simulator preloaded, so that the device table's nodes are the
// image files of a FlashImages, and says how it ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FlashImages.h"

// The power fails during the `after`-th flash program or erase of the program; the cut program
// stores its first `programBytes` bytes, a cut erase leaves its range as `erase` says (untouched,
// completed, zeroed, mixed or almost).
struct CutOptions {
    int after = 0;
    std::uint32_t programBytes = 0;
    std::string erase = "untouched";
};

// The exit statuses of romsim besides the program's own.
enum RomsimStatus {
    kRomsimPowerCut = 137,     // as a shell reports a program killed by SIGKILL
    kRomsimFailed = 125,       // romsim itself: wrong command line, no directory, no images
    kRomsimCannotRun = 126,    // the program exists but cannot be run
    kRomsimNotFound = 127,     // no such program
};

class Simulator {
public:
    Simulator(std::string library, const FlashImages& images) : m_library(std::move(library)), m_images(images) {}

    // The program's exit status, 128 + N when a signal N ended it, kRomsimPowerCut when the cut
    // fell; a line on standard error tells of every end but a normal exit.
    int run(const std::vector<std::string>& command, const std::optional<CutOptions>& cut) const;

private:
    void prepareEnvironment(const std::optional<CutOptions>& cut) const;

    std::string m_library;
    const FlashImages& m_images;
};
