// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// The commands of romctl over one CRomMgr: each prints its data on standard output and reports
// what went wrong by throwing a Failure.
#pragma once

#include <string>
#include <vector>

#include "AreaTable.h"
#include "BusyWait.h"
#include "CommandLine.h"
#include "RomMgr.h"

class Romctl {
public:
    // The name of the manifest that save writes into its directory.
    static constexpr const char* kManifestName = "romstore.manifest";

    explicit Romctl(CRomMgr& store) : m_store(store), m_areas(store) {}

    // Runs the command that the first operand names, trying a busy node again for as long as --wait
    // says: by default 0 seconds for a record command, the store's own wait for erase and init.
    void run(const CommandLine& line);

private:
    void range(const CommandLine& line);
    void write(const CommandLine& line);
    void read(const CommandLine& line);
    // erase or init: the areas named, --all or --mask M.
    void bulk(const CommandLine& line, const std::string& command);
    void inspect(const CommandLine& line);
    // Each area's health as the store's check finds it, one line (or object) an area.
    void check(const CommandLine& line);
    void info(const CommandLine& line);
    // Writes the records that a manifest names, once every line of it has been checked.
    void load(const CommandLine& line);
    // Writes the current record of each area into a file of its own in a directory, and a manifest
    // of them that load takes.
    void save(const CommandLine& line);
    // The record's own length in `region`, the whole record region that the store returned of the
    // area's current block (block < 0) or of block `block`.
    int ownLength(int area, int block, const std::vector<unsigned char>& region, const std::string& what);
    // After a read of the current record: warns, or with --strict fails, when the record is older than
    // a newer block that does not verify, or when the area holds no record, only the format marker.
    void vouch(int area, const std::string& what, const CommandLine& line) const;
    // The areas that the operands name, or every area.
    std::vector<int> areasNamed(const CommandLine& line) const;
    // Stores `record` as the area's record, or with --if-changed leaves a record that holds it already;
    // throws the Failure of a refusal.
    void store(int area, std::vector<unsigned char> record, const CommandLine& line);
    // Throws the Failure for a result of the store that is not a success, for the operation `what`
    // on `area`, with what romctl can tell of its reason.
    [[noreturn]] void refused(const std::string& what, int result, int area) const;

    CRomMgr& m_store;
    AreaTable m_areas;
    BusyWait m_wait;
};
