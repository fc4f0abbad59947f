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

// NORSIM_BUSY=PATH[,PATH...] makes every open of these nodes fail with EBUSY, as when another
// process holds them, for a program that cannot call Node::setBusy. A path that names no node is
// reported and skipped.
void markBusyFromEnvironment(Registry& registry);

}  // namespace norsim
