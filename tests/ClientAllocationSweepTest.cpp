// Memory running out at every allocation of the capture-replaying WMI client in turn: its readers
// report the failure or deliver exactly what they deliver with memory to spare, and nothing leaks
// or escapes as an exception.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureFile.h"
#include "SettingsSource.h"
#include "support/AllocationFailure.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {
namespace {

using qz::test::AllocationFailureFired;
using qz::test::FailNthAllocation;
using Rows = std::vector<CaptureRow>;

// Runs `attempt` with allocation n failing, for n = 1, 2, ... until it runs with no failure.
// `attempt` returns true when it delivered the full result and false when it reported a failure;
// a full result despite a failure is only right when the reader did not need that allocation, so
// both are accepted, but the unfailed run must deliver. Returns the number of failure points.
std::size_t Sweep(const char* what, const std::function<bool()>& attempt) {
    std::size_t points = 0;
    for (std::size_t n = 1;; ++n) {
        const std::size_t live = qz::test::LiveAllocations();
        bool delivered = false;
        FailNthAllocation(n);
        try {
            delivered = attempt();
        } catch (...) {
            FailNthAllocation(0);
            ADD_FAILURE() << what << ": an exception escaped at allocation " << n;
            return points;
        }
        FailNthAllocation(0);
        EXPECT_EQ(qz::test::LiveAllocations(), live) << what << ": leak at allocation " << n;
        if (!AllocationFailureFired()) {
            EXPECT_TRUE(delivered) << what;
            break;
        }
        ++points;
    }
    std::printf("%s: swept %zu allocation failure points\n", what, points);
    return points;
}

// The rows the client delivers for the BIOS settings query, as the library reads them; false when
// the query fails.
bool QueryRows(Rows& rows) {
    // The arguments are the caller's allocations, made once outside the sweep.
    static const std::wstring ns = L"\\\\.\\root\\QZ\\InstrumentedBios";
    static const std::wstring query = L"SELECT * FROM QZ_BIOSSetting";
    static const std::wstring nameProperty = L"Name";
    static const std::wstring valueProperty = L"Value";
    rows.clear();
    WMIClient client(ns);
    if (client.Query(query) < 0) {
        return false;
    }
    while (client.GetNext()) {
        const char* name = nullptr;
        const char* value = nullptr;
        const bool hasName = client.GetValue(nameProperty, &name) >= 0 && name != nullptr;
        const bool hasValue = client.GetValue(valueProperty, &value) >= 0 && value != nullptr;
        // Copying out what the client returned is the test's work, not the client's.
        const qz::test::AllocationFailureHold hold;
        CaptureRow& row = rows.emplace_back();
        if (hasName) {
            row.name = name;
        }
        if (hasValue) {
            row.value = value;
        }
    }
    return true;
}

// Each case: what it reads, and an attempt that yields the rows.
struct ReaderCase {
    const char* what;
    std::function<bool(Rows&)> read;
};

class ClientAllocationSweep : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ClientAllocationSweep, FailsCleanlyOrDeliversEverything) {
    const ReaderCase& reader = GetParam();
    Rows reference;
    ASSERT_TRUE(reader.read(reference));
    ASSERT_GT(reference.size(), 5u);
    Rows rows;
    const std::size_t points = Sweep(reader.what, [&] {
        // The rows are built while memory may fail, and compared once it cannot.
        const bool delivered = reader.read(rows);
        FailNthAllocation(0);
        if (delivered) {
            EXPECT_EQ(rows, reference) << reader.what << " delivered altered rows";
        }
        rows.clear();
        rows.shrink_to_fit();
        return delivered;
    });
    EXPECT_GT(points, reference.size());
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ClientAllocationSweep,
    ::testing::Values(ReaderCase{"capture file",
                                 [](Rows& rows) {
                                     static const std::string path = QZBIOS_SAMPLE_CAPTURE;
                                     std::string error;
                                     return LoadCaptureFile(path, rows, error);
                                 }},
                      ReaderCase{"firmware-attributes tree",
                                 [](Rows& rows) {
                                     static const std::string root = QZBIOS_FIRMWARE_FIXTURE;
                                     std::vector<std::string> devices;
                                     return ReadFirmwareAttributes(root, rows, devices) &&
                                            devices.size() == 2;
                                 }},
                      ReaderCase{"client replaying a capture",
                                 [](Rows& rows) {
                                     setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
                                     return QueryRows(rows);
                                 }},
                      ReaderCase{"client reading firmware attributes",
                                 [](Rows& rows) {
                                     unsetenv("QZ_WMI_CAPTURE");
                                     setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", QZBIOS_FIRMWARE_FIXTURE,
                                            1);
                                     return QueryRows(rows);
                                 }}),
    [](const ::testing::TestParamInfo<ReaderCase>& param) {
        std::string name;
        for (const char* c = param.param.what; *c != '\0'; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST(ClientAllocationSweep, WritingACaptureFailsCleanly) {
    Rows rows;
    std::string error;
    ASSERT_TRUE(LoadCaptureFile(QZBIOS_SAMPLE_CAPTURE, rows, error)) << error;
    const std::string path =
        ::testing::TempDir() + "qzbios-sweep-" + std::to_string(getpid()) + ".json";
    const std::size_t points = Sweep("capture writer", [&] {
        std::string message;
        const bool written = WriteCaptureFile(path, rows, message);
        FailNthAllocation(0);
        EXPECT_TRUE(written || !message.empty());
        return written;
    });
    Rows back;
    EXPECT_TRUE(LoadCaptureFile(path, back, error)) << error;
    EXPECT_EQ(back, rows);
    std::remove(path.c_str());
    EXPECT_GT(points, 0u);
}

}  // namespace
}  // namespace qz::shared::wmi
