// Nodes named by the NORSIM_NODES variable, for programs run with the simulator preloaded:
// PATH:SIZE:ERASESIZE[:IMAGEFILE],... with sizes in decimal or 0x-hexadecimal.
#pragma once

namespace norsim {

class Registry;

// A malformed entry is reported on stderr and skipped.
void addNodesFromEnvironment(Registry& registry);

}  // namespace norsim
