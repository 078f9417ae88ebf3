// The library leaves a host's process when the host unloads it: nothing stays mapped, nothing
// reaches the host's appender afterwards, and loading it again starts afresh.
#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>

#include <plog/Severity.h>

#include <gtest/gtest.h>

#include "support/AllocationFailure.h"
#include "support/RecordingAppender.h"

namespace {

using qz::test::RecordingAppender;

constexpr const char* kLibrary = "libqz-shared-qzbios.so.1";

bool IsLoaded(const char* soname) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

// The plug-in, loaded, and what the test calls of it and of the library it brought in.
struct Plugin {
    void* handle = nullptr;
    int (*readRecord)() = nullptr;
    void (*initializeLogger)(std::int32_t, plog::IAppender*) = nullptr;
};

Plugin Load() {
    Plugin plugin;
    plugin.handle = dlopen(QZBIOS_UNLOAD_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    if (plugin.handle == nullptr) {
        ADD_FAILURE() << dlerror();
        return plugin;
    }
    // Looked up through the plug-in's handle, which covers the libraries it depends on.
    plugin.readRecord = reinterpret_cast<int (*)()>(dlsym(plugin.handle, "qzTestPluginReadRecord"));
    plugin.initializeLogger = reinterpret_cast<void (*)(std::int32_t, plog::IAppender*)>(
        dlsym(plugin.handle, "qzSharedInitializeLogger"));
    EXPECT_NE(plugin.readRecord, nullptr);
    EXPECT_NE(plugin.initializeLogger, nullptr);
    return plugin;
}

// Takes snapshots, failing one allocation after another, until one failure makes the library log
// to `log`. False when every failure point was tried and none of them reached `log`.
bool MakeTheLibraryLog(const Plugin& plugin, const RecordingAppender& log) {
    const std::size_t before = log.records.size();
    for (std::size_t n = 1;; ++n) {
        qz::test::FailNthAllocation(n);
        plugin.readRecord();
        qz::test::FailNthAllocation(0);
        if (log.records.size() != before) {
            return true;
        }
        if (!qz::test::AllocationFailureFired()) {
            return false;
        }
    }
}

TEST(Unload, TheLibraryLeavesTheProcessAndComesBackUninstalled) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    ASSERT_FALSE(IsLoaded(kLibrary));

    RecordingAppender log;
    Plugin plugin = Load();
    ASSERT_NE(plugin.readRecord, nullptr);
    ASSERT_TRUE(IsLoaded(kLibrary));
    ASSERT_EQ(plugin.readRecord(), 1);
    plugin.initializeLogger(plog::error, &log);
    ASSERT_TRUE(MakeTheLibraryLog(plugin, log));
    const std::size_t written = log.records.size();
    EXPECT_EQ(written, 1u);

    ASSERT_EQ(dlclose(plugin.handle), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(kLibrary)) << "the library stayed in the process";
    EXPECT_FALSE(IsLoaded("libqz-shared-wmi-client.so.1"));
    EXPECT_EQ(log.records.size(), written) << "the library wrote to the appender while unloading";

    // Loaded again, it has no appender until the host installs one.
    plugin = Load();
    ASSERT_NE(plugin.readRecord, nullptr);
    EXPECT_FALSE(MakeTheLibraryLog(plugin, log));
    EXPECT_EQ(log.records.size(), written);
    plugin.initializeLogger(plog::error, &log);
    EXPECT_TRUE(MakeTheLibraryLog(plugin, log));
    EXPECT_EQ(log.records.size(), written + 1);
    ASSERT_EQ(dlclose(plugin.handle), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(kLibrary));
}

}  // namespace
