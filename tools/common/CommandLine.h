// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The words after a tool's name: options (with their values) and operands, parsed by getopt_long as
// the GNU tools parse theirs. Every mistake in them is reported by throwing std::invalid_argument,
// with a message for the user.
#pragma once

#include <map>
#include <string>
#include <vector>

class CommandLine {
public:
    struct Option {
        const char* name;  // "--length"
        bool takesValue;
        char letter = 0;   // its short form ('l' for -l); 0 for none
        // A value that is optional comes only joined to the option: --wait=5 or -w5, never --wait 5.
        bool valueOptional = false;
    };

    // Options must be among `known`, long (--length 4, --length=4, or any unambiguous beginning of the
    // name) or short (-l 4, -l4, -xl4), before, between or after the operands. "-" is an operand
    // (standard input), and so is a negative number; "--" makes every later word an operand.
    CommandLine(int argc, char** argv, const std::vector<Option>& known);

    // With --help among the options, or with `helpCommand` (when not empty) as the first operand:
    // prints `usage` on standard output and is true.
    bool answersHelp(const char* usage, const std::string& helpCommand = "") const;
    // With --version among the options: prints "TOOL (romstore) VERSION" on standard output and is true.
    bool answersVersion(const char* tool) const;
    const std::vector<std::string>& operands() const { return m_operands; }
    // Options go by their long name, whichever form was given.
    bool has(const std::string& option) const { return m_options.count(option) != 0; }
    // The value given to an option that takes one; `fallback` when it was not given; empty for an
    // optional value that was not given.
    std::string value(const std::string& option, const std::string& fallback) const;
    // Refuses the first option given that `command` does not take.
    void allowOnly(const std::string& command, const std::vector<std::string>& options) const;

    // A count or number: decimal or 0x-hexadecimal, from 0 to INT32_MAX; refused, naming `what`,
    // otherwise.
    static int number(const std::string& text, const std::string& what);

private:
    std::vector<std::string> m_operands;
    std::map<std::string, std::string> m_options;
};
