// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// One area as romctl check reports it, from the store's health check: a status that scripts act on,
// a line for people and an object for machines.
#pragma once

#include <string>

#include "Failure.h"
#include "romstore.h"

class HealthReport {
public:
    // `result` is the check's: the health counts only when it is 0. `problem` says why a check that
    // failed could not open the node, when romctl can tell.
    HealthReport(int area, std::string node, int result, const romstore_health& health, std::string problem);

    // kExitOk; kExitDamaged when a newer committed block does not verify or a sector that should be
    // blank is not; kExitUnreadable when the node or part of the area cannot be read; kExitBusy.
    ExitStatus status() const;
    // "area 1: healthy, record of 9 bytes in block 1", with what else is wrong after it.
    std::string line() const;
    // The fields of romstore_health under their own names, after area, node, status and result.
    std::string json() const;

private:
    int m_iArea;
    std::string m_node;
    int m_iResult;
    romstore_health m_health;
    std::string m_problem;
};
