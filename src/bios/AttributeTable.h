// The 31 attributes the library reads: how each is collected, and the name of the BIOS setting
// behind each lookup key, byte for byte. The library's rules read these tables (QZBiosUtils.cpp);
// everything else that lists the 31 settings (the WMI client of systems without WMI, qzbios-dump,
// the documentation's field reference through its test) derives from them through the accessors
// below. Internal: not part of the public interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace qz::shared::qzbios {

// A maxLength that never cuts.
inline constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

struct AttributeRow {
    const char* lookupKey;
    bool trimSuffix;
    std::uint64_t maxLength;
    const char* resultKey;
    bool replaceCommas;
};

// The snapshot, in collection order. Two lookup keys differ from their result keys: "RunPowMgt"
// and "BIOSAPS".
inline constexpr AttributeRow kAttributeTable[] = {
    {"RunPowMgt", false, 16, "RunPowMgmt", false},
    {"IdlPowSvngs", false, 16, "IdlPowSvngs", false},
    {"PS2MsWakeup", false, 16, "PS2MsWakeup", false},
    {"SlpStBlnkRts", false, 16, "SlpStBlnkRts", false},
    {"S5MaxPowSav", false, 16, "S5MaxPowSav", false},
    {"SataPowMgmt", false, 16, "SataPowMgmt", false},
    {"Multiprocessor", false, 16, "Multiprocessor", false},
    {"Hyperthreading", false, 16, "Hyperthreading", false},
    {"IntgVideo", false, 16, "IntgVideo", false},
    {"TurboMode", false, 16, "TurboMode", false},
    {"VTX", false, 16, "VTX", false},
    {"MeFwVer", false, 32, "MeFwVer", false},
    {"MEMgmtMd", false, 16, "MEMgmtMd", false},
    {"BIOSAPS", false, kNoLimit, "BIOAPS", false},
    {"POSTPS", false, kNoLimit, "POSTPS", false},
    {"RBIOSDGU", false, 64, "RBIOSDGU", false},
    {"FastBoot", false, 16, "FastBoot", false},
    {"USBSBoot", false, 16, "USBSBoot", false},
    {"NetPXEBoot", false, 16, "NetPXEBoot", false},
    {"LBO", false, 1024, "LBO", true},
    {"UEFIBO", false, 1024, "UEFIBO", true},
    {"BWBIOSSP", false, 16, "BWBIOSSP", false},
    {"EQZFIPD", false, 16, "EQZFIPD", false},
    {"BWSEP", false, 16, "BWSEP", false},
    {"VTD", false, 16, "VTD", false},
    {"FASTCHARGE", false, 16, "FASTCHARGE", false},
    {"DPTF", false, 16, "DPTF", false},
    {"VMS", true, kNoLimit, "VMS", false},
    {"BHM", false, 128, "BHM", false},
    {"LANWLANswitching", false, 16, "LANWLANswitching", false},
    {"LANWWANswitching", false, 16, "LANWWANswitching", false},
};

struct NameRow {
    const char* lookupKey;
    const char* settingName;
};

// Lookup key to the setting name as the firmware publishes it, byte for byte.
inline constexpr NameRow kNameTable[] = {
    {"RunPowMgt", "Runtime Power Management"},
    {"IdlPowSvngs", "Idle Power Savings"},
    {"PS2MsWakeup", "ACPI S3 PS2 Mouse Wake Up"},
    {"SlpStBlnkRts", "Unique Sleep State Blink Rates"},
    {"S5MaxPowSav", "S5 Maximum Power Savings"},
    {"SataPowMgmt", "SATA Power Management"},
    {"Multiprocessor", "Multi-processor"},
    {"Hyperthreading", "Hyperthreading"},
    {"IntgVideo", "Integrated Video"},
    {"TurboMode", "Turbo-boost"},
    {"VTX", "Virtualization Technology (VTx)"},
    {"MeFwVer", "ME Firmware Version"},
    {"MEMgmtMd", "Active Management (AMT)"},
    {"BIOSAPS", "Setup Password"},
    {"POSTPS", "Power-On Password"},
    {"RBIOSDGU", "Ready BIOS for Device Guard User"},
    {"FastBoot", "Fast Boot"},
    {"USBSBoot", "USB Storage Boot"},
    {"NetPXEBoot", "Network (PXE) Boot"},
    {"LBO", "Legacy Boot Order"},
    {"UEFIBO", "UEFI Boot Order"},
    {"BWBIOSSP", "Brimwatch BIOS Settings Protection"},
    {"EQZFIPD", "Enhanced QZ Firmware Runtime Intrusion Prevention and Detection"},
    {"BWSEP", "Brimwatch Security Event Policy"},
    {"VTD", "Virtualization Technology for Directed I/O (VTd)"},
    {"FASTCHARGE", "Fast Charge"},
    {"DPTF", "Dynamic Platform and Thermal Framework (DPTF)"},
    {"VMS", "Video Memory Size"},
    {"BHM", "Battery Health Manager"},
    {"LANWLANswitching", "LAN / WLAN Auto Switching"},
    {"LANWWANswitching", "LAN / WWAN Auto Switching"},
};

// The setting name behind a lookup key, or an empty view for a key the table does not hold.
constexpr std::string_view SettingOfLookupKey(std::string_view lookupKey) {
    for (const NameRow& row : kNameTable) {
        if (lookupKey == row.lookupKey) {
            return row.settingName;
        }
    }
    return {};
}

// The setting name behind a result key (such as "RunPowMgmt"), or an empty view for a key the
// table does not hold.
constexpr std::string_view SettingOfResultKey(std::string_view resultKey) {
    for (const AttributeRow& row : kAttributeTable) {
        if (resultKey == row.resultKey) {
            return SettingOfLookupKey(row.lookupKey);
        }
    }
    return {};
}

// Whether `name` is the setting name of one of the 31 attributes.
constexpr bool IsAttributeSetting(std::string_view name) {
    for (const NameRow& row : kNameTable) {
        if (name == row.settingName) {
            return true;
        }
    }
    return false;
}

}  // namespace qz::shared::qzbios
