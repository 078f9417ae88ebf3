// The WMI client of systems without WMI: the names it answers to, and a capture it never waits on.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "common/WbemStatus.h"
#include "support/ScratchFolder.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {
namespace {

using namespace common;  // the WBEM statuses

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
    const test::ScratchFolder scratch;
    const std::string fifo = scratch / "fifo";
    mkfifo(fifo.c_str(), 0600);
    for (const std::string& capture : {std::string("/nonexistent.json"), fifo}) {
        setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
        EXPECT_EQ(client.Query(query), kWbemFailed) << capture;
        EXPECT_FALSE(client.GetNext());
    }
    // Without a capture the tree answers; a folder without devices is a namespace that does not
    // exist, and a variable set but empty names nothing.
    unsetenv("QZ_WMI_CAPTURE");
    for (const auto& [root, status] :
         {std::pair{QZBIOS_FIRMWARE_FIXTURE, kWbemOk}, std::pair{"/nonexistent", kWbemFailed},
          std::pair{"", kWbemFailed}, std::pair{"/", kWbemInvalidNamespace}}) {
        setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", root, 1);
        EXPECT_EQ(client.Query(query), status) << root;
        EXPECT_EQ(client.GetNext(), status == kWbemOk) << root;
    }
    unsetenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
}

// A capture's name swapped between a file and a FIFO while queries read it: every query returns,
// with the file's rows or refused, never waiting on the FIFO (ctest's timeout is the deadline).
TEST(StandInClient, NeverWaitsOnACaptureSwappedForAFifo) {
    const test::ScratchFolder scratch;
    const std::string& dir = scratch.Path();
    mkfifo((dir + "/fifo").c_str(), 0600);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool file = true; !stop; file = !file) {
            unlink((dir + "/next").c_str());
            symlink(file ? QZBIOS_SAMPLE_CAPTURE : "fifo", (dir + "/next").c_str());
            rename((dir + "/next").c_str(), (dir + "/capture").c_str());
        }
    });
    setenv("QZ_WMI_CAPTURE", (dir + "/capture").c_str(), 1);
    std::size_t read = 0;
    for (int i = 0; i < 300; ++i) {
        WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
        const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
        EXPECT_TRUE(status == kWbemOk || status == kWbemFailed) << status;
        read += status == kWbemOk ? 1 : 0;
    }
    stop = true;
    swapper.join();
    unsetenv("QZ_WMI_CAPTURE");
    std::printf("%zu of 300 queries read the file\n", read);
}

}  // namespace
}  // namespace qz::shared::wmi
