// The heap a QZBios holds, counted by a replaced operator new: after construction, and after k
// GetQZBiosData calls. Figures are counters of one run each; the times mean nothing here.
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

#include "bench/PublishedSettings.h"
#include "qzbios/QZBios.h"
#include "support/AllocationFailure.h"

namespace {

using qz::shared::qzbios::QZBios;

void BM_HeldAfterConstruction(benchmark::State& state) {
    qz::bench::PublishSettings(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const std::size_t before = qz::test::LiveHeapBytes();
        const std::size_t blocksBefore = qz::test::LiveAllocations();
        qz::test::ResetPeakHeapBytes();
        auto bios = std::make_unique<QZBios>();
        state.counters["held_bytes"] = static_cast<double>(qz::test::LiveHeapBytes() - before);
        state.counters["held_blocks"] =
            static_cast<double>(qz::test::LiveAllocations() - blocksBefore);
        state.counters["peak_bytes"] = static_cast<double>(qz::test::PeakHeapBytes() - before);
    }
}
BENCHMARK(BM_HeldAfterConstruction)->Arg(31)->Arg(200)->Arg(2000)->Iterations(1);

void BM_HeldAfterCalls(benchmark::State& state) {
    qz::bench::PublishSettings(31);
    const auto calls = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) {
        const std::size_t before = qz::test::LiveHeapBytes();
        auto bios = std::make_unique<QZBios>();
        const std::size_t constructed = qz::test::LiveHeapBytes();
        std::uint64_t count = 0;
        for (std::uint64_t k = 0; k < calls; ++k) {
            benchmark::DoNotOptimize(bios->GetQZBiosData(count));
        }
        const std::size_t held = qz::test::LiveHeapBytes() - before;
        state.counters["held_bytes"] = static_cast<double>(held);
        state.counters["records_bytes"] =
            static_cast<double>(qz::test::LiveHeapBytes() - constructed);
    }
}
BENCHMARK(BM_HeldAfterCalls)->RangeMultiplier(10)->Range(1, 10000)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
