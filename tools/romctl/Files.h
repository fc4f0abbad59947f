// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Files that romctl reads records from and writes them to; every failure is a Failure that names the
// file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File OpenFile(const std::string& name, const char* mode);
// Everything left in `in`, which `name` names in a message.
std::vector<unsigned char> ReadAll(std::FILE* in, const std::string& name);
std::vector<unsigned char> ReadFile(const std::string& name);
// Writes `bytes` to `out` and flushes it.
void WriteAll(std::FILE* out, const std::string& name, const std::vector<unsigned char>& bytes);
// Creates or replaces the file `name` with `bytes`.
void WriteFile(const std::string& name, const std::vector<unsigned char>& bytes);
