#include "bios/QZBiosUtils.h"

#include <algorithm>
#include <exception>
#include <optional>

#include <plog/Logger.h>
#include <plog/Record.h>

#include "wmi/WMIClient.h"

namespace qz::shared::qzbios {

namespace {

struct AttributeRow {
    const char* lookupKey;
    bool trimSuffix;
    std::uint64_t maxLength;
    const char* resultKey;
    bool replaceCommas;
};

constexpr std::uint64_t kNoLimit = QZBiosUtils::kNoLimit;

// The snapshot, in collection order. Two lookup keys differ from their result keys: "RunPowMgt"
// and "BIOSAPS".
constexpr AttributeRow kAttributeTable[] = {
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
constexpr NameRow kNameTable[] = {
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

const wchar_t kBiosNamespace[] = L"\\\\.\\root\\QZ\\InstrumentedBios";
const wchar_t kSettingsQuery[] = L"SELECT * FROM QZ_BIOSSetting";
const wchar_t kNameProperty[] = L"Name";
const wchar_t kValueProperty[] = L"Value";

constexpr char kMarker = '*';

// Log consumers match the name map's failure record by function and line, so both are fixed here
// rather than taken from wherever the statement happens to stand.
const char kMapFunction[] = "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute";
constexpr std::size_t kMapFailureLine = 50;

// Writes the name map's failure record when a logger admits errors. The record is built only after
// both tests pass; if building it runs out of memory too, the record is dropped.
void LogMapFailure(const char* what) {
    plog::Logger<0>* logger = plog::get<0>();
    if (logger == nullptr || !logger->checkSeverity(plog::error)) {
        return;
    }
    std::optional<plog::Record> record;
    try {
        record.emplace(plog::error, kMapFunction, kMapFailureLine, "", nullptr, 0);
        *record << "Exception: in QZBiosUtild MapOfBiosAttribute " << what;
    } catch (const std::exception&) {
        return;
    }
    *logger += *record;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> QZBiosUtils::AttributeSettings() {
    std::vector<std::pair<std::string, std::string>> settings;
    for (const AttributeRow& row : kAttributeTable) {
        settings.emplace_back(row.resultKey, MapOfBiosAttribute(row.lookupKey));
    }
    return settings;
}

void QZBiosUtils::CollectBiosAttributes(std::vector<BiosAttributeMap>& snapshots) const {
    BiosSettingMap settings;
    BiosAttributeMap snapshot;
    QueryBiosSettings(settings);
    for (const AttributeRow& row : kAttributeTable) {
        std::string value =
            GetAttributeValue(row.lookupKey, row.trimSuffix, row.maxLength, settings);
        if (row.replaceCommas) {
            value = ReplaceCommasWithPipes(std::move(value));
        }
        snapshot[row.resultKey] = std::move(value);
    }
    snapshots.push_back(std::move(snapshot));
}

std::string QZBiosUtils::GetAttributeValue(const std::string& lookupKey, bool trimSuffix,
                                           std::uint64_t maxLength, BiosSettingMap& settings) {
    const std::string name = MapOfBiosAttribute(lookupKey);
    const std::string& rawValue = settings[name];
    std::string value = GetSelectedOption(rawValue, trimSuffix);
    if (maxLength != kNoLimit && value.size() > maxLength) {
        value.resize(static_cast<std::size_t>(maxLength));
    }
    return value;
}

std::string QZBiosUtils::GetSelectedOption(const std::string& rawValue, bool trimSuffix) {
    std::size_t begin = 0;
    while (begin < rawValue.size()) {
        std::size_t end = rawValue.find(',', begin);
        if (end == std::string::npos) {
            end = rawValue.size();
        }
        if (end > begin && rawValue[begin] == kMarker) {
            std::string option = rawValue.substr(begin, end - begin);
            if (trimSuffix && option.size() >= 3) {
                option.erase(option.size() - 3);
            }
            // An option trimmed to nothing has no marker left: substr throws std::out_of_range.
            return option.substr(1);
        }
        begin = end + 1;
    }
    return rawValue;
}

std::string QZBiosUtils::ReplaceCommasWithPipes(std::string&& value) {
    std::string result = std::move(value);
    value.clear();
    std::replace(result.begin(), result.end(), ',', '|');
    return result;
}

std::string QZBiosUtils::MapOfBiosAttribute(const std::string& lookupKey) {
    try {
        // Built afresh on every call: nothing of a lookup survives it.
        std::map<std::string, std::string> table;
        for (const NameRow& row : kNameTable) {
            table[row.lookupKey] = row.settingName;
        }
        return table[lookupKey];
    } catch (const std::exception& e) {
        LogMapFailure(e.what());
        return std::string();
    }
}

void QZBiosUtils::QueryBiosSettings(BiosSettingMap& settings) {
    wmi::WMIClient client(kBiosNamespace);
    // The property names are made once, not once per row.
    const std::wstring nameProperty = kNameProperty;
    const std::wstring valueProperty = kValueProperty;
    const char* name = nullptr;
    const char* value = nullptr;
    // A failed query yields no rows; its status tells nothing more.
    client.Query(kSettingsQuery);
    while (client.GetNext()) {
        client.GetValue(nameProperty, &name);
        std::optional<std::string> rowName;
        if (name != nullptr) {
            rowName.emplace(name);
        }
        client.GetValue(valueProperty, &value);
        std::string rowValue = value != nullptr ? std::string(value) : std::string();
        if (rowName) {
            // Find or insert the Name (an existing key stays as it is), then give it the Value.
            settings.try_emplace(std::move(*rowName)).first->second = std::move(rowValue);
        }
    }
}

}  // namespace qz::shared::qzbios
