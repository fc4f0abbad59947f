// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "NodeReader.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Failure.h"

NodeReader::NodeReader(const std::string& node) : m_node(node), m_fd(::open(node.c_str(), O_RDONLY)) {
    if (m_fd < 0)
        throw Failure(errno == EBUSY ? kExitBusy : kExitFailed, "cannot open " + node + ": " + std::strerror(errno));
}

NodeReader::~NodeReader() { ::close(m_fd); }

std::vector<unsigned char> NodeReader::read(int offset, int length) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    const bool bSeek = ::lseek(m_fd, offset, SEEK_SET) == offset;
    const ssize_t iRead = bSeek ? ::read(m_fd, bytes.data(), bytes.size()) : -1;
    if (iRead != length) {
        const std::string reason = iRead < 0 ? std::strerror(errno) : "read " + std::to_string(iRead) + " bytes";
        throw Failure(kExitFailed, "cannot read " + std::to_string(length) + " bytes of " + m_node + " at " +
                                       std::to_string(offset) + ": " + reason);
    }
    return bytes;
}

mtd_info_user NodeReader::info() const {
    mtd_info_user info{};
    if (::ioctl(m_fd, MEMGETINFO, &info) != 0)
        throw Failure(kExitFailed, "cannot get the geometry of " + m_node + " (MEMGETINFO): " + std::strerror(errno));
    return info;
}

bool NodeReader::heldElsewhere() const { return ::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; }
