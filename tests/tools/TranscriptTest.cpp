// romctl and romsim as a person runs them, installed into the DESTDIR stage: each transcript
// tests/tools/NAME.t is a shell session in a scratch directory of its own, with the stage's bin/ first
// in PATH and $STAGE and $HOST_EXAMPLE set. It is a row of commands, each followed by what it prints:
//   $ LINE    a line of /bin/sh; consecutive ones make one command
//   TEXT      a line on standard output
//   ! TEXT    a line on standard error
//   ? N       the exit status, when it is not 0
// Blank lines and lines that begin with // are comments. `try COMMAND...` prints COMMAND's exit status
// and then what it printed, for tables of failures.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

struct Command {
    std::string script, out, err;
    int status = 0;
};

std::string Text(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Run(const Command& c, const std::string& dir) {
    SCOPED_TRACE(c.script);
    const std::string shell = "try() { e=$(\"$@\" 2>&1); echo \"$? $e\"; }; cd " + dir + " && PATH=" STAGE
                              "/usr/bin:$PATH STAGE=" STAGE " HOST_EXAMPLE=" HOST_EXAMPLE " && export PATH STAGE "
                              "HOST_EXAMPLE && {\n" + c.script + "} >.out 2>.err";
    const int status = std::system(shell.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), c.status);
    EXPECT_EQ(Text(dir + "/.out"), c.out);
    EXPECT_EQ(Text(dir + "/.err"), c.err);
}

void RunTranscript(const std::string& name) {
    const std::string dir = SCRATCH "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ifstream transcript(TRANSCRIPTS "/" + name + ".t");
    ASSERT_TRUE(transcript.is_open()) << name;
    Command c;
    for (std::string line; std::getline(transcript, line);) {
        const std::string marker = line.substr(0, 2), rest = line.substr(std::min<std::size_t>(2, line.size()));
        if (marker == "$ " && (!c.out.empty() || !c.err.empty() || c.status != 0)) {
            Run(c, dir);
            c = Command{};
        }
        if (marker == "$ ") c.script += rest + "\n";
        else if (marker == "! ") c.err += rest + "\n";
        else if (marker == "? ") c.status = std::stoi(rest);
        else if (!line.empty() && marker != "//") c.out += line + "\n";
    }
    Run(c, dir);
    std::filesystem::remove_all(dir);
}

TEST(RomctlTest, Transcript) { RunTranscript("romctl"); }
TEST(RomctlTest, LoadAndSave) { RunTranscript("factory"); }
TEST(RomsimTest, Transcript) { RunTranscript("romsim"); }

}  // namespace
