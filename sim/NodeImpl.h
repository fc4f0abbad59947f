// One simulated node: its bytes, its records and its pending faults. Callers hold the registry lock.
#pragma once

#include "NorSim.h"
#include "Power.h"
#include "Storage.h"
#include "WearCounts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

namespace norsim {

struct Node::Impl {
    struct Fault {
        int failures = 0;
        int failAfter = 0;
        int shortCalls = 0;
        int shortAfter = 0;
        std::uint32_t shortBytes = 0;
    };

    Impl(std::string nodePath, std::uint32_t nodeSize, std::uint32_t nodeEraseSize, Storage nodeStorage,
         std::optional<WearCounts> nodeWear = std::nullopt);

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
    bool busy = false;
    int busyOpens = 0;
    int openCount = 0;
    std::vector<Op> ops;
    std::vector<std::uint64_t> programs;
    std::vector<std::uint64_t> erases;
    // Image-backed nodes only: the erases of every run on the image, where `erases` counts this one's.
    std::optional<WearCounts> wear;
    std::uint64_t overwrites = 0;
    std::array<Fault, static_cast<std::size_t>(OpKind::GetInfo) + 1> faults{};
    // The registry's, shared by every node.
    Power* power = nullptr;

private:
    std::int64_t erase(const erase_info_user& request);
    std::int64_t info(mtd_info_user& info);
    // Every program and every erase reaches the flash through these two.
    void store(std::uint32_t offset, const std::uint8_t* data, std::size_t count);
    void wipe(std::uint32_t start, std::uint32_t length);
    // What a cut erase leaves of its range.
    void interruptErase(std::uint32_t start, std::uint32_t length, const PowerCut& cut);
    // Ends the process when the cut came from the environment; otherwise the call fails.
    std::int64_t powerFails();

    std::size_t available(std::int64_t position, std::size_t count) const;
    bool takeFailure(OpKind kind);
    std::size_t takeLimit(OpKind kind);
};

}  // namespace norsim
