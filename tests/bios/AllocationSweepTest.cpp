// Memory running out at every allocation of the library in turn, under each logger configuration.
// The logger's severity is fixed by its first installation, so each configuration runs as a process
// of its own.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "support/AllocationSweep.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::qzbios::QZBiosData;
using qz::test::FailNthAllocation;
using qz::test::Fields;
using qz::test::RecordFields;

bool g_logs = false;                 // the mode's logger admits error records
qz::test::RecordingAppender g_host;  // installed through qzSharedInitializeLogger

// Allocation n of constructing a QZBios and taking five records fails, for every n: std::bad_alloc
// leaves the constructor or a call with the records handed out before unchanged, or the name map
// absorbed it: the name is empty, so exactly one field reads the setting of that name, and one
// error record reached the host when its logger admits errors. Nothing leaks either way.
TEST(AllocationSweep, ConstructionAndRecords) {
    qz::test::FakeRows() = qz::test::FullSettings();
    qz::test::FakeRows().push_back({"", "*7"});  // what an attribute whose name is lost reads
    std::uint64_t count = 0;
    const Fields reference = RecordFields(*QZBios().GetQZBiosData(count));
    constexpr std::uint64_t kCalls = 5;
    std::size_t absorbed = 0;
    qz::test::SweepAllocations("construction and records", [&](std::size_t n) {
        const QZBiosData* records = nullptr;
        std::unique_ptr<QZBios> bios;
        count = 99;
        try {
            bios = std::make_unique<QZBios>();
            for (std::uint64_t k = 1; k <= kCalls; ++k) {
                records = bios->GetQZBiosData(count);
            }
            FailNthAllocation(0);
            ASSERT_EQ(count, kCalls);
            const Fields got = RecordFields(records[kCalls - 1]);
            int lost = 0;
            for (std::size_t i = 0; i < got.size(); ++i) {
                const bool same = got[i] == reference[i];
                lost += same ? 0 : 1;
                EXPECT_TRUE(same || got[i].second == "7") << got[i].first << " at " << n;
            }
            EXPECT_EQ(lost, qz::test::AllocationFailureFired() ? 1 : 0) << n;
            EXPECT_EQ(g_host.records.size(), lost == 1 && g_logs ? 1u : 0u) << n;
            absorbed += lost == 1 ? 1 : 0;
        } catch (const std::bad_alloc&) {
            FailNthAllocation(0);
            EXPECT_TRUE(g_host.records.empty()) << n;
            EXPECT_EQ(count, bios ? 1u : 99u) << n;  // a call failed with the count set
            if (records != nullptr) {  // a later call failed: what was handed out is intact
                EXPECT_EQ(RecordFields(records[0]), reference) << n;
            }
        }
        g_host.records.clear();
    });
    EXPECT_GE(absorbed, 31u);  // the name map runs once for each attribute
}

}  // namespace

// The first argument, when there is one, is the severity of the logger to install: 0 (none) to 6
// (verbose).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_host.records.reserve(4);  // held for the whole run, not counted as left behind by a sweep
    if (argc > 1) {
        const int severity = std::atoi(argv[1]);
        qzSharedInitializeLogger(severity, &g_host);
        g_logs = severity >= plog::error;
    }
    return RUN_ALL_TESTS();
}
