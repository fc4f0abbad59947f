// What the simulator's tests and the tools' tests share: bytes, a scratch directory and a file's bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

inline Bytes ones(std::size_t count) { return Bytes(count, 0xFF); }

// A scratch directory, removed with what it holds.
class TempDir {
public:
    ~TempDir() { std::filesystem::remove_all(m_path); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::string m_pattern = (std::filesystem::temp_directory_path() / "norsim-XXXXXX").string();
    std::filesystem::path m_path = ::mkdtemp(m_pattern.data());
};

inline Bytes fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
