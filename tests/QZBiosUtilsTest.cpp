// The snapshot's rules. The attribute table itself, a row a setting with its name, limit, pipes and
// trim, is tested through qzbios-dump over tests/data/captures/attribute-*.json.
#include "bios/QZBiosUtils.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/FakeWMIClient.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeWmi;

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
                         [](const auto& c) { return std::string(c.param.name); });

TEST(GetSelectedOptionTrim, AThreeByteOptionLeavesNoMarkerAndThrows) {
    EXPECT_THROW(QZBiosUtils::GetSelectedOption("1,*64,128", true), std::out_of_range);
}

TEST(ReplaceCommasWithPipes, ReplacesEveryCommaAndEmptiesTheInput) {
    std::string value = ",Disk,USB,,Network,";
    EXPECT_EQ(QZBiosUtils::ReplaceCommasWithPipes(std::move(value)), "|Disk|USB||Network|");
    EXPECT_TRUE(value.empty());  // NOLINT(bugprone-use-after-move): the operation promises it
}

TEST(MapOfBiosAttribute, KnowsOnlyItsExactKeys) {
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("RunPowMgt"), "Runtime Power Management");
    for (const char* key : {"RunPowMgmt", "BIOAPS", "", "vtx", "Fastboot", "VTX ", "VT"}) {
        EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute(key), "") << '"' << key << '"';
    }
}

TEST(CollectBiosAttributes, AppendsAllKeysEmptyWithoutSettingsAndNothingOnFailure) {
    FakeWmi() = {};
    std::vector<BiosAttributeMap> list(2, BiosAttributeMap{{"kept", "yes"}});
    QZBiosUtils().CollectBiosAttributes(list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1], (BiosAttributeMap{{"kept", "yes"}}));
    EXPECT_EQ(list[2].size(), 31u);
    for (const auto& [key, value] : list[2]) {
        EXPECT_EQ(value, "") << key;
    }
    FakeWmi().rows = {{"Fast Boot", "*On"}, {"Video Memory Size", "32 MB,*64"}};
    EXPECT_THROW(QZBiosUtils().CollectBiosAttributes(list), std::out_of_range);
    EXPECT_EQ(list.size(), 3u);
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

    FakeWmi() = {};
    FakeWmi().queryStatus = -2147217394;  // a failed query yields no rows
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_EQ(FakeWmi().calls.size(), 4u);  // constructed, queried, one GetNext, destroyed
    EXPECT_EQ(settings.size(), 8u);
}

}  // namespace
}  // namespace qz::shared::qzbios
