// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "FlashImages.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "Directory.h"

namespace {

// One 64-bit count per sector in the host's byte order, as the simulator writes IMAGE.wear; a node
// whose image has never been erased may have no counts yet.
std::vector<std::uint64_t> WearOf(const ImageNode& image) {
    const std::uint32_t sectors = image.node.size / image.node.eraseSize;
    if (!std::filesystem::exists(image.image))
        throw std::runtime_error(image.image + " does not exist: no program has used this flash yet");
    const std::string file = image.image + ".wear";
    std::vector<std::uint64_t> counts(sectors, 0);
    if (!std::filesystem::exists(file)) return counts;
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != sectors * sizeof(std::uint64_t))
        throw std::runtime_error(file + " holds " + std::to_string(bytes.size()) + " bytes, not the counts of " +
                                 std::to_string(sectors) + " sectors");
    std::memcpy(counts.data(), bytes.data(), bytes.size());
    return counts;
}

}  // namespace

FlashImages::FlashImages(const std::string& dir) : m_dir(dir) {
    // The program that romsim runs may change its directory before it opens the nodes.
    const std::filesystem::path images = std::filesystem::absolute(dir);
    for (const norsim::TableNode& node : norsim::TableNodes()) {
        const std::string name = std::filesystem::path(node.path).filename().string();
        m_nodes.push_back(ImageNode{node, (images / (name + ".img")).string()});
    }
}

std::string FlashImages::nodesVariable() const {
    std::string nodes;
    for (const auto& [node, image] : m_nodes) {
        if (!nodes.empty()) nodes += ",";
        nodes += node.path + ":" + std::to_string(node.size) + ":" + std::to_string(node.eraseSize) + ":" + image;
    }
    return nodes;
}

void FlashImages::prepare(std::ostream& log) const {
    MakeDirectory(m_dir);
    std::string fresh;
    for (const ImageNode& node : m_nodes) {
        const std::string image =
            (std::filesystem::path(m_dir) / std::filesystem::path(node.image).filename()).string();
        if (!std::filesystem::exists(node.image)) {
            fresh += (fresh.empty() ? "" : ", ") + image;
            continue;
        }
        // The simulator would leave out a node whose image it cannot use, and the program would reach
        // the machine's own node of that name.
        const std::uintmax_t size = std::filesystem::file_size(node.image);
        if (size != node.node.size)
            throw std::runtime_error(image + " holds " + std::to_string(size) + " bytes, not the " +
                                     std::to_string(node.node.size) + " of " + node.node.path);
    }
    if (!fresh.empty()) log << "romsim: new erased flash images: " << fresh << "\n";
}

void FlashImages::printWear(std::ostream& out) const {
    // Every count is read before the first line, so that a missing image prints nothing.
    std::vector<std::vector<std::uint64_t>> wear;
    for (const ImageNode& image : m_nodes) wear.push_back(WearOf(image));
    char line[128];
    std::snprintf(line, sizeof(line), "%-18s %4s %7s  %-10s %8s\n", "node", "area", "sector", "offset", "erases");
    out << line;
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        const norsim::TableNode& node = m_nodes[i].node;
        const std::vector<std::uint64_t>& counts = wear[i];
        for (std::uint32_t sector = 0; sector < counts.size(); ++sector) {
            const std::uint32_t offset = sector * node.eraseSize;
            std::snprintf(line, sizeof(line), "%-18s %4u %7u  0x%08x %8llu\n", node.path.c_str(),
                          node.firstArea + offset / node.areaSize, sector, offset,
                          static_cast<unsigned long long>(counts[sector]));
            out << line;
        }
    }
}
