#include "Prometheus.h"

#include "DisplayText.h"
#include "FieldTable.h"

namespace qz::tools {

namespace {

// A label value holds the text as the table shows it, so that no control character reaches a
// terminal raw: "\x1b" for ESC, "\n" for a line feed, "\\" for a backslash, each then escaped as
// the text format asks ("\\x1b", "\\n", "\\\\").
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

std::string PrometheusText(const shared::qzbios::QZBiosData& record, const Publication& publication,
                           const std::string& source, std::size_t unreadable) {
    // A setting the firmware does not publish, or whose value was not read, has no series: an
    // empty value or a 0 would read as a setting.
    const auto shown = [&publication](const RecordField& field) {
        const std::size_t i = static_cast<std::size_t>(&field - kRecordFields);
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
    text += "qzbios_firmware_settings " + std::to_string(publication.settings) + '\n';
    Family(text, "qzbios_source_info", "Where qzbios-dump read the BIOS settings from.");
    text += "qzbios_source_info{source=\"" + source + "\"} 1\n";
    Family(text, "qzbios_unreadable_values",
           "Published BIOS settings whose value could not be read.");
    text += "qzbios_unreadable_values " + std::to_string(unreadable) + '\n';
    return text;
}

}  // namespace qz::tools
