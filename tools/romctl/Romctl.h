// The commands of romctl over one CRomMgr: each prints its data on standard output and reports
// what went wrong by throwing a Failure.
#pragma once

#include <string>
#include <vector>

#include "AreaTable.h"
#include "CommandLine.h"
#include "RomMgr.h"

class Romctl {
public:
    explicit Romctl(CRomMgr& store) : m_store(store), m_areas(store) {}

    // Runs the command that the first operand names.
    void run(const CommandLine& line);

private:
    void range(const CommandLine& line);
    void write(const CommandLine& line);
    void read(const CommandLine& line);
    // erase or init: the areas named, --all or --mask M.
    void bulk(const CommandLine& line, const std::string& command);
    void inspect(const CommandLine& line);
    void info(const CommandLine& line);
    // Throws the Failure for a result of the store that is not a success, for the operation `what`
    // on `area`, with what romctl can tell of its reason.
    [[noreturn]] void refused(const std::string& what, int result, int area) const;

    CRomMgr& m_store;
    AreaTable m_areas;
};
