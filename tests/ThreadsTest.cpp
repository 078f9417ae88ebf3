// Four threads at once, each with objects of its own, and the name map shared by all: the results
// are those of a single thread. Run under ThreadSanitizer, this also shows the absence of races.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bios/QZBiosUtils.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"

namespace {

using qz::shared::qzbios::QZBios;

TEST(Threads, DistinctObjectsAndTheNameMapGiveWhatOneThreadGets) {
    qz::test::FakeWmi() = {};
    qz::test::FakeWmi().rows = qz::test::FullSettings();
    qz::test::FakeWmi().recordCalls = false;  // every thread's client reads the script
    std::uint64_t count = 0;
    const qz::test::Fields reference = qz::test::RecordFields(*QZBios().GetQZBiosData(count));

    std::atomic<bool> go{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int round = 0; round < 20; ++round) {
                QZBios bios;
                std::uint64_t n = 0;
                bios.GetQZBiosData(n);
                const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(n);
                const bool same = n == 2 && qz::test::RecordFields(records[1]) == reference;
                const std::string name = qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute("VTD");
                wrong += same && name == "Virtualization Technology for Directed I/O (VTd)" ? 0 : 1;
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
