#include "logger/ComponentAppender.h"

#include <string>

#include <gtest/gtest.h>

#include "logger/ModuleFileName.h"
#include "support/RecordingAppender.h"

namespace qz::shared::common::logger {
namespace {

using test::RecordingAppender;

TEST(ComponentAppender, ForwardsACopyTaggedWithTheComponentName) {
    RecordingAppender host;
    ComponentAppender appender(PLOG_NSTR("qz-shared-qzbios.dll"), &host);
    int someObject = 0;
    plog::Record record(plog::warning, "void ns::Klass::Method(int)", 123, "some/file.cpp",
                        &someObject, 3);
    record << "disk " << 42 << " full";
    appender.write(record);

    ASSERT_EQ(host.records.size(), 1u);
    const auto forwarded = host.records[0];
    EXPECT_EQ(forwarded.severity, plog::warning);
    EXPECT_EQ(forwarded.function, record.getFunc());
    EXPECT_EQ(forwarded.line, 123u);
    EXPECT_EQ(forwarded.file, record.getFunc());  // the function name, not the incoming file
    EXPECT_EQ(forwarded.instanceId, 3);
    EXPECT_NE(forwarded.object, &someObject);
    EXPECT_EQ(forwarded.objectText, PLOG_NSTR("qz-shared-qzbios.dll"));
    EXPECT_EQ(forwarded.message, PLOG_NSTR("disk 42 full"));

    appender.write(record);
    ASSERT_EQ(host.records.size(), 2u);
    EXPECT_EQ(host.records[1].object, forwarded.object);  // the same name, which the appender owns
}

TEST(ComponentAppender, ForwardsAnEmptyMessageAndAnEmptyName) {
    RecordingAppender host;
    ComponentAppender appender(plog::util::nstring(), &host);
    plog::Record record(plog::fatal, "f", 1, "", nullptr, 0);
    appender.write(record);
    ASSERT_EQ(host.records.size(), 1u);
    EXPECT_EQ(host.records[0].message, PLOG_NSTR(""));
    ASSERT_NE(host.records[0].object, nullptr);
    EXPECT_EQ(host.records[0].objectText, PLOG_NSTR(""));
}

TEST(ModuleFileName, TakesTheTextAfterTheLastSeparator) {
    using plog::util::nstring;
    struct Case {
        nstring path;
        nstring expected;
    };
    const Case cases[] = {
        {PLOG_NSTR("C:\\Program Files\\Agent\\qz-shared-qzbios.dll"),
         PLOG_NSTR("qz-shared-qzbios.dll")},
        {PLOG_NSTR("\\\\server\\share\\x.dll"), PLOG_NSTR("x.dll")},
        {PLOG_NSTR("qz-shared-qzbios.dll"), PLOG_NSTR("")},
        {PLOG_NSTR("C:\\dir\\"), PLOG_NSTR("")},
        {PLOG_NSTR(""), PLOG_NSTR("")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileNameAfterLastSeparator(c.path, PLOG_NSTR('\\')), c.expected);
    }
}

TEST(ModuleFileName, NamesTheModuleHoldingAnAddress) {
    // Statically linked here, the library's code lives in the test executable.
    static const int anchor = 0;
    const plog::util::nstring name = ModuleFileName(&anchor);
    EXPECT_NE(name.find(PLOG_NSTR("qzbios_unit_tests")), plog::util::nstring::npos);
    EXPECT_EQ(name.find(PLOG_NSTR('/')), plog::util::nstring::npos);
}

}  // namespace
}  // namespace qz::shared::common::logger
