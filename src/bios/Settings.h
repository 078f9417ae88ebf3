// The 31 settings the library reads: one row each, holding everything the library and the tools
// around it know of the setting. Internal: not part of the public interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "qzbios/QZBios.h"

namespace qz::shared::qzbios {

// A maxLength that never cuts.
inline constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// The rows, in the order a snapshot collects them. Each row is
//   X(lookup key, result key, setting name, trimSuffix, maxLength, commas to bars, when empty)
// The result key is also the name of the record's field. "when empty" is the text the record
// shows for an empty value (null: the empty value itself). Two lookup keys differ from their
// result keys: RunPowMgt and BIOSAPS. Setting names are the firmware's, byte for byte.
// clang-format off
#define QZBIOS_SETTINGS(X)                                                                         \
    X(RunPowMgt, RunPowMgmt, "Runtime Power Management", false, 16, false, nullptr)                \
    X(IdlPowSvngs, IdlPowSvngs, "Idle Power Savings", false, 16, false, nullptr)                   \
    X(PS2MsWakeup, PS2MsWakeup, "ACPI S3 PS2 Mouse Wake Up", false, 16, false, nullptr)            \
    X(SlpStBlnkRts, SlpStBlnkRts, "Unique Sleep State Blink Rates", false, 16, false, nullptr)     \
    X(S5MaxPowSav, S5MaxPowSav, "S5 Maximum Power Savings", false, 16, false, nullptr)             \
    X(SataPowMgmt, SataPowMgmt, "SATA Power Management", false, 16, false, nullptr)                \
    X(Multiprocessor, Multiprocessor, "Multi-processor", false, 16, false, nullptr)                \
    X(Hyperthreading, Hyperthreading, "Hyperthreading", false, 16, false, nullptr)                 \
    X(IntgVideo, IntgVideo, "Integrated Video", false, 16, false, nullptr)                         \
    X(TurboMode, TurboMode, "Turbo-boost", false, 16, false, nullptr)                              \
    X(VTX, VTX, "Virtualization Technology (VTx)", false, 16, false, nullptr)                      \
    X(MeFwVer, MeFwVer, "ME Firmware Version", false, 32, false, nullptr)                          \
    X(MEMgmtMd, MEMgmtMd, "Active Management (AMT)", false, 16, false, nullptr)                    \
    X(BIOSAPS, BIOAPS, "Setup Password", false, kNoLimit, false, nullptr)                          \
    X(POSTPS, POSTPS, "Power-On Password", false, kNoLimit, false, nullptr)                        \
    X(RBIOSDGU, RBIOSDGU, "Ready BIOS for Device Guard User", false, 64, false, nullptr)           \
    X(FastBoot, FastBoot, "Fast Boot", false, 16, false, nullptr)                                  \
    X(USBSBoot, USBSBoot, "USB Storage Boot", false, 16, false, nullptr)                           \
    X(NetPXEBoot, NetPXEBoot, "Network (PXE) Boot", false, 16, false, "NA")                        \
    X(LBO, LBO, "Legacy Boot Order", false, 1024, true, nullptr)                                   \
    X(UEFIBO, UEFIBO, "UEFI Boot Order", false, 1024, true, nullptr)                               \
    X(BWBIOSSP, BWBIOSSP, "Brimwatch BIOS Settings Protection", false, 16, false, nullptr)         \
    X(EQZFIPD, EQZFIPD, "Enhanced QZ Firmware Runtime Intrusion Prevention and Detection", false,  \
      16, false, nullptr)                                                                          \
    X(BWSEP, BWSEP, "Brimwatch Security Event Policy", false, 16, false, nullptr)                  \
    X(VTD, VTD, "Virtualization Technology for Directed I/O (VTd)", false, 16, false, nullptr)     \
    X(FASTCHARGE, FASTCHARGE, "Fast Charge", false, 16, false, nullptr)                            \
    X(DPTF, DPTF, "Dynamic Platform and Thermal Framework (DPTF)", false, 16, false, nullptr)      \
    X(VMS, VMS, "Video Memory Size", true, kNoLimit, false, nullptr)                               \
    X(BHM, BHM, "Battery Health Manager", false, 128, false, nullptr)                              \
    X(LANWLANswitching, LANWLANswitching, "LAN / WLAN Auto Switching", false, 16, false, nullptr)  \
    X(LANWWANswitching, LANWWANswitching, "LAN / WWAN Auto Switching", false, 16, false, nullptr)
// clang-format on

// A field of the record: exactly one of `text` and `number` is set.
struct RecordField {
    const char* QZBiosData::*text;
    std::int32_t QZBiosData::*number;
};
constexpr RecordField FieldOf(const char* QZBiosData::*text) { return {text, nullptr}; }
constexpr RecordField FieldOf(std::int32_t QZBiosData::*number) { return {nullptr, number}; }

struct Setting {
    const char* lookupKey;
    const char* resultKey;  // and the record field's name
    const char* name;       // the firmware's setting name
    bool trimSuffix;
    std::uint64_t maxLength;
    bool replaceCommas;
    const char* whenEmpty;
    RecordField field;
    std::size_t offset;  // of the field in the record: its place there
};

#define QZBIOS_SETTING_ROW(lookup, result, name, trim, max, commas, empty) \
    {#lookup,                                                              \
     #result,                                                              \
     name,                                                                 \
     trim,                                                                 \
     max,                                                                  \
     commas,                                                               \
     empty,                                                                \
     FieldOf(&QZBiosData::result),                                         \
     offsetof(QZBiosData, result)},
inline constexpr Setting kSettings[] = {QZBIOS_SETTINGS(QZBIOS_SETTING_ROW)};
#undef QZBIOS_SETTING_ROW

inline constexpr std::size_t kSettingCount = std::size(kSettings);
static_assert(kSettingCount == 31, "the library reads 31 settings");

// The indices of kSettings in the order of the record's fields.
constexpr std::array<std::size_t, kSettingCount> RecordOrder() {
    std::array<std::size_t, kSettingCount> order{};
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        std::size_t at = i;
        for (; at > 0 && kSettings[order[at - 1]].offset > kSettings[i].offset; --at) {
            order[at] = order[at - 1];
        }
        order[at] = i;
    }
    return order;
}
inline constexpr std::array<std::size_t, kSettingCount> kRecordOrder = RecordOrder();

// The setting name behind a lookup key, or an empty view for a key the table does not hold.
constexpr std::string_view SettingNameOf(std::string_view lookupKey) {
    for (const Setting& setting : kSettings) {
        if (lookupKey == setting.lookupKey) {
            return setting.name;
        }
    }
    return {};
}

// The index in kSettings of the setting named `name`, or kSettingCount for a name the table
// does not hold.
constexpr std::size_t IndexOfSetting(std::string_view name) {
    std::size_t i = 0;
    while (i < kSettingCount && name != kSettings[i].name) {
        ++i;
    }
    return i;
}

// Whether `name` is the setting name of one of the 31.
constexpr bool IsLibrarySetting(std::string_view name) {
    return IndexOfSetting(name) < kSettingCount;
}

}  // namespace qz::shared::qzbios
