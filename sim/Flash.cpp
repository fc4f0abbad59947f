#include "NorSim.h"

#include "Registry.h"

namespace norsim {

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

Node Flash::find(const std::string& path) { return Node(Registry::instance().find(path)); }

void Flash::remove(const std::string& path) { Registry::instance().remove(path); }

void Flash::clear() { Registry::instance().clear(); }

void Flash::cutPower(const PowerCut& cut) {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    registry.power().arm(cut);
}

void Flash::powerOn() {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    registry.power().on();
}

bool Flash::powerLost() const {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    return registry.power().lost();
}

std::uint64_t Flash::flashOperations() const {
    Registry& registry = Registry::instance();
    const auto lock = registry.lock();
    return registry.power().operations();
}

ScopedNode::ScopedNode(const std::string& path, std::uint32_t size, std::uint32_t eraseSize)
    : m_path(path), m_node(Flash::instance().add(path, size, eraseSize)) {}

ScopedNode::~ScopedNode() { Flash::instance().remove(m_path); }

}  // namespace norsim
