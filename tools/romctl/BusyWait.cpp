// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "BusyWait.h"

#include <ctime>

bool BusyWait::pause() {
    if (m_llPausesLeft == 0) return false;
    --m_llPausesLeft;
    // nanosleep itself, which a test's virtual clock stands behind.
    const timespec pause = {0, 100000000};
    nanosleep(&pause, nullptr);
    return true;
}

std::string BusyWait::waited() const {
    return m_iSeconds > 0 ? " (waited " + std::to_string(m_iSeconds) + " s)" : "";
}
