// The COM client against the machine's own WMI: text properties as UTF-8, whatever apartment the
// host put the thread in, leaving the host's COM as it was; and what cannot be read.
#include <windows.h>

#include <objbase.h>

#include <string>
#include <thread>

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

// On a thread of its own whose COM the host set up as `model` (or not at all, 0): the Name of a
// folder whose name is not ASCII reads as its UTF-8 bytes, and afterwards the thread is in the
// host's apartment still, or in none.
TEST(WMIClientWindows, ReadsUtf8InAnyApartmentAndLeavesTheHostsComAsItWas) {
    CreateDirectoryW(L"C:\\windows\\temp\\qzbios-\u00fc\u20ac", nullptr);
    for (const DWORD model : {DWORD{COINIT_APARTMENTTHREADED}, DWORD{COINIT_MULTITHREADED}, 0ul}) {
        std::thread([model] {
            ASSERT_EQ(model == 0 ? S_OK : CoInitializeEx(nullptr, model), S_OK);
            {
                WMIClient client(L"\\\\.\\root\\cimv2");
                EXPECT_EQ(client.Query(L"SELECT * FROM Win32_Directory WHERE Name = "
                                       L"'C:\\\\windows\\\\temp\\\\qzbios-\u00fc\u20ac'"),
                          0);
                ASSERT_TRUE(client.GetNext()) << "model " << model;
                const char* name = nullptr;
                EXPECT_EQ(client.GetValue(L"Name", &name), 0);
                EXPECT_STREQ(name, "C:\\\\windows\\\\temp\\\\qzbios-\xc3\xbc\xe2\x82\xac");
            }
            const DWORD again = model == 0 ? DWORD{COINIT_MULTITHREADED} : model;
            EXPECT_EQ(CoInitializeEx(nullptr, again), model == 0 ? S_OK : S_FALSE) << model;
            CoUninitialize();
            if (model != 0) {
                CoUninitialize();
            }
        }).join();
    }
}

}  // namespace
}  // namespace qz::shared::wmi
