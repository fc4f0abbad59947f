// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// What --json prints: one object a line, its members in the order they were added.
#pragma once

#include <string>
#include <vector>

class JsonObject {
public:
    JsonObject& number(const std::string& key, long long value);
    JsonObject& text(const std::string& key, const std::string& value);
    JsonObject& null(const std::string& key);
    // A member whose value is JSON already: an object or an array.
    JsonObject& raw(const std::string& key, const std::string& json);
    std::string str() const { return "{" + m_members + "}"; }

    // A string as a JSON string, quoted and escaped.
    static std::string Text(const std::string& value);
    // Values that are JSON already, as an array.
    static std::string Array(const std::vector<std::string>& values);

private:
    std::string m_members;
};
