// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The virtual clock: time() and nanosleep() for the whole process, read from the real clock unless a
// VirtualClock lives.
#include "NorSim.h"

#include <cerrno>
#include <ctime>
#include <mutex>

namespace {

// Guarded by a lock rather than kept in atomics: 32-bit targets have no lock-free 64-bit atomics
// without libatomic.
struct Clock {
    std::mutex mutex;
    bool on = false;
    std::int64_t start = 0;
    std::uint64_t slept = 0;
};

Clock& TheClock() {
    static Clock clock;
    return clock;
}

constexpr std::uint64_t kNanoseconds = 1000000000u;

}  // namespace

namespace norsim {

VirtualClock::VirtualClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    Clock& clock = TheClock();
    const std::lock_guard<std::mutex> lock(clock.mutex);
    clock.start = now.tv_sec;
    clock.slept = 0;
    clock.on = true;
}

VirtualClock::~VirtualClock() {
    const std::lock_guard<std::mutex> lock(TheClock().mutex);
    TheClock().on = false;
}

std::uint64_t VirtualClock::slept() const {
    const std::lock_guard<std::mutex> lock(TheClock().mutex);
    return TheClock().slept;
}

}  // namespace norsim

extern "C" {

time_t time(time_t* out) noexcept {
    timespec now{};
    Clock& clock = TheClock();
    std::unique_lock<std::mutex> lock(clock.mutex);
    if (clock.on) {
        now.tv_sec = static_cast<time_t>(clock.start + static_cast<std::int64_t>(clock.slept / kNanoseconds));
    } else {
        lock.unlock();
        clock_gettime(CLOCK_REALTIME, &now);
    }
    if (out != nullptr) *out = now.tv_sec;
    return now.tv_sec;
}

int nanosleep(const timespec* request, timespec* remaining) {
    if (request == nullptr || request->tv_nsec < 0 || request->tv_nsec >= static_cast<long>(kNanoseconds)) {
        errno = request == nullptr ? EFAULT : EINVAL;
        return -1;
    }
    Clock& clock = TheClock();
    {
        const std::lock_guard<std::mutex> lock(clock.mutex);
        if (clock.on) {
            clock.slept += static_cast<std::uint64_t>(request->tv_sec) * kNanoseconds +
                           static_cast<std::uint64_t>(request->tv_nsec);
            return 0;
        }
    }
    const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

}  // extern "C"
