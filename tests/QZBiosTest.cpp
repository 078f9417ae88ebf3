#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "bios/QZBiosImpl.h"
#include "bios/StringToInt.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"

namespace qz::shared::qzbios {
namespace {

using test::FakeWmi;
using test::FullSettings;

// Hosts read records through the header's declaration; its layout is part of the interface.
static_assert(std::is_standard_layout_v<QZBiosData> && std::is_trivially_copyable_v<QZBiosData>);
static_assert(sizeof(QZBios) == sizeof(void*), "a QZBios is one owning pointer");
static_assert(!std::is_copy_constructible_v<QZBios> && !std::is_copy_assignable_v<QZBios>);
static_assert(offsetof(QZBiosData, RunPowMgmt) == 0);
static_assert(offsetof(QZBiosData, MEMgmtMd) == 10 * sizeof(void*));
static_assert(offsetof(QZBiosData, BIOAPS) == 11 * sizeof(void*));
static_assert(offsetof(QZBiosData, POSTPS) == 11 * sizeof(void*) + 4);
static_assert(offsetof(QZBiosData, RBIOSDGU) == 12 * sizeof(void*));
static_assert(offsetof(QZBiosData, DPTF) == 23 * sizeof(void*));
static_assert(offsetof(QZBiosData, VMS) == 24 * sizeof(void*));
static_assert(offsetof(QZBiosData, BHM) == 25 * sizeof(void*));
static_assert(offsetof(QZBiosData, MeFwVer) == 29 * sizeof(void*));
static_assert(sizeof(QZBiosData) == 30 * sizeof(void*));

struct IntCase {
    std::string text;
    std::int32_t expected;
};

class StringToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StringToIntTest, ConvertsTheLeadingNumber) {
    EXPECT_EQ(StringToInt(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringToIntTest,
    ::testing::Values(IntCase{"", 0}, IntCase{"7", 7}, IntCase{"-12", -12}, IntCase{"+5", 5},
                      IntCase{"  42", 42}, IntCase{"12abc", 12}, IntCase{"abc", 0},
                      IntCase{"2147483647", 2147483647}, IntCase{"2147483648", 0},
                      IntCase{"-2147483648", -2147483647 - 1}, IntCase{"-2147483649", 0},
                      IntCase{"99999999999999999999", 0}, IntCase{"-", 0}, IntCase{"\t\n 9 MB", 9},
                      IntCase{"0x1F", 0}));

std::string Text(const char* p) { return p == nullptr ? "<null>" : p; }

class QZBiosTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeWmi() = {};
        FakeWmi().rows = FullSettings();
    }
};

TEST_F(QZBiosTest, FirstCallGivesOneRecordOfTheSnapshot) {
    QZBios bios;
    std::uint64_t count = 99;
    const QZBiosData* records = bios.GetQZBiosData(count);
    ASSERT_NE(records, nullptr);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(Text(records[0].RunPowMgmt), "Enable");
    EXPECT_EQ(Text(records[0].UEFIBO), "Windows Boot Manager|USB:|NETWORK IPV4");
    EXPECT_EQ(Text(records[0].S5MaxPowSav), "Disable");
    EXPECT_EQ(Text(records[0].MeFwVer), "16.1.25.2049");
    EXPECT_EQ(records[0].BIOAPS, 1);
    EXPECT_EQ(records[0].POSTPS, 0);
    EXPECT_EQ(records[0].VMS, 64);
}

TEST_F(QZBiosTest, EveryCallAppendsAnEqualRecordPointingAtTheSameText) {
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData first = bios.GetQZBiosData(count)[0];
    const std::string firstBhm = first.BHM;
    for (std::uint64_t k = 2; k <= 40; ++k) {
        const QZBiosData* records = bios.GetQZBiosData(count);
        ASSERT_EQ(count, k);
        for (std::uint64_t i = 0; i < k; ++i) {
            EXPECT_EQ(test::RecordFields(records[i]), test::RecordFields(first)) << "record " << i;
            EXPECT_EQ(test::TextPointers(records[i]), test::TextPointers(first)) << "record " << i;
        }
    }
    EXPECT_EQ(first.BHM, firstBhm);  // texts of the first call survive the list's growth
}

TEST_F(QZBiosTest, NetPxeBootIsNaOnlyWhenEmpty) {
    FakeWmi().rows = {{"Network (PXE) Boot", "*"}, {"Fast Boot", ""}};
    QZBios empty;
    std::uint64_t count = 0;
    const QZBiosData* records = empty.GetQZBiosData(count);
    EXPECT_STREQ(records[0].NetPXEBoot, "NA");
    ASSERT_NE(records[0].FastBoot, nullptr);
    EXPECT_STREQ(records[0].FastBoot, "");
    ASSERT_NE(records[0].VTX, nullptr);  // not reported at all
    EXPECT_STREQ(records[0].VTX, "");

    FakeWmi().rows = {{"Network (PXE) Boot", "NA"}};
    QZBios literal;
    const QZBiosData* own = literal.GetQZBiosData(count);
    EXPECT_STREQ(own[0].NetPXEBoot, "NA");
    EXPECT_NE(own[0].NetPXEBoot, records[0].NetPXEBoot);  // the snapshot's text, not the constant
}

TEST_F(QZBiosTest, NoSettingsSourceGivesEmptyTextsAndZeroNumbers) {
    FakeWmi().queryStatus = -1;
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData record = bios.GetQZBiosData(count)[0];
    EXPECT_STREQ(record.RunPowMgmt, "");
    EXPECT_STREQ(record.LBO, "");
    EXPECT_STREQ(record.NetPXEBoot, "NA");
    EXPECT_EQ(record.BIOAPS, 0);
    EXPECT_EQ(record.VMS, 0);
}

TEST_F(QZBiosTest, AThreeByteVideoMemoryOptionFailsTheConstructor) {
    FakeWmi().rows = {{"Video Memory Size", "*64"}};
    EXPECT_THROW(QZBios(), std::out_of_range);
}

TEST(QZBiosImplTest, NoSnapshotGivesNullAndZero) {
    QZBiosImpl impl;
    std::uint64_t count = 7;
    EXPECT_EQ(impl.GetQZBiosData(count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(QZBiosImplTest, ASnapshotWithoutAKeyThrowsAfterEarlierRecords) {
    FakeWmi() = {};
    FakeWmi().rows = FullSettings();
    QZBiosImpl impl;
    impl.utils.CollectBiosAttributes(impl.snapshots);
    std::uint64_t count = 0;
    impl.GetQZBiosData(count);  // one record from an earlier call
    impl.snapshots.push_back(impl.snapshots[0]);
    impl.snapshots.back().erase("VMS");
    impl.snapshots.push_back(impl.snapshots[0]);
    EXPECT_THROW(impl.GetQZBiosData(count), std::out_of_range);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(impl.records.size(), 2u);  // the earlier call's record and the good snapshot's
}

}  // namespace
}  // namespace qz::shared::qzbios
