// A tool run as a separate process, the way a person or a script runs it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct Outcome {
    int status;       // the exit status, or 128 + N when signal N ended the process
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs argv[0] (a path) in directory `dir` with `input` on standard input and the NAME=VALUE entries
// of `environment` added to this process's environment. Scratch files for the three streams are
// kept in `dir` under names starting with "run.".
Outcome RunTool(const std::filesystem::path& dir, const std::vector<std::string>& argv, const std::string& input = "",
                const std::vector<std::string>& environment = {});

// The bytes of a file, as text.
std::string FileText(const std::filesystem::path& file);
