#include "NorSim.h"

#include "NodeImpl.h"
#include "Registry.h"

#include <algorithm>
#include <stdexcept>

namespace norsim {
namespace {

void checkCounts(int count, int after) {
    if (count < 0 || after < 0) throw std::invalid_argument("a fault needs counts of calls of at least 0");
}

}  // namespace

const std::string& Node::path() const { return m_impl->path; }

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

void Node::eraseAll() {
    const auto lock = Registry::instance().lock();
    std::fill_n(m_impl->storage.data(), m_impl->size, std::uint8_t{0xFF});
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

void Node::failNext(OpKind kind, int count, int after) {
    if (kind != OpKind::Seek && kind != OpKind::Read && kind != OpKind::Program && kind != OpKind::Erase) {
        throw std::invalid_argument("only seeks, reads, programs and erases can be made to fail");
    }
    checkCounts(count, after);
    const auto lock = Registry::instance().lock();
    Impl::Fault& fault = m_impl->fault(kind);
    fault.failures = count;
    fault.failAfter = after;
}

void Node::shortNext(OpKind kind, std::uint32_t bytes, int count, int after) {
    if (kind != OpKind::Read && kind != OpKind::Program) {
        throw std::invalid_argument("only reads and programs can be made short");
    }
    checkCounts(count, after);
    const auto lock = Registry::instance().lock();
    Impl::Fault& fault = m_impl->fault(kind);
    fault.shortCalls = count;
    fault.shortAfter = after;
    fault.shortBytes = bytes;
}

const std::vector<Op>& Node::ops() const { return m_impl->ops; }

void Node::clearOps() {
    const auto lock = Registry::instance().lock();
    m_impl->ops.clear();
}

std::uint64_t Node::programCount(std::uint32_t sector) const {
    const auto lock = Registry::instance().lock();
    return m_impl->programs.at(sector);
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
