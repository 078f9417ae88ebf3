// What a host cannot see through qzbios-dump: the name map's near misses, the record layout, where
// records point, objects on several threads, and the logger bridge. The attribute table, the option
// rule, the numbers and the query's rows are tested through qzbios-dump (CMakeLists.txt).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>

#include <plog/Log.h>

#include <gtest/gtest.h>

#include "bios/QZBiosImpl.h"
#include "logger/ModuleFileName.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeRows;
using test::RecordFields;

// The 31 keys and their names are tested through qzbios-dump; near misses find nothing.
TEST(MapOfBiosAttribute, KnowsOnlyItsExactKeys) {
    for (const char* key : {"RunPowMgmt", "BIOAPS", "", "vtx", "Fastboot", "VTX ", "VT"}) {
        EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute(key), "") << '"' << key << '"';
    }
}

// Hosts read records through the header's declaration; its layout is part of the interface.
static_assert(std::is_standard_layout_v<QZBiosData> && std::is_trivially_copyable_v<QZBiosData>);
static_assert(sizeof(QZBios) == sizeof(void*) && !std::is_copy_constructible_v<QZBios>);
static_assert(offsetof(QZBiosData, POSTPS) == 11 * sizeof(void*) + 4);
static_assert(offsetof(QZBiosData, VMS) == 24 * sizeof(void*));
static_assert(sizeof(QZBiosData) == 30 * sizeof(void*));

// A record's texts are the snapshot's own, but for an empty NetPXEBoot, which reads "NA".
TEST(QZBiosImpl, RecordsPointIntoTheirSnapshotsAndAFailureKeepsThoseBefore) {
    QZBiosImpl impl;
    std::uint64_t count = 7;
    EXPECT_EQ(impl.GetQZBiosData(count), nullptr);  // no snapshot, no record
    EXPECT_EQ(count, 0u);
    FakeRows() = {{"Network (PXE) Boot", "NA"}};
    impl.utils.CollectBiosAttributes(impl.snapshots);
    const QZBiosData record = impl.GetQZBiosData(count)[0];
    EXPECT_EQ(record.NetPXEBoot, impl.snapshots[0].at("NetPXEBoot").c_str());
    FakeRows() = {{"Video Memory Size", "*64"}};
    EXPECT_THROW(impl.utils.CollectBiosAttributes(impl.snapshots), std::out_of_range);
    ASSERT_EQ(impl.snapshots.size(), 1u);  // the failed snapshot is not appended
    impl.snapshots.push_back(impl.snapshots[0]);
    impl.snapshots.back().erase("VMS");
    impl.snapshots.push_back(impl.snapshots[0]);
    EXPECT_THROW(impl.GetQZBiosData(count), std::out_of_range);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(impl.records.size(), 2u);  // the earlier call's record and the first snapshot's
}

// Records point into the object's own texts: every call appends one, and the texts handed out stay
// where they are while the list grows.
TEST(QZBios, EveryCallAppendsARecordPointingAtTheSameTexts) {
    FakeRows() = test::FullSettings();
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData first = bios.GetQZBiosData(count)[0];
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(first.MeFwVer, "16.1.30.2307");  // the client is strict about every name
    const test::Fields texts = RecordFields(first);
    for (std::uint64_t k = 2; k <= 40; ++k) {
        const QZBiosData* records = bios.GetQZBiosData(count);
        ASSERT_EQ(count, k);
        for (std::uint64_t i = 0; i < k; ++i) {
            ASSERT_EQ(RecordFields(records[i], true), RecordFields(first, true)) << k << ' ' << i;
        }
    }
    EXPECT_EQ(RecordFields(first), texts);
}

// Four threads at once, each with objects of its own (whose construction runs the name map): the
// results are those of a single thread. Under ThreadSanitizer this also shows the absence of data
// races.
TEST(Threads, DistinctObjectsAndTheNameMapGiveWhatOneThreadGets) {
    FakeRows() = test::FullSettings();
    std::uint64_t count = 0;
    const test::Fields reference = RecordFields(*QZBios().GetQZBiosData(count));
    std::atomic<int> wrong{0};
    const auto work = [&] {
        for (int round = 0; round < 20; ++round) {
            std::uint64_t n = 0;
            wrong += RecordFields(*QZBios().GetQZBiosData(n)) == reference ? 0 : 1;
        }
    };
    std::thread threads[] = {std::thread(work), std::thread(work), std::thread(work),
                             std::thread(work)};
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

void LogOneOfEach() {
    PLOG_FATAL << "fatal";
    PLOG_ERROR << "error";
    PLOG_VERBOSE << "verbose";
}

// The logger's first-call rules: the only test of this process that installs a logger. What a
// forwarded record carries from the library's own is checked by the unload test.
TEST(LoggerBridge, FirstCallFixesSeverityAndTargetAndEachCallAddsACopy) {
    ASSERT_EQ(plog::get<0>(), nullptr);
    LogOneOfEach();  // not installed: nothing happens

    static test::RecordingAppender first;  // installed for the rest of the process
    qzSharedInitializeLogger(plog::error, &first);
    LogOneOfEach();
    ASSERT_EQ(first.records.size(), 2u);
    const test::RecordCopy& error = first.records[1];
    EXPECT_EQ(error.file, error.function);  // the function name, not the source file
    EXPECT_EQ(error.instanceId, 0);
    // The component name: the file name of the module holding the library's code, this test.
    EXPECT_EQ(error.objectText.rfind(PLOG_NSTR("qzbios_unit_tests"), 0), 0u);

    // Later calls with another severity and target only add one more copy for the first.
    test::RecordingAppender second;
    qzSharedInitializeLogger(plog::verbose, &second);
    qzSharedInitializeLogger(plog::none, &second);
    first.records.clear();
    LogOneOfEach();
    EXPECT_TRUE(second.records.empty());
    EXPECT_EQ(first.records.size(), 6u);
}

// The text after the last separator, as the unload test shows; nothing without a separator.
TEST(ModuleFileName, IsEmptyWithoutASeparator) {
    EXPECT_EQ(common::logger::FileNameAfterLastSeparator(PLOG_NSTR("qz.dll"), PLOG_NSTR('\\')),
              PLOG_NSTR(""));
}

}  // namespace
}  // namespace qz::shared::qzbios
