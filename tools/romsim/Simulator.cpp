// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "Simulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <sys/wait.h>
#include <unistd.h>

void Simulator::prepareEnvironment(const std::optional<CutOptions>& cut) const {
    const char* const preload = std::getenv("LD_PRELOAD");
    const std::string libraries = preload != nullptr && *preload != '\0' ? m_library + ":" + preload : m_library;
    setenv("LD_PRELOAD", libraries.c_str(), 1);
    setenv("NORSIM_NODES", m_images.nodesVariable().c_str(), 1);
    // Only romsim's own options arm a cut, so that only a cut it knows of kills the program.
    unsetenv("NORSIM_CUT_AFTER");
    unsetenv("NORSIM_CUT_BYTES");
    unsetenv("NORSIM_CUT_ERASE");
    if (cut) {
        setenv("NORSIM_CUT_AFTER", std::to_string(cut->after).c_str(), 1);
        setenv("NORSIM_CUT_BYTES", std::to_string(cut->programBytes).c_str(), 1);
        setenv("NORSIM_CUT_ERASE", cut->erase.c_str(), 1);
    }
}

int Simulator::run(const std::vector<std::string>& command, const std::optional<CutOptions>& cut) const {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const char* const name = command[0].c_str();

    prepareEnvironment(cut);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error(std::string("cannot start ") + name + ": " + std::strerror(errno));
    if (child == 0) {
        execvp(name, argv.data());
        const int error = errno;
        std::fprintf(stderr, "romsim: cannot run %s: %s\n", name, std::strerror(error));
        _exit(error == ENOENT ? kRomsimNotFound : kRomsimCannotRun);
    }

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error(std::string("cannot wait for ") + name + ": " + std::strerror(errno));
    }
    if (WIFEXITED(status)) {
        if (cut)
            std::fprintf(stderr, "romsim: no power cut: %s made fewer than %d flash programs and erases\n", name,
                         cut->after);
        return WEXITSTATUS(status);
    }
    const int signal = WTERMSIG(status);
    if (cut && signal == SIGKILL) {
        std::fprintf(stderr, "romsim: power cut at flash operation %d: %s was killed there\n", cut->after, name);
        return kRomsimPowerCut;
    }
    std::fprintf(stderr, "romsim: %s was killed by signal %d (%s)\n", name, signal, strsignal(signal));
    return 128 + signal;
}
