// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Manifest.h"

#include <filesystem>
#include <map>
#include <sstream>

#include "Failure.h"
#include "Files.h"

Manifest::Manifest(const std::string& path, const AreaTable& areas) : m_path(path) {
    const std::vector<unsigned char> bytes = ReadFile(path);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    const std::filesystem::path dir = std::filesystem::path(path).parent_path();
    std::map<int, int> lineOf;  // of each area named so far
    int line = 0;
    for (std::string content; std::getline(text, content);) {
        ++line;
        std::istringstream words(content);
        std::vector<std::string> pair;
        for (std::string word; words >> word;) pair.push_back(word);
        if (pair.empty() || pair[0][0] == '#') continue;
        try {
            if (pair.size() != 2)
                throw Failure(kExitUsage, "\"" + content + "\" is not a pair of AREA and FILE");
            const int area = areas.parse(pair[0]);
            const auto [first, bNew] = lineOf.emplace(area, line);
            if (!bNew)
                throw Failure(kExitUsage, "area " + std::to_string(area) + " is named again, first on line " +
                                              std::to_string(first->second));
            std::vector<unsigned char> record = ReadFile((dir / pair[1]).string());
            const std::string problem = areas.lengthProblem(area, record.size());
            if (!problem.empty()) throw Failure(kExitUsage, problem);
            m_entries.push_back(Entry{line, area, std::move(record)});
        } catch (const Failure& failure) {
            throw Failure(failure.status(), where(line) + ": " + failure.what() + "; nothing was written");
        }
    }
}
