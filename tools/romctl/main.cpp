// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// romctl: the store from the command line, on a target's MTD nodes or, under romsim, on simulated
// flash. Data goes to standard output; one line on standard error says what went wrong.
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "CommandLine.h"
#include "Failure.h"
#include "Romctl.h"

namespace {

const char kUsage[] =
    "usage: romctl [--verbose] COMMAND [ARGS]\n"
    "\n"
    "  range                          print the first and the last area number\n"
    "  write AREA [FILE|-] [--if-changed]\n"
    "                                 store FILE (or standard input) as the area's record;\n"
    "                                 --if-changed writes nothing when the record holds it already\n"
    "  read AREA [--length N] [--block B] [--out FILE] [--hex]\n"
    "                                 print the current record (or block B's): N bytes, by default\n"
    "                                 the record's own length; --hex prints a hex dump\n"
    "  erase AREA... | --all | --mask M\n"
    "                                 erase areas (bit k of M is area k + 1)\n"
    "  init AREA... | --all | --mask M\n"
    "                                 store a record of zero bytes, as long as each area allows\n"
    "  inspect [AREA...]              show blocks, sectors and record lengths as they are on flash,\n"
    "                                 changing nothing\n"
    "  load MANIFEST [--if-changed]   write the records that MANIFEST names (\"AREA FILE\" a line),\n"
    "                                 once every line has been checked; --if-changed as for write\n"
    "  save DIR                       write each area's current record into DIR, with a manifest\n"
    "                                 DIR/romstore.manifest that load takes, changing nothing\n"
    "  info                           show each node as the kernel reports it beside what the device\n"
    "                                 table assumes; fails on a node that does not fit\n"
    "\n"
    "  --verbose                      print the store's log lines on standard error\n"
    "  help, -h, --help               print this help\n"
    "  -V, --version                  print the version\n"
    "\n"
    "Exit status: 0 done, 1 the store, a node or a file failed, 2 wrong command line (nothing was\n"
    "touched), 3 the node is busy (nothing was done; try again later).\n";

const std::vector<CommandLine::Option> kOptions = {
    {"--help", false}, {"--verbose", false}, {"--length", true}, {"--block", true}, {"--out", true},
    {"--hex", false},  {"--all", false},     {"--mask", true},  {"--version", false},
    {"--if-changed", false},
};

}  // namespace

int main(int argc, char** argv) {
    try {
        const CommandLine line(argc, argv, kOptions);
        if (line.answersHelp(kUsage, "help")) return kExitOk;
        if (line.answersVersion("romctl")) return kExitOk;
        // The log facility reads its levels once, at the first line the store asks about.
        if (line.has("--verbose")) setenv("NQ_LOG", "14=7", 1);
        CRomMgr store;
        Romctl(store).run(line);
        return kExitOk;
    } catch (const Failure& failure) {
        std::cerr << "romctl: " << failure.what() << "\n";
        return failure.status();
    } catch (const std::invalid_argument& wrong) {
        std::cerr << "romctl: " << wrong.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "romctl: " << error.what() << "\n";
        return kExitFailed;
    }
}
