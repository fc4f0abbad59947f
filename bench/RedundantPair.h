// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The common simple way to keep one record on NOR flash, as bootloader environments do: two sectors,
// one of them active. An update erases the inactive sector, programs the record there behind a
// header that carries a sequence number and the record's checksum, and so makes that sector the
// active one. Every update costs one sector erase.
#pragma once

#include <cstdint>

namespace rombench {

class RedundantPair {
public:
    // The pair takes the two sectors from `offset` of the node at `path`, keeps the node open for its
    // lifetime, and finds the active sector by its sequence number.
    RedundantPair(const char* path, std::uint32_t offset, std::uint32_t sectorSize);
    ~RedundantPair();
    RedundantPair(const RedundantPair&) = delete;
    RedundantPair& operator=(const RedundantPair&) = delete;

    bool Write(const unsigned char* data, std::uint32_t length);
    // The active record, written with `length` bytes; false when it is missing or does not verify.
    bool Read(unsigned char* data, std::uint32_t length) const;

private:
    struct Header {
        std::uint32_t sequence;  // all ones in a sector that holds no record
        std::uint32_t crc;
    };

    std::uint32_t SectorOffset(int sector) const { return m_offset + sector * m_sectorSize; }
    bool ReadAt(std::uint32_t offset, void* data, std::uint32_t length) const;
    bool ProgramAt(std::uint32_t offset, const void* data, std::uint32_t length) const;

    int m_fd;
    std::uint32_t m_offset;
    std::uint32_t m_sectorSize;
    int m_active = -1;
    Header m_header{};
};

}  // namespace rombench
