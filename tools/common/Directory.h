// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The directory that a tool writes its files into.
#pragma once

#include <string>

// Makes `dir` unless it is a directory already, but none of its parents: a missing parent is most
// likely a mistyped name, not a wish for a new tree of directories. Throws std::runtime_error, naming
// `dir`, when it cannot be made.
void MakeDirectory(const std::string& dir);
