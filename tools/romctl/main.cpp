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
    "usage: romctl [OPTION...] COMMAND [ARGS]\n"
    "\n"
    "  range                          print the first and the last area number\n"
    "  write AREA [FILE|-] [--if-changed]\n"
    "                                 store FILE (or standard input) as the area's record;\n"
    "                                 --if-changed writes nothing when the record holds it already\n"
    "  read AREA [--length N] [--block B] [--out FILE] [--hex] [--strict]\n"
    "                                 print the current record (or block B's): N bytes, by default\n"
    "                                 the record's own length; --hex prints a hex dump; --strict fails\n"
    "                                 on a record older than a damaged block, or no record at all\n"
    "  erase AREA... | --all | --mask M\n"
    "                                 erase areas (bit k of M is area k + 1)\n"
    "  init AREA... | --all | --mask M\n"
    "                                 store a record of zero bytes, as long as each area allows\n"
    "  inspect [AREA...] [--json]     show blocks, sectors and record lengths as they are on flash,\n"
    "                                 changing nothing\n"
    "  check [AREA...] [--json]       tell each area's health: its record, damaged blocks, a sector\n"
    "                                 that should be blank and is not, changing nothing\n"
    "  load MANIFEST [--if-changed]   write the records that MANIFEST names (\"AREA FILE\" a line),\n"
    "                                 once every line has been checked; --if-changed as for write\n"
    "  save DIR                       write each area's current record into DIR, with a manifest\n"
    "                                 DIR/romstore.manifest that load takes, changing nothing\n"
    "  info [--json]                  show each node as the kernel reports it beside what the device\n"
    "                                 table assumes; fails on a node that does not fit\n"
    "\n"
    "Options go before or after the command and its arguments, and \"--\" ends them. A value follows\n"
    "its option as in --out FILE, --out=FILE, -o FILE or -oFILE.\n"
    "  -l, --length N                 read N bytes\n"
    "  -b, --block B                  read block B\n"
    "  -o, --out FILE                 read into FILE instead of standard output\n"
    "  -x, --hex                      read as a hex dump\n"
    "      --strict                   read: fail on a record older than a damaged block, or none\n"
    "      --if-changed               write, load: write nothing where the record holds it already\n"
    "  -a, --all                      erase or init every area\n"
    "  -m, --mask M                   erase or init the areas of mask M\n"
    "      --json                     check, inspect, info: one JSON object a line\n"
    "  -v, --verbose                  print the store's log lines on standard error\n"
    "  -w, --wait[=SECONDS]           try a busy node again every 100 ms for SECONDS (10 without a\n"
    "                                 value); by default 0, and 10 for erase and init\n"
    "  -h, --help, help               print this help\n"
    "  -V, --version                  print the version\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the store, a node or a file failed\n"
    "  2  wrong command line (nothing was touched)\n"
    "  3  a node stayed busy: another holder kept it open for all of the wait, and what needed it\n"
    "     was not done; try again later\n"
    "  4  damage: a newer block does not verify, or a sector that should be blank is not (check,\n"
    "     read --strict)\n"
    "  5  an area cannot be read (check)\n"
    "  6  the area holds no record, only the format marker (read --strict)\n";

const std::vector<CommandLine::Option> kOptions = {
    {"--help", false, 'h'},  {"--verbose", false, 'v'}, {"--wait", true, 'w', true}, {"--length", true, 'l'},
    {"--block", true, 'b'},  {"--out", true, 'o'},      {"--hex", false, 'x'},       {"--all", false, 'a'},
    {"--mask", true, 'm'},   {"--json", false},         {"--strict", false},         {"--if-changed", false},
    {"--version", false, 'V'},
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
