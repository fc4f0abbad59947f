// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cctype>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include <getopt.h>

#include "romstore.h"

namespace {

// getopt_long returns a long option as its index in the table plus this, past every character that a
// short option can be, so that options without a letter have a code of their own.
constexpr int kLongCode = 256;

bool IsNegativeNumber(const char* word) {
    return word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1])) != 0;
}

}  // namespace

CommandLine::CommandLine(int argc, char** argv, const std::vector<Option>& known) {
    // "-" first: getopt returns each operand in its place instead of moving it, so that options go
    // anywhere, as under GNU permutation, and POSIXLY_CORRECT in the environment changes nothing. ":"
    // next: a missing value is returned, not printed.
    std::string shorts = "-:";
    std::vector<option> longs;
    for (std::size_t i = 0; i < known.size(); ++i) {
        const Option& o = known[i];
        const int has = !o.takesValue ? no_argument : o.valueOptional ? optional_argument : required_argument;
        longs.push_back(option{o.name + 2, has, nullptr, kLongCode + static_cast<int>(i)});
        if (o.letter != 0)
            shorts += o.letter + std::string(has == no_argument ? "" : has == required_argument ? ":" : "::");
    }
    longs.push_back(option{nullptr, 0, nullptr, 0});
    const auto spelling = [&known](int code) {
        return code >= kLongCode ? std::string(known[code - kLongCode].name)
                                 : "-" + std::string(1, static_cast<char>(code));
    };

    opterr = 0;
    optind = 0;  // a new scan, which also resets glibc's own state
    for (;;) {
        // A word is looked at here only where it begins: one that begins with a digit after its dash is
        // never inside a row of short options.
        const int next = std::max(optind, 1);
        if (next < argc && IsNegativeNumber(argv[next])) {
            m_operands.push_back(argv[next]);
            optind = next + 1;
            continue;
        }
        const int code = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr);
        if (code == -1) break;
        if (code == 1) {
            m_operands.push_back(optarg);
        } else if (code == ':') {
            throw std::invalid_argument("option " + spelling(optopt) + " needs a value");
        } else if (code == '?' && optopt >= kLongCode) {
            throw std::invalid_argument("option " + spelling(optopt) + " takes no value");
        } else if (code == '?' && optopt != 0) {
            throw std::invalid_argument("unknown option " + spelling(optopt));
        } else if (code == '?') {
            // A long option that is none of the known ones, or the beginning of more than one.
            const std::string word = argv[optind - 1];
            const std::string name = word.substr(0, word.find('='));
            const auto begins = [&name](const Option& o) { return std::string(o.name).rfind(name, 0) == 0; };
            const bool bAmbiguous = std::count_if(known.begin(), known.end(), begins) > 1;
            throw std::invalid_argument((bAmbiguous ? "ambiguous option " : "unknown option ") + name);
        } else {
            const auto letter = [code](const Option& o) { return o.letter == code; };
            const Option& given =
                code >= kLongCode ? known[code - kLongCode] : *std::find_if(known.begin(), known.end(), letter);
            m_options[given.name] = optarg != nullptr ? optarg : "";
        }
    }
    for (; optind < argc; ++optind) m_operands.push_back(argv[optind]);
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
