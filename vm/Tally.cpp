// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Tally.h"

#include <stdio.h>

bool Tally::Check(bool ok, const std::string& what) {
    ++(ok ? m_iPassed : m_iFailed);
    printf("%s - %s\n", ok ? "ok" : "FAIL", what.c_str());
    fflush(stdout);
    return ok;
}

int Tally::Finish() const {
    printf("%d passed, %d failed\n", m_iPassed, m_iFailed);
    fflush(stdout);
    return m_iFailed;
}
