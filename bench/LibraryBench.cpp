// What the library's own work costs a host, over the scripted WMI client (no I/O), each figure
// beside the least work any implementation of the same job must do.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/PublishedSettings.h"
#include "bios/QZBiosUtils.h"
#include "qzbios/QZBios.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::qzbios::QZBiosData;
using qz::shared::qzbios::QZBiosUtils;

// The setting names of the 31 attributes, as the firmware publishes them.
std::vector<std::string> AttributeSettingNames() {
    std::vector<std::string> names;
    for (const qz::test::FakeRow& row : qz::bench::PublishedSettings(31)) {
        names.push_back(*row.name);
    }
    return names;
}

// Reports the mean time of one of the `calls` made per iteration, in seconds, as "per_call".
void PerCall(benchmark::State& state, std::uint64_t calls) {
    state.counters["per_call"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(calls),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One snapshot: the constructor reads every published setting and keeps the 31 attributes.
void BM_Snapshot(benchmark::State& state) {
    qz::bench::PublishSettings(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        QZBios bios;
        benchmark::DoNotOptimize(&bios);
    }
}
BENCHMARK(BM_Snapshot)->Arg(31)->Arg(200)->Arg(2000);

// The floor of a snapshot: 31 look-ups in a hash map of the settings that is already built, and 31
// copies of the values found.
void BM_SnapshotFloor(benchmark::State& state) {
    std::unordered_map<std::string, std::string> settings;
    for (const qz::test::FakeRow& row :
         qz::bench::PublishedSettings(static_cast<std::size_t>(state.range(0)))) {
        settings.emplace(*row.name, *row.value);
    }
    const std::vector<std::string> names = AttributeSettingNames();
    for (auto _ : state) {
        std::array<std::string, 31> values;
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = settings.find(names[i])->second;
        }
        benchmark::DoNotOptimize(values.data());
    }
}
BENCHMARK(BM_SnapshotFloor)->Arg(31)->Arg(200)->Arg(2000);

// The mean cost of each of the first k GetQZBiosData calls on a new object: constant as k grows if
// appending a record is amortised constant. The object is made outside the timed region.
void BM_GetQZBiosData(benchmark::State& state) {
    qz::bench::PublishSettings(31);
    const auto calls = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) {
        QZBios bios;
        std::uint64_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        for (std::uint64_t k = 0; k < calls; ++k) {
            benchmark::DoNotOptimize(bios.GetQZBiosData(count));
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
    }
    PerCall(state, calls);
}
// Each iteration constructs an object too (untimed, some 50 µs), so the count of iterations is set
// for about a second of construction rather than left to the library, which would aim at a second
// of the timed calls alone.
const bool kGetQZBiosDataRegistered = [] {
    for (const std::int64_t calls : {1, 10, 100, 1000, 10000}) {
        benchmark::RegisterBenchmark("BM_GetQZBiosData", BM_GetQZBiosData)
            ->Arg(calls)
            ->Iterations(std::max<std::int64_t>(20, 20000 / calls))
            ->UseManualTime();
    }
    return true;
}();

// The floor of a call: appending a copy of a finished record to a growing list.
void BM_GetQZBiosDataFloor(benchmark::State& state) {
    const auto calls = static_cast<std::uint64_t>(state.range(0));
    const QZBiosData record{};
    for (auto _ : state) {
        std::vector<QZBiosData> records;
        const auto start = std::chrono::steady_clock::now();
        for (std::uint64_t k = 0; k < calls; ++k) {
            records.push_back(record);
            benchmark::DoNotOptimize(records.data());
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
    }
    PerCall(state, calls);
}
BENCHMARK(BM_GetQZBiosDataFloor)->RangeMultiplier(10)->Range(1, 10000)->UseManualTime();

// The name map, built afresh on every call: a key early in the table, the last key, and a key it
// does not know.
void BM_MapOfBiosAttribute(benchmark::State& state, const char* key) {
    const std::string lookupKey = key;
    for (auto _ : state) {
        benchmark::DoNotOptimize(QZBiosUtils::MapOfBiosAttribute(lookupKey));
    }
}
BENCHMARK_CAPTURE(BM_MapOfBiosAttribute, VTX, "VTX");
BENCHMARK_CAPTURE(BM_MapOfBiosAttribute, LANWWANswitching, "LANWWANswitching");
BENCHMARK_CAPTURE(BM_MapOfBiosAttribute, unknown, "Unknown");

// Option selection on values as firmware writes them.
void BM_GetSelectedOption(benchmark::State& state, const char* raw, bool trimSuffix) {
    const std::string rawValue = raw;
    for (auto _ : state) {
        benchmark::DoNotOptimize(QZBiosUtils::GetSelectedOption(rawValue, trimSuffix));
    }
}
BENCHMARK_CAPTURE(BM_GetSelectedOption, toggle, "Disable,*Enable", false);
BENCHMARK_CAPTURE(BM_GetSelectedOption, video_memory, "32 MB,*64 MB,128 MB", true);
BENCHMARK_CAPTURE(BM_GetSelectedOption, long_option,
                  "Maximize my battery health,*Let the system manage my battery charging", false);
BENCHMARK_CAPTURE(BM_GetSelectedOption, boot_order_unmarked,
                  "Windows Boot Manager,USB:,NETWORK IPV4,NETWORK IPV6,Onboard NIC", false);

}  // namespace

BENCHMARK_MAIN();
