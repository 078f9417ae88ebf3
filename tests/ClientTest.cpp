// The WMI client of systems without WMI: memory running out at every allocation of its readers and
// its writer, and the names the stand-in client answers to. Capture files and trees are tested
// through qzbios-dump (CMakeLists.txt).
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureFile.h"
#include "SettingsSource.h"
#include "WbemStatus.h"
#include "support/AllocationSweep.h"

namespace qz::shared::wmi {
namespace {

using Rows = std::vector<CaptureRow>;

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
    UnreadableValues unreadable;
    ASSERT_TRUE(ReadFirmwareAttributes(tree, fixture, devices, unreadable));
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
        return ReadFirmwareAttributes(tree, rows, found, unreadable) && found == devices;
    });
    sweep("capture writer", sample, [&](Rows& rows) {
        std::string message;
        const bool ok = WriteCaptureFile(written, sample, message);
        test::FailNthAllocation(0);
        return ok && LoadCaptureFile(written, rows, message);
    });
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
    // A capture the client cannot read fails the query; one that is not a regular file (a FIFO that
    // nobody writes) is refused at once rather than waited for.
    const std::string fifo = ::testing::TempDir() + "qzbios-capture-fifo";
    mkfifo(fifo.c_str(), 0600);
    for (const std::string& capture : {std::string("/nonexistent.json"), fifo}) {
        setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
        EXPECT_EQ(client.Query(query), kWbemFailed) << capture;
        EXPECT_FALSE(client.GetNext());
    }
}

// A current_value that exists but cannot be read is counted by its reason; a missing one is not.
TEST(AttributeRow, CountsCurrentValuesThatCannotBeRead) {
    UnreadableValues unreadable;
    for (const int error : {EINVAL, EIO, EINVAL, ENOENT}) {
        const CaptureRow row = AttributeRow(
            "Setting",
            [error](const char* file) {
                errno = std::string(file) == "current_value" ? error : ENOENT;
                return std::optional<std::string>();
            },
            unreadable);
        EXPECT_EQ(row, (CaptureRow{std::string("Setting"), std::nullopt}));
    }
    EXPECT_EQ(unreadable, (UnreadableValues{{"Invalid argument", 2}, {"Input/output error", 1}}));
}

}  // namespace
}  // namespace qz::shared::wmi
