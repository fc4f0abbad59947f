#include "Registry.h"

#include "Environment.h"
#include "RealLibc.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
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

// NORSIM_NODES is read as the process starts, so that a bad entry is reported even by a program
// that never touches a node.
__attribute__((constructor)) void createAtStart() { Registry::instance(); }

}  // namespace

Registry& Registry::instance() {
    // Never destroyed: programs still make calls from exit handlers and static destructors.
    static Registry* const registry = [] {
        auto* const created = new Registry;
        addNodesFromEnvironment(*created);
        armPowerCutFromEnvironment(*created);
        markBusyFromEnvironment(*created);
        return created;
    }();
    return *registry;
}

Node::Impl* Registry::addMemory(const std::string& path, std::uint32_t size, std::uint32_t eraseSize) {
    checkGeometry(path, size, eraseSize);
    return insert(std::make_shared<Node::Impl>(path, size, eraseSize, Storage(size)));
}

Node::Impl* Registry::addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                               const std::string& imageFile) {
    checkGeometry(path, size, eraseSize);
    if (imageFile.empty()) throw std::invalid_argument("node " + path + " needs an image file name");
    // The image first: an image that is refused leaves no count file behind.
    Storage storage(imageFile, size);
    WearCounts wear(imageFile, size / eraseSize);
    return insert(std::make_shared<Node::Impl>(path, size, eraseSize, std::move(storage), std::move(wear)));
}

Node::Impl* Registry::insert(std::shared_ptr<Node::Impl> node) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    Node::Impl* const added = node.get();
    added->power = &m_power;
    m_nodes[added->path] = std::move(node);
    return added;
}

Node::Impl* Registry::find(std::string_view path) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_nodes.find(path);
    return found == m_nodes.end() ? nullptr : found->second.get();
}

void Registry::remove(std::string_view path) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_nodes.find(path);
    if (found != m_nodes.end()) m_nodes.erase(found);
}

void Registry::clear() {
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_nodes.clear();
}

std::optional<std::int64_t> Registry::open(const char* path, int flags) {
    if (path == nullptr) return std::nullopt;
    const std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_nodes.find(std::string_view(path));
    if (found == m_nodes.end()) return std::nullopt;
    Node::Impl& node = *found->second;
    std::int64_t result = m_power.lost() ? -EIO : -EBUSY;
    if (!m_power.lost() && !node.takeBusy()) {
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

}  // namespace norsim
