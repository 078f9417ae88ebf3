// The library's rules: the option rule, the name map, the settings query, the records and their
// numbers, and objects on several threads. The attribute table itself, a row a setting with its
// name, limit, pipes and trim, is tested through qzbios-dump over
// tests/data/captures/attribute-*.json.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "bios/QZBiosImpl.h"
#include "bios/StringToInt.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeWmi;
using test::RecordFields;

// Parameterised cases are named by their first member.
const auto kCaseName = [](const auto& c) { return std::string(c.param.name); };

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
                         kCaseName);

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

// Hosts read records through the header's declaration; its layout is part of the interface.
static_assert(std::is_standard_layout_v<QZBiosData> && std::is_trivially_copyable_v<QZBiosData>);
static_assert(sizeof(QZBios) == sizeof(void*) && !std::is_copy_constructible_v<QZBios>);
static_assert(offsetof(QZBiosData, POSTPS) == 11 * sizeof(void*) + 4);
static_assert(offsetof(QZBiosData, VMS) == 24 * sizeof(void*));
static_assert(sizeof(QZBiosData) == 30 * sizeof(void*));

struct IntCase {
    const char* name;
    const char* text;
    std::int32_t expected;
};

class StringToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StringToIntTest, ConvertsTheLeadingNumberOrGivesZero) {
    EXPECT_EQ(StringToInt(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, StringToIntTest,
                         ::testing::ValuesIn(std::vector<IntCase>{
                             {"Empty", "", 0},
                             {"Digit", "7", 7},
                             {"Negative", "-12", -12},
                             {"PlusSign", "+5", 5},
                             {"LeadingBlanks", "  42", 42},
                             {"TrailingText", "12abc", 12},
                             {"NoDigit", "abc", 0},
                             {"Largest", "2147483647", 2147483647},
                             {"OneTooLarge", "2147483648", 0},
                             {"Smallest", "-2147483648", -2147483647 - 1},
                             {"OneTooSmall", "-2147483649", 0},
                             {"Hex", "0x1F", 0},
                         }),
                         kCaseName);

// A QZBiosImpl holding one snapshot with every key set to `value`.
QZBiosImpl WithSnapshot(const std::string& value) {
    QZBiosImpl impl;
    impl.snapshots.emplace_back();
    for (const auto& [name, unused] : RecordFields(QZBiosData{})) {
        impl.snapshots[0][name] = value;
    }
    return impl;
}

TEST(QZBiosImpl, EmptyValuesGiveEmptyTextsAndNaForNetPxeBootAlone) {
    QZBiosImpl empty = WithSnapshot("");
    std::uint64_t count = 0;
    const QZBiosData record = empty.GetQZBiosData(count)[0];
    for (const auto& [name, value] : RecordFields(record)) {
        const bool number = name == "BIOAPS" || name == "POSTPS" || name == "VMS";
        EXPECT_EQ(value, name == "NetPXEBoot" ? "NA" : number ? "0" : "") << name;
    }
    EXPECT_EQ(record.FastBoot, empty.snapshots[0].at("FastBoot").c_str());  // the value's own text
    QZBiosImpl literal = WithSnapshot("NA");
    EXPECT_EQ(literal.GetQZBiosData(count)[0].NetPXEBoot,
              literal.snapshots[0]["NetPXEBoot"].c_str());
}

TEST(QZBiosImpl, ASnapshotWithoutAKeyThrowsAfterTheRecordsBeforeIt) {
    QZBiosImpl impl;
    std::uint64_t count = 7;
    EXPECT_EQ(impl.GetQZBiosData(count), nullptr);  // no snapshot, no record
    EXPECT_EQ(count, 0u);
    impl = WithSnapshot("1");
    impl.GetQZBiosData(count);
    impl.snapshots.push_back(impl.snapshots[0]);
    impl.snapshots.back().erase("VMS");
    impl.snapshots.push_back(impl.snapshots[0]);
    EXPECT_THROW(impl.GetQZBiosData(count), std::out_of_range);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(impl.records.size(), 2u);  // the earlier call's record and the first snapshot's
}

TEST(QZBios, EveryCallAppendsARecordPointingAtTheSameTexts) {
    FakeWmi() = {};
    FakeWmi().rows = test::FullSettings();
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData first = bios.GetQZBiosData(count)[0];
    ASSERT_EQ(count, 1u);
    const test::Fields texts = RecordFields(first);
    for (std::uint64_t k = 2; k <= 40; ++k) {
        const QZBiosData* records = bios.GetQZBiosData(count);
        ASSERT_EQ(count, k);
        for (std::uint64_t i = 0; i < k; ++i) {
            ASSERT_EQ(RecordFields(records[i], true), RecordFields(first, true)) << k << ' ' << i;
        }
    }
    EXPECT_EQ(RecordFields(first), texts);  // texts of the first call survive the list's growth
    FakeWmi().rows = {{"Video Memory Size", "*64"}};
    EXPECT_THROW(QZBios(), std::out_of_range);  // the constructor lets a failure through
}

// Four threads at once, each with objects of its own, and the name map shared by all: the results
// are those of a single thread. Under ThreadSanitizer this also shows the absence of data races.
TEST(Threads, DistinctObjectsAndTheNameMapGiveWhatOneThreadGets) {
    FakeWmi() = {};
    FakeWmi().rows = test::FullSettings();
    FakeWmi().recordCalls = false;  // every thread's client reads the script
    std::uint64_t count = 0;
    const test::Fields reference = RecordFields(*QZBios().GetQZBiosData(count));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                QZBios bios;
                std::uint64_t n = 0;
                bios.GetQZBiosData(n);
                const bool same = RecordFields(bios.GetQZBiosData(n)[1]) == reference && n == 2;
                wrong += same && QZBiosUtils::MapOfBiosAttribute("VTD") ==
                                     "Virtualization Technology for Directed I/O (VTd)"
                             ? 0
                             : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qz::shared::qzbios
