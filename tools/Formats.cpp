#include "Formats.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "CaptureFile.h"
#include "DisplayText.h"
#include "bios/QZBiosUtils.h"
#include "bios/RecordFields.h"

namespace qz::tools {

namespace {

using shared::qzbios::kRecordFields;
using shared::qzbios::QZBiosData;
using shared::qzbios::RecordField;

std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (const char c : TerminalText(text)) {
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : std::string(1, c);
    }
    return escaped;
}

// Each setting of `reading` as the firmware publishes it, by device and name, the last row of a
// name on a device winning as in the library; its value as read (none when it could not be),
// cut to kMaxFirmwareValueBytes.
std::map<std::pair<std::string, std::string>, std::optional<std::string>> EverySetting(
    const shared::wmi::Reading& reading) {
    std::map<std::pair<std::string, std::string>, std::optional<std::string>> settings;
    for (std::size_t i = 0; i < reading.rows.size(); ++i) {
        const shared::wmi::CaptureRow& row = reading.rows[i];
        if (row.name) {
            std::optional<std::string> value = row.value;
            if (value && value->size() > kMaxFirmwareValueBytes) {
                value->resize(kMaxFirmwareValueBytes);
            }
            shared::qzbios::QZBiosUtils::StoreSetting(
                settings,
                std::make_pair(
                    i < reading.rowDevices.size() ? reading.rowDevices[i] : std::string(),
                    *row.name),
                std::move(value));
        }
    }
    return settings;
}

void Family(std::string& text, const char* name, const char* help) {
    text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

const char* SourceName(shared::wmi::Source source) {
    using shared::wmi::Source;
    return source == Source::Capture              ? "capture"
           : source == Source::FirmwareAttributes ? "firmware-attributes"
           : source == Source::Wmi                ? "wmi"
                                                  : "none";
}

std::string Table(const QZBiosData& record) {
    std::vector<std::string> values;
    std::size_t width = 5;  // "Value"
    for (const RecordField& field : kRecordFields) {
        values.push_back(field.text != nullptr ? TerminalText(record.*field.text)
                                               : std::to_string(record.*field.number));
        width = std::max(width, DisplayWidth(values.back()));
    }
    std::string text;
    const auto line = [&text, width](const char* name, const std::string& value, const char* type) {
        text += name + std::string(18 - std::strlen(name) + 1, ' ') + value +
                std::string(width - DisplayWidth(value) + 1, ' ') + type + '\n';
    };
    line("Field", "Value", "Type");
    for (std::size_t i = 0; i < values.size(); ++i) {
        line(kRecordFields[i].name, values[i], kRecordFields[i].text != nullptr ? "text" : "int32");
    }
    return text;
}

std::string Json(const QZBiosData& record, bool oneLine, const shared::wmi::Reading* every) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr) {
            object[field.name] = record.*field.text;
        } else {
            object[field.name] = record.*field.number;
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
    return shared::wmi::TerminalSafeJson(object.dump(
               oneLine ? -1 : 2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
           '\n';
}

std::string PrometheusText(const QZBiosData& record, const shared::qzbios::Publication& publication,
                           shared::wmi::Source source, const shared::wmi::Reading* every) {
    // A setting the firmware does not publish, or whose value was not read, has no series: an
    // empty value or a 0 would read as a setting.
    const auto shown = [&publication](const RecordField& field) {
        const std::size_t i = shared::qzbios::IndexOf(field);
        return publication.published[i] && publication.read[i];
    };
    std::string text;
    Family(text, "qzbios_setting_info",
           "A text BIOS setting as the qzbios library reports it, its value in the value label.");
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr && shown(field)) {
            text += std::string("qzbios_setting_info{setting=\"") + field.name + "\",value=\"" +
                    LabelValue(record.*field.text) + "\"} 1\n";
        }
    }
    Family(text, "qzbios_setting_value",
           "A numeric BIOS setting as the qzbios library reports it.");
    for (const RecordField& field : kRecordFields) {
        if (field.number != nullptr && shown(field)) {
            text += std::string("qzbios_setting_value{setting=\"") + field.name + "\"} " +
                    std::to_string(record.*field.number) + '\n';
        }
    }
    Family(text, "qzbios_settings_published",
           "How many of the 31 BIOS settings qzbios reads the firmware publishes.");
    text += "qzbios_settings_published " + std::to_string(publication.publishedCount) + '\n';
    Family(text, "qzbios_firmware_settings",
           "How many BIOS settings the firmware publishes in all.");
    text += "qzbios_firmware_settings " +
            std::to_string(publication.publishedCount + publication.otherSettings) + '\n';
    Family(text, "qzbios_source_info", "Where qzbios-dump read the BIOS settings from.");
    text += std::string("qzbios_source_info{source=\"") + SourceName(source) + "\"} 1\n";
    Family(text, "qzbios_unreadable_values",
           "Of the 31 BIOS settings qzbios reads, those published whose value could not be read.");
    text += "qzbios_unreadable_values " + std::to_string(publication.unreadCount) + '\n';
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
