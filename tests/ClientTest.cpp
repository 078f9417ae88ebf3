// The stand-in WMI client of systems without WMI: what a committed tree cannot hold, and the query
// it answers. Capture files and committed trees are tested through qzbios-dump (CMakeLists.txt).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "SettingsSource.h"
#include "WbemStatus.h"

namespace qz::shared::wmi {
namespace {

TEST(ReadFirmwareAttributes, AFifoForAFileIsUnreadableAndNeverBlocks) {
    const std::filesystem::path dir = ::testing::TempDir() + "qzbios-fifo/dev/attributes/Fifo";
    std::filesystem::create_directories(dir);
    ASSERT_EQ(mkfifo((dir / "current_value").c_str(), 0600), 0);
    std::vector<CaptureRow> rows;
    std::vector<std::string> devices;
    EXPECT_TRUE(ReadFirmwareAttributes(::testing::TempDir() + "qzbios-fifo", rows, devices));
    EXPECT_EQ(rows, (std::vector<CaptureRow>{{std::string("Fifo"), std::nullopt}}));
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
