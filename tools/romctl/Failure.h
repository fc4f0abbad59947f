// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// What ends a command early: the one line that romctl prints on standard error, and its exit status.
#pragma once

#include <stdexcept>
#include <string>

// The exit statuses of romctl.
enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,  // the store, a node or a file failed
    kExitUsage = 2,   // the command line is wrong; nothing was touched
    kExitBusy = 3,    // another holder has the node open; nothing was done, try again later
    kExitDamaged = 4,     // a newer committed block does not verify, or a sector that should be blank is not
    kExitUnreadable = 5,  // check: an area's node or part of it cannot be read
    kExitNoRecord = 6,    // read --strict: the area holds no record, only the format marker
};

class Failure : public std::runtime_error {
public:
    Failure(ExitStatus status, const std::string& message) : std::runtime_error(message), m_status(status) {}
    ExitStatus status() const { return m_status; }

private:
    ExitStatus m_status;
};
