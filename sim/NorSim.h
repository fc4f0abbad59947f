// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Simulated NOR flash behind the libc calls that the store makes.
//
// The simulator interposes open/close/read/write/lseek/ioctl (every glibc spelling of them). Calls on
// the path of a simulated node are served from the node's bytes; every other call goes to the real
// libc. Link libnorsim.so into a test program (before libc, which the toolchain always puts last) or
// preload it into any dynamically linked program.
//
// NOR rules modelled: erased flash reads 0xFF; a program can only clear bits (new = old & data); an
// erase must be aligned to the node's erase size and sets the range to 0xFF. Of the MTD requests only
// MEMERASE, the one the store makes, and MEMGETINFO, with which romctl checks a node's geometry, are
// answered; every other fails with ENOTTY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norsim {

enum class OpKind { Open, Close, Seek, Read, Program, Erase };

// One flash call as the simulator saw it. For Seek, offset is the requested position and length 0;
// for Read and Program, the file position and the byte count asked for; for Erase, the request's
// start and length. result is what the call returned to the caller.
struct Op {
    OpKind kind;
    std::uint32_t offset;
    std::uint32_t length;
    long result;
};

class Node {
public:
    std::uint32_t size() const;
    std::uint32_t eraseSize() const;

    // Test set-up and inspection that bypass the NOR rules, the counters and the operation log.
    void poke(std::uint32_t offset, const std::vector<std::uint8_t>& bytes);
    void fill(std::uint32_t offset, std::uint32_t length, std::uint8_t value);
    std::vector<std::uint8_t> peek(std::uint32_t offset, std::uint32_t length) const;

    // open() of this node fails with EBUSY while busy.
    void setBusy(bool busy);
    // The next `count` opens fail with EBUSY; then the node is free again (as after setBusy(false)).
    void busyFor(int count);

    // The next `count` calls of `kind` (Seek, Read, Program or Erase) fail: -1 with errno EIO. With
    // `after`, that many calls of the kind go through first. With `length`, only calls of exactly
    // that many bytes count, for both (say the store's 8-byte header reads); seeks take no length.
    // With `offset`, only calls at that offset (for a seek, the position asked for).
    void failNext(OpKind kind, int count = 1, int after = 0, std::optional<std::uint32_t> length = std::nullopt,
                  std::optional<std::uint32_t> offset = std::nullopt);
    // The next `count` calls of `kind` (Read or Program) transfer at most `bytes` bytes; a short
    // program stores only its first `bytes` bytes. With `after`, that many calls go through first;
    // `length` and `offset` as for failNext.
    void shortNext(OpKind kind, std::uint32_t bytes, int count = 1, int after = 0,
                   std::optional<std::uint32_t> length = std::nullopt,
                   std::optional<std::uint32_t> offset = std::nullopt);

    // Worn flash, for the rest of the node's life; each call adds to the wear. Every erase whose
    // range holds `offset` fails with EIO from now on and leaves its bytes.
    void wearOut(std::uint32_t offset);
    // The bits of `mask` in the byte at `offset` no longer change. Stuck at 1, a program leaves them
    // at 1 and still reports success; stuck at 0, every erase leaves them at 0 and reports success.
    void stick(std::uint32_t offset, std::uint8_t mask, bool atOne);
    // The next program of `length` bytes at `offset` stores its first `stored` bytes and fails with EIO
    // (a failNext of programs, which it replaces).
    void failProgram(std::uint32_t offset, std::uint32_t length, std::uint32_t stored);
    // The node as new again: no worn cells, no sector worn out, no fault or short call pending.
    void heal();

    const std::vector<Op>& ops() const;
    void clearOps();

    // Erases of one erase block ("sector") of the node.
    std::uint64_t eraseCount(std::uint32_t sector) const;
    // Number of program calls that touched at least one byte that was not 0xFF.
    std::uint64_t overwriteCount() const;
    // Number of descriptors of this node currently open.
    int openCount() const;

    struct Impl;
    explicit Node(Impl* impl) : m_impl(impl) {}

private:
    Impl* m_impl;
};

// How a cut erase leaves its range. A NOR erase first programs the whole range to 0x00 and then
// erases it, so a cut can leave it as it was, erased, all 0x00, or anything in between; cut just
// before it ends, it leaves a few cells not yet erased (AlmostErased).
enum class EraseCut { Untouched, Completed, Zeroed, Mixed, AlmostErased };

// The power fails during the `at`-th program or erase (counted from 1 over every node, from the
// moment the cut is armed). A cut program stores only its first `programBytes` bytes; a cut erase
// leaves its range as `erase` says (Mixed: each byte old, 0x00, 0xFF or random bits, from `seed`;
// AlmostErased: 0xFF but for one 0 bit in each `strayStride` bytes, placed from `seed` past the
// first 8 bytes, a block's header; stride 0 takes the range as one block).
// From then on every call on a simulated node fails with EIO, close excepted, until power comes on.
struct PowerCut {
    std::uint64_t at = 1;
    std::uint32_t programBytes = 0;
    EraseCut erase = EraseCut::Untouched;
    std::uint32_t seed = 1;
    std::uint32_t strayStride = 0;
};

// The call that a cut fell on, and the bytes of its range (a program's count, an erase's range)
// just before: what a test needs to tell that the cut left what its model says.
struct FallenCut {
    std::string path;
    Op op;
    std::vector<std::uint8_t> before;
};

// The process-wide set of simulated nodes.
class Flash {
public:
    static Flash& instance();

    // A memory-backed node, erased. Replaces a node of the same path.
    Node add(const std::string& path, std::uint32_t size, std::uint32_t eraseSize);
    // A node backed by an image file that persists between runs; created erased (0xFF) when missing.
    // The erases of each sector over every run are counted beside it, in IMAGEFILE.wear: one 64-bit
    // count per sector, in the host's byte order.
    Node addImage(const std::string& path, std::uint32_t size, std::uint32_t eraseSize,
                  const std::string& imageFile);
    // Descriptors open on the node keep it until they are closed.
    void remove(const std::string& path);

    void cutPower(const PowerCut& cut);
    // Power comes back: a cut armed and not yet reached is dropped, and the count starts again.
    void powerOn();
    bool powerLost() const;
    // The cut that fell since the last cutPower(), if one did.
    std::optional<FallenCut> fallenCut() const;
    // Programs and erases since power came on (or the cut was armed).
    std::uint64_t flashOperations() const;
};

// While one lives, time stands still but for pauses: nanosleep returns at once and moves the clock on
// by what it asked for, and time() reads that clock, which starts at the whole second of its creation.
// A test of a timeout then runs at once, and exactly.
class VirtualClock {
public:
    VirtualClock();
    ~VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;
    // Nanoseconds of the pauses since its creation.
    std::uint64_t slept() const;
};

// A memory-backed node for the life of a scope.
class ScopedNode {
public:
    ScopedNode(const std::string& path, std::uint32_t size, std::uint32_t eraseSize);
    ~ScopedNode();
    ScopedNode(const ScopedNode&) = delete;
    ScopedNode& operator=(const ScopedNode&) = delete;
    Node* operator->() { return &m_node; }
    Node& operator*() { return m_node; }

private:
    std::string m_path;
    Node m_node;
};

}  // namespace norsim
