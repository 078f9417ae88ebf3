// Memory running out inside the name map, under each logger configuration. The logger's severity is
// fixed by its first installation, so each configuration runs as a process of its own, chosen by
// the first argument: no-logger, none, fatal, error or verbose.
#include <cstring>
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

// How many of the 31 fields of two records hold different values.
int DifferingFields(const QZBiosData& a, const QZBiosData& b) {
    const qz::test::Fields fa = qz::test::RecordFields(a);
    const qz::test::Fields fb = qz::test::RecordFields(b);
    int differing = 0;
    for (std::size_t i = 0; i < fa.size(); ++i) {
        differing += fa[i] != fb[i] ? 1 : 0;
    }
    return differing;
}

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
        EXPECT_NE(forwarded.objectText.find(PLOG_NSTR("qzbios_name_map_failure_test")),
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

// Every allocation of a construction fails once in turn: either std::bad_alloc leaves the
// constructor, or the name map absorbed it and exactly one attribute lost its value.
TEST_F(NameMapFailure, AbsorbedFailuresEmptyExactlyOneAttribute) {
    qz::test::FakeWmi() = {};
    qz::test::FakeWmi().rows = qz::test::FullSettings();
    QZBios unfailed;
    std::uint64_t referenceCount = 0;
    const QZBiosData reference = *unfailed.GetQZBiosData(referenceCount);
    std::size_t absorbed = 0;
    for (std::size_t n = 1;; ++n) {
        g_host.records.clear();
        FailNthAllocation(n);
        try {
            QZBios bios;
            FailNthAllocation(0);
            if (!AllocationFailureFired()) {
                break;
            }
            std::uint64_t count = 0;
            const QZBiosData* record = bios.GetQZBiosData(count);
            ASSERT_EQ(count, 1u);
            EXPECT_LE(DifferingFields(*record, reference), 1) << "failure at allocation " << n;
            EXPECT_EQ(g_host.records.size(), ExpectRecord() ? 1u : 0u) << n;
            ++absorbed;
        } catch (const std::bad_alloc&) {
            FailNthAllocation(0);
            EXPECT_TRUE(g_host.records.empty()) << n;
        }
    }
    // The name map runs once for each of the 31 attributes.
    EXPECT_GE(absorbed, 31u);
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
