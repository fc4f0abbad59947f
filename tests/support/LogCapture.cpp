#include "LogCapture.h"

#include <stdarg.h>
#include <stdio.h>

#include <mutex>

#include "NqLog.h"

namespace logcap {
namespace {

struct State {
    unsigned enabled = 0;
    bool active = false;
    std::vector<Line> lines;
    int stray = 0;
};

std::mutex g_mutex;
State g_state;

bool Enabled(int level) {
    return g_state.active && level >= 0 && level < 32 && (g_state.enabled & (1u << level)) != 0;
}

}  // namespace

LogCapture::LogCapture(unsigned enabledLevels) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state = State{enabledLevels, true, {}, 0};
}

LogCapture::~LogCapture() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state = State{};
}

std::vector<Line> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.lines;
}

std::vector<std::string> LogCapture::texts(int level) const {
    std::vector<std::string> out;
    for (const Line& l : lines())
        if (l.level == level) out.push_back(l.text);
    return out;
}

int LogCapture::strayCalls() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.stray;
}

}  // namespace logcap

extern "C" __attribute__((visibility("default"))) int NqGetStatus(int module, int level) {
    std::lock_guard<std::mutex> lock(logcap::g_mutex);
    if (logcap::g_state.active && module != ROM_LOG_MODULE) ++logcap::g_state.stray;
    return logcap::Enabled(level) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int NqLogX(int level, const char* tag, const char* function,
                                                             const char* file, int, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    std::lock_guard<std::mutex> lock(logcap::g_mutex);
    if (!logcap::g_state.active) return 0;
    if (!logcap::Enabled(level)) ++logcap::g_state.stray;
    logcap::g_state.lines.push_back({level, tag ? tag : "", function ? function : "", file ? file : "", text});
    return 0;
}
