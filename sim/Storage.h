// The bytes of a node: erased memory, or a shared mapping of an image file. Through the mapping every
// change is in the file the moment it is made, so a process killed at any point leaves the image as
// the flash would be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norsim {

struct Unmap {
    std::size_t size = 0;
    void operator()(std::uint8_t* bytes) const;
};

// A descriptor of the simulator's own, closed with libc's call when the holder goes.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int fd = -1) : m_fd(fd) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept;
    ~OwnedDescriptor();
    int get() const { return m_fd; }

private:
    int m_fd;
};

class Storage {
public:
    explicit Storage(std::uint32_t size);
    // Creates the image with every byte `blank` (erased flash: 0xFF) when it is missing; throws
    // std::runtime_error when it has another size or cannot be used.
    Storage(const std::string& imageFile, std::uint32_t size, std::uint8_t blank = 0xFF);

    std::uint8_t* data() { return m_mapping ? m_mapping.get() : m_memory.data(); }

    // A file that stands for the node: each open of the node opens it anew, so that a descriptor of
    // the node is a real one, and locks taken on it (flock) hold between the users of this node only,
    // across processes for an image. A memory node stands on an anonymous file of its own.
    const std::string& identity() const { return m_identity; }

private:
    void map(int fd, std::uint32_t size, const std::string& file);

    std::vector<std::uint8_t> m_memory;
    std::unique_ptr<std::uint8_t, Unmap> m_mapping;
    OwnedDescriptor m_anonymous;
    std::string m_identity;
};

}  // namespace norsim
