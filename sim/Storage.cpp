// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Internals.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norsim {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& file) {
    throw std::runtime_error(what + " " + file + ": " + std::strerror(errno));
}

}  // namespace

OwnedDescriptor::~OwnedDescriptor() {
    if (m_fd >= 0) real::close(m_fd);
}

void Unmap::operator()(std::uint8_t* bytes) const { munmap(bytes, size); }

Storage::Storage(std::uint32_t size)
    : m_memory(size, 0xFF), m_anonymous(memfd_create("norsim-node", MFD_CLOEXEC)) {
    if (m_anonymous.get() < 0) fail("cannot make the file of", "a memory node");
    m_identity = "/proc/self/fd/" + std::to_string(m_anonymous.get());
}

Storage::Storage(const std::string& file, std::uint32_t size, std::uint8_t blank)
    : m_identity(std::filesystem::absolute(file).string()) {
    // The file is the simulator's own business: it is opened and closed with libc's calls.
    const OwnedDescriptor existing(real::open(file.c_str(), O_RDWR | O_CLOEXEC, 0));
    if (existing.get() >= 0) {
        struct stat64 status {};
        if (fstat64(existing.get(), &status) != 0) fail("cannot inspect image", file);
        if (status.st_size != size) {
            throw std::runtime_error("image " + file + " holds " + std::to_string(status.st_size) +
                                     " bytes, not the node's " + std::to_string(size));
        }
        map(existing.get(), size, file);
        return;
    }
    if (errno != ENOENT) fail("cannot open image", file);

    // Filled aside and then renamed into place, so that no process killed meanwhile leaves a file
    // that is not blank.
    const std::string fresh = file + ".new";
    const OwnedDescriptor created(real::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (created.get() < 0) fail("cannot create image", fresh);
    if (ftruncate64(created.get(), size) != 0) fail("cannot size image", fresh);
    map(created.get(), size, fresh);
    std::memset(m_mapping.get(), blank, size);
    if (std::rename(fresh.c_str(), file.c_str()) != 0) fail("cannot create image", file);
}

void Storage::map(int fd, std::uint32_t size, const std::string& file) {
    void* const bytes = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (bytes == MAP_FAILED) fail("cannot map image", file);
    m_mapping = std::unique_ptr<std::uint8_t, Unmap>(static_cast<std::uint8_t*>(bytes), Unmap{size});
}

}  // namespace norsim
