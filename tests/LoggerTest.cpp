#include <string>

#include <gtest/gtest.h>

#include "logger/ComponentAppender.h"
#include "logger/ModuleFileName.h"
#include "support/RecordingAppender.h"

namespace qz::shared::common::logger {
namespace {

TEST(ComponentAppender, ForwardsACopyTaggedWithTheComponentName) {
    test::RecordingAppender host;
    ComponentAppender appender(PLOG_NSTR("qz-shared-qzbios.dll"), &host);
    int someObject = 0;
    plog::Record record(plog::warning, "void ns::Klass::Method(int)", 123, "file.cpp", &someObject,
                        3);
    record << "disk " << 42 << " full";
    appender.write(record);
    appender.write(plog::Record(plog::fatal, "f", 1, "", nullptr, 0));
    ASSERT_EQ(host.records.size(), 2u);
    const test::RecordCopy& forwarded = host.records[0];
    EXPECT_EQ(forwarded.severity, plog::warning);
    EXPECT_EQ(forwarded.function, record.getFunc());
    EXPECT_EQ(forwarded.line, 123u);
    EXPECT_EQ(forwarded.file, record.getFunc());  // the function name, not the incoming file
    EXPECT_EQ(forwarded.instanceId, 3);
    EXPECT_EQ(forwarded.objectText, PLOG_NSTR("qz-shared-qzbios.dll"));
    EXPECT_EQ(forwarded.message, PLOG_NSTR("disk 42 full"));
    EXPECT_EQ(host.records[1].message, PLOG_NSTR(""));
    EXPECT_EQ(host.records[1].object, forwarded.object);  // the name the appender owns
}

TEST(ModuleFileName, IsTheTextAfterTheLastSeparator) {
    const std::pair<plog::util::nstring, plog::util::nstring> cases[] = {
        {PLOG_NSTR("C:\\Agent\\qz-shared-qzbios.dll"), PLOG_NSTR("qz-shared-qzbios.dll")},
        {PLOG_NSTR("\\\\server\\share\\x.dll"), PLOG_NSTR("x.dll")},
        {PLOG_NSTR("qz-shared-qzbios.dll"), PLOG_NSTR("")},
        {PLOG_NSTR("C:\\dir\\"), PLOG_NSTR("")},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(FileNameAfterLastSeparator(path, PLOG_NSTR('\\')), expected);
    }
    // Linked statically here, the library's code lives in the test executable.
    static const int anchor = 0;
    EXPECT_EQ(ModuleFileName(&anchor).rfind(PLOG_NSTR("qzbios_unit_tests"), 0), 0u);
}

}  // namespace
}  // namespace qz::shared::common::logger
