// The installed shape: a host that links the shared library and its WMI client, with a plog logger
// 0 of its own; and memory running out at every allocation of the client's readers and writer.
#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <plog/Init.h>

#include <gtest/gtest.h>

#include "CaptureFile.h"
#include "SettingsSource.h"
#include "qzbios/QZBios.h"
#include "support/AllocationSweep.h"
#include "support/RecordingAppender.h"

namespace {

using Rows = std::vector<qz::shared::wmi::CaptureRow>;

TEST(SharedLibrary, KeepsItsLoggerApartFromTheHostsLogger) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    qz::test::RecordingAppender hostLog;
    plog::init(plog::verbose, &hostLog);
    qz::test::RecordingAppender bridge;
    qzSharedInitializeLogger(plog::error, &bridge);
    // Fail allocations one after another until one is absorbed by the name map, which logs it.
    for (std::size_t n = 1; bridge.records.empty(); ++n) {
        qz::test::FailNthAllocation(n);
        try {
            qz::shared::qzbios::QZBios bios;
        } catch (const std::bad_alloc&) {
        }
        qz::test::FailNthAllocation(0);
        ASSERT_TRUE(qz::test::AllocationFailureFired()) << "no failure reached the name map";
    }
    EXPECT_TRUE(hostLog.records.empty()) << "the library wrote to the host's logger 0";
    ASSERT_EQ(bridge.records.size(), 1u);
    EXPECT_EQ(bridge.records[0].function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
    Dl_info info{};  // the component name is the file name of the loaded library
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qzSharedInitializeLogger), &info), 0);
    const std::string path = info.dli_fname;
    EXPECT_EQ(bridge.records[0].objectText, path.substr(path.rfind('/') + 1));
    EXPECT_EQ(bridge.records[0].objectText.rfind("libqz-shared-qzbios.so", 0), 0u);
}

// Each reader, and the writer, either fails cleanly or delivers exactly what it delivers with
// memory to spare; a sweep checks that nothing leaks.
TEST(ClientAllocationSweep, ReadersAndTheWriterFailCleanlyOrDeliverEverything) {
    const std::string capture = QZBIOS_SAMPLE_CAPTURE;
    const std::string tree = QZBIOS_FIRMWARE_FIXTURE;
    const std::string written = ::testing::TempDir() + "qzbios-sweep.json";
    Rows sample;
    Rows fixture;
    std::vector<std::string> devices;
    std::string error;
    ASSERT_TRUE(qz::shared::wmi::LoadCaptureFile(capture, sample, error));
    ASSERT_TRUE(qz::shared::wmi::ReadFirmwareAttributes(tree, fixture, devices));
    const auto sweep = [](const char* what, const Rows& expected, auto read) {
        const std::size_t points = qz::test::SweepAllocations(what, [&](std::size_t n) {
            Rows rows;
            const bool delivered = read(rows);
            qz::test::FailNthAllocation(0);
            EXPECT_EQ(rows, delivered ? expected : Rows()) << what << " at allocation " << n;
        });
        EXPECT_GT(points, 30u) << what;
    };
    sweep("capture file", sample, [&](Rows& rows) {
        std::string message;
        return qz::shared::wmi::LoadCaptureFile(capture, rows, message);
    });
    sweep("firmware-attributes tree", fixture, [&](Rows& rows) {
        std::vector<std::string> found;
        return qz::shared::wmi::ReadFirmwareAttributes(tree, rows, found) && found == devices;
    });
    sweep("capture writer", sample, [&](Rows& rows) {
        std::string message;
        const bool ok = qz::shared::wmi::WriteCaptureFile(written, sample, message);
        qz::test::FailNthAllocation(0);
        return ok && qz::shared::wmi::LoadCaptureFile(written, rows, message);
    });
}

}  // namespace
