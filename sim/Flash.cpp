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

ScopedNode::ScopedNode(const std::string& path, std::uint32_t size, std::uint32_t eraseSize)
    : m_path(path), m_node(Flash::instance().add(path, size, eraseSize)) {}

ScopedNode::~ScopedNode() { Flash::instance().remove(m_path); }

}  // namespace norsim
