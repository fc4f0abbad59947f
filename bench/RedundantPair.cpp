// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "RedundantPair.h"

#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "RomDevice.h"

namespace rombench {
namespace {

constexpr std::uint32_t kErased = 0xFFFFFFFFu;

std::uint32_t Checksum(const unsigned char* data, std::uint32_t length) {
    CRomDevice crc;
    return crc.CalculateCRC16(const_cast<unsigned char*>(data), static_cast<int>(length));
}

}  // namespace

RedundantPair::RedundantPair(const char* path, std::uint32_t offset, std::uint32_t sectorSize)
    : m_fd(open(path, O_RDWR)), m_offset(offset), m_sectorSize(sectorSize) {
    for (int sector = 0; sector < 2; ++sector) {
        Header header;
        if (!ReadAt(SectorOffset(sector), &header, sizeof(header)) || header.sequence == kErased) continue;
        if (m_active < 0 || header.sequence > m_header.sequence) {
            m_active = sector;
            m_header = header;
        }
    }
}

RedundantPair::~RedundantPair() {
    if (m_fd >= 0) close(m_fd);
}

// The record goes in before its header, so a cut update leaves the inactive sector without a valid
// header and the active record in force.
bool RedundantPair::Write(const unsigned char* data, std::uint32_t length) {
    const int target = m_active == 0 ? 1 : 0;
    const Header header = {m_active < 0 ? 0 : m_header.sequence + 1, Checksum(data, length)};
    erase_info_user sector = {SectorOffset(target), m_sectorSize};
    if (ioctl(m_fd, MEMERASE, &sector) != 0 || !ProgramAt(sector.start + sizeof(header), data, length) ||
        !ProgramAt(sector.start, &header, sizeof(header)))
        return false;
    m_active = target;
    m_header = header;
    return true;
}

bool RedundantPair::Read(unsigned char* data, std::uint32_t length) const {
    return m_active >= 0 && ReadAt(SectorOffset(m_active) + sizeof(Header), data, length) &&
           Checksum(data, length) == m_header.crc;
}

bool RedundantPair::ReadAt(std::uint32_t offset, void* data, std::uint32_t length) const {
    return lseek(m_fd, offset, SEEK_SET) == static_cast<off_t>(offset) &&
           read(m_fd, data, length) == static_cast<ssize_t>(length);
}

bool RedundantPair::ProgramAt(std::uint32_t offset, const void* data, std::uint32_t length) const {
    return lseek(m_fd, offset, SEEK_SET) == static_cast<off_t>(offset) &&
           write(m_fd, data, length) == static_cast<ssize_t>(length);
}

}  // namespace rombench
