// What the tests of the tools share: a scratch directory whose ./flash holds the images, and the
// tools run in it as processes.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "RomDevice.h"
#include "SimTest.h"
#include "TableFlash.h"
#include "ToolRun.h"

class ToolTest : public ::testing::Test {
protected:
    // romsim with these arguments, in the scratch directory: its images are in ./flash by default.
    Outcome romsim(const std::vector<std::string>& args, const std::string& input = "",
                   const std::vector<std::string>& environment = {}) {
        std::vector<std::string> argv{ROMSIM};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunTool(dir.path(), argv, input, environment);
    }
    // romctl under romsim.
    Outcome romctl(const std::vector<std::string>& args, const std::string& input = "",
                   const std::vector<std::string>& environment = {}) {
        std::vector<std::string> argv{"--", ROMCTL};
        argv.insert(argv.end(), args.begin(), args.end());
        return romsim(argv, input, environment);
    }

    // A file of the scratch directory.
    void put(const std::filesystem::path& name, const std::string& content) const {
        std::filesystem::create_directories((dir.path() / name).parent_path());
        std::ofstream(dir.path() / name, std::ios::binary) << content;
    }
    std::string text(const std::filesystem::path& name) const { return FileText(dir.path() / name); }

    Bytes image(const std::string& name) const { return fileBytes(flash / name); }
    // Bytes put straight into an image, as a cut or a fault could leave them.
    void poke(const std::string& name, std::uint32_t offset, const Bytes& bytes) const {
        std::fstream file(flash / name, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // A committed block as the store writes it: header, then the record.
    static Bytes committedBlock(const std::string& record) {
        return romtest::BlockBytes(BLOCK_STATUS_CURRENT, Bytes(record.begin(), record.end()));
    }

    TempDir dir;
    std::filesystem::path flash = dir.path() / "flash";
};

// What romsim says on the first run in the scratch directory, before it runs the program.
inline constexpr char kNewImages[] = "romsim: new erased flash images: flash/mtd_backup.img, flash/mtd_backup2.img\n";

// Bytes of a string, for comparing with an image.
inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Bytes `at` to `at + bytes.size()` of `image` replaced.
inline Bytes With(Bytes image, std::uint32_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + at);
    return image;
}
