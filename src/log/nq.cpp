// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The project's stand-in for the platform log facility. On a target the platform's libnq.so takes its
// place, so nothing here may be relied on by the store beyond the two calls.
//
// Levels are enabled per module by the environment variable NQ_LOG, read once: a comma-separated list
// of MODULE=LEVEL entries, where MODULE is a number or "*" for every module, and a line is enabled when
// its level is at most LEVEL (3 error ... 7 debug). "14=7" shows all of the store's lines; unset, the
// facility is silent.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <sstream>
#include <string>

#include "NqLog.h"

namespace {

class LevelTable {
public:
    LevelTable() {
        const char* pszSpec = getenv("NQ_LOG");
        if (pszSpec == nullptr) return;
        std::stringstream entries(pszSpec);
        std::string entry;
        while (std::getline(entries, entry, ',')) {
            std::string::size_type eq = entry.find('=');
            if (eq == std::string::npos) continue;
            std::string module = entry.substr(0, eq);
            int level = atoi(entry.c_str() + eq + 1);
            if (module == "*")
                m_iAllModules = level;
            else
                m_modules[atoi(module.c_str())] = level;
        }
    }

    bool Enabled(int module, int level) const {
        auto it = m_modules.find(module);
        return level <= (it != m_modules.end() ? it->second : m_iAllModules);
    }

private:
    std::map<int, int> m_modules;
    int m_iAllModules = 0;
};

const LevelTable& Levels() {
    static const LevelTable table;
    return table;
}

const char* LevelName(int level) {
    switch (level) {
        case LOGLV_ERROR: return "ERROR";
        case LOGLV_WARNING: return "WARNING";
        case LOGLV_NOTICE: return "NOTICE";
        case LOGLV_INFO: return "INFO";
        case LOGLV_DEBUG: return "DEBUG";
        default: return "LOG";
    }
}

const char* OrNull(const char* psz) { return psz != nullptr ? psz : "(null)"; }

}  // namespace

extern "C" __attribute__((visibility("default"))) int NqGetStatus(int module, int level) {
    return Levels().Enabled(module, level) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int NqLogX(int level, const char* tag,
                                                             const char* function, const char* file,
                                                             int line, const char* format, ...) {
    char szText[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(szText, sizeof(szText), OrNull(format), args);
    va_end(args);
    return fprintf(stderr, "%s %s %s (%s:%d): %s\n", LevelName(level), OrNull(tag), OrNull(function),
                   OrNull(file), line, szText);
}
