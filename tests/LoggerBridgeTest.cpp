// The logger's first-call rules make this a process of its own: each step builds on the last.
#include <plog/Log.h>

#include <gtest/gtest.h>

#include "logger/ModuleFileName.h"
#include "qzbios/QZBios.h"
#include "support/RecordingAppender.h"

// Outside an anonymous namespace, whose name plog would not keep whole in the function field.
namespace qz::test {

std::size_t g_errorLine = 0;

void LogOneOfEach() {
    PLOG_FATAL << "fatal";
    g_errorLine = __LINE__ + 1;
    PLOG_ERROR << "error " << 42;
    PLOG_WARNING << "warning";
    PLOG_VERBOSE << "verbose";
}

}  // namespace qz::test

namespace {

using qz::test::g_errorLine;
using qz::test::LogOneOfEach;

TEST(LoggerBridge, FirstCallFixesSeverityAndTargetAndEachCallAddsACopy) {
    ASSERT_EQ(plog::get<0>(), nullptr);
    LogOneOfEach();  // not installed: nothing happens

    qz::test::RecordingAppender first;
    qzSharedInitializeLogger(plog::error, &first);
    LogOneOfEach();
    ASSERT_EQ(first.records.size(), 2u);
    const qz::test::RecordCopy& error = first.records[1];
    EXPECT_EQ(first.records[0].severity, plog::fatal);
    EXPECT_EQ(error.severity, plog::error);
    EXPECT_EQ(error.message, PLOG_NSTR("error 42"));
    EXPECT_EQ(error.function, "qz::test::LogOneOfEach");
    EXPECT_EQ(error.line, g_errorLine);
    EXPECT_EQ(error.file, error.function);  // the function name, not the source file
    EXPECT_EQ(error.instanceId, 0);
    // The component name: the file name of the module holding the library's code, this test.
    EXPECT_EQ(error.objectText.rfind(PLOG_NSTR("qzbios_logger_bridge_test"), 0), 0u);
    EXPECT_EQ(first.records[0].object, error.object);  // one name, owned by the library

    // Later calls with another severity and target only add one more copy for the first.
    qz::test::RecordingAppender second;
    qzSharedInitializeLogger(plog::verbose, &second);
    qzSharedInitializeLogger(plog::none, &second);
    first.records.clear();
    LogOneOfEach();
    EXPECT_TRUE(second.records.empty());
    ASSERT_EQ(first.records.size(), 6u);
    EXPECT_EQ(first.records[2].severity, plog::fatal);
    EXPECT_EQ(first.records[3].severity, plog::error);
}

TEST(ModuleFileName, IsTheTextAfterTheLastSeparator) {
    const std::pair<plog::util::nstring, plog::util::nstring> cases[] = {
        {PLOG_NSTR("C:\\Agent\\qz-shared-qzbios.dll"), PLOG_NSTR("qz-shared-qzbios.dll")},
        {PLOG_NSTR("\\\\server\\share\\x.dll"), PLOG_NSTR("x.dll")},
        {PLOG_NSTR("qz-shared-qzbios.dll"), PLOG_NSTR("")},
        {PLOG_NSTR("C:\\dir\\"), PLOG_NSTR("")},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(qz::shared::common::logger::FileNameAfterLastSeparator(path, PLOG_NSTR('\\')),
                  expected);
    }
}

}  // namespace
