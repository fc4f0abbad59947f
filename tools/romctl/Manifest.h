// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// A manifest names a record file for each of some areas: what load writes, and what save leaves beside
// the files it writes. One "AREA FILE" pair a line, separated by blanks; blank lines and lines whose
// first word begins with '#' are comments. A FILE that is not an absolute path lies in the manifest's
// own directory, so that a manifest moves together with its files.
#pragma once

#include <string>
#include <vector>

#include "AreaTable.h"

class Manifest {
public:
    struct Entry {
        int line;
        int area;
        std::vector<unsigned char> record;
    };

    // Reads the manifest and every file it names and checks every line: the pair, the area in range and
    // named once, the file readable, the record no longer than the area takes. Throws the Failure of the
    // first line that fails, naming the manifest and the line.
    Manifest(const std::string& path, const AreaTable& areas);

    const std::vector<Entry>& entries() const { return m_entries; }
    // "PATH:LINE", as a message names a line.
    std::string where(int line) const { return m_path + ":" + std::to_string(line); }
    // The line that names `file` for `area`.
    static std::string Line(int area, const std::string& file) { return std::to_string(area) + " " + file + "\n"; }

private:
    std::string m_path;
    std::vector<Entry> m_entries;
};
