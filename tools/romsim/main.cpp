// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// romsim: runs any dynamically linked program (romctl, or a host application of the store) on
// simulated NOR flash kept in image files, and can cut the power in the middle of it.
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "CommandLine.h"
#include "FlashImages.h"
#include "Simulator.h"

namespace {

const char kUsage[] =
    "usage: romsim [--dir DIR] [--cut-after N [--cut-bytes J] [--cut-erase STATE]] -- COMMAND [ARGS...]\n"
    "       romsim [--dir DIR] --wear\n"
    "\n"
    "Runs COMMAND with the NOR flash simulator preloaded: the nodes of the device table are image files\n"
    "DIR/NAME.img (DIR defaults to ./flash). romsim creates DIR, but none of its parents, and names the\n"
    "images that it creates erased on first use. romsim's options end at \"--\": the words after it are\n"
    "COMMAND's. A value follows its option as in --dir DIR, --dir=DIR, -d DIR or -dDIR.\n"
    "\n"
    "  -d, --dir DIR      the directory of the images\n"
    "  --cut-after N      cut the power during COMMAND's N-th flash program or erase: COMMAND is\n"
    "                     killed there and the images keep what the flash would hold\n"
    "  --cut-bytes J      the cut program stores its first J bytes (default 0)\n"
    "  --cut-erase STATE  a cut erase leaves its range untouched (default), completed, zeroed, mixed or\n"
    "                     almost (erased but for one stray 0 bit past the range's first 8 bytes)\n"
    "  --wear             print how often each sector of each image was erased\n"
    "  -h, --help         print this help\n"
    "  -V, --version      print the version\n"
    "\n"
    "Exit status: COMMAND's own; 137 when the power was cut; 128 + N when signal N killed COMMAND;\n"
    "125 romsim failed; 126 COMMAND cannot be run; 127 COMMAND was not found.\n";

const std::vector<CommandLine::Option> kOptions = {
    {"--help", false, 'h'}, {"--dir", true, 'd'},  {"--wear", false},
    {"--cut-after", true}, {"--cut-bytes", true}, {"--cut-erase", true}, {"--version", false, 'V'},
};

std::optional<CutOptions> CutFrom(const CommandLine& line) {
    if (!line.has("--cut-after")) {
        if (line.has("--cut-bytes") || line.has("--cut-erase"))
            throw std::invalid_argument("--cut-bytes and --cut-erase need --cut-after");
        return std::nullopt;
    }
    CutOptions cut;
    cut.after = CommandLine::number(line.value("--cut-after", ""), "--cut-after");
    if (cut.after == 0) throw std::invalid_argument("--cut-after counts flash operations from 1");
    cut.programBytes = static_cast<std::uint32_t>(CommandLine::number(line.value("--cut-bytes", "0"), "--cut-bytes"));
    cut.erase = line.value("--cut-erase", cut.erase);
    if (cut.erase != "untouched" && cut.erase != "completed" && cut.erase != "zeroed" && cut.erase != "mixed" &&
        cut.erase != "almost")
        throw std::invalid_argument("--cut-erase must be untouched, completed, zeroed, mixed or almost, not \"" +
                                    cut.erase + "\"");
    return cut;
}

// The simulator where the install puts it beside romsim, or where the build tree has it, both relative
// to romsim's own file.
std::filesystem::path FindSimulator() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    for (const char* relative : {ROMSIM_NORSIM_INSTALLED, ROMSIM_NORSIM_BUILT}) {
        const std::filesystem::path library = (self / relative).lexically_normal();
        if (std::filesystem::exists(library)) return library;
    }
    throw std::runtime_error("the simulator " + (self / ROMSIM_NORSIM_INSTALLED).lexically_normal().string() +
                             " is missing");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const CommandLine line(argc, argv, kOptions);
        if (line.answersHelp(kUsage)) return 0;
        if (line.answersVersion("romsim")) return 0;
        const std::string dir = line.value("--dir", "flash");
        const FlashImages images(dir);
        if (line.has("--wear")) {
            if (!line.operands().empty() || line.has("--cut-after"))
                throw std::invalid_argument("--wear runs no command");
            images.printWear(std::cout);
            return 0;
        }
        const std::optional<CutOptions> cut = CutFrom(line);
        if (line.operands().empty()) throw std::invalid_argument("no command given; see romsim --help");
        // Without the simulator the program would reach whatever nodes of these names the machine has.
        const std::filesystem::path simulator = FindSimulator();
        images.prepare(std::cerr);
        return Simulator(simulator.string(), images).run(line.operands(), cut);
    } catch (const std::exception& error) {
        std::cerr << "romsim: " << error.what() << "\n";
        return kRomsimFailed;
    }
}
