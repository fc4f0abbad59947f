// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The registry of nodes and descriptors, the environment that fills it in a preloaded program, and
// the Flash that tests hold.
#include "Internals.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace norsim {
namespace {

void checkGeometry(const std::string& path, std::uint32_t size, std::uint32_t eraseSize) {
    if (path.empty()) throw std::invalid_argument("a node needs a path");
    if (size == 0 || eraseSize == 0 || size % eraseSize != 0) {
        throw std::invalid_argument("node " + path + " of " + std::to_string(size) +
                                    " bytes is not a whole number of " + std::to_string(eraseSize) +
                                    "-byte erase blocks");
    }
}

// At most `parts` pieces; the last keeps any further separators.
std::vector<std::string_view> split(std::string_view text, char separator, std::size_t parts) {
    std::vector<std::string_view> pieces;
    while (pieces.size() + 1 < parts) {
        const std::size_t end = text.find(separator);
        if (end == std::string_view::npos) break;
        pieces.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    pieces.push_back(text);
    return pieces;
}

std::optional<std::uint32_t> parseSize(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<EraseCut> parseEraseCut(std::string_view text) {
    if (text == "untouched") return EraseCut::Untouched;
    if (text == "completed") return EraseCut::Completed;
    if (text == "zeroed") return EraseCut::Zeroed;
    if (text == "mixed") return EraseCut::Mixed;
    if (text == "almost") return EraseCut::AlmostErased;
    return std::nullopt;
}

// NORSIM_NODES is read as the process starts, so that a bad entry is reported even by a program
// that never touches a node.
__attribute__((constructor)) void createAtStart() { Registry::instance(); }

}  // namespace

Registry& Registry::instance() {
    // Never destroyed: programs still make calls from exit handlers and static destructors.
    static Registry* const registry = [] {
        auto* const created = new Registry;
        created->addNodesFromEnvironment();
        created->armCutFromEnvironment();
        created->markBusyFromEnvironment();
        created->markWornFromEnvironment();
        created->startClockFromEnvironment();
        return created;
    }();
    return *registry;
}

void Registry::addNodesFromEnvironment() {
    const char* const nodes = std::getenv("NORSIM_NODES");
    if (nodes == nullptr) return;
    for (const std::string_view entry : split(nodes, ',', std::string_view::npos)) {
        if (entry.empty()) continue;
        try {
            // An image file name may itself contain colons.
            const std::vector<std::string_view> fields = split(entry, ':', 4);
            if (fields.size() < 3) throw std::invalid_argument("expected PATH:SIZE:ERASESIZE[:IMAGEFILE]");
            const auto size = parseSize(fields[1]);
            const auto eraseSize = parseSize(fields[2]);
            if (!size || !eraseSize) throw std::invalid_argument("sizes must be 32-bit decimal or 0x-hexadecimal numbers");
            const std::string path(fields[0]);
            if (fields.size() == 3) {
                addMemory(path, *size, *eraseSize);
            } else {
                addImage(path, *size, *eraseSize, std::string(fields[3]));
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "norsim: ignoring NORSIM_NODES entry \"%.*s\": %s\n", static_cast<int>(entry.size()),
                         entry.data(), error.what());
        }
    }
}

void Registry::armCutFromEnvironment() {
    const char* const after = std::getenv("NORSIM_CUT_AFTER");
    if (after == nullptr) return;
    const char* const bytes = std::getenv("NORSIM_CUT_BYTES");
    const char* const erase = std::getenv("NORSIM_CUT_ERASE");
    const std::optional<std::uint32_t> at = parseSize(after);
    const std::optional<std::uint32_t> programBytes = bytes != nullptr ? parseSize(bytes) : 0u;
    const std::optional<EraseCut> eraseCut = erase != nullptr ? parseEraseCut(erase) : EraseCut::Untouched;
    if (!at || *at == 0 || !programBytes || !eraseCut) {
        std::fprintf(stderr, "norsim: ignoring NORSIM_CUT_AFTER=%s: expected a count from 1, NORSIM_CUT_BYTES a "
                             "number and NORSIM_CUT_ERASE one of untouched, completed, zeroed, mixed, almost\n", after);
        return;
    }
    PowerCut cut;
    cut.at = *at;
    cut.programBytes = *programBytes;
    cut.erase = *eraseCut;
    m_power.arm(cut);
    m_power.kills = true;
}

void Registry::markBusyFromEnvironment() {
    const char* const busy = std::getenv("NORSIM_BUSY");
    if (busy == nullptr) return;
    for (const std::string_view entry : split(busy, ',', std::string_view::npos)) {
        if (entry.empty()) continue;
        const std::vector<std::string_view> fields = split(entry, ':', 2);
        const auto found = m_nodes.find(fields[0]);
        const std::optional<std::uint32_t> opens = fields.size() == 2 ? parseSize(fields[1]) : 0u;
        const bool counted = opens && *opens <= INT32_MAX;
        if (found == m_nodes.end() || !counted) {
            std::fprintf(stderr, "norsim: ignoring NORSIM_BUSY entry \"%.*s\": %s\n", static_cast<int>(entry.size()),
                         entry.data(), counted ? "no simulated node has this path" : "expected PATH[:OPENS]");
            continue;
        }
        found->second->busy = fields.size() == 1;
        found->second->busyOpens = static_cast<int>(*opens);
    }
}

void Registry::markWornFromEnvironment() {
    const char* const worn = std::getenv("NORSIM_WORN");
    if (worn == nullptr) return;
    for (const std::string_view entry : split(worn, ',', std::string_view::npos)) {
        if (entry.empty()) continue;
        const std::vector<std::string_view> fields = split(entry, ':', 2);
        const auto found = m_nodes.find(fields[0]);
        const std::optional<std::uint32_t> offset = fields.size() == 2 ? parseSize(fields[1]) : std::nullopt;
        if (found == m_nodes.end() || !offset || *offset >= found->second->size) {
            std::fprintf(stderr, "norsim: ignoring NORSIM_WORN entry \"%.*s\": expected PATH:OFFSET within a simulated node\n",
                         static_cast<int>(entry.size()), entry.data());
            continue;
        }
        found->second->wornOut.push_back(*offset);
    }
}

void Registry::startClockFromEnvironment() {
    const char* const clock = std::getenv("NORSIM_CLOCK");
    if (clock == nullptr) return;
    if (std::string_view(clock) == "virtual")
        m_clock.emplace();
    else
        std::fprintf(stderr, "norsim: ignoring NORSIM_CLOCK=%s: expected virtual\n", clock);
}

Node::Impl* Registry::addMemory(const std::string& path, std::uint32_t size, std::uint32_t eraseSize) {
    checkGeometry(path, size, eraseSize);
    return insert(std::make_shared<Node::Impl>(path, size, eraseSize, Storage(size), std::nullopt, m_power));
}

Node::Impl* Registry::addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                               const std::string& imageFile) {
    checkGeometry(path, size, eraseSize);
    if (imageFile.empty()) throw std::invalid_argument("node " + path + " needs an image file name");
    // The image first: an image that is refused leaves no count file behind.
    Storage storage(imageFile, size, 0xFF);
    Storage wear(imageFile + ".wear", size / eraseSize * static_cast<std::uint32_t>(sizeof(std::uint64_t)), 0x00);
    return insert(std::make_shared<Node::Impl>(path, size, eraseSize, std::move(storage), std::move(wear), m_power));
}

Node::Impl* Registry::insert(std::shared_ptr<Node::Impl> node) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    Node::Impl* const added = node.get();
    m_nodes[added->path] = std::move(node);
    return added;
}

void Registry::remove(std::string_view path) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_nodes.find(path);
    if (found != m_nodes.end()) m_nodes.erase(found);
}

std::optional<std::int64_t> Registry::open(const char* path, int flags) {
    if (path == nullptr) return std::nullopt;
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_nodes.find(std::string_view(path));
    if (found == m_nodes.end()) return std::nullopt;
    Node::Impl& node = *found->second;
    std::int64_t result = m_power.lost ? -EIO : -EBUSY;
    if (!m_power.lost && !node.takeBusy()) {
        // A real descriptor, on the node's own file, gives a number that no other file can get while
        // the node holds it, and takes locks as a device node would.
        const int fd = real::open(node.storage.identity().c_str(), O_RDWR | (flags & O_CLOEXEC), 0);
        result = fd >= 0 ? fd : -errno;
        if (fd >= 0) {
            m_descriptors[fd] = Descriptor{found->second, 0};
            ++node.openCount;
        }
    }
    node.record(OpKind::Open, 0, 0, result);
    return result;
}

std::optional<std::int64_t> Registry::close(int fd) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_descriptors.find(fd);
    if (found == m_descriptors.end()) return std::nullopt;
    const std::shared_ptr<Node::Impl> node = std::move(found->second.node);
    m_descriptors.erase(found);
    --node->openCount;
    const std::int64_t result = real::close(fd) == 0 ? 0 : -errno;
    node->record(OpKind::Close, 0, 0, result);
    return result;
}

template <typename Call>
std::optional<std::int64_t> Registry::onDescriptor(int fd, Call call) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_descriptors.find(fd);
    if (found == m_descriptors.end()) return std::nullopt;
    return call(found->second);
}

std::optional<std::int64_t> Registry::read(int fd, void* buffer, std::size_t count) {
    return onDescriptor(fd, [&](Descriptor& descriptor) {
        const std::int64_t result = descriptor.node->read(descriptor.position, buffer, count);
        if (result > 0) descriptor.position += result;
        return result;
    });
}

std::optional<std::int64_t> Registry::write(int fd, const void* data, std::size_t count) {
    return onDescriptor(fd, [&](Descriptor& descriptor) {
        const std::int64_t result = descriptor.node->program(descriptor.position, data, count);
        if (result > 0) descriptor.position += result;
        return result;
    });
}

std::optional<std::int64_t> Registry::seek(int fd, std::int64_t offset, int whence) {
    return onDescriptor(fd, [&](Descriptor& descriptor) {
        const std::int64_t result = descriptor.node->seek(descriptor.position, offset, whence);
        if (result >= 0) descriptor.position = result;
        return result;
    });
}

std::optional<std::int64_t> Registry::control(int fd, unsigned long request, void* argument) {
    return onDescriptor(fd, [&](Descriptor& descriptor) { return descriptor.node->control(request, argument); });
}

void Registry::forget(int fd) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_descriptors.find(fd);
    if (found == m_descriptors.end()) return;
    --found->second.node->openCount;
    m_descriptors.erase(found);
}

// The nodes themselves live in the registry, which the interposed calls reach without a Flash.
Flash& Flash::instance() {
    static Flash flash;
    return flash;
}

Node Flash::add(const std::string& path, std::uint32_t size, std::uint32_t eraseSize) {
    return Node(Registry::instance().addMemory(path, size, eraseSize));
}

Node Flash::addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                     const std::string& imageFile) {
    return Node(Registry::instance().addImage(path, size, eraseSize, imageFile));
}

void Flash::remove(const std::string& path) { Registry::instance().remove(path); }

void Flash::cutPower(const PowerCut& cut) {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    registry.power().arm(cut);
}

void Flash::powerOn() {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    registry.power().arm(std::nullopt);
}

std::optional<FallenCut> Flash::fallenCut() const {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    return registry.power().fallen;
}

bool Flash::powerLost() const {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    return registry.power().lost;
}

std::uint64_t Flash::flashOperations() const {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    return registry.power().operations;
}

ScopedNode::ScopedNode(const std::string& path, std::uint32_t size, std::uint32_t eraseSize)
    : m_path(path), m_node(Flash::instance().add(path, size, eraseSize)) {}

ScopedNode::~ScopedNode() { Flash::instance().remove(m_path); }

}  // namespace norsim
