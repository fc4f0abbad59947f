// A program that knows nothing of the simulator, run with it preloaded and NORSIM_NODES set.
#include "SimTest.h"

#include <sstream>

#include <sys/wait.h>

namespace {

class PreloadTest : public ::testing::Test {
protected:
    // The probe's output; its error output lands in `errors`. `environment` holds further NAME=VALUE
    // assignments for the shell.
    std::string probe(const std::string& nodes, const std::string& arguments, int exitStatus = 0,
                      const std::string& environment = "") {
        const std::string out = (dir.path() / "out").string();
        const std::string err = (dir.path() / "err").string();
        const std::string command = environment + " LD_PRELOAD='" NORSIM_LIBRARY "' NORSIM_NODES='" + nodes +
                                    "' '" NORSIM_PROBE "' " + arguments + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == exitStatus) << status;
        const Bytes error = fileBytes(err);
        errors.assign(error.begin(), error.end());
        const Bytes output = fileBytes(out);
        return std::string(output.begin(), output.end());
    }

    TempDir dir;
    std::string image = (dir.path() / "preload.img").string();
    std::string errors;
};

TEST_F(PreloadTest, ProgramsReachTheImageAndPersistBetweenRuns) {
    const std::string nodes = "/dev/norsim-preload:0x2000:4096:" + image;
    EXPECT_EQ(probe(nodes, "/dev/norsim-preload 4097 f00f"), "f00f\n");
    EXPECT_EQ(probe(nodes, "/dev/norsim-preload 4097 3cff"), "300f\n");
    EXPECT_EQ(errors, "");
    Bytes expected = ones(0x2000);
    expected[4097] = 0x30;
    expected[4098] = 0x0F;
    EXPECT_EQ(fileBytes(image), expected);
}

TEST_F(PreloadTest, MalformedEntriesAreReportedAndSkipped) {
    const std::string bad[] = {"/dev/norsim-bad", "/dev/norsim-bad:12k:4096", "/dev/norsim-bad:0x1800:0x1000",
                               "/dev/norsim-bad:4096:4096:"};
    std::string nodes;
    for (const std::string& entry : bad) nodes += entry + ",";
    EXPECT_EQ(probe(nodes + ",/dev/norsim-ok:8192:4096", "/dev/norsim-ok 0 00"), "00\n");
    std::istringstream lines(errors);
    std::string line;
    for (const std::string& entry : bad) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_NE(line.find("NORSIM_NODES entry \"" + entry + "\""), std::string::npos) << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;
}

TEST_F(PreloadTest, NodesNamedBusyRefuseEveryOpen) {
    const std::string nodes = "/dev/norsim-busy:0x2000:4096:" + image + ",/dev/norsim-free:0x2000:4096";
    const std::string busy = "NORSIM_BUSY=/dev/norsim-busy,/dev/norsim-none";
    EXPECT_EQ(probe(nodes, "/dev/norsim-busy 0 00", 1, busy), "");
    EXPECT_EQ(errors, "norsim: ignoring NORSIM_BUSY entry \"/dev/norsim-none\": no simulated node has this path\n"
                      "/dev/norsim-busy: Device or resource busy\n");
    EXPECT_EQ(fileBytes(image), ones(0x2000));
    EXPECT_EQ(probe(nodes, "/dev/norsim-free 0 00", 0, busy), "00\n");
}

}  // namespace
