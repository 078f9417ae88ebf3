#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bios/QZBiosUtils.h"
#include "support/FakeWMIClient.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeWmi;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class QueryBiosSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { FakeWmi() = {}; }
};

const char kConstruct[] = "WMIClient(\\\\.\\root\\QZ\\InstrumentedBios)";
const char kQuery[] = "Query(SELECT * FROM QZ_BIOSSetting)";

TEST_F(QueryBiosSettingsTest, CallsTheClientInOrderForEveryRow) {
    FakeWmi().rows = {{"A", "1"}, {"B", "2"}};
    BiosSettingMap settings;
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_THAT(FakeWmi().calls, ElementsAre(kConstruct, kQuery, "GetNext", "GetValue(Name)",
                                             "GetValue(Value)", "GetNext", "GetValue(Name)",
                                             "GetValue(Value)", "GetNext", "~WMIClient"));
    EXPECT_EQ(settings, (BiosSettingMap{{"A", "1"}, {"B", "2"}}));
}

TEST_F(QueryBiosSettingsTest, NoRowsLeavesTheMapAsItWas) {
    for (const std::int32_t status : {0, -2147217394}) {
        FakeWmi() = {};
        FakeWmi().queryStatus = status;
        BiosSettingMap settings{{"Kept", "*Yes"}};
        QZBiosUtils::QueryBiosSettings(settings);
        EXPECT_THAT(FakeWmi().calls, ElementsAre(kConstruct, kQuery, "GetNext", "~WMIClient"));
        EXPECT_EQ(settings, (BiosSettingMap{{"Kept", "*Yes"}}));
    }
}

TEST_F(QueryBiosSettingsTest, StoresRowsByExactName) {
    FakeWmi().rows = {{"Fast Boot", "*Disable,Enable"},
                      {"fast boot", "lower"},
                      {"Fast Boot", "Disable,*Enable"},
                      {"", "empty name"},
                      {"Empty Value", ""},
                      {"Other", "new"}};
    BiosSettingMap settings{{"Existing", "stays"}, {"Other", "old"}};
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_EQ(settings, (BiosSettingMap{{"", "empty name"},
                                        {"Empty Value", ""},
                                        {"Existing", "stays"},
                                        {"Fast Boot", "Disable,*Enable"},
                                        {"Other", "new"},
                                        {"fast boot", "lower"}}));
}

TEST_F(QueryBiosSettingsTest, UnreadablePropertiesNeverReachTheMap) {
    // A row whose Name cannot be read is skipped; a Value that cannot be read is empty. Neither
    // reuses the previous row's text.
    FakeWmi().rows = {{"First", "*One"}, {std::nullopt, "*Orphan"}, {"Second", std::nullopt}};
    BiosSettingMap settings;
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_EQ(settings, (BiosSettingMap{{"First", "*One"}, {"Second", ""}}));
    const std::vector<std::string> perRow = {"GetNext", "GetValue(Name)", "GetValue(Value)"};
    std::vector<std::string> expected = {kConstruct, kQuery};
    for (int i = 0; i < 3; ++i) {
        expected.insert(expected.end(), perRow.begin(), perRow.end());
    }
    expected.insert(expected.end(), {"GetNext", "~WMIClient"});
    EXPECT_THAT(FakeWmi().calls, ElementsAreArray(expected));
}

TEST_F(QueryBiosSettingsTest, CopiesUpToTheFirstNul) {
    FakeWmi().rows = {{std::string("Na\0me", 5), std::string("*A\0B", 4)}};
    BiosSettingMap settings;
    QZBiosUtils::QueryBiosSettings(settings);
    EXPECT_EQ(settings, (BiosSettingMap{{"Na", "*A"}}));
}

}  // namespace
}  // namespace qz::shared::qzbios
