// The installed shape: a host that links the shared library and its WMI client, with a plog logger
// 0 of its own; memory running out at every allocation of the client's readers and writer; and
// what the stand-in client answers that committed files cannot show (capture files and trees are
// tested through qzbios-dump, in CMakeLists.txt).
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <plog/Init.h>

#include <gtest/gtest.h>

#include "CaptureFile.h"
#include "SettingsSource.h"
#include "WbemStatus.h"
#include "qzbios/QZBios.h"
#include "support/AllocationSweep.h"
#include "support/RecordingAppender.h"

namespace qz::shared::wmi {
namespace {

using Rows = std::vector<CaptureRow>;

TEST(SharedLibrary, KeepsItsLoggerApartFromTheHostsLogger) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    test::RecordingAppender hostLog;
    plog::init(plog::verbose, &hostLog);
    test::RecordingAppender bridge;
    qzSharedInitializeLogger(plog::error, &bridge);
    // Fail allocations one after another until one is absorbed by the name map, which logs it.
    for (std::size_t n = 1; bridge.records.empty(); ++n) {
        test::FailNthAllocation(n);
        try {
            qzbios::QZBios bios;
        } catch (const std::bad_alloc&) {
        }
        test::FailNthAllocation(0);
        ASSERT_TRUE(test::AllocationFailureFired()) << "no failure reached the name map";
    }
    EXPECT_TRUE(hostLog.records.empty()) << "the library wrote to the host's logger 0";
    ASSERT_EQ(bridge.records.size(), 1u);
    const test::RecordCopy& record = bridge.records[0];
    EXPECT_EQ(record.severity, plog::error);
    EXPECT_EQ(record.function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
    EXPECT_EQ(record.line, 50u);
    EXPECT_EQ(record.message,
              PLOG_NSTR("Exception: in QZBiosUtild MapOfBiosAttribute std::bad_alloc"));
    Dl_info info{};  // the component name is the file name of the loaded library
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qzSharedInitializeLogger), &info), 0);
    const std::string path = info.dli_fname;
    EXPECT_EQ(record.objectText, path.substr(path.rfind('/') + 1));
    EXPECT_EQ(record.objectText.rfind("libqz-shared-qzbios.so", 0), 0u);
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
    ASSERT_TRUE(LoadCaptureFile(capture, sample, error));
    ASSERT_TRUE(ReadFirmwareAttributes(tree, fixture, devices));
    const auto sweep = [](const char* what, const Rows& expected, auto read) {
        const std::size_t points = test::SweepAllocations(what, [&](std::size_t n) {
            Rows rows;
            const bool delivered = read(rows);
            test::FailNthAllocation(0);
            EXPECT_EQ(rows, delivered ? expected : Rows()) << what << " at allocation " << n;
        });
        EXPECT_GT(points, 30u) << what;
    };
    sweep("capture file", sample, [&](Rows& rows) {
        std::string message;
        return LoadCaptureFile(capture, rows, message);
    });
    sweep("firmware-attributes tree", fixture, [&](Rows& rows) {
        std::vector<std::string> found;
        return ReadFirmwareAttributes(tree, rows, found) && found == devices;
    });
    sweep("capture writer", sample, [&](Rows& rows) {
        std::string message;
        const bool ok = WriteCaptureFile(written, sample, message);
        test::FailNthAllocation(0);
        return ok && LoadCaptureFile(written, rows, message);
    });
}

TEST(StandInClient, AFifoForAFileIsUnreadableAndNeverBlocks) {
    const std::filesystem::path dir = ::testing::TempDir() + "qzbios-fifo/dev/attributes/Fifo";
    std::filesystem::create_directories(dir);
    ASSERT_EQ(mkfifo((dir / "current_value").c_str(), 0600), 0);
    Rows rows;
    std::vector<std::string> devices;
    EXPECT_TRUE(ReadFirmwareAttributes(::testing::TempDir() + "qzbios-fifo", rows, devices));
    EXPECT_EQ(rows, (Rows{{std::string("Fifo"), std::nullopt}}));
    std::filesystem::remove_all(::testing::TempDir() + "qzbios-fifo");
}

TEST(StandInClient, AnswersTheWholeNamespaceQueryAndPropertyNamesOnly) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    const std::wstring ns = L"\\\\.\\root\\QZ\\InstrumentedBios";
    const std::wstring query = L"SELECT * FROM QZ_BIOSSetting";
    const std::tuple<std::wstring, std::wstring, std::int32_t> cases[] = {
        {ns, query, kWbemOk},
        {L"\\\\.\\ROOT\\qz\\instrumentedBIOS", L"select * from qz_biossetting", kWbemOk},
        {ns.substr(0, ns.size() - 1), query, kWbemInvalidNamespace},
        {ns + L"2", query, kWbemInvalidNamespace},
        {ns, query.substr(0, query.size() - 1), kWbemInvalidQuery},
        {ns, query + L"s", kWbemInvalidQuery},
    };
    for (const auto& [space, text, status] : cases) {
        WMIClient client(space);
        EXPECT_EQ(client.Query(text), status);
        EXPECT_EQ(client.GetNext(), status == kWbemOk);
    }
    WMIClient client(ns);
    client.Query(query);
    ASSERT_TRUE(client.GetNext());
    const char* text = nullptr;
    EXPECT_EQ(client.GetValue(L"NAME", &text), kWbemOk);
    EXPECT_STREQ(text, "Runtime Power Management");
    for (const wchar_t* property : {L"Nam", L"Names", L"Valu", L"Values"}) {
        EXPECT_EQ(client.GetValue(property, &text), kWbemNotFound);
        EXPECT_EQ(text, nullptr);
    }
    setenv("QZ_WMI_CAPTURE", QZBIOS_BAD_CAPTURE, 1);
    EXPECT_EQ(client.Query(query), kWbemFailed);
    EXPECT_FALSE(client.GetNext());
}

}  // namespace
}  // namespace qz::shared::wmi
