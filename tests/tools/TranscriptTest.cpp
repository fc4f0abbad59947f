// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

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
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

// The lines of one command ("$ ") and of what it prints ("", "! ", "? "), by marker; Run consumes it.
using Command = std::map<std::string, std::string>;

std::string Text(const std::string& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

void Run(Command& c, const std::string& dir) {
    SCOPED_TRACE(c["$ "]);
    const std::string shell = "try() { e=$(\"$@\" 2>&1); echo \"$? $e\"; }; cd " + dir + " && PATH=" STAGE
                              "/usr/bin:$PATH STAGE=" STAGE " HOST_EXAMPLE=" HOST_EXAMPLE " && export PATH STAGE "
                              "HOST_EXAMPLE && {\n" + c["$ "] + "} >.out 2>.err";
    const int status = std::system(shell.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    EXPECT_EQ(code == 0 ? "" : std::to_string(code) + "\n", c["? "]);
    EXPECT_EQ(Text(dir + "/.out"), c[""]);
    EXPECT_EQ(Text(dir + "/.err"), c["! "]);
    c.clear();
}

// A transcript that cannot be read runs an empty command, which the shell refuses. The scratch directory
// stays for a look after a failure, until the next run.
void RunTranscript(const std::string& name) {
    const std::string dir = SCRATCH "/" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ifstream transcript(TRANSCRIPTS "/" + name + ".t");
    Command c;
    for (std::string line; std::getline(transcript, line);) {
        if (line.empty() || line.rfind("//", 0) == 0) continue;
        const std::string head = line.substr(0, 2), marker = head == "$ " || head == "! " || head == "? " ? head : "";
        if (marker == "$ " && c.size() > 1) Run(c, dir);
        c[marker] += line.substr(marker.size()) + "\n";
    }
    Run(c, dir);
}

TEST(RomctlTest, Transcript) { RunTranscript("romctl"); }
TEST(RomctlTest, LoadAndSave) { RunTranscript("factory"); }
TEST(RomctlTest, Check) { RunTranscript("check"); }
TEST(RomsimTest, Transcript) { RunTranscript("romsim"); }
TEST(MtdLinksTest, Transcript) { RunTranscript("links"); }

}  // namespace
