// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Google Benchmark's console report, followed by three tables drawn from its runs: what each store
// operation costs per call beside the time that real flash would take for it, the throughput of the
// checksum and of the blank-sector probe, and the wear of many writes to one area.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

namespace rombench {

// The counters that the benchmarks publish and the tables show.
namespace counter {
constexpr const char* kCalls = "calls";            // system calls on the node, per call
constexpr const char* kHeaderReads = "hdr_reads";  // block headers read, per call
constexpr const char* kBytesRead = "read_B";
constexpr const char* kBytesProgrammed = "prog_B";
constexpr const char* kErases = "erases";  // sectors erased, per call
constexpr const char* kAllocations = "allocs";  // heap allocations of the store, per call
constexpr const char* kFlashUs = "flash_us";  // time that real flash would take, per call
constexpr const char* kExact = "exact";  // share of calls whose I/O is exactly what the format needs
constexpr const char* kEraseRate = "erases/write";
constexpr const char* kLeastErased = "min_erases";  // erase count of the area's least erased sector
constexpr const char* kMostErased = "max_erases";
constexpr const char* kLifetime = "lifetime";  // writes until the most erased sector wears out
constexpr const char* kBytesPerSecond = "bytes_per_second";  // set by State::SetBytesProcessed
}  // namespace counter

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    // Colour is for a terminal; counters follow each line, as in Google Benchmark's own default.
    explicit SummaryReporter(bool colour) : ConsoleReporter(colour ? OO_Color : OO_None) {}

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<Run> m_runs;
};

}  // namespace rombench
