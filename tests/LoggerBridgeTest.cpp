// The logger's first-call rules make this a process of its own: each step builds on the last.
#include <plog/Log.h>

#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "support/RecordingAppender.h"

namespace {

void LogOneOfEach() {
    PLOG_FATAL << "fatal";
    PLOG_ERROR << "error";
    PLOG_WARNING << "warning";
    PLOG_VERBOSE << "verbose";
}

TEST(LoggerBridge, FirstCallFixesSeverityAndTargetLaterCallsAddCopies) {
    ASSERT_EQ(plog::get<0>(), nullptr);
    LogOneOfEach();  // not installed: nothing happens

    qz::test::RecordingAppender first;
    qzSharedInitializeLogger(plog::error, &first);
    LogOneOfEach();
    ASSERT_EQ(first.records.size(), 2u);
    EXPECT_EQ(first.records[0].severity, plog::fatal);
    EXPECT_EQ(first.records[1].severity, plog::error);
    EXPECT_EQ(first.records[1].message, PLOG_NSTR("error"));
    EXPECT_EQ(first.records[1].file, first.records[1].function);
    EXPECT_EQ(first.records[1].objectText.rfind(PLOG_NSTR("qzbios_logger_bridge_test"), 0), 0u);

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

}  // namespace
