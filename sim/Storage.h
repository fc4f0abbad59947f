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

class Storage {
public:
    explicit Storage(std::uint32_t size);
    // Creates the image erased when it is missing; throws std::runtime_error when it has another size
    // or cannot be used.
    Storage(const std::string& imageFile, std::uint32_t size);

    std::uint8_t* data() { return m_mapping ? m_mapping.get() : m_memory.data(); }

private:
    void map(int fd, std::uint32_t size, const std::string& file);

    std::vector<std::uint8_t> m_memory;
    std::unique_ptr<std::uint8_t, Unmap> m_mapping;
};

}  // namespace norsim
