#include "bios/QZBiosUtils.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/FakeWMIClient.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeRow;
using test::FakeWmi;

// Parameterised cases are named by their first member.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

struct OptionCase {
    const char* name;
    const char* raw;
    bool trimSuffix;
    const char* expected;
};

class GetSelectedOption : public ::testing::TestWithParam<OptionCase> {};

TEST_P(GetSelectedOption, TakesTheFirstMarkedOptionOrTheWholeValue) {
    EXPECT_EQ(QZBiosUtils::GetSelectedOption(GetParam().raw, GetParam().trimSuffix),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetSelectedOption,
                         ::testing::ValuesIn(std::vector<OptionCase>{
                             {"SecondMarked", "Disable,*Enable", false, "Enable"},
                             {"FirstMarked", "*Disable,Enable", false, "Disable"},
                             {"NoneMarked", "Disable,Enable", false, "Disable,Enable"},
                             {"BlankHidesMarker", "Disable, *Enable", false, "Disable, *Enable"},
                             {"FirstOfTwoMarked", "*Low,*High", false, "Low"},
                             {"LeadingComma", ",*On", false, "On"},
                             {"TwoLeadingCommas", ",,*On", false, "On"},
                             {"MarkerAlone", "Off,*", false, ""},
                             {"Empty", "", false, ""},
                             {"TrailingComma", "a,b,", false, "a,b,"},
                             {"MarkerLaterInOption", "x*,y", false, "x*,y"},
                             {"AnyBytes", "\xff*,*\xfe\x80", false, "\xfe\x80"},
                             {"TrimDropsThreeBytes", "32 MB,*128 MB", true, "128"},
                             {"TrimLeavesTwoBytes", "*8", true, "8"},
                             {"TrimLeavesMarkerAlone", "*", true, ""},
                             {"TrimOnlyTheMarked", "64 MB", true, "64 MB"},
                         }),
                         CaseName<OptionCase>);

TEST(GetSelectedOptionTrim, AThreeByteOptionLeavesNoMarkerAndThrows) {
    EXPECT_THROW(QZBiosUtils::GetSelectedOption("1,*64,128", true), std::out_of_range);
}

TEST(ReplaceCommasWithPipes, ReplacesEveryCommaAndEmptiesTheInput) {
    std::string value = ",Disk,USB,,Network,";
    EXPECT_EQ(QZBiosUtils::ReplaceCommasWithPipes(std::move(value)), "|Disk|USB||Network|");
    EXPECT_TRUE(value.empty());  // NOLINT(bugprone-use-after-move): the operation promises it
}

// One snapshot over the scripted client serving `rows`; it must hold exactly 31 keys.
BiosAttributeMap Snapshot(std::vector<FakeRow> rows, std::vector<BiosAttributeMap> list = {}) {
    FakeWmi() = {};
    FakeWmi().rows = std::move(rows);
    const std::size_t before = list.size();
    QZBiosUtils().CollectBiosAttributes(list);
    EXPECT_EQ(list.size(), before + 1);
    EXPECT_EQ(list.back().size(), 31u);
    return list.back();
}

struct AttributeRow {
    const char* name;  // the result key
    const char* lookupKey;
    const char* setting;
    std::size_t limit;  // 0: never cut
    bool pipes = false;
    bool trimSuffix = false;
};

class AttributeTable : public ::testing::TestWithParam<AttributeRow> {};

TEST_P(AttributeTable, ReadsItsSettingCutsAtItsLimitAndPipesOnlyBootOrders) {
    const AttributeRow& row = GetParam();
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute(row.lookupKey), row.setting);
    // Unmarked, so taken whole: one byte longer than the limit, with a comma.
    const std::string raw = "a," + std::string(row.limit == 0 ? 5000 : row.limit - 1, 'b');
    std::string expected = raw.substr(0, row.limit == 0 ? raw.size() : row.limit);
    expected[1] = row.pipes ? '|' : ',';
    EXPECT_EQ(Snapshot({{row.setting, raw}}).at(row.name), expected);
    EXPECT_EQ(Snapshot({{row.setting, "Off,*On MB,x"}}).at(row.name),
              row.trimSuffix ? "On" : "On MB");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AttributeTable,
    ::testing::ValuesIn(std::vector<AttributeRow>{
        {"RunPowMgmt", "RunPowMgt", "Runtime Power Management", 16},
        {"IdlPowSvngs", "IdlPowSvngs", "Idle Power Savings", 16},
        {"PS2MsWakeup", "PS2MsWakeup", "ACPI S3 PS2 Mouse Wake Up", 16},
        {"SlpStBlnkRts", "SlpStBlnkRts", "Unique Sleep State Blink Rates", 16},
        {"S5MaxPowSav", "S5MaxPowSav", "S5 Maximum Power Savings", 16},
        {"SataPowMgmt", "SataPowMgmt", "SATA Power Management", 16},
        {"Multiprocessor", "Multiprocessor", "Multi-processor", 16},
        {"Hyperthreading", "Hyperthreading", "Hyperthreading", 16},
        {"IntgVideo", "IntgVideo", "Integrated Video", 16},
        {"TurboMode", "TurboMode", "Turbo-boost", 16},
        {"VTX", "VTX", "Virtualization Technology (VTx)", 16},
        {"MeFwVer", "MeFwVer", "ME Firmware Version", 32},
        {"MEMgmtMd", "MEMgmtMd", "Active Management (AMT)", 16},
        {"BIOAPS", "BIOSAPS", "Setup Password", 0},
        {"POSTPS", "POSTPS", "Power-On Password", 0},
        {"RBIOSDGU", "RBIOSDGU", "Ready BIOS for Device Guard User", 64},
        {"FastBoot", "FastBoot", "Fast Boot", 16},
        {"USBSBoot", "USBSBoot", "USB Storage Boot", 16},
        {"NetPXEBoot", "NetPXEBoot", "Network (PXE) Boot", 16},
        {"LBO", "LBO", "Legacy Boot Order", 1024, true},
        {"UEFIBO", "UEFIBO", "UEFI Boot Order", 1024, true},
        {"BWBIOSSP", "BWBIOSSP", "Brimwatch BIOS Settings Protection", 16},
        {"EQZFIPD", "EQZFIPD", "Enhanced QZ Firmware Runtime Intrusion Prevention and Detection",
         16},
        {"BWSEP", "BWSEP", "Brimwatch Security Event Policy", 16},
        {"VTD", "VTD", "Virtualization Technology for Directed I/O (VTd)", 16},
        {"FASTCHARGE", "FASTCHARGE", "Fast Charge", 16},
        {"DPTF", "DPTF", "Dynamic Platform and Thermal Framework (DPTF)", 16},
        {"VMS", "VMS", "Video Memory Size", 0, false, true},
        {"BHM", "BHM", "Battery Health Manager", 128},
        {"LANWLANswitching", "LANWLANswitching", "LAN / WLAN Auto Switching", 16},
        {"LANWWANswitching", "LANWWANswitching", "LAN / WWAN Auto Switching", 16},
    }),
    CaseName<AttributeRow>);

TEST(MapOfBiosAttribute, KnowsOnlyItsExactKeys) {
    for (const char* key : {"RunPowMgmt", "BIOAPS", "", "vtx", "Fastboot", "VTX ", "VT"}) {
        EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute(key), "") << '"' << key << '"';
    }
}

TEST(CollectBiosAttributes, NoSettingsGiveEveryKeyEmptyAndAppendAtTheEnd) {
    std::vector<BiosAttributeMap> list(2, BiosAttributeMap{{"kept", "yes"}});
    for (const auto& [key, value] : Snapshot({}, list)) {
        EXPECT_EQ(value, "") << key;
    }
}

TEST(CollectBiosAttributes, AThreeByteVideoMemoryOptionFailsAndAppendsNothing) {
    FakeWmi() = {};
    FakeWmi().rows = {{"Fast Boot", "*On"}, {"Video Memory Size", "32 MB,*64"}};
    std::vector<BiosAttributeMap> list(1, BiosAttributeMap{{"kept", "yes"}});
    EXPECT_THROW(QZBiosUtils().CollectBiosAttributes(list), std::out_of_range);
    EXPECT_EQ(list, (std::vector<BiosAttributeMap>(1, BiosAttributeMap{{"kept", "yes"}})));
}

TEST(QueryBiosSettings, CallsTheClientInOrderAndStoresEachRowByExactName) {
    FakeWmi() = {};
    FakeWmi().rows = {{"Fast Boot", "*Disable,Enable"},
                      {"fast boot", "lower"},
                      {"Fast Boot", "Disable,*Enable"},
                      {"", "empty name"},
                      {"Empty Value", ""},
                      {"Other", "new"},
                      {std::nullopt, "*Orphan"},  // skipped: the Name cannot be read
                      {"Unreadable", std::nullopt},
                      {std::string("Na\0me", 5), std::string("*A\0B", 4)}};
    BiosSettingMap settings{{"Existing", "stays"}, {"Other", "old"}};
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_EQ(settings, (BiosSettingMap{{"", "empty name"},
                                        {"Empty Value", ""},
                                        {"Existing", "stays"},
                                        {"Fast Boot", "Disable,*Enable"},
                                        {"Na", "*A"},
                                        {"Other", "new"},
                                        {"Unreadable", ""},
                                        {"fast boot", "lower"}}));
    std::vector<std::string> calls = {"WMIClient(\\\\.\\root\\QZ\\InstrumentedBios)",
                                      "Query(SELECT * FROM QZ_BIOSSetting)"};
    for (int row = 0; row < 9; ++row) {
        calls.insert(calls.end(), {"GetNext", "GetValue(Name)", "GetValue(Value)"});
    }
    calls.insert(calls.end(), {"GetNext", "~WMIClient"});
    EXPECT_EQ(FakeWmi().calls, calls);
}

TEST(QueryBiosSettings, NoRowsLeaveTheMapAsItWas) {
    for (const std::int32_t status : {0, -2147217394}) {
        FakeWmi() = {};
        FakeWmi().queryStatus = status;
        BiosSettingMap settings{{"Kept", "*Yes"}};
        QZBiosUtils::QueryBiosSettings(settings);
        EXPECT_EQ(FakeWmi().calls.size(), 4u);  // constructed, queried, one GetNext, destroyed
        EXPECT_EQ(settings, (BiosSettingMap{{"Kept", "*Yes"}}));
    }
}

}  // namespace
}  // namespace qz::shared::qzbios
