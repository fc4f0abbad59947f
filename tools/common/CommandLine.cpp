// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "romstore.h"

CommandLine::CommandLine(int argc, char** argv, const std::vector<Option>& known) {
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        // The short options that most tools take for the help and the version.
        std::string word = argv[i];
        if (!bOptionsEnded && word == "-h") word = "--help";
        if (!bOptionsEnded && word == "-V") word = "--version";
        if (bOptionsEnded || word == "-" || word.compare(0, 2, "--") != 0) {
            m_operands.push_back(word);
            continue;
        }
        if (word == "--") {
            bOptionsEnded = true;
            continue;
        }
        const auto option = std::find_if(known.begin(), known.end(),
                                          [&word](const Option& o) { return word == o.name; });
        if (option == known.end()) throw std::invalid_argument("unknown option " + word);
        if (!option->takesValue) {
            m_options[word] = "";
            continue;
        }
        if (i + 1 == argc) throw std::invalid_argument("option " + word + " needs a value");
        m_options[word] = argv[++i];
    }
}

bool CommandLine::answersHelp(const char* usage, const std::string& helpCommand) const {
    const bool bCommand = !helpCommand.empty() && !m_operands.empty() && m_operands[0] == helpCommand;
    if (!has("--help") && !bCommand) return false;
    std::cout << usage;
    return true;
}

bool CommandLine::answersVersion(const char* tool) const {
    if (!has("--version")) return false;
    std::cout << tool << " (romstore) " << romstore_version() << "\n";
    return true;
}

std::string CommandLine::value(const std::string& option, const std::string& fallback) const {
    const auto found = m_options.find(option);
    return found != m_options.end() ? found->second : fallback;
}

void CommandLine::allowOnly(const std::string& command, const std::vector<std::string>& options) const {
    for (const auto& given : m_options) {
        if (std::find(options.begin(), options.end(), given.first) == options.end())
            throw std::invalid_argument(command + " does not take " + given.first);
    }
}

int CommandLine::number(const std::string& text, const std::string& what) {
    const bool bHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* const first = text.data() + (bHex ? 2 : 0);
    const char* const last = text.data() + text.size();
    std::int64_t value = -1;
    const auto [stop, error] = std::from_chars(first, last, value, bHex ? 16 : 10);
    if (first == last || error != std::errc() || stop != last || value < 0 || value > INT32_MAX)
        throw std::invalid_argument(what + " must be a number from 0 to " + std::to_string(INT32_MAX) +
                                      ", not \"" + text + "\"");
    return static_cast<int>(value);
}
