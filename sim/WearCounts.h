// The erases of each sector of an image-backed node, kept beside the image in IMAGEFILE.wear: one
// 64-bit count per sector, in the host's byte order. The file is mapped like the image, so a count
// is in it the moment its erase is in the image, whenever the process dies.
#pragma once

#include "Storage.h"

#include <cstdint>
#include <string>

namespace norsim {

class WearCounts {
public:
    // Creates the file with every count 0 when it is missing; throws std::runtime_error when it holds
    // the counts of another number of sectors or cannot be used.
    WearCounts(const std::string& imageFile, std::uint32_t sectors);

    void add(std::uint32_t sector);

private:
    Storage m_counts;
};

}  // namespace norsim
