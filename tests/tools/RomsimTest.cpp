// romsim as a person runs it: the images it makes from the device table, what it passes on of the
// program's end, the power cut and the wear counts.
#include "ToolTest.h"

#include <sstream>

#include "TableNodes.h"

namespace {

using RomsimTest = ToolTest;

TEST_F(RomsimTest, ImagesAreMadeErasedWithTheSizesOfTheDeviceTable) {
    const Outcome run = romsim({"--dir", "elsewhere", "--", "/bin/sh", "-c", "echo \"$NORSIM_NODES\""});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::filesystem::path images = dir.path() / "elsewhere";
    EXPECT_EQ(run.out, "/dev/mtd_backup:15728640:262144:" + (images / "mtd_backup.img").string() +
                           ",/dev/mtd_backup2:1048576:524288:" + (images / "mtd_backup2.img").string() + "\n");
    for (const norsim::TableNode& node : norsim::TableNodes()) {
        const std::string image = (images / std::filesystem::path(node.path).filename()).string() + ".img";
        SCOPED_TRACE(image);
        EXPECT_EQ(fileBytes(image), ones(node.size));
        EXPECT_EQ(fileBytes(image + ".wear"), Bytes(node.size / node.eraseSize * sizeof(std::uint64_t), 0x00));
    }
    EXPECT_FALSE(std::filesystem::exists(flash));
    EXPECT_EQ(run.err, "romsim: new erased flash images: elsewhere/mtd_backup.img, elsewhere/mtd_backup2.img\n");

    // Only the image that is missing is new.
    std::filesystem::remove(images / "mtd_backup2.img");
    const Outcome again = romsim({"--dir", "elsewhere", "--", "true"});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "romsim: new erased flash images: elsewhere/mtd_backup2.img\n");
    EXPECT_EQ(romsim({"--dir", "elsewhere", "--", "true"}).err, "");
}

TEST_F(RomsimTest, ThePowerCutKillsTheWriteAndThePreviousRecordSurvives) {
    ASSERT_EQ(romctl({"write", "1"}, "version 1").status, 0);
    const Bytes before = image("mtd_backup.img");

    const Outcome cut = romsim({"--cut-after", "2", "--cut-bytes", "4", "--", ROMCTL, "write", "1"}, "version 2");
    EXPECT_EQ(cut.status, 137);
    EXPECT_EQ(cut.out, "");
    EXPECT_EQ(cut.err, std::string("romsim: power cut at flash operation 2: ") + ROMCTL + " was killed there\n");
    // Block 2 holds the checksum word and the first 4 bytes of the record, and no status word.
    Bytes block = committedBlock("version 2");
    std::fill(block.begin(), block.begin() + 4, 0xFF);
    std::fill(block.begin() + 12, block.end(), 0xFF);
    EXPECT_TRUE(image("mtd_backup.img") == With(before, 2 * 0x2000, block));

    EXPECT_EQ(romctl({"read", "1", "--length", "9"}).out, "version 1");
    // The next write skips the half-written block.
    ASSERT_EQ(romctl({"write", "1"}, "version 3").status, 0);
    EXPECT_EQ(romctl({"read", "1", "--length", "9"}).out, "version 3");
    EXPECT_EQ(romctl({"read", "1", "--block", "3", "--length", "9"}).out, "version 3");
}

TEST_F(RomsimTest, ACutEraseLeavesTheStateAskedFor) {
    ASSERT_EQ(romctl({"write", "2"}, "kept").status, 0);
    const Bytes before = image("mtd_backup.img");
    const Outcome cut = romsim({"--cut-after", "1", "--cut-erase", "zeroed", "--", ROMCTL, "erase", "1"});
    EXPECT_EQ(cut.status, 137);
    EXPECT_TRUE(image("mtd_backup.img") == With(before, 0, Bytes(0x80000, 0x00)));
}

TEST_F(RomsimTest, ACutThatDoesNotFallIsReported) {
    const Outcome run = romsim({"--cut-after", "5", "--", ROMCTL, "read", "1", "--length", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\xFF");
    EXPECT_EQ(run.err, std::string(kNewImages) + "romsim: no power cut: " + ROMCTL +
                           " made fewer than 5 flash programs and erases\n");
}

TEST_F(RomsimTest, WearCountsTheErasesOfEverySectorAcrossRuns) {
    const Outcome none = romsim({"--wear"});
    EXPECT_EQ(none.status, 125);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "romsim: " + (flash / "mtd_backup.img").string() +
                            " does not exist: no program has used this flash yet\n");

    ASSERT_EQ(romctl({"erase", "1", "31"}).status, 0);
    ASSERT_EQ(romctl({"erase", "1"}).status, 0);
    const Outcome wear = romsim({"--wear"});
    EXPECT_EQ(wear.status, 0) << wear.err;
    std::istringstream lines(wear.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 1u + 60u + 2u);
    EXPECT_EQ(rows[0], "node               area  sector  offset       erases");
    EXPECT_EQ(rows[1], "/dev/mtd_backup       1       0  0x00000000        2");
    EXPECT_EQ(rows[2], "/dev/mtd_backup       1       1  0x00040000        2");
    EXPECT_EQ(rows[3], "/dev/mtd_backup       2       2  0x00080000        0");
    EXPECT_EQ(rows[60], "/dev/mtd_backup      30      59  0x00ec0000        0");
    EXPECT_EQ(rows[61], "/dev/mtd_backup2     31       0  0x00000000        1");
    EXPECT_EQ(rows[62], "/dev/mtd_backup2     31       1  0x00080000        1");
}

TEST_F(RomsimTest, ExitStatusTellsHowTheProgramEnded) {
    EXPECT_EQ(romsim({"--", "/bin/sh", "-c", "exit 7"}).status, 7);
    const Outcome terminated = romsim({"--", "/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(terminated.status, 128 + SIGTERM);
    EXPECT_EQ(terminated.err, "romsim: /bin/sh was killed by signal 15 (Terminated)\n");
    // Without a cut, a SIGKILL is no power cut.
    const Outcome killed = romsim({"--", "/bin/sh", "-c", "kill -KILL $$"});
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    EXPECT_EQ(killed.err, "romsim: /bin/sh was killed by signal 9 (Killed)\n");

    const Outcome missing = romsim({"--", "no-such-program"});
    EXPECT_EQ(missing.status, 127);
    EXPECT_EQ(missing.err, "romsim: cannot run no-such-program: No such file or directory\n");
    put("plain.txt", "not a program");
    const Outcome plain = romsim({"--", "./plain.txt"});
    EXPECT_EQ(plain.status, 126);
    EXPECT_EQ(plain.err, "romsim: cannot run ./plain.txt: Permission denied\n");
}

TEST_F(RomsimTest, WrongCommandLinesAreRefused) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "romsim: no command given; see romsim --help\n"},
        {{"--cut-after", "0", "--", "true"}, "romsim: --cut-after counts flash operations from 1\n"},
        {{"--cut-after", "1", "--cut-erase", "half", "--", "true"},
         "romsim: --cut-erase must be untouched, completed, zeroed, mixed or almost, not \"half\"\n"},
        {{"--cut-bytes", "3", "--", "true"}, "romsim: --cut-bytes and --cut-erase need --cut-after\n"},
        {{"--wear", "--", "true"}, "romsim: --wear runs no command\n"},
        {{"--speed", "9", "--", "true"}, "romsim: unknown option --speed\n"},
        {{"--dir", "no/flash", "--", "true"},
         "romsim: cannot create the directory no/flash: its parent does not exist\n"},
    };
    for (const auto& [args, err] : cases) {
        SCOPED_TRACE(err);
        const Outcome run = romsim(args);
        EXPECT_EQ(run.status, 125);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, err);
    }
    EXPECT_FALSE(std::filesystem::exists(flash));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no"));
    const Outcome help = romsim({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: romsim [--dir DIR]", 0), 0u) << help.out;
    EXPECT_EQ(romsim({"-h"}).out, help.out);
}

TEST_F(RomsimTest, AnImageOfAnotherSizeThanItsNodeIsRefusedAndNothingRuns) {
    put("flash/mtd_backup.img", std::string(100, '\xFF'));
    const Outcome run = romctl({"write", "31"}, "record");
    EXPECT_EQ(run.status, 125);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "romsim: flash/mtd_backup.img holds 100 bytes, not the 15728640 of /dev/mtd_backup\n");
    EXPECT_EQ(image("mtd_backup.img"), ones(100));
    EXPECT_FALSE(std::filesystem::exists(flash / "mtd_backup2.img"));
}

TEST_F(RomsimTest, AnInstalledTreeWorksWhereverItIsMovedAndNeedsItsSimulator) {
    const std::filesystem::path moved = dir.path() / "moved";
    std::filesystem::copy(STAGE, moved, std::filesystem::copy_options::recursive);
    const std::string movedRomsim = (moved / std::filesystem::relative(ROMSIM, STAGE)).string();
    const std::string movedRomctl = (moved / std::filesystem::relative(ROMCTL, STAGE)).string();
    const Outcome write = RunTool(dir.path(), {movedRomsim, "--", movedRomctl, "write", "1"}, "moved");
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(romctl({"read", "1"}).out, "moved");

    // Without its simulator romsim runs nothing: the program would reach the machine's own nodes.
    const std::filesystem::path simulator = moved / std::filesystem::relative(NORSIM_LIBRARY, STAGE);
    std::filesystem::remove(simulator);
    std::filesystem::remove_all(flash);
    const Outcome missing = RunTool(dir.path(), {movedRomsim, "--", movedRomctl, "write", "1"}, "lost");
    EXPECT_EQ(missing.status, 125);
    EXPECT_EQ(missing.err, "romsim: the simulator " + simulator.string() + " is missing\n");
    EXPECT_FALSE(std::filesystem::exists(flash));
}

TEST_F(RomsimTest, RunsTheHostExampleOnTheImages) {
    const Outcome run = romsim({"--", HOST_EXAMPLE});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "areas 1 to 31\narea 1 holds \"baud=115200 mode=8N1\"\n");
    EXPECT_EQ(romctl({"read", "1", "--length", "20"}).out, "baud=115200 mode=8N1");
}

}  // namespace
