// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// How long a command keeps trying a node that another holder has open: again every 100 ms until its
// pauses add up to the seconds of --wait. The pauses are counted rather than timed, so that a clock
// set back or forward neither cuts the wait short nor stretches it.
#pragma once

#include <string>

#include "Failure.h"

class BusyWait {
public:
    // How long the store's bulk calls ride out a busy node: romctl's default for erase and init.
    static constexpr int kStoreSeconds = 10;

    explicit BusyWait(int seconds = 0) : m_iSeconds(seconds), m_llPausesLeft(seconds * 10LL) {}

    // Pauses 100 ms and is true; false, at once, when the wait is used up.
    bool pause();
    // " (waited N s)" when the command may wait, so that the last line says how long it did.
    std::string waited() const;

    // attempt(), again after each pause for as long as it throws a busy Failure; when the wait is used
    // up, that Failure, with how long it waited.
    template <class Attempt>
    auto retry(Attempt attempt) -> decltype(attempt()) {
        for (;;) {
            try {
                return attempt();
            } catch (const Failure& failure) {
                if (failure.status() != kExitBusy) throw;
                if (!pause()) throw Failure(kExitBusy, failure.what() + waited());
            }
        }
    }

private:
    int m_iSeconds;
    long long m_llPausesLeft;
};
