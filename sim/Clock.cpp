// The virtual clock: time() and nanosleep() for the whole process, read from the real clock unless a
// VirtualClock lives.
#include "NorSim.h"

#include <atomic>
#include <cerrno>
#include <ctime>

namespace {

std::atomic<bool> g_virtual{false};
std::atomic<std::int64_t> g_start{0};
std::atomic<std::uint64_t> g_slept{0};

constexpr std::uint64_t kNanoseconds = 1000000000u;

}  // namespace

namespace norsim {

VirtualClock::VirtualClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    g_start = now.tv_sec;
    g_slept = 0;
    g_virtual = true;
}

VirtualClock::~VirtualClock() { g_virtual = false; }

std::uint64_t VirtualClock::slept() const { return g_slept; }

}  // namespace norsim

extern "C" {

time_t time(time_t* out) noexcept {
    timespec now{};
    if (g_virtual)
        now.tv_sec = static_cast<time_t>(g_start + static_cast<std::int64_t>(g_slept / kNanoseconds));
    else
        clock_gettime(CLOCK_REALTIME, &now);
    if (out != nullptr) *out = now.tv_sec;
    return now.tv_sec;
}

int nanosleep(const timespec* request, timespec* remaining) {
    if (request == nullptr || request->tv_nsec < 0 || request->tv_nsec >= static_cast<long>(kNanoseconds)) {
        errno = request == nullptr ? EFAULT : EINVAL;
        return -1;
    }
    if (g_virtual) {
        g_slept += static_cast<std::uint64_t>(request->tv_sec) * kNanoseconds + static_cast<std::uint64_t>(request->tv_nsec);
        return 0;
    }
    const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

}  // extern "C"
