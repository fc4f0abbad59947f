#include "WearCounts.h"

#include <cstring>

namespace norsim {

WearCounts::WearCounts(const std::string& imageFile, std::uint32_t sectors)
    : m_counts(imageFile + ".wear", sectors * static_cast<std::uint32_t>(sizeof(std::uint64_t)), 0x00) {}

void WearCounts::add(std::uint32_t sector) {
    std::uint8_t* const slot = m_counts.data() + sector * sizeof(std::uint64_t);
    std::uint64_t count = 0;
    std::memcpy(&count, slot, sizeof(count));
    ++count;
    std::memcpy(slot, &count, sizeof(count));
}

}  // namespace norsim
