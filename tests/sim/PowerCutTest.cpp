// Power loss: the cut program or erase leaves what a real one would, and nothing works until power on.
#include "SimTest.h"

#include <optional>
#include <utility>

#include <sys/ioctl.h>
#include <sys/wait.h>

#include <mtd/mtd-user.h>

namespace {

class PowerCutTest : public NodeTest {
protected:
    ~PowerCutTest() override { norsim::Flash::instance().powerOn(); }

    long eraseSector(std::uint32_t index) {
        erase_info_user request{index * sector, sector};
        return ::ioctl(fd, MEMERASE, &request);
    }
    // Sector 1 programmed with a pattern, as a sector that holds records.
    Bytes patternSector() {
        Bytes pattern(sector);
        for (std::uint32_t i = 0; i < sector; ++i) pattern[i] = static_cast<std::uint8_t>(i * 7 + 3);
        node->poke(sector, pattern);
        return pattern;
    }
    norsim::Flash& flash = norsim::Flash::instance();
};

}  // namespace

TEST_F(PowerCutTest, CutProgramStoresItsFirstBytesAndEverythingFailsUntilPowerOn) {
    norsim::PowerCut cut;
    cut.at = 2;
    cut.programBytes = 3;
    flash.cutPower(cut);
    EXPECT_EQ(programAt(0, Bytes{0x11, 0x22}), 2);
    EXPECT_EQ(flash.flashOperations(), 1u);
    EXPECT_FALSE(flash.powerLost());

    const long cutResult = programAt(16, Bytes{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(cutResult, -1);
    EXPECT_EQ(errorOf(cutResult), EIO);
    EXPECT_TRUE(flash.powerLost());

    Bytes buffer(4);
    EXPECT_EQ(::read(fd, buffer.data(), buffer.size()), -1);
    EXPECT_EQ(::lseek(fd, 0, SEEK_SET), -1);
    EXPECT_EQ(::open(path, O_RDWR), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(eraseSector(0), -1);

    flash.powerOn();
    EXPECT_FALSE(flash.powerLost());
    EXPECT_EQ(readAt(16, 8), (Bytes{1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(readAt(0, 2), (Bytes{0x11, 0x22}));
    EXPECT_EQ(node->eraseCount(0), 0u);
}

TEST_F(PowerCutTest, CutEraseLeavesOneOfTheStatesOfANorErase) {
    struct Case {
        norsim::EraseCut erase;
        const char* name;
    };
    for (const Case c : {Case{norsim::EraseCut::Untouched, "untouched"}, Case{norsim::EraseCut::Completed, "completed"},
                         Case{norsim::EraseCut::Zeroed, "zeroed"}, Case{norsim::EraseCut::Mixed, "mixed"},
                         Case{norsim::EraseCut::AlmostErased, "almost"}}) {
        SCOPED_TRACE(c.name);
        const Bytes pattern = patternSector();
        norsim::PowerCut cut;
        cut.erase = c.erase;
        cut.seed = 42;
        flash.cutPower(cut);
        EXPECT_EQ(eraseSector(1), -1);
        EXPECT_TRUE(flash.powerLost());
        flash.powerOn();
        const Bytes after = node->peek(sector, sector);
        EXPECT_EQ(node->peek(0, sector), ones(sector));
        switch (c.erase) {
        case norsim::EraseCut::Untouched:
            EXPECT_EQ(after, pattern);
            break;
        case norsim::EraseCut::Completed:
            EXPECT_EQ(after, ones(sector));
            break;
        case norsim::EraseCut::Zeroed:
            EXPECT_EQ(after, Bytes(sector, 0x00));
            break;
        case norsim::EraseCut::AlmostErased:
            EXPECT_EQ(std::count(after.begin(), after.end(), 0xFF), sector - 1);
            break;
        case norsim::EraseCut::Mixed: {
            const auto count = [&after](auto match) { return std::count_if(after.begin(), after.end(), match); };
            std::size_t kept = 0;
            for (std::uint32_t i = 0; i < sector; ++i) kept += after[i] == pattern[i];
            EXPECT_GT(kept, sector / 8);
            EXPECT_GT(count([](std::uint8_t b) { return b == 0x00; }), sector / 8);
            EXPECT_GT(count([](std::uint8_t b) { return b == 0xFF; }), sector / 8);
            EXPECT_LT(kept, sector / 2);
            // The same seed leaves the same bytes, so a failing cut can be replayed.
            patternSector();
            flash.cutPower(cut);
            eraseSector(1);
            flash.powerOn();
            EXPECT_EQ(node->peek(sector, sector), after);
            break;
        }
        }
    }
}

TEST_F(PowerCutTest, AlmostErasedCutLeavesOneStrayBitPerBlockPastItsHeader) {
    constexpr std::uint32_t block = 0x200;
    const auto cutErase = [this](std::uint32_t seed, std::uint32_t stride) {
        patternSector();
        norsim::PowerCut cut;
        cut.erase = norsim::EraseCut::AlmostErased;
        cut.seed = seed;
        cut.strayStride = stride;
        flash.cutPower(cut);
        EXPECT_EQ(eraseSector(1), -1);
        flash.powerOn();
        return node->peek(sector, sector);
    };
    // Per stretch of the range: the offsets of its bytes that are not 0xFF, and their cleared bits.
    const auto strays = [](const Bytes& range, std::uint32_t from, std::uint32_t length) {
        std::vector<std::uint32_t> offsets;
        int bits = 0;
        for (std::uint32_t i = from; i < from + length; ++i) {
            if (range[i] == 0xFF) continue;
            offsets.push_back(i - from);
            bits += 8 - __builtin_popcount(range[i]);
        }
        return std::make_pair(offsets, bits);
    };
    const Bytes after = cutErase(7, block);
    for (std::uint32_t b = 0; b < sector; b += block) {
        const auto [offsets, bits] = strays(after, b, block);
        ASSERT_EQ(offsets.size(), 1u) << "block at " << b;
        EXPECT_GE(offsets[0], 8u);
        EXPECT_EQ(bits, 1);
    }
    EXPECT_EQ(node->peek(0, sector), ones(sector));
    EXPECT_EQ(node->eraseCount(1), 0u);
    EXPECT_EQ(cutErase(7, block), after);
    EXPECT_NE(cutErase(8, block), after);

    const Bytes whole = cutErase(7, 0);
    const auto [offsets, bits] = strays(whole, 0, sector);
    ASSERT_EQ(offsets.size(), 1u);
    EXPECT_GE(offsets[0], 8u);
    EXPECT_EQ(bits, 1);
}

TEST_F(PowerCutTest, FallenCutNamesTheCallAndTheBytesBeforeIt) {
    const Bytes pattern = patternSector();
    norsim::PowerCut cut;
    cut.at = 2;
    flash.cutPower(cut);
    EXPECT_EQ(programAt(0, Bytes{0}), 1);
    EXPECT_FALSE(flash.fallenCut());
    EXPECT_EQ(eraseSector(1), -1);
    const std::optional<norsim::FallenCut> fallen = flash.fallenCut();
    ASSERT_TRUE(fallen);
    EXPECT_EQ(fallen->path, path);
    EXPECT_EQ(fallen->op, (norsim::Op{norsim::OpKind::Erase, sector, sector, -1}));
    EXPECT_EQ(fallen->before, pattern);
    flash.powerOn();
    EXPECT_TRUE(flash.fallenCut());

    cut.at = 1;
    cut.programBytes = 1;
    flash.cutPower(cut);
    EXPECT_FALSE(flash.fallenCut());
    EXPECT_EQ(programAt(sector + 2, Bytes{0, 0, 0}), -1);
    EXPECT_EQ(flash.fallenCut()->op, (norsim::Op{norsim::OpKind::Program, sector + 2, 3, -1}));
    EXPECT_EQ(flash.fallenCut()->before, Bytes(pattern.begin() + 2, pattern.begin() + 5));
}

TEST_F(PowerCutTest, PowerOnDropsACutNotYetReached) {
    norsim::PowerCut cut;
    cut.at = 2;
    flash.cutPower(cut);
    flash.powerOn();
    EXPECT_EQ(programAt(0, Bytes{0}), 1);
    EXPECT_EQ(programAt(1, Bytes{0}), 1);
    EXPECT_FALSE(flash.powerLost());
    EXPECT_EQ(flash.flashOperations(), 2u);
}

TEST(PowerCutPreload, CutFromTheEnvironmentKillsTheProgramAndKeepsTheImage) {
    TempDir dir;
    const std::string image = (dir.path() / "cut.img").string();
    const std::string command = "LD_PRELOAD='" NORSIM_LIBRARY "' NORSIM_NODES='/dev/norsim-cut:0x2000:4096:" + image +
                                "' NORSIM_CUT_AFTER=1 NORSIM_CUT_BYTES=1 '" NORSIM_PROBE
                                "' /dev/norsim-cut 16 a5a5a5 >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    // The shell reports a child killed by a signal as 128 + its number.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGKILL) << status;
    Bytes expected = ones(0x2000);
    expected[16] = 0xA5;
    EXPECT_EQ(fileBytes(image), expected);
}
