// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "HexDump.h"

#include <algorithm>
#include <cstdio>

void WriteHexDump(const std::vector<unsigned char>& bytes, std::ostream& out) {
    const std::size_t kWidth = 16;
    bool bStarred = false;
    for (std::size_t at = 0; at < bytes.size(); at += kWidth) {
        const std::size_t n = std::min(kWidth, bytes.size() - at);
        const bool bRepeats = at > 0 && n == kWidth &&
                              std::equal(bytes.begin() + at, bytes.begin() + at + n, bytes.begin() + at - kWidth);
        if (bRepeats) {
            if (!bStarred) out << "*\n";
            bStarred = true;
            continue;
        }
        bStarred = false;
        char line[80];
        int used = std::snprintf(line, sizeof(line), "%08zx ", at);
        for (std::size_t i = 0; i < kWidth; ++i) {
            const char* const gap = i == 8 ? "  " : " ";
            used += i < n ? std::snprintf(line + used, sizeof(line) - used, "%s%02x", gap, bytes[at + i])
                          : std::snprintf(line + used, sizeof(line) - used, "%s  ", gap);
        }
        out << line << "  |";
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = bytes[at + i];
            out << (c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
        }
        out << "|\n";
    }
    char end[16];
    std::snprintf(end, sizeof(end), "%08zx\n", bytes.size());
    out << end;
}
