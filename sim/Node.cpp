// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// One simulated node: the NOR rules, the injected faults, the power cut and the log, and the handle
// that tests hold. Callers of Node::Impl hold the registry's lock.
#include "Internals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <utility>

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

namespace norsim {
namespace {

constexpr std::uint8_t erased = 0xFF;
// The store's block header: an almost-erased cut keeps its stray bits out of it.
constexpr std::uint32_t headerBytes = 8;

void checkCounts(int count, int after) {
    if (count < 0 || after < 0) throw std::invalid_argument("a fault needs counts of calls of at least 0");
}

}  // namespace

Node::Impl::Impl(std::string nodePath, std::uint32_t nodeSize, std::uint32_t nodeEraseSize, Storage nodeStorage,
                 std::optional<Storage> nodeWear, Power& supply)
    : path(std::move(nodePath)),
      size(nodeSize),
      eraseSize(nodeEraseSize),
      storage(std::move(nodeStorage)),
      wear(std::move(nodeWear)),
      power(supply),
      erases(nodeSize / nodeEraseSize) {}

std::int64_t Node::Impl::seek(std::int64_t position, std::int64_t offset, int whence) {
    std::int64_t target = offset;
    bool valid = whence == SEEK_SET;
    if (whence == SEEK_CUR) valid = !__builtin_add_overflow(position, offset, &target);
    if (whence == SEEK_END) valid = !__builtin_add_overflow(std::int64_t{size}, offset, &target);
    const std::int64_t result =
        power.lost || takeFailure(OpKind::Seek, target, 0) ? -EIO : valid && target >= 0 ? target : -EINVAL;
    record(OpKind::Seek, target, 0, result);
    return result;
}

std::int64_t Node::Impl::read(std::int64_t position, void* buffer, std::size_t count) {
    std::int64_t result = -EIO;
    if (!power.lost && !takeFailure(OpKind::Read, position, count)) {
        const std::size_t length = std::min(available(position, count), takeLimit(OpKind::Read, position, count));
        if (length > 0) std::memcpy(buffer, storage.data() + position, length);
        result = static_cast<std::int64_t>(length);
    }
    record(OpKind::Read, position, count, result);
    return result;
}

std::int64_t Node::Impl::program(std::int64_t position, const void* data, std::size_t count) {
    if (power.lost) {
        record(OpKind::Program, position, count, -EIO);
        return -EIO;
    }
    if (const std::optional<PowerCut> cut = power.take()) {
        noteCut(OpKind::Program, static_cast<std::uint32_t>(position), static_cast<std::uint32_t>(available(position, count)));
        const std::size_t stored = std::min<std::size_t>(available(position, count), cut->programBytes);
        store(static_cast<std::uint32_t>(position), static_cast<const std::uint8_t*>(data), stored);
        record(OpKind::Program, position, count, -EIO);
        return powerFails();
    }
    std::int64_t result = -EIO;
    if (takeFailure(OpKind::Program, position, count)) {
        const std::size_t stored = std::min<std::size_t>(available(position, count), fault(OpKind::Program).failStores);
        store(static_cast<std::uint32_t>(position), static_cast<const std::uint8_t*>(data), stored);
    } else {
        const std::size_t limit = takeLimit(OpKind::Program, position, count);
        if (position >= size) {
            result = -ENOSPC;
        } else {
            const std::size_t length = std::min(available(position, count), limit);
            store(static_cast<std::uint32_t>(position), static_cast<const std::uint8_t*>(data), length);
            result = static_cast<std::int64_t>(length);
        }
    }
    record(OpKind::Program, position, count, result);
    return result;
}

std::int64_t Node::Impl::control(unsigned long request, void* argument) {
    if (power.lost) return -EIO;
    // The kernel takes the request as 32 bits, however a caller's integer type widened it.
    switch (static_cast<std::uint32_t>(request)) {
    case MEMERASE: {
        if (argument == nullptr) return -EFAULT;
        const auto& request = *static_cast<const erase_info_user*>(argument);
        return erase(request.start, request.length);
    }
    case MEMGETINFO: {
        // What the kernel answers for a NOR node: a programmed byte is the smallest write.
        if (argument == nullptr) return -EFAULT;
        mtd_info_user info{};
        info.type = MTD_NORFLASH;
        info.flags = MTD_CAP_NORFLASH;
        info.size = size;
        info.erasesize = eraseSize;
        info.writesize = 1;
        *static_cast<mtd_info_user*>(argument) = info;
        return 0;
    }
    default:
        return -ENOTTY;
    }
}

void Node::Impl::record(OpKind kind, std::int64_t offset, std::uint64_t length, std::int64_t result) {
    ops.push_back(Op{kind, static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length),
                     result < 0 ? -1L : static_cast<long>(result)});
}

void Node::Impl::checkRange(std::uint32_t offset, std::uint64_t length) const {
    if (offset + length > size) {
        throw std::out_of_range(std::to_string(length) + " bytes at " + std::to_string(offset) +
                                " are beyond " + path);
    }
}

std::int64_t Node::Impl::erase(std::uint32_t start, std::uint32_t length) {
    const bool aligned = start % eraseSize == 0 && length % eraseSize == 0;
    const bool valid = length > 0 && aligned && std::uint64_t{start} + length <= size;
    if (const std::optional<PowerCut> cut = power.take()) {
        if (valid) {
            noteCut(OpKind::Erase, start, length);
            interruptErase(start, length, *cut);
        }
        record(OpKind::Erase, start, length, -EIO);
        return powerFails();
    }
    std::int64_t result = -EIO;
    if (!takeFailure(OpKind::Erase, start, length) && !(valid && isWornOut(start, length))) {
        result = -EINVAL;
        if (valid) {
            wipe(start, length);
            result = 0;
        }
    }
    record(OpKind::Erase, start, length, result);
    return result;
}

void Node::Impl::store(std::uint32_t offset, const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    std::uint8_t* const flash = storage.data() + offset;
    bool overwrote = false;
    for (std::size_t i = 0; i < count; ++i) {
        overwrote = overwrote || flash[i] != erased;
        flash[i] &= data[i];
    }
    for (auto cell = stuckAtOne.lower_bound(offset); cell != stuckAtOne.end() && cell->first < offset + count; ++cell)
        storage.data()[cell->first] |= cell->second;
    if (overwrote) ++overwrites;
}

bool Node::Impl::isWornOut(std::uint32_t start, std::uint32_t length) const {
    return std::any_of(wornOut.begin(), wornOut.end(),
                       [&](std::uint32_t offset) { return offset >= start && offset - start < length; });
}

void Node::Impl::wipe(std::uint32_t start, std::uint32_t length) {
    std::memset(storage.data() + start, erased, length);
    for (auto cell = stuckAtZero.lower_bound(start); cell != stuckAtZero.end() && cell->first < start + length; ++cell)
        storage.data()[cell->first] &= static_cast<std::uint8_t>(~cell->second);
    for (std::uint32_t sector = start / eraseSize; sector < (start + length) / eraseSize; ++sector) {
        ++erases[sector];
        if (wear) {
            std::uint8_t* const slot = wear->data() + sector * sizeof(std::uint64_t);
            std::uint64_t count = 0;
            std::memcpy(&count, slot, sizeof count);
            ++count;
            std::memcpy(slot, &count, sizeof count);
        }
    }
}

void Node::Impl::interruptErase(std::uint32_t start, std::uint32_t length, const PowerCut& cut) {
    std::uint8_t* const flash = storage.data() + start;
    switch (cut.erase) {
    case EraseCut::Untouched:
        break;
    case EraseCut::Completed:
        wipe(start, length);
        break;
    case EraseCut::Zeroed:
        std::memset(flash, 0x00, length);
        break;
    case EraseCut::Mixed: {
        std::mt19937 bits(cut.seed);
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint32_t draw = bits();
            const std::uint8_t pick[] = {flash[i], 0x00, erased, static_cast<std::uint8_t>(draw >> 8)};
            flash[i] = pick[draw & 3u];
        }
        break;
    }
    case EraseCut::AlmostErased: {
        std::memset(flash, erased, length);
        const std::uint32_t stride = cut.strayStride > 0 ? cut.strayStride : length;
        std::mt19937 place(cut.seed);
        for (std::uint32_t block = 0; block < length; block += stride) {
            const std::uint32_t span = std::min(stride, length - block);
            if (span <= headerBytes) continue;
            const std::uint32_t offset = block + headerBytes + place() % (span - headerBytes);
            flash[offset] &= static_cast<std::uint8_t>(~(1u << place() % 8));
        }
        break;
    }
    }
}

void Node::Impl::noteCut(OpKind kind, std::uint32_t offset, std::uint32_t length) {
    const std::uint8_t* const first = storage.data() + offset;
    power.fallen = FallenCut{path, Op{kind, offset, length, -1}, std::vector<std::uint8_t>(first, first + length)};
}

std::int64_t Node::Impl::powerFails() {
    if (power.kills) std::raise(SIGKILL);
    return -EIO;
}

std::size_t Node::Impl::available(std::int64_t position, std::size_t count) const {
    if (position >= size) return 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(count, static_cast<std::uint64_t>(size - position)));
}

bool Node::Impl::takeBusy() {
    if (busyOpens == 0) return busy;
    --busyOpens;
    return true;
}

bool Node::Impl::takeFailure(OpKind kind, std::int64_t offset, std::uint64_t length) {
    Fault& pending = fault(kind);
    if (pending.failures == 0 || !pending.fails.matches(offset, length)) return false;
    if (pending.failAfter > 0) {
        --pending.failAfter;
        return false;
    }
    --pending.failures;
    return true;
}

std::size_t Node::Impl::takeLimit(OpKind kind, std::int64_t offset, std::uint64_t length) {
    Fault& pending = fault(kind);
    if (pending.shortCalls == 0 || !pending.shortens.matches(offset, length))
        return std::numeric_limits<std::size_t>::max();
    if (pending.shortAfter > 0) {
        --pending.shortAfter;
        return std::numeric_limits<std::size_t>::max();
    }
    --pending.shortCalls;
    return pending.shortBytes;
}

std::uint32_t Node::size() const { return m_impl->size; }

std::uint32_t Node::eraseSize() const { return m_impl->eraseSize; }

void Node::poke(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
    const auto lock = Registry::instance().lock();
    m_impl->checkRange(offset, bytes.size());
    std::copy(bytes.begin(), bytes.end(), m_impl->storage.data() + offset);
}

void Node::fill(std::uint32_t offset, std::uint32_t length, std::uint8_t value) {
    const auto lock = Registry::instance().lock();
    m_impl->checkRange(offset, length);
    std::fill_n(m_impl->storage.data() + offset, length, value);
}

std::vector<std::uint8_t> Node::peek(std::uint32_t offset, std::uint32_t length) const {
    const auto lock = Registry::instance().lock();
    m_impl->checkRange(offset, length);
    const std::uint8_t* const first = m_impl->storage.data() + offset;
    return std::vector<std::uint8_t>(first, first + length);
}

void Node::setBusy(bool busy) {
    const auto lock = Registry::instance().lock();
    m_impl->busy = busy;
    m_impl->busyOpens = 0;
}

void Node::busyFor(int count) {
    checkCounts(count, 0);
    const auto lock = Registry::instance().lock();
    m_impl->busy = false;
    m_impl->busyOpens = count;
}

void Node::failNext(OpKind kind, int count, int after, std::optional<std::uint32_t> length,
                    std::optional<std::uint32_t> offset) {
    if (kind != OpKind::Seek && kind != OpKind::Read && kind != OpKind::Program && kind != OpKind::Erase) {
        throw std::invalid_argument("only seeks, reads, programs and erases can be made to fail");
    }
    if (kind == OpKind::Seek && length) throw std::invalid_argument("a seek has no length to match");
    checkCounts(count, after);
    const auto lock = Registry::instance().lock();
    Impl::Fault& fault = m_impl->fault(kind);
    fault.failures = count;
    fault.failAfter = after;
    fault.failStores = 0;
    fault.fails = Impl::Aim{length, offset};
}

void Node::shortNext(OpKind kind, std::uint32_t bytes, int count, int after, std::optional<std::uint32_t> length,
                     std::optional<std::uint32_t> offset) {
    if (kind != OpKind::Read && kind != OpKind::Program) {
        throw std::invalid_argument("only reads and programs can be made short");
    }
    checkCounts(count, after);
    const auto lock = Registry::instance().lock();
    Impl::Fault& fault = m_impl->fault(kind);
    fault.shortCalls = count;
    fault.shortAfter = after;
    fault.shortBytes = bytes;
    fault.shortens = Impl::Aim{length, offset};
}

void Node::wearOut(std::uint32_t offset) {
    const auto lock = Registry::instance().lock();
    m_impl->checkRange(offset, 1);
    m_impl->wornOut.push_back(offset);
}

void Node::stick(std::uint32_t offset, std::uint8_t mask, bool atOne) {
    const auto lock = Registry::instance().lock();
    m_impl->checkRange(offset, 1);
    (atOne ? m_impl->stuckAtOne : m_impl->stuckAtZero)[offset] |= mask;
}

void Node::failProgram(std::uint32_t offset, std::uint32_t length, std::uint32_t stored) {
    failNext(OpKind::Program, 1, 0, length, offset);
    const auto lock = Registry::instance().lock();
    m_impl->fault(OpKind::Program).failStores = stored;
}

void Node::heal() {
    const auto lock = Registry::instance().lock();
    m_impl->stuckAtOne.clear();
    m_impl->stuckAtZero.clear();
    m_impl->wornOut.clear();
    m_impl->faults = {};
}

const std::vector<Op>& Node::ops() const { return m_impl->ops; }

void Node::clearOps() {
    const auto lock = Registry::instance().lock();
    m_impl->ops.clear();
}

std::uint64_t Node::eraseCount(std::uint32_t sector) const {
    const auto lock = Registry::instance().lock();
    return m_impl->erases.at(sector);
}

std::uint64_t Node::overwriteCount() const {
    const auto lock = Registry::instance().lock();
    return m_impl->overwrites;
}

int Node::openCount() const {
    const auto lock = Registry::instance().lock();
    return m_impl->openCount;
}

}  // namespace norsim
