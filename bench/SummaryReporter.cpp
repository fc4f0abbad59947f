// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

#include "SummaryReporter.h"

#include <cstdarg>
#include <cstdio>
#include <ostream>

namespace rombench {
namespace {

using Run = benchmark::BenchmarkReporter::Run;

bool Has(const Run& run, const char* name) { return run.counters.count(name) != 0; }

double Value(const Run& run, const char* name) {
    const auto found = run.counters.find(name);
    return found != run.counters.end() ? found->second.value : 0.0;
}

// The name that the benchmark was registered with, without the iteration count that some carry.
const char* Name(const Run& run) { return run.run_name.function_name.c_str(); }

double CpuMicroseconds(const Run& run) {
    return run.GetAdjustedCPUTime() * 1e6 / benchmark::GetTimeUnitMultiplier(run.time_unit);
}

void Print(std::ostream& out, const char* format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    out << line << '\n';
}

void PrintOperations(std::ostream& out, const std::vector<Run>& runs) {
    Print(out, "\n%-32s %9s %7s %9s %9s %8s %7s %6s %10s %9s %5s", "Per call", "CPU us", "calls", "hdr reads",
          "read KiB", "prog B", "erases", "allocs", "flash ms", "flash/CPU", "exact");
    for (const Run& run : runs) {
        if (!Has(run, counter::kCalls) || Has(run, counter::kLifetime)) continue;
        const double cpuUs = CpuMicroseconds(run);
        const double flashUs = Value(run, counter::kFlashUs);
        char exact[16] = "-";
        if (Has(run, counter::kExact)) snprintf(exact, sizeof(exact), "%.2f", Value(run, counter::kExact));
        Print(out, "%-32s %9.2f %7.2f %9.2f %9.1f %8.1f %7.4f %6.2f %10.3f %9.0f %5s", Name(run),
              cpuUs, Value(run, counter::kCalls), Value(run, counter::kHeaderReads),
              Value(run, counter::kBytesRead) / 1024, Value(run, counter::kBytesProgrammed),
              Value(run, counter::kErases), Value(run, counter::kAllocations), flashUs / 1000, flashUs / cpuUs,
              exact);
    }
}

void PrintThroughput(std::ostream& out, const std::vector<Run>& runs) {
    Print(out, "\n%-32s %10s %8s", "Throughput", "MB/s", "GB/s");
    for (const Run& run : runs) {
        if (!Has(run, counter::kBytesPerSecond)) continue;
        const double rate = Value(run, counter::kBytesPerSecond);
        Print(out, "%-32s %10.0f %8.2f", Name(run), rate / 1e6, rate / 1e9);
    }
}

void PrintWear(std::ostream& out, const std::vector<Run>& runs) {
    Print(out, "\n%-32s %8s %12s %15s %14s %14s", "Wear of one area", "writes", "erases/write",
          "sector erases", "lifetime", "flash ms/write");
    for (const Run& run : runs) {
        if (!Has(run, counter::kLifetime)) continue;
        char spread[32];
        snprintf(spread, sizeof(spread), "%.0f-%.0f", Value(run, counter::kLeastErased),
                 Value(run, counter::kMostErased));
        Print(out, "%-32s %8lld %12.4f %15s %14.0f %14.1f", Name(run),
              static_cast<long long>(run.iterations), Value(run, counter::kEraseRate), spread,
              Value(run, counter::kLifetime), Value(run, counter::kFlashUs) / 1000);
    }
}

}  // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
        if (run.run_type == Run::RT_Iteration && !run.error_occurred) m_runs.push_back(run);
}

void SummaryReporter::Finalize() {
    std::ostream& out = GetOutputStream();
    PrintOperations(out, m_runs);
    PrintThroughput(out, m_runs);
    PrintWear(out, m_runs);
}

}  // namespace rombench
