// A host that never links the library, with a plog logger 0 of its own and its symbols exported (as
// plug-in hosts do): the library keeps its logger apart from the host's, and leaves the process
// when the host unloads it: nothing stays mapped, nothing reaches the host's appender afterwards,
// and loading it again starts with no logger installed.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>

#include <plog/Init.h>

#include <gtest/gtest.h>

#include "support/AllocationFailure.h"
#include "support/RecordingAppender.h"

namespace {

bool IsLoaded(const char* soname) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
    return handle != nullptr && dlclose(handle) == 0;
}

// Loads the plug-in (a host module linked against the library), installs `log` when asked, makes
// the library take snapshots with one allocation after another failing until a failure is logged or
// none is left, and unloads it. Returns the records `log` gained.
std::size_t LoadLogAndUnload(qz::test::RecordingAppender& log, bool install) {
    void* plugin = dlopen(QZBIOS_UNLOAD_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    EXPECT_TRUE(IsLoaded("libqz-shared-qzbios.so.1"));
    auto readRecord = reinterpret_cast<void (*)()>(dlsym(plugin, "qzTestPluginReadRecord"));
    if (install) {
        reinterpret_cast<void (*)(std::int32_t, plog::IAppender*)>(
            dlsym(plugin, "qzSharedInitializeLogger"))(plog::error, &log);
    }
    const std::size_t before = log.records.size();
    for (std::size_t n = 1; log.records.size() == before; ++n) {
        qz::test::FailNthAllocation(n);
        readRecord();
        qz::test::FailNthAllocation(0);
        if (!qz::test::AllocationFailureFired()) {
            break;
        }
    }
    const std::size_t written = log.records.size();
    EXPECT_EQ(dlclose(plugin), 0) << dlerror();
    EXPECT_FALSE(IsLoaded("libqz-shared-qzbios.so.1")) << "the library stayed in the process";
    EXPECT_FALSE(IsLoaded("libqz-shared-wmi-client.so.1"));
    EXPECT_EQ(log.records.size(), written) << "the library wrote while unloading";
    return written - before;
}

TEST(Unload, TheLibraryKeepsItsLoggerLeavesTheProcessAndComesBackUninstalled) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    ASSERT_FALSE(IsLoaded("libqz-shared-qzbios.so.1"));
    qz::test::RecordingAppender host;
    plog::init(plog::verbose, &host);
    qz::test::RecordingAppender log;
    ASSERT_EQ(LoadLogAndUnload(log, true), 1u) << "no failure reached the name map";
    const qz::test::RecordCopy& record = log.records[0];
    EXPECT_EQ(record.severity, plog::error);
    EXPECT_EQ(record.function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
    EXPECT_EQ(record.line, 50u);
    EXPECT_EQ(record.message, "Exception: in QZBiosUtild MapOfBiosAttribute std::bad_alloc");
    EXPECT_EQ(record.objectText, "libqz-shared-qzbios.so.1");  // the library's file name
    EXPECT_EQ(LoadLogAndUnload(log, false), 0u);
    EXPECT_EQ(LoadLogAndUnload(log, true), 1u);
    EXPECT_TRUE(host.records.empty()) << "the library wrote to the host's logger 0";
}

}  // namespace
