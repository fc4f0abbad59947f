// Nodes named by the NORSIM_NODES variable, for programs run with the simulator preloaded:
// PATH:SIZE:ERASESIZE[:IMAGEFILE],... with sizes in decimal or 0x-hexadecimal.
#pragma once

namespace norsim {

class Registry;

// A malformed entry is reported on stderr and skipped.
void addNodesFromEnvironment(Registry& registry);

// NORSIM_CUT_AFTER=N cuts the power during the N-th program or erase and kills the process there;
// NORSIM_CUT_BYTES (bytes a cut program stores, default 0) and NORSIM_CUT_ERASE (untouched, completed,
// zeroed or mixed; default untouched) say what the cut leaves. A malformed value is reported and
// ignored.
void armPowerCutFromEnvironment(Registry& registry);

}  // namespace norsim
