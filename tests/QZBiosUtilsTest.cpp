#include "bios/QZBiosUtils.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "support/FakeWMIClient.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeRow;
using test::FakeWmi;
using test::FullSettings;

struct OptionCase {
    const char* raw;
    bool trimSuffix;
    const char* expected;
};

class GetSelectedOptionTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(GetSelectedOptionTest, SelectsTheFirstMarkedOption) {
    const OptionCase& c = GetParam();
    EXPECT_EQ(QZBiosUtils::GetSelectedOption(c.raw, c.trimSuffix), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetSelectedOptionTest,
    ::testing::Values(
        OptionCase{"Disable,*Enable", false, "Enable"},
        OptionCase{"*Disable,Enable", false, "Disable"}, OptionCase{"Enable", false, "Enable"},
        OptionCase{"Disable,Enable", false, "Disable,Enable"},
        OptionCase{"Disable, *Enable", false, "Disable, *Enable"},
        OptionCase{"*Low,*High", false, "Low"}, OptionCase{",,*On", false, "On"},
        OptionCase{"Off,*", false, ""}, OptionCase{"*", false, ""}, OptionCase{"", false, ""},
        OptionCase{"a,*b,", false, "b"}, OptionCase{"a,b,", false, "a,b,"},
        OptionCase{"x*,y", false, "x*,y"}, OptionCase{"\xff*,*\xfe\x80", false, "\xfe\x80"},
        OptionCase{"*64 MB", true, "64"}, OptionCase{"32 MB,*128 MB,256 MB", true, "128"},
        OptionCase{"*8", true, "8"}, OptionCase{"*", true, ""},
        OptionCase{"*64 MB", false, "64 MB"}, OptionCase{"64 MB", true, "64 MB"}));

TEST(GetSelectedOption, TrimmingAThreeByteOptionLeavesNoMarkerAndThrows) {
    EXPECT_THROW(QZBiosUtils::GetSelectedOption("*64", true), std::out_of_range);
    EXPECT_THROW(QZBiosUtils::GetSelectedOption("1,*64,128", true), std::out_of_range);
}

TEST(ReplaceCommasWithPipes, ReplacesEveryCommaAndEmptiesTheInput) {
    std::string value = ",Disk,USB,,Network,";
    EXPECT_EQ(QZBiosUtils::ReplaceCommasWithPipes(std::move(value)), "|Disk|USB||Network|");
    EXPECT_TRUE(value.empty());  // NOLINT(bugprone-use-after-move): the operation promises it
}

TEST(GetAttributeValue, CutsToMaxLengthBytes) {
    BiosSettingMap settings{{"Fast Boot", "123456789012345678"},
                            {"USB Storage Boot", "1234567890123456"},
                            {"Setup Password", std::string(5000, 'x')},
                            {"ME Firmware Version", "*" + std::string(40, '9')}};
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("FastBoot", false, 16, settings), "1234567890123456");
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("USBSBoot", false, 16, settings), "1234567890123456");
    EXPECT_EQ(
        QZBiosUtils::GetAttributeValue("BIOSAPS", false, QZBiosUtils::kNoLimit, settings).size(),
        5000u);
    // The cut applies to the selected option, not to the raw value.
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("MeFwVer", false, 32, settings), std::string(32, '9'));
}

TEST(GetAttributeValue, CutsBytesWithoutRegardToCharacters) {
    // "é" is two bytes in UTF-8; a cut at 16 bytes splits the last one.
    BiosSettingMap settings{{"Fast Boot",
                             "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3"
                             "\xa9\x41\xc3\xa9"}};
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("FastBoot", false, 16, settings),
              "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\x41\xc3");
}

TEST(GetAttributeValue, AnUnreportedSettingIsEmptyAndGainsAnEntry) {
    BiosSettingMap settings;
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("VTX", false, 16, settings), "");
    ASSERT_EQ(settings.count("Virtualization Technology (VTx)"), 1u);
    EXPECT_EQ(settings.at("Virtualization Technology (VTx)"), "");
}

TEST(GetAttributeValue, AnUnknownKeyReadsTheSettingWithTheEmptyName) {
    BiosSettingMap settings{{"", "*Surprise"}};
    EXPECT_EQ(QZBiosUtils::GetAttributeValue("NoSuchKey", false, 16, settings), "Surprise");
}

// Every key's setting name is checked through the full-machine snapshot below, which looks each
// one up under its exact published name.
TEST(MapOfBiosAttribute, NearMissesGiveTheEmptyName) {
    for (const char* key : {"RunPowMgmt", "BIOAPS", "", "vtx", "Fastboot", "VTX ", "VT",
                            "Runtime Power Management"}) {
        EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute(key), "") << '"' << key << '"';
    }
}

TEST(MapOfBiosAttribute, AMissLeavesNoTraceAndResultsAreIndependent) {
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("Nope"), "");
    std::string first = QZBiosUtils::MapOfBiosAttribute("FastBoot");
    const std::string second = QZBiosUtils::MapOfBiosAttribute("FastBoot");
    first[0] = 'L';
    EXPECT_EQ(second, "Fast Boot");
    EXPECT_EQ(QZBiosUtils::MapOfBiosAttribute("Nope"), "");
}

class CollectBiosAttributesTest : public ::testing::Test {
protected:
    void SetUp() override { FakeWmi() = {}; }

    BiosAttributeMap Collect() {
        std::vector<BiosAttributeMap> snapshots;
        QZBiosUtils().CollectBiosAttributes(snapshots);
        EXPECT_EQ(snapshots.size(), 1u);
        return snapshots.empty() ? BiosAttributeMap() : snapshots.back();
    }

    static void Set(const std::string& name, const std::string& value) {
        for (FakeRow& row : FakeWmi().rows) {
            if (row.name == name) {
                row.value = value;
                return;
            }
        }
        FakeWmi().rows.push_back({name, value});
    }
};

const char* const kResultKeys[] = {"RunPowMgmt",
                                   "IdlPowSvngs",
                                   "PS2MsWakeup",
                                   "SlpStBlnkRts",
                                   "S5MaxPowSav",
                                   "SataPowMgmt",
                                   "Multiprocessor",
                                   "Hyperthreading",
                                   "IntgVideo",
                                   "TurboMode",
                                   "VTX",
                                   "MeFwVer",
                                   "MEMgmtMd",
                                   "BIOAPS",
                                   "POSTPS",
                                   "RBIOSDGU",
                                   "FastBoot",
                                   "USBSBoot",
                                   "NetPXEBoot",
                                   "LBO",
                                   "UEFIBO",
                                   "BWBIOSSP",
                                   "EQZFIPD",
                                   "BWSEP",
                                   "VTD",
                                   "FASTCHARGE",
                                   "DPTF",
                                   "VMS",
                                   "BHM",
                                   "LANWLANswitching",
                                   "LANWWANswitching"};

TEST_F(CollectBiosAttributesTest, AFullMachineGivesEverySelectedValue) {
    FakeWmi().rows = FullSettings();
    const BiosAttributeMap snapshot = Collect();
    const BiosAttributeMap expected = {
        {"RunPowMgmt", "Enable"},
        {"IdlPowSvngs", "Normal"},
        {"PS2MsWakeup", "Disable"},
        {"SlpStBlnkRts", "Enable"},
        {"S5MaxPowSav", "Disable"},
        {"SataPowMgmt", "Enable"},
        {"Multiprocessor", "Enable"},
        {"Hyperthreading", "Enable"},
        {"IntgVideo", "Enable"},
        {"TurboMode", "Enable"},
        {"VTX", "Enable"},
        {"MeFwVer", "16.1.25.2049"},
        {"MEMgmtMd", "Enable"},
        {"BIOAPS", "1"},
        {"POSTPS", "0"},
        {"RBIOSDGU", "Do Nothing"},
        {"FastBoot", "Disable"},
        {"USBSBoot", "Enable"},
        {"NetPXEBoot", "Enable"},
        {"LBO", "USB Floppy|USB CD-ROM|Network Controller"},
        {"UEFIBO", "Windows Boot Manager|USB:|NETWORK IPV4"},
        {"BWBIOSSP", "Enable"},
        {"EQZFIPD", "Enable"},
        {"BWSEP", "Local"},
        {"VTD", "Enable"},
        {"FASTCHARGE", "Enable"},
        {"DPTF", "Enable"},
        {"VMS", "64"},
        {"BHM", "Let the system manage my battery charging"},
        {"LANWLANswitching", "Disable"},
        {"LANWWANswitching", "Enable"},
    };
    EXPECT_EQ(snapshot, expected);
}

TEST_F(CollectBiosAttributesTest, NoSettingsStillGiveAll31KeysEmpty) {
    FakeWmi().queryStatus = -1;
    const BiosAttributeMap snapshot = Collect();
    ASSERT_EQ(snapshot.size(), 31u);
    for (const char* key : kResultKeys) {
        ASSERT_EQ(snapshot.count(key), 1u) << key;
        EXPECT_EQ(snapshot.at(key), "") << key;
    }
    EXPECT_EQ(snapshot.count("RunPowMgt"), 0u);
    EXPECT_EQ(snapshot.count("BIOSAPS"), 0u);
}

TEST_F(CollectBiosAttributesTest, BootOrdersAreCutThenPiped) {
    std::string longOrder;
    while (longOrder.size() < 1100) {
        longOrder += "Disk,";
    }
    Set("UEFI Boot Order", "Disk,USB,Network");
    Set("Legacy Boot Order", longOrder);
    const BiosAttributeMap snapshot = Collect();
    EXPECT_EQ(snapshot.at("UEFIBO"), "Disk|USB|Network");
    std::string expected = longOrder.substr(0, 1024);
    std::replace(expected.begin(), expected.end(), ',', '|');
    EXPECT_EQ(snapshot.at("LBO"), expected);
}

TEST_F(CollectBiosAttributesTest, OnlyTheBootOrdersArePiped) {
    Set("Asset Tracking Number", "a,b");
    Set("ME Firmware Version", "1,2");
    EXPECT_EQ(Collect().at("MeFwVer"), "1,2");
}

TEST_F(CollectBiosAttributesTest, UnlimitedRowsAreNeverCut) {
    const std::string big(3000, '7');
    Set("Setup Password", big);
    Set("Power-On Password", big);
    Set("Video Memory Size", "*" + big + " MB");
    const BiosAttributeMap snapshot = Collect();
    EXPECT_EQ(snapshot.at("BIOAPS"), big);
    EXPECT_EQ(snapshot.at("POSTPS"), big);
    EXPECT_EQ(snapshot.at("VMS"), big);
}

TEST_F(CollectBiosAttributesTest, AThreeByteVideoMemoryOptionFailsAndAppendsNothing) {
    FakeWmi().rows = FullSettings();
    Set("Video Memory Size", "32 MB,*64");
    std::vector<BiosAttributeMap> snapshots(1, BiosAttributeMap{{"kept", "yes"}});
    EXPECT_THROW(QZBiosUtils().CollectBiosAttributes(snapshots), std::out_of_range);
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].at("kept"), "yes");
}

TEST_F(CollectBiosAttributesTest, AppendsBehindExistingSnapshots) {
    Set("Fast Boot", "*On");
    std::vector<BiosAttributeMap> snapshots(2);
    QZBiosUtils().CollectBiosAttributes(snapshots);
    ASSERT_EQ(snapshots.size(), 3u);
    EXPECT_TRUE(snapshots[0].empty());
    EXPECT_EQ(snapshots[2].at("FastBoot"), "On");
}

TEST_F(CollectBiosAttributesTest, MatchesSettingNamesExactly) {
    Set("fast boot", "*Lower");
    Set("Fast Boot ", "*Trailing");
    Set("Multi-Processor", "*Case");
    const BiosAttributeMap snapshot = Collect();
    EXPECT_EQ(snapshot.at("FastBoot"), "");
    EXPECT_EQ(snapshot.at("Multiprocessor"), "");
}

}  // namespace
}  // namespace qz::shared::qzbios
