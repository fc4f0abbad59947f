// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Directory.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

void MakeDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directory(dir, error);
    if (error == std::errc::no_such_file_or_directory)
        throw std::runtime_error("cannot create the directory " + dir + ": its parent does not exist");
    if (!error && !std::filesystem::is_directory(dir, error)) error = std::make_error_code(std::errc::not_a_directory);
    if (error) throw std::runtime_error("cannot create the directory " + dir + ": " + error.message());
}
