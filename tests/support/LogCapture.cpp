// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "LogCapture.h"

#include <stdarg.h>
#include <stdio.h>

#include "NqLog.h"

namespace logcap {
namespace {

// The store logs on the test's own thread, into one capture at a time.
struct State {
    bool active = false;
    std::vector<Line> lines;
} g_state;

}  // namespace

LogCapture::LogCapture() { g_state = State{true, {}}; }

LogCapture::~LogCapture() { g_state = State{}; }

std::vector<Line> LogCapture::lines() const { return g_state.lines; }

std::vector<std::string> LogCapture::texts(int level) const {
    std::vector<std::string> out;
    for (const Line& l : g_state.lines)
        if (l.level == level) out.push_back(l.text);
    return out;
}

}  // namespace logcap

extern "C" __attribute__((visibility("default"))) int NqGetStatus(int, int) { return logcap::g_state.active ? 1 : 0; }

extern "C" __attribute__((visibility("default"))) int NqLogX(int level, const char*, const char* function,
                                                             const char*, int, const char* format, ...) {
    if (!logcap::g_state.active) return 0;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    logcap::g_state.lines.push_back({level, function ? function : "", text});
    return 0;
}
