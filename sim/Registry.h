// The process-wide set of nodes and of the descriptors open on them, under one lock.
#pragma once

#include "NodeImpl.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace norsim {

class Registry {
public:
    static Registry& instance();

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // Each replaces a node of the same path; descriptors open on the old node keep it until closed.
    Node::Impl* addMemory(const std::string& path, std::uint32_t size, std::uint32_t eraseSize);
    Node::Impl* addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                         const std::string& imageFile);
    Node::Impl* find(std::string_view path);
    void remove(std::string_view path);
    void clear();

    // The interposed calls. Each yields nothing when the path or descriptor is not simulated, and
    // otherwise the call's result or -errno.
    std::optional<std::int64_t> open(const char* path, int flags);
    std::optional<std::int64_t> close(int fd);
    std::optional<std::int64_t> read(int fd, void* buffer, std::size_t count);
    std::optional<std::int64_t> write(int fd, const void* data, std::size_t count);
    std::optional<std::int64_t> seek(int fd, std::int64_t offset, int whence);
    std::optional<std::int64_t> control(int fd, unsigned long request, void* argument);

    Power& power() { return m_power; }

    // libc has just given this number to a real file, so a descriptor of ours with that number was
    // closed behind the simulator's back (dup2, close_range, a close inside libc).
    void forget(int fd);

private:
    struct Descriptor {
        std::shared_ptr<Node::Impl> node;
        std::int64_t position = 0;
    };

    Registry() = default;
    Node::Impl* insert(std::shared_ptr<Node::Impl> node);
    template <typename Call>
    std::optional<std::int64_t> onDescriptor(int fd, Call call);

    std::mutex m_mutex;
    Power m_power;
    std::map<std::string, std::shared_ptr<Node::Impl>, std::less<>> m_nodes;
    std::unordered_map<int, Descriptor> m_descriptors;
};

}  // namespace norsim
