#include "tools/Formats.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "bios/Settings.h"
#include "common/TerminalText.h"

namespace qz::tools {

namespace {

using shared::common::Escapes;
using shared::common::TerminalText;
using shared::qzbios::kRecordOrder;
using shared::qzbios::kSettings;
using shared::qzbios::QZBiosData;
using shared::qzbios::Setting;

std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (const char c : TerminalText(text)) {
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : std::string(1, c);
    }
    return escaped;
}

// Each setting of `reading` as the firmware publishes it, by device and name, held by the row
// that holds it in the library; its value as read (none when it could not be). Device, name and
// value are each cut to kMaxFirmwareValueBytes; of names alike in those bytes the last is kept.
std::map<shared::reading::SettingKey, std::optional<std::string>> EverySetting(
    const shared::sources::Reading& reading) {
    std::map<shared::reading::SettingKey, std::optional<std::string>> settings;
    const auto cut = [](std::string text) {
        text.resize(std::min(text.size(), kMaxFirmwareValueBytes));
        return text;
    };
    for (const auto& [key, row] : shared::reading::LastRows(reading, true)) {
        const std::optional<std::string>& value = reading.rows[row].value;
        settings[{cut(key.first), cut(key.second)}] =
            value ? std::optional<std::string>(cut(*value)) : std::nullopt;
    }
    return settings;
}

void Family(std::string& text, const char* name, const char* help) {
    text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

const char* SourceName(shared::sources::Source source) {
    using shared::sources::Source;
    return source == Source::Capture              ? "capture"
           : source == Source::FirmwareAttributes ? "firmware-attributes"
           : source == Source::Wmi                ? "wmi"
                                                  : "none";
}

std::string Table(const QZBiosData& record) {
    std::vector<std::string> values;
    std::size_t width = 5;  // "Value"
    for (const std::size_t i : kRecordOrder) {
        const Setting& setting = kSettings[i];
        values.push_back(setting.field.text != nullptr
                             ? TerminalText(record.*setting.field.text)
                             : std::to_string(record.*setting.field.number));
        width = std::max(width, shared::common::DisplayWidth(values.back()));
    }
    std::string text;
    const auto line = [&text, width](const char* name, const std::string& value, const char* type) {
        text += name + std::string(18 - std::strlen(name) + 1, ' ') + value +
                std::string(width - shared::common::DisplayWidth(value) + 1, ' ') + type + '\n';
    };
    line("Field", "Value", "Type");
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Setting& setting = kSettings[kRecordOrder[i]];
        line(setting.resultKey, values[i], setting.field.text != nullptr ? "text" : "int32");
    }
    return text;
}

std::string Json(const QZBiosData& record, bool oneLine, const shared::sources::Reading* every) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const std::size_t i : kRecordOrder) {
        const Setting& setting = kSettings[i];
        if (setting.field.text != nullptr) {
            object[setting.resultKey] = record.*setting.field.text;
        } else {
            object[setting.resultKey] = record.*setting.field.number;
        }
    }
    if (every != nullptr) {
        nlohmann::ordered_json& settings = object["firmware_settings"] =
            nlohmann::ordered_json::array();
        for (const auto& [key, value] : EverySetting(*every)) {
            settings.push_back({{"device", key.first},
                                {"setting", key.second},
                                {"value", value ? nlohmann::ordered_json(*value) : nullptr}});
        }
    }
    return TerminalText(object.dump(oneLine ? -1 : 2, ' ', false,
                                    nlohmann::ordered_json::error_handler_t::replace),
                        Escapes::Json) +
           '\n';
}

std::string PrometheusText(const QZBiosData& record, const shared::reading::Coverage& coverage,
                           shared::sources::Source source, const shared::sources::Reading* every) {
    // A setting the firmware does not publish, or whose value was not read, has no series: an
    // empty value or a 0 would read as a setting.
    const auto shown = [&coverage](std::size_t i) {
        return coverage.published[i] && coverage.read[i];
    };
    std::string text;
    Family(text, "qzbios_setting_info",
           "A text BIOS setting as the qzbios library reports it, its value in the value label.");
    for (const std::size_t i : kRecordOrder) {
        const Setting& setting = kSettings[i];
        if (setting.field.text != nullptr && shown(i)) {
            text += std::string("qzbios_setting_info{setting=\"") + setting.resultKey +
                    "\",value=\"" + LabelValue(record.*setting.field.text) + "\"} 1\n";
        }
    }
    Family(text, "qzbios_setting_value",
           "A numeric BIOS setting as the qzbios library reports it.");
    for (const std::size_t i : kRecordOrder) {
        const Setting& setting = kSettings[i];
        if (setting.field.number != nullptr && shown(i)) {
            text += std::string("qzbios_setting_value{setting=\"") + setting.resultKey + "\"} " +
                    std::to_string(record.*setting.field.number) + '\n';
        }
    }
    Family(text, "qzbios_settings_published",
           "How many of the 31 BIOS settings qzbios reads the firmware publishes.");
    text += "qzbios_settings_published " + std::to_string(coverage.publishedCount) + '\n';
    Family(text, "qzbios_firmware_settings",
           "How many BIOS settings the firmware publishes in all.");
    text += "qzbios_firmware_settings " +
            std::to_string(coverage.publishedCount + coverage.otherSettings) + '\n';
    Family(text, "qzbios_source_info", "Where qzbios-dump read the BIOS settings from.");
    text += std::string("qzbios_source_info{source=\"") + SourceName(source) + "\"} 1\n";
    Family(text, "qzbios_unreadable_values",
           "Of the 31 BIOS settings qzbios reads, those published whose value could not be read.");
    text += "qzbios_unreadable_values " + std::to_string(coverage.unreadCount) + '\n';
    if (every != nullptr) {
        Family(
            text, "qzbios_firmware_setting_info",
            "A BIOS setting as the firmware publishes it, its current value in the value label.");
        for (const auto& [key, value] : EverySetting(*every)) {
            if (value) {
                text += "qzbios_firmware_setting_info{device=\"" + LabelValue(key.first) +
                        "\",setting=\"" + LabelValue(key.second) + "\",value=\"" +
                        LabelValue(*value) + "\"} 1\n";
            }
        }
    }
    return text;
}

}  // namespace qz::tools
