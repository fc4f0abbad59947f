// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Records the store's log lines in tests. The library in the test program defines the two calls of
// the log facility, and the dynamic linker binds the store's calls to them ahead of libnq.so.
#pragma once

#include <string>
#include <vector>

namespace logcap {

struct Line {
    int level;
    std::string function;  // the public operation that the line reports on
    std::string text;      // the line as printf formats it
};

// While an object lives, the facility reports every level enabled and keeps every line. Without one,
// every level is disabled.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    // Formatted texts of the lines of one level, in order.
    std::vector<std::string> texts(int level) const;
};

}  // namespace logcap
