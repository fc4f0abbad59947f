// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The checks of the program that runs inside the virtual machine: one line per check, "ok - ..." or
// "FAIL - ...", which the host counts, and a closing "N passed, M failed".
#pragma once

#include <string>

class Tally {
public:
    // Records one check and prints its line; returns ok.
    bool Check(bool ok, const std::string& what);
    // Prints "N passed, M failed" and returns the number failed.
    int Finish() const;

private:
    int m_iPassed = 0;
    int m_iFailed = 0;
};
