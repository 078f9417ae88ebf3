// The logger's first-call rules make this a process of its own: each step builds on the last.
#include <plog/Log.h>

#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "support/RecordingAppender.h"

namespace {

using qz::test::RecordingAppender;

void LogOneOfEach() {
    PLOG_FATAL << "fatal";
    PLOG_ERROR << "error";
    PLOG_WARNING << "warning";
    PLOG_VERBOSE << "verbose";
}

TEST(LoggerBridge, FirstCallFixesSeverityAndTargetLaterCallsAddCopies) {
    // Not installed: logging does nothing.
    ASSERT_EQ(plog::get<0>(), nullptr);
    LogOneOfEach();

    RecordingAppender first;
    qzSharedInitializeLogger(plog::error, &first);
    ASSERT_NE(plog::get<0>(), nullptr);
    LogOneOfEach();
    ASSERT_EQ(first.records.size(), 2u);
    EXPECT_EQ(first.records[0].severity, plog::fatal);
    EXPECT_EQ(first.records[1].severity, plog::error);
    EXPECT_EQ(first.records[1].message, PLOG_NSTR("error"));
    EXPECT_EQ(first.records[1].file, first.records[1].function);
    EXPECT_EQ(first.records[1].instanceId, 0);
    EXPECT_NE(first.records[1].objectText.find(PLOG_NSTR("qzbios_logger_bridge_test")),
              plog::util::nstring::npos);
    const void* componentName = first.records[0].object;

    // A second call with another severity and target only adds one more copy for the first.
    RecordingAppender second;
    qzSharedInitializeLogger(plog::verbose, &second);
    first.records.clear();
    LogOneOfEach();
    EXPECT_TRUE(second.records.empty());
    ASSERT_EQ(first.records.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(first.records[i].severity, i < 2 ? plog::fatal : plog::error) << i;
        EXPECT_EQ(first.records[i].object, componentName);
    }

    qzSharedInitializeLogger(plog::none, &second);
    first.records.clear();
    PLOG_ERROR << "three times";
    EXPECT_EQ(first.records.size(), 3u);
    EXPECT_TRUE(second.records.empty());
}

}  // namespace
