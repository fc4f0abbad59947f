#include "LogCapture.h"

#include <stdarg.h>
#include <stdio.h>

#include <mutex>

#include "NqLog.h"

namespace logcap {

struct LogCapture::State {
    unsigned enabled;
    std::vector<Line> lines;
    int stray = 0;
};

namespace {

std::mutex g_mutex;
LogCapture::State* g_active = nullptr;

bool Enabled(const LogCapture::State* state, int level) {
    return state != nullptr && level >= 0 && level < 32 && (state->enabled & (1u << level)) != 0;
}

}  // namespace

LogCapture::LogCapture(unsigned enabledLevels) : m_state(new State{enabledLevels, {}}) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_active = m_state;
}

LogCapture::~LogCapture() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_active == m_state) g_active = nullptr;
    delete m_state;
}

std::vector<Line> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return m_state->lines;
}

std::vector<std::string> LogCapture::texts(int level) const {
    std::vector<std::string> out;
    for (const Line& l : lines())
        if (l.level == level) out.push_back(l.text);
    return out;
}

int LogCapture::count(int level, const std::string& text) const {
    int n = 0;
    for (const Line& l : lines())
        if (l.level == level && l.text == text) ++n;
    return n;
}

int LogCapture::strayCalls() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return m_state->stray;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    m_state->lines.clear();
    m_state->stray = 0;
}

}  // namespace logcap

extern "C" __attribute__((visibility("default"))) int NqGetStatus(int module, int level) {
    std::lock_guard<std::mutex> lock(logcap::g_mutex);
    if (logcap::g_active != nullptr && module != ROM_LOG_MODULE) ++logcap::g_active->stray;
    return logcap::Enabled(logcap::g_active, level) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int NqLogX(int level, const char* tag,
                                                             const char* function, const char* file,
                                                             int line, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    std::lock_guard<std::mutex> lock(logcap::g_mutex);
    logcap::LogCapture::State* state = logcap::g_active;
    if (state == nullptr) return 0;
    if (!logcap::Enabled(state, level)) ++state->stray;
    state->lines.push_back({level, tag ? tag : "", function ? function : "",
                            file ? file : "", line, format ? format : "", text});
    return 0;
}
