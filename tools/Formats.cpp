#include "Formats.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "CaptureFile.h"
#include "DisplayText.h"
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

std::string Json(const QZBiosData& record, bool oneLine) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr) {
            object[field.name] = record.*field.text;
        } else {
            object[field.name] = record.*field.number;
        }
    }
    return shared::wmi::TerminalSafeJson(object.dump(
               oneLine ? -1 : 2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
           '\n';
}

std::string PrometheusText(const QZBiosData& record, const shared::qzbios::Publication& publication,
                           shared::wmi::Source source) {
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
    return text;
}

}  // namespace qz::tools
