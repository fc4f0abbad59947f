// SPDX-FileCopyrightText: 2026 The romstore developers
// SPDX-License-Identifier: MIT

// Speed, flash I/O and wear of the store on the NOR flash simulator. Google Benchmark times each
// operation; what one call costs (calls on the node, bytes read and programmed, sectors erased, the
// store's heap allocations, and the time that real flash would take) is counted in a pass of its own
// outside the timed loop.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "AllocationCounter.h"
#include "FlashModel.h"
#include "IoTally.h"
#include "RedundantPair.h"
#include "RomDevice.h"
#include "StoreOnFlash.h"
#include "SummaryReporter.h"

namespace rombench {
namespace {

using Record = std::vector<unsigned char>;

// Erase cycles that a sector of NOR flash is specified to survive.
constexpr double kEnduranceCycles = 100000;
constexpr benchmark::IterationCount kWearWrites = 100000;
constexpr int kWearRecordLength = 1024;
constexpr unsigned char kFill = 0x5A;

int BlocksPerArea(const RomDeviceInfo& info) { return info.iAreaSize / info.iBlockSize; }
int BlocksPerSector(const RomDeviceInfo& info) { return info.iSectorSize / info.iBlockSize; }
int SectorsPerArea(const RomDeviceInfo& info) { return info.iAreaSize / info.iSectorSize; }
int LargestRecord(const RomDeviceInfo& info) { return info.iBlockSize - CRomDevice::HEADER_SIZE; }

std::string NodeName(const RomDeviceInfo& info) {
    const char* slash = std::strrchr(info.pszDevName, '/');
    return slash != nullptr ? slash + 1 : info.pszDevName;
}

// The first write to a blank area formats it, committing block 0 empty, and stores its record in
// block 1; the i-th write after it goes to this block.
int BlockOfWrite(const RomDeviceInfo& info, int i) { return (2 + i) % BlocksPerArea(info); }

// The store verifies a block's record region through a buffer of this size.
constexpr int kVerifyChunk = 4096;

// What the format needs for a write of `length` bytes into `block`, the block after the current one:
// the scan of every header for the current block, one read of the current block's record region to
// verify it, the header of the block after it (the search for a free block), the checksum word, the
// record and the status word programmed, one read-back of the block from its checksum word on, and
// then the erase of the sector that the record left or, when it stayed in its sector, the probe of
// the following one.
IoTally WriteNeeds(const RomDeviceInfo& info, int length, int block) {
    const bool moved = block % BlocksPerSector(info) == 0;
    const std::uint64_t headers = BlocksPerArea(info) + 1;
    const int region = LargestRecord(info);
    const int checksumWord = 4;
    IoTally io;
    io.headerReads = headers;
    io.programs = 3;
    io.bytesProgrammed = length + CRomDevice::HEADER_SIZE;
    const int statusWord = 4;
    io.bytesRead = headers * CRomDevice::HEADER_SIZE + region + checksumWord + region + statusWord;
    if (!moved) io.bytesRead += info.iSectorSize;
    io.sectorsErased = moved ? 1 : 0;
    // Open and close; a seek before each header, before the verification's reads, before each
    // program, before the read-back and before the status word's read-back; the erase, or the
    // probe's seek and read.
    const int verifyReads = (region + kVerifyChunk - 1) / kVerifyChunk;
    io.calls = 2 + 2 * headers + 1 + verifyReads + 2 * (io.programs + 2) + (moved ? 1 : 2);
    return io;
}

// Erasing an area is one erase of all its sectors between an open and a close.
IoTally AreaEraseNeeds(const RomDeviceInfo& info) {
    IoTally io;
    io.calls = 3;
    io.sectorsErased = SectorsPerArea(info);
    return io;
}

// Makes `count` calls outside the timed loop and publishes what one costs on average. `needs(i)`,
// when given, is the I/O that the i-th call must cost; the share of calls that cost exactly that is
// published too. False, with the benchmark failed, when a call fails.
bool PublishCost(benchmark::State& state, norsim::Node& node, int count, const std::function<bool()>& call,
                 const std::function<IoTally(int)>& needs = nullptr) {
    node.clearOps();
    IoTally total;
    double flashUs = 0;
    std::uint64_t allocations = 0;
    int exact = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t before = AllocationsSoFar().store;
        const bool ok = call();
        allocations += AllocationsSoFar().store - before;
        if (!ok) {
            state.SkipWithError("the call failed");
            return false;
        }
        IoTally one;
        one.add(node);
        if (needs && one == needs(i)) ++exact;
        total += one;
        flashUs += FlashMicroseconds(node);
        node.clearOps();
    }
    const auto perCall = [count](double value) { return benchmark::Counter(value / count); };
    state.counters[counter::kCalls] = perCall(total.calls);
    state.counters[counter::kHeaderReads] = perCall(total.headerReads);
    state.counters[counter::kBytesRead] = perCall(total.bytesRead);
    state.counters[counter::kBytesProgrammed] = perCall(total.bytesProgrammed);
    state.counters[counter::kErases] = perCall(total.sectorsErased);
    state.counters[counter::kAllocations] = perCall(allocations);
    state.counters[counter::kFlashUs] = perCall(flashUs);
    if (needs) state.counters[counter::kExact] = perCall(exact);
    return true;
}

// The timed loop. The operation log is emptied after each call, so that it does not grow with the
// iterations.
void Time(benchmark::State& state, norsim::Node& node, const std::function<bool()>& call) {
    for (auto _ : state) {
        if (!call()) {
            state.SkipWithError("the call failed");
            break;
        }
        node.clearOps();
    }
}

void Measure(benchmark::State& state, norsim::Node& node, int count, const std::function<bool()>& call,
             const std::function<IoTally(int)>& needs = nullptr) {
    if (PublishCost(state, node, count, call, needs)) Time(state, node, call);
}

void SetData(benchmark::State& state, int row, int length) {
    StoreOnFlash flash(row);
    Record record(length, kFill);
    const auto write = [&] { return flash.store.SetData(flash.area, record.data(), length, true) == 0; };
    if (!write()) return state.SkipWithError("the first write failed");
    Measure(state, *flash.node, BlocksPerArea(flash.info), write,
            [&](int i) { return WriteNeeds(flash.info, length, BlockOfWrite(flash.info, i)); });
}

// Reads the record that one write stored: through the search for the current block or, `byBlock`,
// from the block that the write went to, block 1 of the area it formatted.
void GetData(benchmark::State& state, int row, int length, bool byBlock) {
    StoreOnFlash flash(row);
    Record record(length, kFill), back(length);
    if (flash.store.SetData(flash.area, record.data(), length, true) != 0)
        return state.SkipWithError("the write failed");
    const auto read = [&] {
        const int got = byBlock ? flash.store.GetData(flash.area, 1, back.data(), length)
                                : flash.store.GetData(flash.area, back.data(), length);
        return got == length && back == record;
    };
    Measure(state, *flash.node, BlocksPerArea(flash.info), read);
}

void EraseArea(benchmark::State& state, int row) {
    StoreOnFlash flash(row);
    const auto erase = [&] { return flash.store.EraseArea(flash.mask()) == 0; };
    Measure(state, *flash.node, BlocksPerArea(flash.info), erase, [&](int) { return AreaEraseNeeds(flash.info); });
}

void InitializeArea(benchmark::State& state, int row) {
    StoreOnFlash flash(row);
    const auto initialize = [&] { return flash.store.InitializeArea(flash.mask()) == 0; };
    if (!initialize()) return state.SkipWithError("the first initialisation failed");
    Measure(state, *flash.node, BlocksPerArea(flash.info), initialize, [&](int i) {
        return WriteNeeds(flash.info, LargestRecord(flash.info), BlockOfWrite(flash.info, i));
    });
}

void CalculateCRC16(benchmark::State& state, int length) {
    Record data(length);
    std::iota(data.begin(), data.end(), 0);
    CRomDevice device;
    for (auto _ : state) benchmark::DoNotOptimize(device.CalculateCRC16(data.data(), length));
    state.SetBytesProcessed(state.iterations() * length);
}

// The probe that a write or a read makes of the sector after the record's, on a blank sector.
void IsNewSector(benchmark::State& state, int row) {
    StoreOnFlash flash(row);
    CRomDevice& device = flash.store.m_pRomDevice[row];
    if (device.DeviceOpen() != 0) return state.SkipWithError("the node did not open");
    Measure(state, *flash.node, BlocksPerArea(flash.info), [&] { return device.IsNewSector(1, 1); });
    device.DeviceClose();
    state.SetBytesProcessed(state.iterations() * flash.info.iSectorSize);
}

// The erase counts of the sectors of the area at offset 0 after `writes` writes: erases per write,
// the least and the most erased sector, and the writes until the most erased one wears out.
void PublishWear(benchmark::State& state, const norsim::Node& node, int sectors) {
    std::vector<std::uint64_t> erases;
    for (int s = 0; s < sectors; ++s) erases.push_back(node.eraseCount(s));
    const auto [least, most] = std::minmax_element(erases.begin(), erases.end());
    const double writes = static_cast<double>(state.iterations());
    state.counters[counter::kEraseRate] = std::accumulate(erases.begin(), erases.end(), 0.0) / writes;
    state.counters[counter::kLeastErased] = static_cast<double>(*least);
    state.counters[counter::kMostErased] = static_cast<double>(*most);
    state.counters[counter::kLifetime] = kEnduranceCycles * writes / static_cast<double>(*most);
}

void WearOfStore(benchmark::State& state, int row) {
    StoreOnFlash flash(row);
    Record record(kWearRecordLength, kFill), back(kWearRecordLength);
    const auto write = [&] {
        return flash.store.SetData(flash.area, record.data(), kWearRecordLength, true) == 0;
    };
    Time(state, *flash.node, write);
    PublishWear(state, *flash.node, SectorsPerArea(flash.info));
    if (flash.store.GetData(flash.area, back.data(), kWearRecordLength) != kWearRecordLength || back != record)
        return state.SkipWithError("the record did not read back");
    PublishCost(state, *flash.node, BlocksPerArea(flash.info), write);
}

// The same records kept the common simple way, in the two sectors of the same area.
void WearOfRedundantPair(benchmark::State& state, int row) {
    StoreOnFlash flash(row);
    RedundantPair pair(flash.info.pszDevName, 0, flash.info.iSectorSize);
    Record record(kWearRecordLength, kFill), back(kWearRecordLength);
    const auto write = [&] { return pair.Write(record.data(), kWearRecordLength); };
    Time(state, *flash.node, write);
    PublishWear(state, *flash.node, 2);
    if (!pair.Read(back.data(), kWearRecordLength) || back != record)
        return state.SkipWithError("the record did not read back");
    PublishCost(state, *flash.node, BlocksPerArea(flash.info), write);
}

template <class... Args>
benchmark::internal::Benchmark* Register(const std::string& name, void (*run)(benchmark::State&, Args...),
                                         Args... args) {
    return benchmark::RegisterBenchmark(name.c_str(), run, args...)->Unit(benchmark::kMicrosecond);
}

void RegisterAll() {
    std::set<int> crcLengths = {16, 1024};
    for (int row = 0; g_RomDeviceInfoArray[row].iAreaNum > 0; ++row) {
        const RomDeviceInfo& info = g_RomDeviceInfoArray[row];
        const std::string node = NodeName(info);
        crcLengths.insert(LargestRecord(info));
        for (int length : {16, 1024, LargestRecord(info)}) {
            const std::string suffix = "/" + node + "/" + std::to_string(length);
            Register("SetData" + suffix, SetData, row, length);
            Register("GetData" + suffix, GetData, row, length, false);
            Register("GetDataBlock" + suffix, GetData, row, length, true);
        }
        Register("EraseArea/" + node, EraseArea, row);
        Register("InitializeArea/" + node, InitializeArea, row);
        Register("IsNewSector/" + node, IsNewSector, row);
    }
    for (int length : crcLengths)
        benchmark::RegisterBenchmark(("CalculateCRC16/" + std::to_string(length)).c_str(), CalculateCRC16, length);
    for (int row = 0; g_RomDeviceInfoArray[row].iAreaNum > 0; ++row) {
        const std::string node = NodeName(g_RomDeviceInfoArray[row]);
        Register("Wear/romstore/" + node, WearOfStore, row)->Iterations(kWearWrites);
        Register("Wear/redundant_pair/" + node, WearOfRedundantPair, row)->Iterations(kWearWrites);
    }
}

}  // namespace
}  // namespace rombench

int main(int argc, char** argv) {
    rombench::AttributeAllocationsToStore();
    rombench::RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    rombench::SummaryReporter reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
