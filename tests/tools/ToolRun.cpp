#include "ToolRun.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "SimTest.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::string FileText(const std::filesystem::path& file) {
    const Bytes bytes = fileBytes(file);
    return std::string(bytes.begin(), bytes.end());
}

Outcome RunTool(const std::filesystem::path& dir, const std::vector<std::string>& argv, const std::string& input,
                const std::vector<std::string>& environment) {
    const std::filesystem::path in = dir / "run.in", out = dir / "run.out", err = dir / "run.err";
    std::ofstream(in, std::ios::binary) << input;

    // Everything the child needs is built before the fork.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        const std::string name = variable.substr(0, variable.find('=') + 1);
        bool bReplaced = false;
        for (const std::string& added : environment) bReplaced = bReplaced || added.compare(0, name.size(), name) == 0;
        if (!bReplaced) variables.push_back(variable);
    }
    variables.insert(variables.end(), environment.begin(), environment.end());
    std::vector<char*> envp, args;
    for (const std::string& v : variables) envp.push_back(const_cast<char*>(v.c_str()));
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    envp.push_back(nullptr);
    args.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        const int fdIn = open(in.c_str(), O_RDONLY);
        const int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0 || dup2(fdIn, 0) < 0 || dup2(fdOut, 1) < 0 || dup2(fdErr, 2) < 0 ||
            chdir(dir.c_str()) != 0)
            _exit(250);
        execve(args[0], args.data(), envp.data());
        _exit(251);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return Outcome{code, FileText(out), FileText(err)};
}
