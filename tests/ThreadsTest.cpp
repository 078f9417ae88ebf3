// Several threads at once, each with objects of its own, and the name map shared by all: the
// results are those of a single thread. Run under ThreadSanitizer, this also shows the absence of
// data races.
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
using qz::shared::qzbios::QZBiosData;
using qz::shared::qzbios::QZBiosUtils;
using qz::test::Fields;
using qz::test::RecordFields;

constexpr int kThreads = 4;
constexpr int kRounds = 20;

// Runs `body(thread)` on kThreads threads released together, and counts the threads whose body
// returned false.
template <typename Body>
int RunTogether(const Body& body) {
    std::atomic<bool> go{false};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            if (!body(t)) {
                ++failed;
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failed.load();
}

class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        qz::test::FakeWmi() = {};
        qz::test::FakeWmi().rows = qz::test::FullSettings();
        // The script is read by every thread's client; recording would make them write to it.
        qz::test::FakeWmi().recordCalls = false;
    }
};

TEST_F(Threads, DistinctObjectsGiveTheSameRecordsAsOneThreadDoes) {
    Fields reference;
    {
        QZBios bios;
        std::uint64_t count = 0;
        reference = RecordFields(*bios.GetQZBiosData(count));
    }
    const int failed = RunTogether([&](int /*thread*/) {
        for (int round = 0; round < kRounds; ++round) {
            QZBios bios;
            std::uint64_t count = 0;
            const QZBiosData* records = nullptr;
            for (int k = 0; k < 3; ++k) {
                records = bios.GetQZBiosData(count);
            }
            if (count != 3 || RecordFields(records[0]) != reference ||
                RecordFields(records[2]) != reference) {
                return false;
            }
        }
        return true;
    });
    EXPECT_EQ(failed, 0);
}

TEST_F(Threads, TheNameMapAnswersEveryThreadAlike) {
    std::vector<std::string> keys;
    std::vector<std::string> names;
    for (const auto& field : qz::test::AllRecordFields()) {
        keys.emplace_back(field.name);
        names.push_back(QZBiosUtils::MapOfBiosAttribute(field.name));
    }
    keys.emplace_back("NoSuchKey");
    names.push_back(QZBiosUtils::MapOfBiosAttribute("NoSuchKey"));
    ASSERT_EQ(names[9], "Virtualization Technology (VTx)");
    ASSERT_EQ(names.back(), "");

    const int failed = RunTogether([&](int thread) {
        for (int round = 0; round < kRounds; ++round) {
            // Each thread walks the keys from a different place.
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const std::size_t k = (i + static_cast<std::size_t>(thread) * 7) % keys.size();
                if (QZBiosUtils::MapOfBiosAttribute(keys[k]) != names[k]) {
                    return false;
                }
            }
        }
        return true;
    });
    EXPECT_EQ(failed, 0);
}

}  // namespace
