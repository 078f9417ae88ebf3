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
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"
#include "wmi/WMIClient.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::wmi::CaptureRow;
using qz::test::Fields;

Fields ReadRecord() {
    QZBios bios;
    std::uint64_t count = 0;
    const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
    EXPECT_EQ(count, 1u);
    return qz::test::RecordFields(records[0]);
}

// The fields of `record` that are not empty (or 0), as "name=value" lines.
std::string SetFields(const Fields& record) {
    std::string text;
    for (const auto& [name, value] : record) {
        text += value.empty() || value == "0" ? "" : name + "=" + value + "\n";
    }
    return text;
}

TEST(SharedLibrary, ReadsACaptureOrTheFirmwareTreeAndNothingFromABadCapture) {
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", QZBIOS_FIRMWARE_FIXTURE, 1);
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    const std::string sample = SetFields(ReadRecord());
    for (const char* field :
         {"BIOAPS=1\n", "RBIOSDGU=Do Nothing\n", "VMS=64\n", "MeFwVer=16.1.30.2307\n",
          "UEFIBO=OS Boot Manager|USB:|NETWORK IPV4:Onboard Ethernet|NETWORK IPV6:Onboard "
          "Ethernet\n",
          "BHM=Let the system manage my battery charging\n"}) {
        EXPECT_NE(sample.find(field), std::string::npos) << field << "in\n" << sample;
    }
    setenv("QZ_WMI_CAPTURE", QZBIOS_BAD_CAPTURE, 1);
    EXPECT_EQ(SetFields(ReadRecord()), "NetPXEBoot=NA\n");
    unsetenv("QZ_WMI_CAPTURE");
    EXPECT_EQ(SetFields(ReadRecord()),
              "TurboMode=Auto\nVTX=Enable\nBIOAPS=1\nFastBoot=Disable\nNetPXEBoot=Enable\n"
              "UEFIBO=OS Boot Manager|USB:|NETWORK IPV4\nVMS=64\nMeFwVer=16.1.30.2307\n");
}

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
            QZBios bios;
        } catch (const std::bad_alloc&) {
        }
        qz::test::FailNthAllocation(0);
        ASSERT_TRUE(qz::test::AllocationFailureFired()) << "no failure reached the name map";
    }
    EXPECT_TRUE(hostLog.records.empty()) << "the library wrote to the host's logger 0";
    ASSERT_EQ(bridge.records.size(), 1u);
    EXPECT_EQ(bridge.records[0].function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
    // The component name is the file name of the loaded library.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qzSharedInitializeLogger), &info), 0);
    const std::string path = info.dli_fname;
    EXPECT_EQ(bridge.records[0].objectText, path.substr(path.rfind('/') + 1));
    EXPECT_EQ(bridge.records[0].objectText.rfind("libqz-shared-qzbios.so", 0), 0u);
}

using Rows = std::vector<CaptureRow>;

// Whether the client's rows for the settings query are `expected` (1), other rows (0) or none (-1).
// Compared as they come, since a row's texts last until the next call, and without allocating.
int QueryGives(const Rows& expected) {
    static const std::wstring ns = L"\\\\.\\root\\QZ\\InstrumentedBios";
    static const std::wstring query = L"SELECT * FROM QZ_BIOSSetting";
    static const std::wstring properties[] = {L"Name", L"Value"};
    qz::shared::wmi::WMIClient client(ns);
    client.Query(query);
    std::size_t row = 0;
    bool same = true;
    for (; client.GetNext(); ++row) {
        for (int p = 0; p < 2; ++p) {
            const char* text = nullptr;
            client.GetValue(properties[p], &text);
            const std::optional<std::string>* want =
                row < expected.size() ? (p == 0 ? &expected[row].name : &expected[row].value)
                                      : nullptr;
            same = same && want != nullptr && (text ? *want && **want == text : !*want);
        }
    }
    return row == 0 ? -1 : same && row == expected.size() ? 1 : 0;
}

// Each reader either fails cleanly or delivers exactly what it delivers with memory to spare.
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
    ASSERT_EQ(fixture.size(), 11u);
    const auto sweep = [&](const char* what, const Rows& expected, auto read) {
        EXPECT_GT(
            qz::test::SweepAllocations(
                what,
                [&](std::size_t n) {
                    Rows rows;
                    std::string message;
                    const bool delivered = read(rows, message);
                    qz::test::FailNthAllocation(0);
                    EXPECT_TRUE(delivered ? rows == expected : !message.empty() || rows.empty())
                        << what << " at allocation " << n;
                }),
            10u);
    };
    sweep("capture file", sample, [&](Rows& rows, std::string& message) {
        return qz::shared::wmi::LoadCaptureFile(capture, rows, message);
    });
    sweep("firmware-attributes tree", fixture, [&](Rows& rows, std::string& message) {
        std::vector<std::string> found;
        const bool read = qz::shared::wmi::ReadFirmwareAttributes(tree, rows, found);
        message = read ? "" : "failed";
        return read && found == devices;
    });
    sweep("capture writer", sample, [&](Rows& rows, std::string& message) {
        const bool ok = qz::shared::wmi::WriteCaptureFile(written, sample, message);
        qz::test::FailNthAllocation(0);
        return ok && qz::shared::wmi::LoadCaptureFile(written, rows, message);
    });
    setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
    // The stand-in client reports a failure as no rows.
    const auto query = [](const Rows& expected) {
        return [&expected](Rows& rows, std::string& /*message*/) {
            const int got = QueryGives(expected);
            qz::test::FailNthAllocation(0);
            EXPECT_NE(got, 0) << "the client delivered altered rows";
            rows = got == 1 ? expected : Rows();
            return got == 1;
        };
    };
    setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
    ASSERT_EQ(QueryGives(sample), 1);  // and its names are made, outside the sweep
    sweep("client replaying a capture", sample, query(sample));
    unsetenv("QZ_WMI_CAPTURE");
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", tree.c_str(), 1);
    ASSERT_EQ(QueryGives(fixture), 1);
    sweep("client reading firmware attributes", fixture, query(fixture));
}

}  // namespace
