#include "Power.h"

namespace norsim {

void Power::arm(const PowerCut& cut) {
    m_cut = cut;
    m_operations = 0;
    m_lost = false;
}

void Power::on() {
    m_cut.reset();
    m_operations = 0;
    m_lost = false;
}

std::optional<PowerCut> Power::take() {
    ++m_operations;
    if (!m_cut || m_operations != m_cut->at) return std::nullopt;
    m_lost = true;
    std::optional<PowerCut> cut = m_cut;
    m_cut.reset();
    return cut;
}

}  // namespace norsim
