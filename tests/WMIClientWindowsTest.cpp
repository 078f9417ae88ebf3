// The COM client against the machine's own WMI, and against a namespace that does not exist.
#include <string>

#include <gtest/gtest.h>

#include "wmi/WMIClient.h"

namespace qz::shared::wmi {
namespace {

// A property that does not exist, one that is not a string, and any after the last row cannot be
// read; nor can anything of a query in a missing namespace.
void ExpectUnreadable(WMIClient& client, const wchar_t* property) {
    const char* text = "stale";
    EXPECT_NE(client.GetValue(property, &text), 0) << property;
    EXPECT_EQ(text, nullptr);
}

TEST(WMIClientWindows, ReadsTextPropertiesOfARealClassOnly) {
    WMIClient client(L"\\\\.\\root\\cimv2");
    ASSERT_EQ(client.Query(L"SELECT * FROM Win32_BIOS"), 0);
    ASSERT_TRUE(client.GetNext());
    const char* manufacturer = nullptr;
    EXPECT_EQ(client.GetValue(L"Manufacturer", &manufacturer), 0);
    ASSERT_NE(manufacturer, nullptr);
    EXPECT_NE(std::string(manufacturer), "");
    ExpectUnreadable(client, L"NoSuchProperty");
    ExpectUnreadable(client, L"SMBIOSMajorVersion");
    while (client.GetNext()) {
    }
    ExpectUnreadable(client, L"Manufacturer");

    WMIClient missing(L"\\\\.\\root\\QZ\\InstrumentedBios");
    EXPECT_LT(missing.Query(L"SELECT * FROM QZ_BIOSSetting"), 0);
    EXPECT_FALSE(missing.GetNext());
    ExpectUnreadable(missing, L"Name");
}

}  // namespace
}  // namespace qz::shared::wmi
