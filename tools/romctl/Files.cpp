// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Files.h"

#include <cerrno>
#include <cstring>

#include "Failure.h"

File OpenFile(const std::string& name, const char* mode) {
    File file(std::fopen(name.c_str(), mode), &std::fclose);
    if (!file) throw Failure(kExitFailed, "cannot open " + name + ": " + std::strerror(errno));
    return file;
}

std::vector<unsigned char> ReadAll(std::FILE* in, const std::string& name) {
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof(chunk), in)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    if (std::ferror(in)) throw Failure(kExitFailed, "cannot read " + name + ": " + std::strerror(errno));
    return bytes;
}

std::vector<unsigned char> ReadFile(const std::string& name) { return ReadAll(OpenFile(name, "rb").get(), name); }

void WriteAll(std::FILE* out, const std::string& name, const std::vector<unsigned char>& bytes) {
    // An empty vector may hold no buffer at all, which fwrite must not be given.
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), out);
    if (std::fflush(out) != 0 || std::ferror(out))
        throw Failure(kExitFailed, "cannot write " + name + ": " + std::strerror(errno));
}

void WriteFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    File out = OpenFile(name, "wb");
    WriteAll(out.get(), name, bytes);
    // Some file systems report a failed write only at the close.
    if (std::fclose(out.release()) != 0)
        throw Failure(kExitFailed, "cannot write " + name + ": " + std::strerror(errno));
}
