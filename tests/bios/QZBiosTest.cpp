// The records a QZBios hands out, objects on several threads, and the logger bridge.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <plog/Log.h>

#include <gtest/gtest.h>

#include "logger/ModuleFileName.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"

namespace qz::test {

// Logs one record of each of three severities; `line` receives the error statement's line.
void LogOneOfEach(std::size_t& line) {
    PLOG_FATAL << "fatal";
    line = __LINE__ + 1;
    PLOG_ERROR << "error";
    PLOG_VERBOSE << "verbose";
}

namespace {

using shared::qzbios::QZBios;
using shared::qzbios::QZBiosData;

// Every call appends a record equal to the first, whose texts stay where they are while the list
// grows.
TEST(QZBios, EveryCallAppendsARecordPointingAtTheSameTexts) {
    FakeRows() = FullSettings();
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData first = bios.GetQZBiosData(count)[0];
    ASSERT_EQ(count, 1u);
    const Fields texts = RecordFields(first);
    for (std::uint64_t k = 2; k <= 40; ++k) {
        const QZBiosData* records = bios.GetQZBiosData(count);
        ASSERT_EQ(count, k);
        for (std::uint64_t i = 0; i < k; ++i) {
            ASSERT_EQ(RecordFields(records[i], true), RecordFields(first, true)) << k << ' ' << i;
        }
    }
    EXPECT_EQ(RecordFields(first), texts);
    EXPECT_STREQ(first.MeFwVer, "16.1.30.2307");
}

// Four threads at once, each with objects of its own: the results are those of a single thread.
// Under ThreadSanitizer this also shows the absence of data races.
TEST(Threads, DistinctObjectsGiveWhatOneThreadGets) {
    FakeRows() = FullSettings();
    std::uint64_t count = 0;
    const Fields reference = RecordFields(*QZBios().GetQZBiosData(count));
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

// The only test of this process that installs a logger: the first call fixes severity and target,
// each call adds one more copy, and a forwarded record names the function in its file field and
// the module holding the library's code (here, this test) as its object.
TEST(LoggerBridge, FirstCallFixesSeverityAndTargetAndEachCallAddsACopy) {
    static RecordingAppender first;  // installed for the rest of the process
    std::size_t line = 0;
    qzSharedInitializeLogger(plog::error, &first);
    LogOneOfEach(line);
    ASSERT_EQ(first.records.size(), 2u);
    const RecordCopy& error = first.records[1];
    EXPECT_EQ(error.severity, plog::error);
    EXPECT_EQ(error.function, "qz::test::LogOneOfEach");
    EXPECT_EQ(error.file, error.function);
    EXPECT_EQ(error.line, line);
    EXPECT_EQ(error.message, PLOG_NSTR("error"));
    EXPECT_EQ(error.objectText.rfind(PLOG_NSTR("qzbios_unit_tests"), 0), 0u);

    RecordingAppender second;
    qzSharedInitializeLogger(plog::verbose, &second);
    qzSharedInitializeLogger(plog::none, &second);
    first.records.clear();
    LogOneOfEach(line);
    EXPECT_TRUE(second.records.empty());
    EXPECT_EQ(first.records.size(), 6u);
}

}  // namespace
}  // namespace qz::test

// The component name is what follows the module path's last separator: nothing when there is none,
// or when the path ends in one.
TEST(LoggerBridge, ComponentNameIsTheTextAfterTheLastSeparator) {
    using qz::shared::common::logger::FileNameAfterLastSeparator;
    const std::pair<plog::util::nstring, plog::util::nstring> cases[] = {
        {PLOG_NSTR("C:\\qz\\bin\\qz-shared-qzbios.dll"), PLOG_NSTR("qz-shared-qzbios.dll")},
        {PLOG_NSTR("qz-shared-qzbios.dll"), PLOG_NSTR("")},
        {PLOG_NSTR("C:\\qz\\"), PLOG_NSTR("")},
        {PLOG_NSTR("\\a"), PLOG_NSTR("a")},
    };
    for (const auto& [path, name] : cases) {
        EXPECT_EQ(FileNameAfterLastSeparator(path, PLOG_NSTR('\\')), name);
    }
}
