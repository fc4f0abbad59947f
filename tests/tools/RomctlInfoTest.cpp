// romctl info: each node as the kernel (here the simulator) reports it, beside the device table, and
// one line for each way in which a node does not fit.
#include "ToolTest.h"

namespace {

// The suite of romctl's other tests, which the memcheck run leaves out by name with them.
using RomctlTest = ToolTest;

const char kFits[] =
    "/dev/mtd_backup\n"
    "  kernel: nor flash, size 0xf00000, erase size 0x40000, write size 1\n"
    "  table:  nor flash, size 0xf00000 (30 areas of 0x80000), sectors of 0x40000\n"
    "/dev/mtd_backup2\n"
    "  kernel: nor flash, size 0x100000, erase size 0x80000, write size 1\n"
    "  table:  nor flash, size 0x100000 (1 area of 0x100000), sectors of 0x80000\n";

TEST_F(RomctlTest, InfoPassesOnNodesThatFitAndFailsWithOneLinePerMismatch) {
    const Outcome fits = romctl({"info"});
    EXPECT_EQ(fits.status, 0);
    EXPECT_EQ(fits.out, kFits);
    EXPECT_EQ(fits.err, kNewImages);
    // info only looks.
    EXPECT_EQ(image("mtd_backup.img"), ones(0xF00000));
    EXPECT_EQ(image("mtd_backup2.img"), ones(0x100000));
    EXPECT_EQ(romctl({"info", "1"}).err, "romctl: usage: romctl info\n");

    struct Case {
        std::string what;
        std::string nodes;  // NORSIM_NODES; empty: nothing is simulated
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"the first too small, the second erased in blocks larger than its sectors",
         "/dev/mtd_backup:0xE00000:0x40000:" + (dir.path() / "short.img").string() +
             ",/dev/mtd_backup2:0x100000:0x100000:" + (dir.path() / "large.img").string(),
         "/dev/mtd_backup\n"
         "  kernel: nor flash, size 0xe00000, erase size 0x40000, write size 1\n"
         "  table:  nor flash, size 0xf00000 (30 areas of 0x80000), sectors of 0x40000\n"
         "/dev/mtd_backup2\n"
         "  kernel: nor flash, size 0x100000, erase size 0x100000, write size 1\n"
         "  table:  nor flash, size 0x100000 (1 area of 0x100000), sectors of 0x80000\n",
         "romctl: /dev/mtd_backup is smaller than its areas: size 0xe00000, needed 0xf00000 for 30 areas of 0x80000\n"
         "romctl: /dev/mtd_backup2: erase size 0x100000 does not divide the table's sector size 0x80000\n"},
        {"neither node there", "",
         "/dev/mtd_backup\n"
         "  table:  nor flash, size 0xf00000 (30 areas of 0x80000), sectors of 0x40000\n"
         "/dev/mtd_backup2\n"
         "  table:  nor flash, size 0x100000 (1 area of 0x100000), sectors of 0x80000\n",
         "romctl: cannot open /dev/mtd_backup: No such file or directory\n"
         "romctl: cannot open /dev/mtd_backup2: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> environment;
        if (!c.nodes.empty()) environment = {"LD_PRELOAD=" NORSIM_LIBRARY, "NORSIM_NODES=" + c.nodes};
        const Outcome info = RunTool(dir.path(), {ROMCTL, "info"}, "", environment);
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.out, c.out);
        EXPECT_EQ(info.err, c.err);
    }
}

}  // namespace
