// The COM client against the machine's own WMI.
#include <string>

#include <gtest/gtest.h>

#include "wmi/WMIClient.h"

namespace qz::shared::wmi {
namespace {

TEST(WMIClientWindows, ReadsTextPropertiesOfARealClass) {
    WMIClient client(L"\\\\.\\root\\cimv2");
    ASSERT_EQ(client.Query(L"SELECT * FROM Win32_BIOS"), 0);
    ASSERT_TRUE(client.GetNext());
    const char* manufacturer = nullptr;
    EXPECT_EQ(client.GetValue(L"Manufacturer", &manufacturer), 0);
    ASSERT_NE(manufacturer, nullptr);
    EXPECT_FALSE(std::string(manufacturer).empty());
    std::printf("Win32_BIOS.Manufacturer: %s\n", manufacturer);

    // A property that does not exist, one that is not a string, and any after the last row cannot
    // be read.
    auto expectUnreadable = [&client](const wchar_t* property) {
        const char* text = "stale";
        EXPECT_NE(client.GetValue(property, &text), 0);
        EXPECT_EQ(text, nullptr);
    };
    expectUnreadable(L"NoSuchProperty");
    expectUnreadable(L"SMBIOSMajorVersion");
    while (client.GetNext()) {
    }
    expectUnreadable(L"Manufacturer");
}

TEST(WMIClientWindows, AMissingNamespaceFailsTheQuery) {
    WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
    EXPECT_LT(client.Query(L"SELECT * FROM QZ_BIOSSetting"), 0);
    EXPECT_FALSE(client.GetNext());
    const char* value = nullptr;
    EXPECT_NE(client.GetValue(L"Name", &value), 0);
    EXPECT_EQ(value, nullptr);
}

TEST(WMIClientWindows, AQueryForAnUnknownClassYieldsNoRow) {
    // Queries return immediately: WMI may report the unknown class from Query or only from the
    // first Next, so only the absence of rows is certain.
    WMIClient client(L"\\\\.\\root\\cimv2");
    client.Query(L"SELECT * FROM No_Such_Class_Anywhere");
    EXPECT_FALSE(client.GetNext());
}

}  // namespace
}  // namespace qz::shared::wmi
