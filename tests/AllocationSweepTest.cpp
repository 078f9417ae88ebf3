// Memory running out at every allocation of the library in turn, under each logger configuration.
// The logger's severity is fixed by its first installation, so each configuration runs as a process
// of its own, chosen by the first argument: no-logger, none, fatal, error or verbose.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <plog/Logger.h>

#include <gtest/gtest.h>

#include "bios/QZBiosUtils.h"
#include "qzbios/QZBios.h"
#include "support/AllocationFailure.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::qzbios::QZBiosData;
using qz::shared::qzbios::QZBiosUtils;
using qz::test::AllocationFailureFired;
using qz::test::AllocationsSinceArmed;
using qz::test::FailNthAllocation;
using qz::test::RecordingAppender;

std::string g_mode;
RecordingAppender g_host;   // installed through qzSharedInitializeLogger
RecordingAppender g_local;  // sees the library's own records, before forwarding

bool ExpectRecord() { return g_mode == "error" || g_mode == "verbose"; }

class NameMapFailure : public ::testing::Test {
protected:
    void SetUp() override {
        g_host.records.clear();
        g_local.records.clear();
    }
};

TEST_F(NameMapFailure, EveryFailurePointGivesTheEmptyNameAndOneRecord) {
    FailNthAllocation(0);
    ASSERT_EQ(QZBiosUtils::MapOfBiosAttribute("VTX"), "Virtualization Technology (VTx)");
    const std::size_t points = AllocationsSinceArmed();
    ASSERT_GT(points, 31u);

    for (std::size_t n = 1; n <= points; ++n) {
        g_host.records.clear();
        g_local.records.clear();
        FailNthAllocation(n);
        const std::string name = QZBiosUtils::MapOfBiosAttribute("VTX");
        FailNthAllocation(0);
        ASSERT_EQ(name, "") << "failure at allocation " << n;
        ASSERT_EQ(g_host.records.size(), ExpectRecord() ? 1u : 0u) << n;
        if (!ExpectRecord()) {
            continue;
        }
        const auto& own = g_local.records.at(0);
        EXPECT_EQ(own.severity, plog::error);
        EXPECT_EQ(own.function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
        EXPECT_EQ(own.line, 50u);
        EXPECT_EQ(own.file, "");
        EXPECT_EQ(own.object, nullptr);
        EXPECT_EQ(own.instanceId, 0);
        EXPECT_EQ(own.message,
                  PLOG_NSTR("Exception: in QZBiosUtild MapOfBiosAttribute std::bad_alloc"));

        const auto& forwarded = g_host.records.at(0);
        EXPECT_EQ(forwarded.severity, plog::error);
        EXPECT_EQ(forwarded.function, own.function);
        EXPECT_EQ(forwarded.line, 50u);
        EXPECT_EQ(forwarded.file, own.function);
        EXPECT_NE(forwarded.objectText.find(PLOG_NSTR("qzbios_allocation_sweep_test")),
                  plog::util::nstring::npos);
        EXPECT_EQ(forwarded.message, own.message);
    }
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("VTX"), "Virtualization Technology (VTx)");
}

TEST_F(NameMapFailure, TheOrdinaryPathWritesNoRecord) {
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("FastBoot"), "Fast Boot");
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("unknown"), "");
    EXPECT_TRUE(g_host.records.empty());
}

// What a sweep met, for the report at the end of the run.
struct SweepReport {
    std::size_t constructor = 0;  // std::bad_alloc left the constructor
    std::size_t absorbed = 0;     // the name map absorbed it
    std::size_t firstCall = 0;    // std::bad_alloc left the first GetQZBiosData
    std::size_t laterCalls = 0;   // std::bad_alloc left a later GetQZBiosData
};
SweepReport g_report;

// Empty when exactly one field of `record` differs from `reference` and it holds what an attribute
// without a value gives; otherwise what is wrong.
std::string ProblemWithLostField(const QZBiosData& record, const qz::test::Fields& reference) {
    const qz::test::Fields got = qz::test::RecordFields(record);
    int differing = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const auto& [name, value] = got[i];
        if (value != reference[i].second) {
            ++differing;
            if (!value.empty() && value != "0" && !(name == "NetPXEBoot" && value == "NA")) {
                return name + " holds '" + value + "'";
            }
        }
    }
    return differing == 1 ? "" : std::to_string(differing) + " fields differ";
}

class AllocationSweep : public NameMapFailure {
protected:
    void SetUp() override {
        NameMapFailure::SetUp();
        g_host.records.reserve(4);
        g_local.records.reserve(4);
        qz::test::FakeWmi() = {};
        qz::test::FakeWmi().rows = qz::test::FullSettings();
        qz::test::FakeWmi().recordCalls = false;
        // No field may hold what a lost value gives, so that every loss shows.
        for (qz::test::FakeRow& row : qz::test::FakeWmi().rows) {
            if (row.name == "Power-On Password") {
                row.value = "1";
            }
        }
        QZBios unfailed;
        std::uint64_t count = 0;
        referenceFields = qz::test::RecordFields(*unfailed.GetQZBiosData(count));
    }

    // The records appenders hold, which a later iteration clears.
    void ClearRecords() {
        g_host.records.clear();
        g_local.records.clear();
    }

    qz::test::Fields referenceFields;  // of a record taken with no failure
};

// Allocation n of constructing a QZBios and taking its first record fails, for n = 1, 2, ... until
// neither fails: std::bad_alloc leaves the constructor or the call, or the name map absorbed the
// failure and exactly one attribute lost its value. Nothing leaks either way.
TEST_F(AllocationSweep, ConstructionAndFirstRecord) {
    for (std::size_t n = 1;; ++n) {
        ClearRecords();
        const std::size_t live = qz::test::LiveAllocations();
        {
            FailNthAllocation(n);
            std::unique_ptr<QZBios> bios;
            try {
                bios = std::make_unique<QZBios>();
            } catch (const std::bad_alloc&) {
                FailNthAllocation(0);
                EXPECT_TRUE(g_host.records.empty()) << "failure at allocation " << n;
                ++g_report.constructor;
            }
            if (bios) {
                const bool failedInConstructor = AllocationFailureFired();
                std::uint64_t count = 7;
                try {
                    const QZBiosData* record = bios->GetQZBiosData(count);
                    FailNthAllocation(0);
                    if (!AllocationFailureFired()) {
                        EXPECT_EQ(qz::test::RecordFields(*record), referenceFields);
                        break;
                    }
                    ASSERT_TRUE(failedInConstructor) << "absorbed outside the name map: " << n;
                    ASSERT_EQ(count, 1u);
                    EXPECT_EQ(ProblemWithLostField(*record, referenceFields), "")
                        << "failure at allocation " << n;
                    EXPECT_EQ(g_host.records.size(), ExpectRecord() ? 1u : 0u) << n;
                    ++g_report.absorbed;
                } catch (const std::bad_alloc&) {
                    FailNthAllocation(0);
                    // The snapshot count was set; the record list stayed empty.
                    EXPECT_EQ(count, 1u) << n;
                    EXPECT_TRUE(g_host.records.empty()) << n;
                    const QZBiosData* record = bios->GetQZBiosData(count);
                    ASSERT_EQ(count, 1u);
                    EXPECT_EQ(qz::test::RecordFields(*record), referenceFields) << n;
                    ++g_report.firstCall;
                }
            }
        }
        ClearRecords();
        ASSERT_EQ(qz::test::LiveAllocations(), live) << "leak after failure at allocation " << n;
    }
    EXPECT_GE(g_report.absorbed, 31u);  // the name map runs once for each attribute
    EXPECT_GT(g_report.constructor, 0u);
    EXPECT_GT(g_report.firstCall, 0u);
}

// Each later call on an object fails at each of its allocations in turn: the list of records
// handed out before is untouched, and the next call carries on from it.
TEST_F(AllocationSweep, LaterRecords) {
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData* records = bios.GetQZBiosData(count);
    for (std::uint64_t k = 2; k <= 9; ++k) {
        for (std::size_t n = 1;; ++n) {
            FailNthAllocation(n);
            try {
                const QZBiosData* grown = bios.GetQZBiosData(count);
                FailNthAllocation(0);
                ASSERT_FALSE(AllocationFailureFired()) << "a failure vanished at allocation " << n;
                records = grown;
                break;
            } catch (const std::bad_alloc&) {
                FailNthAllocation(0);
                EXPECT_EQ(count, 1u);
                for (std::uint64_t i = 0; i + 1 < k; ++i) {
                    ASSERT_EQ(qz::test::RecordFields(records[i]), referenceFields) << k << n;
                }
                ++g_report.laterCalls;
            }
        }
        ASSERT_EQ(count, k);
        for (std::uint64_t i = 0; i < k; ++i) {
            ASSERT_EQ(qz::test::RecordFields(records[i]), referenceFields) << k;
        }
    }
    EXPECT_GT(g_report.laterCalls, 8u);  // every call copies keys; some grow the list
    std::printf(
        "swept %zu allocation failure points: %zu left the constructor, %zu absorbed by "
        "the name map, %zu left the first GetQZBiosData, %zu left a later one\n",
        g_report.constructor + g_report.absorbed + g_report.firstCall + g_report.laterCalls,
        g_report.constructor, g_report.absorbed, g_report.firstCall, g_report.laterCalls);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    g_mode = argc > 1 ? argv[1] : "";
    const std::pair<const char*, int> modes[] = {{"none", plog::none},
                                                 {"fatal", plog::fatal},
                                                 {"error", plog::error},
                                                 {"verbose", plog::verbose}};
    bool known = g_mode == "no-logger";
    for (const auto& [mode, severity] : modes) {
        if (g_mode == mode) {
            qzSharedInitializeLogger(severity, &g_host);
            plog::get<0>()->addAppender(&g_local);
            known = true;
        }
    }
    if (!known) {
        std::fprintf(stderr, "usage: %s no-logger|none|fatal|error|verbose\n", argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
