// romctl as a person runs it: on the images of romsim, through the exit status, the two streams and
// the bytes that end up on flash.
#include "ToolTest.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

const char kMain[] = "mtd_backup.img";
const char kSecond[] = "mtd_backup2.img";
const std::uint32_t kMainSize = 0xF00000, kSecondSize = 0x100000;
const std::uint32_t kBlock = 0x2000, kArea = 0x80000, kSecondBlock = 0x10000;

using RomctlTest = ToolTest;

const char kLegend[] =
    "blocks: C committed, ! committed but its record does not verify, . free, R rejected,\n"
    "        W written but not committed, ? other\n";

TEST_F(RomctlTest, RangeAndHelpNeedNoFlash) {
    const Outcome range = RunTool(dir.path(), {ROMCTL, "range"});
    EXPECT_EQ(range.status, 0);
    EXPECT_EQ(range.out, "1 31\n");
    EXPECT_EQ(range.err, "");
    const Outcome help = RunTool(dir.path(), {ROMCTL, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: romctl [--verbose] COMMAND [ARGS]\n", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    for (const char* asked : {"-h", "help"}) {
        SCOPED_TRACE(asked);
        const Outcome same = RunTool(dir.path(), {ROMCTL, asked});
        EXPECT_EQ(same.status, 0);
        EXPECT_EQ(same.out, help.out);
        EXPECT_EQ(same.err, "");
    }
    // After romsim's "--", -h is romctl's.
    EXPECT_EQ(romctl({"-h"}).out, help.out);
}

TEST_F(RomctlTest, WriteStoresTheRecordAndReadGivesItBack) {
    const Outcome write = romctl({"write", "1"}, "version 1");
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.out, "");
    EXPECT_EQ(write.err, kNewImages);
    // Block 0 formats the blank area; the record is committed in block 1.
    Bytes expected = With(ones(kMainSize), 0, romtest::HeaderBytes(BLOCK_STATUS_CURRENT, 0xFFFFFFFFu));
    expected = With(expected, kBlock, committedBlock("version 1"));
    EXPECT_TRUE(image(kMain) == expected);
    EXPECT_EQ(image(kSecond), ones(kSecondSize));

    const Outcome own = romctl({"read", "1"});
    EXPECT_EQ(own.status, 0);
    EXPECT_EQ(own.out, "version 1");
    EXPECT_EQ(romctl({"read", "1", "--length", "8184"}).out, "version 1" + std::string(8184 - 9, '\xFF'));
    EXPECT_EQ(romctl({"read", "1", "--length", "0x9", "--hex"}).out,
              "00000000  76 65 72 73 69 6f 6e 20  31                       |version 1|\n00000009\n");
    EXPECT_EQ(romctl({"read", "1", "--length", "72", "--hex"}).out,
              "00000000  76 65 72 73 69 6f 6e 20  31 ff ff ff ff ff ff ff  |version 1.......|\n"
              "00000010  ff ff ff ff ff ff ff ff  ff ff ff ff ff ff ff ff  |................|\n"
              "*\n"
              "00000040  ff ff ff ff ff ff ff ff                           |........|\n"
              "00000048\n");
    // The block of the format marker holds an erased record of no bytes.
    EXPECT_EQ(romctl({"read", "1", "--block", "0", "--length", "2"}).out, "\xFF\xFF");
    EXPECT_EQ(romctl({"read", "1", "--block", "0"}).out, "");
    const Outcome saved = romctl({"read", "1", "--out", "record.bin"});
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.out, "");
    EXPECT_EQ(fileBytes(dir.path() / "record.bin"), BytesOf("version 1"));

    const Outcome bad = romctl({"read", "1", "--block", "2"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "romctl: read area 1 block 2: bad block (-4): the block is not committed or its record does not "
              "verify; romctl inspect 1 shows the blocks\n");
}

TEST_F(RomctlTest, ReadFindsTheRecordsOwnLengthFromItsChecksum) {
    // The checksum of "tail \x89L" stays the same with any number of 0xFF bytes after it.
    const std::string shorter("tail \x89L", 7);
    struct Case {
        int area;
        std::string written;
        std::string printed;
    };
    const Case cases[] = {
        {1, "version 1", "version 1"},
        {2, "", ""},
        {3, "ab\xFF\xFF\xFF", "ab\xFF\xFF\xFF"},
        {4, "\xFF\xFF", "\xFF\xFF"},
        {5, std::string(8183, 'M') + "\xFF", std::string(8183, 'M') + "\xFF"},
        {6, shorter + "\xFF", shorter},
        {31, std::string(65520, 'L') + std::string(8, '\xFF'), std::string(65520, 'L') + std::string(8, '\xFF')},
    };
    for (const Case& c : cases) {
        const std::string area = std::to_string(c.area);
        SCOPED_TRACE("area " + area);
        ASSERT_EQ(romctl({"write", area}, c.written).status, 0);
        const Outcome read = romctl({"read", area});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_TRUE(read.out == c.printed) << read.out.size() << " bytes";
        EXPECT_TRUE(romctl({"read", area, "--block", "1"}).out == c.printed);
    }
    // Both lengths make the same block; --length tells them apart.
    EXPECT_EQ(romctl({"read", "6", "--length", "8"}).out, shorter + "\xFF");
    // A blank area reads as the format marker that the read writes, a record of no bytes.
    const Outcome blank = romctl({"read", "7"});
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.out, "");
}

TEST_F(RomctlTest, TheLastAreaLivesOnTheSecondNodeWithLargerRecords) {
    put("large.bin", std::string(65528, 'L'));
    const Outcome write = romctl({"write", "31", "large.bin"});
    EXPECT_EQ(write.status, 0) << write.err;
    const Bytes onFlash = image(kSecond);
    EXPECT_TRUE(Bytes(onFlash.begin() + kSecondBlock, onFlash.begin() + 2 * kSecondBlock) ==
                committedBlock(std::string(65528, 'L')));
    EXPECT_EQ(image(kMain), ones(kMainSize));
}

TEST_F(RomctlTest, RecordsLongerThanTheAreaTakesAreRefusedBeforeAnythingIsWritten) {
    put("long.bin", std::string(8185, 'x'));
    const Outcome first = romctl({"write", "1", "long.bin"});
    EXPECT_EQ(first.status, 2);
    EXPECT_EQ(first.err,
              std::string(kNewImages) +
                  "romctl: a record of 8185 bytes is longer than area 1's largest record of 8184 bytes; "
                  "nothing was written\n");
    const Outcome last = romctl({"write", "31", "-"}, std::string(65529, 'x'));
    EXPECT_EQ(last.status, 2);
    EXPECT_EQ(last.err,
              "romctl: a record of 65529 bytes is longer than area 31's largest record of 65528 bytes; "
              "nothing was written\n");
    const Outcome read = romctl({"read", "1", "--length", "8185"});
    EXPECT_EQ(read.status, 2);
    EXPECT_EQ(read.err, "romctl: --length 8185 is longer than area 1's largest record of 8184 bytes\n");
    EXPECT_EQ(image(kMain), ones(kMainSize));
    EXPECT_EQ(image(kSecond), ones(kSecondSize));
}

TEST_F(RomctlTest, WrongCommandLinesAreRefusedWithOneLineAndTouchNothing) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{}, 2, "romctl: no command given; see romctl --help\n"},
        {{"frob"}, 2, "romctl: unknown command \"frob\"; see romctl --help\n"},
        {{"write", "0", "-"}, 2, "romctl: area 0 is out of range 1..31\n"},
        {{"read", "32"}, 2, "romctl: area 32 is out of range 1..31\n"},
        {{"read", "-1"}, 2, "romctl: area -1 is out of range 1..31\n"},
        {{"erase", "2", "-0x1"}, 2, "romctl: area -0x1 is out of range 1..31\n"},
        {{"inspect", "-7"}, 2, "romctl: area -7 is out of range 1..31\n"},
        {{"erase", "1", "x"}, 2, "romctl: area \"x\" is not a number\n"},
        {{"read", "1", "--length", "-1"}, 2,
         "romctl: --length must be a number from 0 to 2147483647, not \"-1\"\n"},
        {{"read", "1", "--bogus"}, 2, "romctl: unknown option --bogus\n"},
        {{"read", "1", "--block"}, 2, "romctl: option --block needs a value\n"},
        {{"read", "1", "--block", "64"}, 2, "romctl: block 64 is out of range 0..63 of area 1\n"},
        {{"read", "31", "--block", "16"}, 2, "romctl: block 16 is out of range 0..15 of area 31\n"},
        {{"write", "1", "--hex"}, 2, "romctl: write does not take --hex\n"},
        {{"write"}, 2, "romctl: usage: romctl write AREA [FILE|-]\n"},
        {{"erase"}, 2, "romctl: usage: romctl erase AREA... | --all | --mask M\n"},
        {{"erase", "--mask", "0"}, 2, "romctl: --mask 0 selects no area (bit k of M is area k + 1)\n"},
        {{"init", "--mask", "0x0"}, 2, "romctl: --mask 0x0 selects no area (bit k of M is area k + 1)\n"},
        {{"init", "--mask", "0x80000000"}, 2,
         "romctl: --mask must be a number from 0 to 2147483647, not \"0x80000000\"\n"},
        {{"write", "1", "missing.bin"}, 1, "romctl: cannot open missing.bin: No such file or directory\n"},
    };
    ASSERT_EQ(romsim({"--", "true"}).err, kNewImages);
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += " " + a;
        SCOPED_TRACE("romctl" + line);
        const Outcome run = romctl(c.args);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(image(kMain), ones(kMainSize));
    EXPECT_EQ(image(kSecond), ones(kSecondSize));
}

TEST_F(RomctlTest, BusyNodeIsReportedAndNothingIsWritten) {
    const std::vector<std::string> busy{"NORSIM_BUSY=/dev/mtd_backup"};
    const Outcome write = romctl({"write", "1"}, "version 1", busy);
    EXPECT_EQ(write.status, 3);
    EXPECT_EQ(write.err,
              std::string(kNewImages) +
                  "romctl: write area 1: busy (-2): another holder has /dev/mtd_backup open; nothing was done, "
                  "try again later\n");
    const Outcome read = romctl({"read", "2"}, "", busy);
    EXPECT_EQ(read.status, 3);
    EXPECT_EQ(read.out, "");
    const Outcome inspect = romctl({"inspect", "1"}, "", busy);
    EXPECT_EQ(inspect.status, 3);
    EXPECT_EQ(inspect.err, "romctl: cannot open /dev/mtd_backup: Device or resource busy\n");
    // save reads every area before it writes anything.
    const Outcome save = romctl({"save", "dump"}, "", busy);
    EXPECT_EQ(save.status, 3);
    EXPECT_EQ(save.err, "romctl: cannot open /dev/mtd_backup: Device or resource busy\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "dump"));
    EXPECT_EQ(image(kMain), ones(kMainSize));
    // The other node is not held.
    EXPECT_EQ(romctl({"write", "31"}, "free", busy).status, 0);

    // load stops at the first write that fails.
    put("first.bin", "first");
    put("both.manifest", "1 first.bin\n31 first.bin\n");
    const Outcome load = romctl({"load", "both.manifest"}, "", {"NORSIM_BUSY=/dev/mtd_backup2"});
    EXPECT_EQ(load.status, 3);
    EXPECT_EQ(load.err,
              "romctl: both.manifest:2: write area 31: busy (-2): another holder has /dev/mtd_backup2 open; nothing "
              "was done, try again later; the lines above it were written\n");
    EXPECT_EQ(romctl({"read", "1"}).out, "first");
    EXPECT_EQ(romctl({"read", "31"}).out, "free");
}

TEST_F(RomctlTest, EraseAndInitChangeTheSelectedAreasOnly) {
    for (const char* area : {"1", "2", "3"}) ASSERT_EQ(romctl({"write", area}, std::string("record ") + area).status, 0);
    const Bytes written = image(kMain);

    const Outcome erase = romctl({"erase", "2"});
    EXPECT_EQ(erase.status, 0) << erase.err;
    EXPECT_TRUE(image(kMain) == With(written, kArea, ones(kArea)));

    EXPECT_EQ(romctl({"init", "--mask", "0x5"}).status, 0);
    EXPECT_EQ(romctl({"read", "1"}).out, std::string(8184, '\0'));
    EXPECT_EQ(romctl({"read", "3"}).out, std::string(8184, '\0'));
    const Bytes initialized = image(kMain);
    EXPECT_TRUE(Bytes(initialized.begin() + kArea, initialized.begin() + 2 * kArea) == ones(kArea));

    EXPECT_EQ(romctl({"erase", "--all"}).status, 0);
    EXPECT_EQ(image(kMain), ones(kMainSize));
    EXPECT_EQ(image(kSecond), ones(kSecondSize));
}

TEST_F(RomctlTest, FailuresNameTheAreasAndTheNodeThatCannotBeOpened) {
    // Without romsim: this machine has neither node.
    const Outcome read = RunTool(dir.path(), {ROMCTL, "read", "1"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.out, "");
    EXPECT_EQ(read.err, "romctl: read area 1: failed (-1): cannot open /dev/mtd_backup: No such file or directory\n");
    const Outcome write = RunTool(dir.path(), {ROMCTL, "write", "31"}, "record");
    EXPECT_EQ(write.status, 1);
    EXPECT_EQ(write.err,
              "romctl: write area 31: failed (-1): cannot open /dev/mtd_backup2: No such file or directory\n");
    const Outcome both = RunTool(dir.path(), {ROMCTL, "erase", "1", "31"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.err,
              "romctl: erase failed in areas 1 31: cannot open /dev/mtd_backup: No such file or directory; "
              "cannot open /dev/mtd_backup2: No such file or directory\n");

    // Only the first node is simulated.
    ASSERT_EQ(romctl({"write", "1"}, "version 1").status, 0);
    const std::vector<std::string> firstOnly{
        "LD_PRELOAD=" NORSIM_LIBRARY,
        "NORSIM_NODES=/dev/mtd_backup:0xF00000:0x40000:" + (flash / kMain).string()};
    const Outcome erase = RunTool(dir.path(), {ROMCTL, "erase", "1", "31"}, "", firstOnly);
    EXPECT_EQ(erase.status, 1);
    EXPECT_EQ(erase.err,
              "romctl: erase failed in areas 31: cannot open /dev/mtd_backup2: No such file or directory\n");
    EXPECT_EQ(image(kMain), ones(kMainSize));
    const Outcome init = RunTool(dir.path(), {ROMCTL, "init", "--all"}, "", firstOnly);
    EXPECT_EQ(init.status, 1);
    EXPECT_EQ(init.err, "romctl: init failed in areas 31: cannot open /dev/mtd_backup2: No such file or directory\n");

    // A node that opens but ends before area 2: only the store's log tells why.
    const std::vector<std::string> shortNode{
        "LD_PRELOAD=" NORSIM_LIBRARY,
        "NORSIM_NODES=/dev/mtd_backup:0x80000:0x40000:" + (dir.path() / "short.img").string()};
    const Outcome beyond = RunTool(dir.path(), {ROMCTL, "read", "2"}, "", shortNode);
    EXPECT_EQ(beyond.status, 1);
    EXPECT_EQ(beyond.err, "romctl: read area 2: failed (-1); --verbose shows the store's log lines\n");
}

TEST_F(RomctlTest, InspectShowsEveryBlockStateAndChangesNothing) {
    const Outcome blank = romctl({"inspect", "2"});
    EXPECT_EQ(blank.status, 0) << blank.err;
    EXPECT_EQ(blank.out,
              std::string(kLegend) +
                  "area 2: /dev/mtd_backup at 0x80000, 2 sectors of 32 blocks of 8192 bytes\n"
              "  current block: none\n"
              "  sector 0: ................................\n"
              "  sector 1: ................................\n"
              "  not blank: no sector\n");
    // The store would have formatted the blank area.
    EXPECT_EQ(image(kMain), ones(kMainSize));

    ASSERT_EQ(romctl({"write", "1"}, "version 1").status, 0);
    ASSERT_EQ(romsim({"--cut-after", "2", "--", ROMCTL, "write", "1"}, "version 2").status, 137);
    poke(kMain, 3 * kBlock, romtest::HeaderBytes(BLOCK_STATUS_REJECTED, 0x1234));
    poke(kMain, 4 * kBlock, romtest::HeaderBytes(0x00FF0000u, 0x1234));
    // Committed, but with another record's checksum: the store does not trust the block, and the
    // current block does not move to it.
    Bytes forged = committedBlock("version 1");
    forged.resize(8);
    forged.insert(forged.end(), 8184, 'X');
    poke(kMain, 5 * kBlock, forged);
    poke(kMain, 40 * kBlock + 100, {0x00});
    // Area 31 as after the store moved on to its second sector and erased the first.
    poke(kSecond, 9 * kSecondBlock, committedBlock("last"));
    const Bytes main = image(kMain), second = image(kSecond);
    const Bytes wear = fileBytes(flash / "mtd_backup.img.wear");

    const Outcome inspect = romctl({"inspect", "1", "31"});
    EXPECT_EQ(inspect.status, 0) << inspect.err;
    EXPECT_EQ(inspect.out,
              std::string(kLegend) +
                  "area 1: /dev/mtd_backup at 0x0, 2 sectors of 32 blocks of 8192 bytes\n"
              "  current block: 1\n"
              "  sector 0: CCWR?!..........................\n"
              "  sector 1: ................................\n"
              "  not blank: sectors 0 1\n"
              "  block  length\n"
              "      0  format marker\n"
              "      1  9\n"
              "      5  does not verify\n"
              "area 31: /dev/mtd_backup2 at 0x0, 2 sectors of 8 blocks of 65536 bytes\n"
              "  current block: 9\n"
              "  sector 0: ........\n"
              "  sector 1: .C......\n"
              "  not blank: sector 1\n"
              "  block  length\n"
              "      9  4\n");
    EXPECT_TRUE(image(kMain) == main);
    EXPECT_TRUE(image(kSecond) == second);
    EXPECT_EQ(fileBytes(flash / "mtd_backup.img.wear"), wear);

    const Outcome all = romctl({"inspect"});
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("area 30: /dev/mtd_backup at 0xe80000,"), std::string::npos);
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 2 + 30 * 5 + 4 + 5 + 2);
    EXPECT_TRUE(image(kMain) == main);
    // The store reads the block that inspect calls current.
    EXPECT_EQ(romctl({"read", "1"}).out, "version 1");
}

// The manifest that save writes when the areas of `saved` hold records and no other area does.
std::string SavedManifest(const std::set<int>& saved) {
    std::string manifest = "# The current record of each area, saved by romctl save; romctl load writes them back.\n";
    for (int area = 1; area <= 31; ++area) {
        char name[16];
        std::snprintf(name, sizeof(name), "area-%02d.bin", area);
        manifest += saved.count(area) != 0 ? std::to_string(area) + " " + name + "\n"
                                           : "# area " + std::to_string(area) + ": no record\n";
    }
    return manifest;
}

TEST_F(RomctlTest, LoadMakesAFactoryImageThatSaveReadsBackByteForByte) {
    const std::map<int, std::string> records = {
        {1, "baud=115200"},
        {2, "ab\xFF\xFF\xFF"},
        {3, ""},
        {6, std::string("tail \x89L\xFF", 8)},
        {30, std::string(8183, 'M') + "\xFF"},
        {31, std::string(65520, 'L') + std::string(8, '\xFF')},
    };
    put("factory/settings.bin", records.at(1));
    put("factory/records/two.bin", records.at(2));
    put("factory/empty.bin", records.at(3));
    put("factory/two-lengths.bin", records.at(6));
    put("factory/largest.bin", records.at(30));
    put("second.bin", records.at(31));
    // Relative files lie beside the manifest; an absolute one anywhere.
    put("factory/factory.manifest", "# factory records\n"
                                    "31 " + (dir.path() / "second.bin").string() + "\n"
                                    "\n"
                                    "  1   settings.bin\n"
                                    "2 records/two.bin\n"
                                    "   # the largest record of the first node\n"
                                    "0x1e largest.bin\n"
                                    "3 empty.bin\n"
                                    "6 two-lengths.bin\n");
    const Outcome load = romsim({"--dir", "out", "--", ROMCTL, "load", "factory/factory.manifest"});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.out, "");
    const Bytes main = fileBytes(dir.path() / "out" / kMain), second = fileBytes(dir.path() / "out" / kSecond);
    EXPECT_TRUE(Bytes(second.begin() + kSecondBlock, second.begin() + 2 * kSecondBlock) ==
                committedBlock(records.at(31)));
    const Bytes first = committedBlock(records.at(1));
    EXPECT_TRUE(Bytes(main.begin() + kBlock, main.begin() + kBlock + first.size()) == first);

    const Outcome save = romsim({"--dir", "out", "--", ROMCTL, "save", "dump"});
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(save.out, "");
    EXPECT_EQ(save.err, "");
    EXPECT_EQ(text("dump/romstore.manifest"), SavedManifest({1, 2, 3, 6, 30, 31}));
    // Area 6's record has the checksum of its first 7 bytes too: save keeps those, the same block.
    std::map<int, std::string> saved = records;
    saved[6].pop_back();
    for (const auto& [area, record] : saved) {
        SCOPED_TRACE("area " + std::to_string(area));
        char name[32];
        std::snprintf(name, sizeof(name), "dump/area-%02d.bin", area);
        EXPECT_TRUE(text(name) == record);
    }
    // Saving changed nothing, and the saved records load into the same image.
    EXPECT_TRUE(fileBytes(dir.path() / "out" / kMain) == main);
    EXPECT_TRUE(fileBytes(dir.path() / "out" / kSecond) == second);
    const Outcome copy = romsim({"--dir", "copy", "--", ROMCTL, "load", "dump/romstore.manifest"});
    EXPECT_EQ(copy.status, 0) << copy.err;
    EXPECT_TRUE(fileBytes(dir.path() / "copy" / kMain) == main);
    EXPECT_TRUE(fileBytes(dir.path() / "copy" / kSecond) == second);
}

TEST_F(RomctlTest, LoadRefusesABadManifestLineBeforeItWritesAnything) {
    put("good.bin", "good");
    put("long.bin", std::string(8185, 'x'));
    put("huge.bin", std::string(65529, 'x'));
    std::filesystem::create_directory(dir.path() / "folder");
    const char kNothing[] = "; nothing was written\n";
    struct Case {
        std::string manifest;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"1 good.bin\n32 good.bin\n", 2, "romctl: bad.manifest:2: area 32 is out of range 1..31"},
        {"1 good.bin\n0 good.bin\n", 2, "romctl: bad.manifest:2: area 0 is out of range 1..31"},
        {"1 good.bin\nx good.bin\n", 2, "romctl: bad.manifest:2: area \"x\" is not a number"},
        {"1 good.bin\n# again\n0x1 good.bin\n", 2,
         "romctl: bad.manifest:3: area 1 is named again, first on line 1"},
        {"1 good.bin\n2 missing.bin\n", 1,
         "romctl: bad.manifest:2: cannot open missing.bin: No such file or directory"},
        {"1 good.bin\n2 folder\n", 1, "romctl: bad.manifest:2: cannot read folder: Is a directory"},
        {"1 good.bin\n2 long.bin\n", 2,
         "romctl: bad.manifest:2: a record of 8185 bytes is longer than area 2's largest record of 8184 bytes"},
        {"1 good.bin\n31 huge.bin\n", 2,
         "romctl: bad.manifest:2: a record of 65529 bytes is longer than area 31's largest record of 65528 bytes"},
        {"1 good.bin\n2 good.bin # note\n", 2,
         "romctl: bad.manifest:2: \"2 good.bin # note\" is not a pair of AREA and FILE"},
        {"1 good.bin\n2\n", 2, "romctl: bad.manifest:2: \"2\" is not a pair of AREA and FILE"},
    };
    ASSERT_EQ(romctl({"write", "5"}, "kept").status, 0);
    const Bytes main = image(kMain), second = image(kSecond);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manifest);
        put("bad.manifest", c.manifest);
        const Outcome load = romctl({"load", "bad.manifest"});
        EXPECT_EQ(load.status, c.status);
        EXPECT_EQ(load.out, "");
        EXPECT_EQ(load.err, c.err + kNothing);
    }
    const Outcome missing = romctl({"load", "missing.manifest"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "romctl: cannot open missing.manifest: No such file or directory\n");
    EXPECT_TRUE(image(kMain) == main);
    EXPECT_TRUE(image(kSecond) == second);
}

TEST_F(RomctlTest, SaveLeavesOutAreasWithoutARecordAndNeedsADirectoryItCanWrite) {
    ASSERT_EQ(romctl({"write", "2"}, "two").status, 0);
    // Area 1 formatted only; area 4 committed with another record's checksum.
    ASSERT_EQ(romctl({"read", "1"}).status, 0);
    Bytes forged = committedBlock("four");
    forged.back() = 'X';
    poke(kMain, 3 * kArea + kBlock, forged);

    put("plain", "a file");
    const std::pair<std::string, std::string> refused[] = {
        {"no/dump", "romctl: cannot create the directory no/dump: its parent does not exist\n"},
        {"plain", "romctl: cannot create the directory plain: File exists\n"},
    };
    for (const auto& [target, err] : refused) {
        SCOPED_TRACE(target);
        const Outcome save = romctl({"save", target});
        EXPECT_EQ(save.status, 1);
        EXPECT_EQ(save.err, err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "no"));
    EXPECT_EQ(text("plain"), "a file");

    const Outcome save = romctl({"save", "dump"});
    EXPECT_EQ(save.status, 0) << save.err;
    std::string manifest = SavedManifest({2});
    const std::string four = "# area 4: no record\n";
    manifest.replace(manifest.find(four), four.size(), "# area 4: no record, no committed block verifies\n");
    EXPECT_EQ(text("dump/romstore.manifest"), manifest);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "dump"),
                            std::filesystem::directory_iterator()),
              2);
    EXPECT_EQ(text("dump/area-02.bin"), "two");
}

TEST_F(RomctlTest, VerbosePrintsTheStoresLogLines) {
    const Outcome quiet = romctl({"read", "1", "--length", "1"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, kNewImages);
    const Outcome verbose = romctl({"--verbose", "read", "1", "--length", "1"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, "\xFF");
    EXPECT_NE(verbose.err.find("DEBUG RO DeviceOpen (RomDevice:"), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("): Success open device(/dev/mtd_backup)\n"), std::string::npos) << verbose.err;
}

}  // namespace
