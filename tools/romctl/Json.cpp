// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Json.h"

#include <cstdio>

JsonObject& JsonObject::number(const std::string& key, long long value) { return raw(key, std::to_string(value)); }

JsonObject& JsonObject::text(const std::string& key, const std::string& value) { return raw(key, Text(value)); }

JsonObject& JsonObject::null(const std::string& key) { return raw(key, "null"); }

JsonObject& JsonObject::raw(const std::string& key, const std::string& json) {
    m_members += (m_members.empty() ? "" : ",") + Text(key) + ":" + json;
    return *this;
}

std::string JsonObject::Text(const std::string& value) {
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string JsonObject::Array(const std::vector<std::string>& values) {
    std::string array;
    for (const std::string& value : values) array += (array.empty() ? "" : ",") + value;
    return "[" + array + "]";
}
