// The rules a setting goes through on its way into the record, as a host reads them: the name map,
// the option rule, each attribute's limit, the boot orders' bars, video memory's trim and the
// numbers. Over the scripted client, a row a case, on every platform the library is built for.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bios/Settings.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"

namespace qz::shared::qzbios {
namespace {

// One field of the record: a text, or else a number.
struct Field {
    const char* QZBiosData::*text;
    std::int32_t QZBiosData::*number;
};

constexpr Field kFastBoot{&QZBiosData::FastBoot, nullptr};
constexpr Field kBios{nullptr, &QZBiosData::BIOAPS};
constexpr Field kVideo{nullptr, &QZBiosData::VMS};

// What a host reads in `field` of its first record over `rows`, a number in decimal; "out_of_range"
// when the constructor throws std::out_of_range.
std::string Read(const std::vector<test::FakeRow>& rows, const Field& field) {
    test::FakeRows() = rows;
    try {
        QZBios bios;
        std::uint64_t count = 0;
        const QZBiosData& record = *bios.GetQZBiosData(count);
        return field.text != nullptr ? record.*field.text : std::to_string(record.*field.number);
    } catch (const std::out_of_range&) {
        return "out_of_range";
    }
}

// The rows the client delivers, a field, and what a host reads there.
struct Rule {
    std::vector<test::FakeRow> rows;
    Field field;
    std::string expected;
};

void PrintTo(const Rule& rule, std::ostream* out) {
    for (const test::FakeRow& row : rule.rows) {
        *out << '{' << row.name.value_or("<null>") << " = " << row.value.value_or("<null>") << "} ";
    }
}

// Made on first use, when the tests are listed.
const std::vector<Rule>& Rules() {
    static const std::string kBlanks(5000, ' ');
    static const std::vector<Rule> kRules = {
        // The first non-empty option that begins with '*', without it; else the whole value.
        {{{"Fast Boot", "Disable,*Enable"}}, kFastBoot, "Enable"},
        {{{"Fast Boot", "*Disable,Enable"}}, kFastBoot, "Disable"},
        {{{"Fast Boot", "Disable,Enable"}}, kFastBoot, "Disable,Enable"},
        {{{"Fast Boot", "Disable, *Enable"}}, kFastBoot, "Disable, *Enable"},
        {{{"Fast Boot", "*Low,*High"}}, kFastBoot, "Low"},
        {{{"Fast Boot", ",*On"}}, kFastBoot, "On"},
        {{{"Fast Boot", "Off,,*On"}}, kFastBoot, "On"},
        {{{"Fast Boot", "Off,*"}}, kFastBoot, ""},
        {{{"Fast Boot", "*,*On"}}, kFastBoot, ""},
        {{{"Fast Boot", "x*,y,"}}, kFastBoot, "x*,y,"},
        {{{"Fast Boot", "\xe9*,*\xfc;\"\\|\xe2\x82\xac"}}, kFastBoot, "\xfc;\"\\|\xe2\x82\xac"},
        // Setting names match whole and byte for byte; the last row of a name wins, an unreadable
        // Value empties it, and a row without a Name is passed over.
        {{{"fast boot", "*On"}, {"Fast Boot ", "*On"}, {"Fast Boo", "*On"}}, kFastBoot, ""},
        {{{"Fast Boot", "*On"}, {"Fast Boot", "*Off"}}, kFastBoot, "Off"},
        {{{"Fast Boot", "*On"}, {"Fast Boot", std::nullopt}}, kFastBoot, ""},
        {{{std::nullopt, "*On"}, {"Fast Boot", "*Off"}, {std::nullopt, std::nullopt}},
         kFastBoot,
         "Off"},
        // An empty value is empty, but for NetPXEBoot, which reads "NA".
        {{}, kFastBoot, ""},
        {{}, {&QZBiosData::NetPXEBoot, nullptr}, "NA"},
        {{{"Network (PXE) Boot", "Off,*"}}, {&QZBiosData::NetPXEBoot, nullptr}, "NA"},
        {{{"Network (PXE) Boot", "*A"}}, {&QZBiosData::NetPXEBoot, nullptr}, "A"},
        // Boot orders: the option rule and the limit first, then every comma a bar.
        {{{"Legacy Boot Order", ",Disk,USB,,Network,"}},
         {&QZBiosData::LBO, nullptr},
         "|Disk|USB||Network|"},
        {{{"UEFI Boot Order", "Net,*USB,HDD"}}, {&QZBiosData::UEFIBO, nullptr}, "USB"},
        {{{"UEFI Boot Order", "Disk,USB,Network"}},
         {&QZBiosData::UEFIBO, nullptr},
         "Disk|USB|Network"},
        // Video memory: the marked option loses its marker and its last three bytes; one of exactly
        // three bytes fails the snapshot. Never cut.
        {{{"Video Memory Size", "32 MB,*64 MB"}}, kVideo, "64"},
        {{{"Video Memory Size", "*8"}}, kVideo, "8"},
        {{{"Video Memory Size", "*"}}, kVideo, "0"},
        {{{"Video Memory Size", "1234"}}, kVideo, "1234"},
        {{{"Video Memory Size", "*" + kBlanks + "64128"}}, kVideo, "64"},
        {{{"Video Memory Size", "1,*64,128"}}, kVideo, "out_of_range"},
        // Numbers: the leading decimal number of a 32-bit integer, or 0. Never cut.
        {{{"Setup Password", ""}}, kBios, "0"},
        {{{"Setup Password", "-12"}}, kBios, "-12"},
        {{{"Setup Password", "+5"}}, kBios, "5"},
        {{{"Setup Password", " \t42"}}, kBios, "42"},
        {{{"Setup Password", "12abc"}}, kBios, "12"},
        {{{"Setup Password", "abc"}}, kBios, "0"},
        {{{"Setup Password", "0x1F"}}, kBios, "0"},
        {{{"Setup Password", "2147483647"}}, kBios, "2147483647"},
        {{{"Setup Password", "2147483648"}}, kBios, "0"},
        {{{"Setup Password", "-2147483648"}}, kBios, "-2147483648"},
        {{{"Setup Password", "-2147483649"}}, kBios, "0"},
        {{{"Setup Password", "4294967297"}}, kBios, "0"},
        {{{"Setup Password", "Off,*" + kBlanks + "2023"}}, kBios, "2023"},
        {{{"Power-On Password", kBlanks + "7"}}, {nullptr, &QZBiosData::POSTPS}, "7"},
    };
    return kRules;
}

class AttributeRules : public ::testing::TestWithParam<Rule> {};

TEST_P(AttributeRules, GiveTheHostItsValue) {
    EXPECT_EQ(Read(GetParam().rows, GetParam().field), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(, AttributeRules, ::testing::ValuesIn(Rules()));

// Every text attribute: the setting behind it, its field, the most bytes the field keeps, and
// whether its commas become bars.
struct Attribute {
    const char* setting;
    const char* QZBiosData::*field;
    std::size_t limit;
    bool bars;
};

void PrintTo(const Attribute& attribute, std::ostream* out) { *out << attribute.setting; }

const Attribute kAttributes[] = {
    {"Runtime Power Management", &QZBiosData::RunPowMgmt, 16, false},
    {"Idle Power Savings", &QZBiosData::IdlPowSvngs, 16, false},
    {"ACPI S3 PS2 Mouse Wake Up", &QZBiosData::PS2MsWakeup, 16, false},
    {"Unique Sleep State Blink Rates", &QZBiosData::SlpStBlnkRts, 16, false},
    {"S5 Maximum Power Savings", &QZBiosData::S5MaxPowSav, 16, false},
    {"SATA Power Management", &QZBiosData::SataPowMgmt, 16, false},
    {"Multi-processor", &QZBiosData::Multiprocessor, 16, false},
    {"Hyperthreading", &QZBiosData::Hyperthreading, 16, false},
    {"Integrated Video", &QZBiosData::IntgVideo, 16, false},
    {"Turbo-boost", &QZBiosData::TurboMode, 16, false},
    {"Virtualization Technology (VTx)", &QZBiosData::VTX, 16, false},
    {"ME Firmware Version", &QZBiosData::MeFwVer, 32, false},
    {"Active Management (AMT)", &QZBiosData::MEMgmtMd, 16, false},
    {"Ready BIOS for Device Guard User", &QZBiosData::RBIOSDGU, 64, false},
    {"Fast Boot", &QZBiosData::FastBoot, 16, false},
    {"USB Storage Boot", &QZBiosData::USBSBoot, 16, false},
    {"Network (PXE) Boot", &QZBiosData::NetPXEBoot, 16, false},
    {"Legacy Boot Order", &QZBiosData::LBO, 1024, true},
    {"UEFI Boot Order", &QZBiosData::UEFIBO, 1024, true},
    {"Brimwatch BIOS Settings Protection", &QZBiosData::BWBIOSSP, 16, false},
    {"Enhanced QZ Firmware Runtime Intrusion Prevention and Detection", &QZBiosData::EQZFIPD, 16,
     false},
    {"Brimwatch Security Event Policy", &QZBiosData::BWSEP, 16, false},
    {"Virtualization Technology for Directed I/O (VTd)", &QZBiosData::VTD, 16, false},
    {"Fast Charge", &QZBiosData::FASTCHARGE, 16, false},
    {"Dynamic Platform and Thermal Framework (DPTF)", &QZBiosData::DPTF, 16, false},
    {"Battery Health Manager", &QZBiosData::BHM, 128, false},
    {"LAN / WLAN Auto Switching", &QZBiosData::LANWLANswitching, 16, false},
    {"LAN / WWAN Auto Switching", &QZBiosData::LANWWANswitching, 16, false},
};

// `text` repeated and cut to `size` bytes.
std::string Repeat(const std::string& text, std::size_t size) {
    std::string repeated;
    while (repeated.size() < size) {
        repeated += text;
    }
    return repeated.substr(0, size);
}

class AttributeTable : public ::testing::TestWithParam<Attribute> {};

// All settings published at once, each a byte longer than its field keeps: as one unmarked value
// with commas, then as a marked option.
TEST_P(AttributeTable, ShowsItsOwnSettingCutToItsLimit) {
    const Attribute& attribute = GetParam();
    for (const bool marked : {false, true}) {
        const auto value = [marked](const Attribute& a, std::size_t size) {
            return marked ? Repeat(std::string(a.setting) + ' ', size)
                          : Repeat(',' + std::string(a.setting), size);
        };
        std::vector<test::FakeRow> rows;
        for (const Attribute& a : kAttributes) {
            rows.push_back({a.setting, (marked ? "Off,*" : "") + value(a, a.limit + 1)});
        }
        std::string expected = value(attribute, attribute.limit);
        if (attribute.bars && !marked) {
            std::replace(expected.begin(), expected.end(), ',', '|');
        }
        EXPECT_EQ(Read(rows, {attribute.field, nullptr}), expected) << "marked: " << marked;
    }
}

INSTANTIATE_TEST_SUITE_P(, AttributeTable, ::testing::ValuesIn(kAttributes));

#if !defined(_WIN32)
// The documentation's field reference says what the attribute table holds: every field in the
// record's order, its type, its setting and where it is cut. (The tables are read here on purpose:
// this checks the document, not the rules.) Linux only: it reads the source tree.
TEST(FieldReference, SaysWhatTheAttributeTableHolds) {
    std::ifstream file(QZBIOS_FIELD_REFERENCE);
    std::vector<std::string> documented;  // a row's first four cells
    for (std::string line; std::getline(file, line);) {
        std::size_t end = 0;
        for (int cell = 0; cell < 4 && end != std::string::npos; ++cell) {
            end = line.find(" | ", end + 1);
        }
        if (line.rfind("| `", 0) == 0 && end != std::string::npos) {
            documented.push_back(line.substr(0, end));
        }
    }
    std::vector<std::string> table;
    for (const std::size_t i : kRecordOrder) {
        const Setting& setting = kSettings[i];
        table.push_back(
            "| `" + std::string(setting.resultKey) + "` | " +
            (setting.field.text != nullptr ? "text" : "int32") + " | \"" + setting.name + "\" | " +
            (setting.maxLength == kNoLimit ? "whole"
                                           : std::to_string(setting.maxLength) + " bytes"));
    }
    EXPECT_EQ(documented, table);
}
#endif

}  // namespace
}  // namespace qz::shared::qzbios
