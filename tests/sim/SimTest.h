// What the simulator's tests share: a node opened as the store opens it, and a scratch directory.
#pragma once

#include "NorSim.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace norsim {

inline bool operator==(const Op& a, const Op& b) {
    return std::tie(a.kind, a.offset, a.length, a.result) == std::tie(b.kind, b.offset, b.length, b.result);
}

inline std::ostream& operator<<(std::ostream& out, const Op& op) {
    return out << "{kind " << static_cast<int>(op.kind) << " @" << op.offset << "+" << op.length << " -> "
               << op.result << "}";
}

}  // namespace norsim

using Bytes = std::vector<std::uint8_t>;

inline Bytes ones(std::size_t count) { return Bytes(count, 0xFF); }

// The errno of a failed call, 0 when it did not fail.
inline int errorOf(long result) { return result == -1 ? errno : 0; }

// Four 4 KiB sectors, open for reading and writing.
class NodeTest : public ::testing::Test {
protected:
    static constexpr const char* path = "/dev/norsim-test";
    static constexpr std::uint32_t sector = 0x1000;
    static constexpr std::uint32_t size = 4 * sector;

    ~NodeTest() override { ::close(fd); }

    long programAt(std::int64_t offset, const Bytes& bytes) {
        EXPECT_EQ(::lseek(fd, offset, SEEK_SET), offset);
        return ::write(fd, bytes.data(), bytes.size());
    }

    Bytes readAt(std::int64_t offset, std::size_t count) {
        EXPECT_EQ(::lseek(fd, offset, SEEK_SET), offset);
        Bytes bytes(count);
        bytes.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(fd, bytes.data(), count), 0)));
        return bytes;
    }

    norsim::ScopedNode node{path, size, sector};
    int fd = ::open(path, O_RDWR);
};

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "norsim-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
        m_path = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline Bytes fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
