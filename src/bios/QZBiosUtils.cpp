#include "bios/QZBiosUtils.h"

#include <algorithm>
#include <exception>
#include <optional>

#include <plog/Logger.h>
#include <plog/Record.h>

#include "bios/Settings.h"
#include "wmi/SettingsQuery.h"
#include "wmi/WMIClient.h"

namespace qz::shared::qzbios {

namespace {

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

void QZBiosUtils::CollectBiosAttributes(std::vector<BiosAttributeMap>& snapshots) const {
    BiosSettingMap settings;
    QueryBiosSettings(settings);
    AppendSnapshot(settings, snapshots);
}

void QZBiosUtils::AppendSnapshot(BiosSettingMap& settings,
                                 std::vector<BiosAttributeMap>& snapshots) {
    BiosAttributeMap snapshot;
    for (const Setting& setting : kSettings) {
        std::string value =
            GetAttributeValue(setting.lookupKey, setting.trimSuffix, setting.maxLength, settings);
        if (setting.replaceCommas) {
            value = ReplaceCommasWithPipes(std::move(value));
        }
        snapshot[setting.resultKey] = std::move(value);
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
        for (const Setting& setting : kSettings) {
            table[setting.lookupKey] = setting.name;
        }
        return table[lookupKey];
    } catch (const std::exception& e) {
        LogMapFailure(e.what());
        return std::string();
    }
}

void QZBiosUtils::QueryBiosSettings(BiosSettingMap& settings) {
    wmi::WMIClient client(wmi::kBiosNamespace);
    // The property names are made once, not once per row.
    const std::wstring nameProperty = wmi::kNameProperty;
    const std::wstring valueProperty = wmi::kValueProperty;
    const char* name = nullptr;
    const char* value = nullptr;
    // A failed query yields no rows; its status tells nothing more.
    client.Query(wmi::kSettingsQuery);
    while (client.GetNext()) {
        client.GetValue(nameProperty, &name);
        std::optional<std::string> rowName;
        if (name != nullptr) {
            rowName.emplace(name);
        }
        client.GetValue(valueProperty, &value);
        StoreRow(settings, rowName ? rowName->c_str() : nullptr, value);
    }
}

void QZBiosUtils::StoreRow(BiosSettingMap& settings, const char* name, const char* value) {
    if (name != nullptr) {
        StoreSetting(settings, std::string(name), std::string(value != nullptr ? value : ""));
    }
}

}  // namespace qz::shared::qzbios
