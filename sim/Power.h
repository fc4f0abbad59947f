// The power supply of every simulated node: counts programs and erases, and cuts at the one armed.
#pragma once

#include "NorSim.h"

#include <cstdint>
#include <optional>

namespace norsim {

class Power {
public:
    void arm(const PowerCut& cut);
    void on();
    bool lost() const { return m_lost; }
    std::uint64_t operations() const { return m_operations; }

    // Called as each program or erase begins: the cut that falls on it, if any; the power is then lost.
    std::optional<PowerCut> take();

    // A cut armed from the environment ends the process the moment it falls, as a real power loss
    // ends the program, leaving the image files as the flash would be.
    void killOnCut() { m_kill = true; }
    bool kills() const { return m_kill; }

private:
    std::optional<PowerCut> m_cut;
    std::uint64_t m_operations = 0;
    bool m_lost = false;
    bool m_kill = false;
};

}  // namespace norsim
