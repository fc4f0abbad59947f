// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The simulator's insides: the bytes of a node, the node with its faults and its log, and the
// process-wide registry of nodes and descriptors that the interposed calls reach. The registry's one
// lock guards all of it.
#pragma once

#include "NorSim.h"

#include <array>
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
#include <utility>
#include <vector>

#include <sys/types.h>

namespace norsim {

// libc's own definitions of the calls that the simulator hides, for the files it opens itself.
namespace real {
int open(const char* path, int flags, mode_t mode);
int close(int fd);
}  // namespace real

// A descriptor of the simulator's own, closed with libc's call when the holder goes.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int fd = -1) : m_fd(fd) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OwnedDescriptor& operator=(OwnedDescriptor&&) = delete;
    ~OwnedDescriptor();
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct Unmap {
    std::size_t size = 0;
    void operator()(std::uint8_t* bytes) const;
};

// The bytes of a node: erased memory, or a shared mapping of a file. Through the mapping every change
// is in the file the moment it is made, so a process killed at any point leaves it as the flash would be.
class Storage {
public:
    explicit Storage(std::uint32_t size);
    // Creates the file with every byte `blank` when it is missing; throws std::runtime_error when it
    // has another size or cannot be used.
    Storage(const std::string& file, std::uint32_t size, std::uint8_t blank);

    std::uint8_t* data() { return m_mapping ? m_mapping.get() : m_memory.data(); }

    // A file that stands for the node: each open of the node opens it anew, so that a descriptor of
    // the node is a real one, and locks taken on it (flock) hold between the users of this node only,
    // across processes for an image. A memory node stands on an anonymous file of its own.
    const std::string& identity() const { return m_identity; }

private:
    void map(int fd, std::uint32_t size, const std::string& file);

    std::vector<std::uint8_t> m_memory;
    std::unique_ptr<std::uint8_t, Unmap> m_mapping;
    OwnedDescriptor m_anonymous;
    std::string m_identity;
};

// The power supply of every node: counts programs and erases, and cuts at the one armed.
struct Power {
    // A cut armed, or none (power on); either way the count starts again.
    void arm(std::optional<PowerCut> next) {
        if (next) fallen.reset();
        cut = next;
        operations = 0;
        lost = false;
    }
    // Called as each program or erase begins: the cut that falls on it, if any; the power is then lost.
    std::optional<PowerCut> take() {
        ++operations;
        if (!cut || operations != cut->at) return std::nullopt;
        lost = true;
        return std::exchange(cut, std::nullopt);
    }

    std::optional<PowerCut> cut;
    std::optional<FallenCut> fallen;
    std::uint64_t operations = 0;
    bool lost = false;
    // A cut armed from the environment ends the process the moment it falls, as a real power loss
    // ends the program, leaving the image files as the flash would be.
    bool kills = false;
};

struct Node::Impl {
    // The calls a fault falls on: when given, only those of exactly this length at this offset.
    struct Aim {
        std::optional<std::uint32_t> length;
        std::optional<std::uint32_t> offset;
        bool matches(std::int64_t at, std::uint64_t count) const {
            return (!length || *length == count) && (!offset || *offset == at);
        }
    };
    struct Fault {
        int failures = 0;
        int failAfter = 0;
        int shortCalls = 0;
        int shortAfter = 0;
        std::uint32_t shortBytes = 0;
        std::uint32_t failStores = 0;  // bytes that a failing program stores first
        Aim fails;
        Aim shortens;
    };

    // With `wear`, the erases of each sector over every run on the image: one 64-bit count per
    // sector, in the host's byte order.
    Impl(std::string nodePath, std::uint32_t nodeSize, std::uint32_t nodeEraseSize, Storage nodeStorage,
         std::optional<Storage> nodeWear, Power& supply);

    // The calls made on a descriptor at `position`. Each logs itself and returns what the call
    // yields, or -errno.
    std::int64_t seek(std::int64_t position, std::int64_t offset, int whence);
    std::int64_t read(std::int64_t position, void* buffer, std::size_t count);
    std::int64_t program(std::int64_t position, const void* data, std::size_t count);
    std::int64_t control(unsigned long request, void* argument);
    // Whether an open now finds the node busy; counts off busyFor().
    bool takeBusy();

    void record(OpKind kind, std::int64_t offset, std::uint64_t length, std::int64_t result);
    // Throws std::out_of_range unless the range lies within the node.
    void checkRange(std::uint32_t offset, std::uint64_t length) const;
    Fault& fault(OpKind kind) { return faults[static_cast<std::size_t>(kind)]; }

    const std::string path;
    const std::uint32_t size;
    const std::uint32_t eraseSize;
    Storage storage;
    std::optional<Storage> wear;
    Power& power;
    bool busy = false;
    int busyOpens = 0;
    int openCount = 0;
    std::vector<Op> ops;
    std::vector<std::uint64_t> erases;
    std::uint64_t overwrites = 0;
    std::array<Fault, static_cast<std::size_t>(OpKind::Erase) + 1> faults{};
    // Worn cells: bits that no program clears, bits that no erase sets, and erase blocks that no
    // longer erase, by offset.
    std::map<std::uint32_t, std::uint8_t> stuckAtOne;
    std::map<std::uint32_t, std::uint8_t> stuckAtZero;
    std::vector<std::uint32_t> wornOut;

private:
    std::int64_t erase(std::uint32_t start, std::uint32_t length);
    // Every program and every erase reaches the flash through these two.
    void store(std::uint32_t offset, const std::uint8_t* data, std::size_t count);
    void wipe(std::uint32_t start, std::uint32_t length);
    bool isWornOut(std::uint32_t start, std::uint32_t length) const;
    // What a cut erase leaves of its range.
    void interruptErase(std::uint32_t start, std::uint32_t length, const PowerCut& cut);
    // Ends the process when the cut came from the environment; otherwise the call fails.
    std::int64_t powerFails();

    std::size_t available(std::int64_t position, std::size_t count) const;
    // The fault that falls on a call of `length` bytes at `offset`, if any.
    bool takeFailure(OpKind kind, std::int64_t offset, std::uint64_t length);
    std::size_t takeLimit(OpKind kind, std::int64_t offset, std::uint64_t length);
    // Keeps the bytes of the range that a cut call is about to change.
    void noteCut(OpKind kind, std::uint32_t offset, std::uint32_t length);
};

// The process-wide set of nodes and of the descriptors open on them. Created on first use, with the
// nodes, busy nodes, power cut and clock that the environment names.
class Registry {
public:
    static Registry& instance();

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // Each replaces a node of the same path; descriptors open on the old node keep it until closed.
    Node::Impl* addMemory(const std::string& path, std::uint32_t size, std::uint32_t eraseSize);
    Node::Impl* addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                         const std::string& imageFile);
    void remove(std::string_view path);
    Power& power() { return m_power; }

    // The interposed calls. Each yields nothing when the path or descriptor is not simulated, and
    // otherwise the call's result or -errno.
    std::optional<std::int64_t> open(const char* path, int flags);
    std::optional<std::int64_t> close(int fd);
    std::optional<std::int64_t> read(int fd, void* buffer, std::size_t count);
    std::optional<std::int64_t> write(int fd, const void* data, std::size_t count);
    std::optional<std::int64_t> seek(int fd, std::int64_t offset, int whence);
    std::optional<std::int64_t> control(int fd, unsigned long request, void* argument);
    // libc has just given this number to a real file, so a descriptor of ours with that number was
    // closed behind the simulator's back (dup2, close_range, a close inside libc).
    void forget(int fd);

private:
    struct Descriptor {
        std::shared_ptr<Node::Impl> node;
        std::int64_t position = 0;
    };

    Registry() = default;
    // The environment of a program run with the simulator preloaded; a malformed entry is reported
    // on stderr and skipped. NORSIM_NODES=PATH:SIZE:ERASESIZE[:IMAGEFILE],... with sizes in decimal or
    // 0x-hexadecimal.
    void addNodesFromEnvironment();
    // NORSIM_CUT_AFTER=N cuts the power during the N-th program or erase and kills the process there;
    // NORSIM_CUT_BYTES (bytes a cut program stores, default 0) and NORSIM_CUT_ERASE (untouched,
    // completed, zeroed, mixed or almost; default untouched) say what the cut leaves. An almost-erased
    // range takes one stray bit in all.
    void armCutFromEnvironment();
    // NORSIM_BUSY=PATH[:OPENS][,...] makes every open of these nodes (or only the first OPENS) fail
    // with EBUSY, as when another process holds them, for a program that cannot call Node::setBusy.
    void markBusyFromEnvironment();
    // NORSIM_WORN=PATH:OFFSET[,PATH:OFFSET...] makes every erase of the node whose range holds OFFSET
    // fail with EIO, as Node::wearOut does, for a program run on a worn sector.
    void markWornFromEnvironment();
    // NORSIM_CLOCK=virtual puts the program on a VirtualClock from its start, so that its pauses take
    // no time.
    void startClockFromEnvironment();
    Node::Impl* insert(std::shared_ptr<Node::Impl> node);
    template <typename Call>
    std::optional<std::int64_t> onDescriptor(int fd, Call call);

    std::mutex m_mutex;
    Power m_power;
    std::map<std::string, std::shared_ptr<Node::Impl>, std::less<>> m_nodes;
    std::unordered_map<int, Descriptor> m_descriptors;
    std::optional<VirtualClock> m_clock;
};

}  // namespace norsim
