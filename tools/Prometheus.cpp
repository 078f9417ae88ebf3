#include "Prometheus.h"

#include "DisplayText.h"
#include "FieldTable.h"

namespace qz::tools {

namespace {

std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (const char c : ValidUtf8(text)) {
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return escaped;
}

void Family(std::string& text, const char* name, const char* help) {
    text += std::string("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

std::string PrometheusText(const shared::qzbios::QZBiosData& record, const std::string& source,
                           std::size_t unreadable) {
    std::string text;
    Family(text, "qzbios_setting_info",
           "A text BIOS setting as the qzbios library reports it, its value in the value label.");
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr) {
            text += std::string("qzbios_setting_info{setting=\"") + field.name + "\",value=\"" +
                    LabelValue(record.*field.text) + "\"} 1\n";
        }
    }
    Family(text, "qzbios_setting_value",
           "A numeric BIOS setting as the qzbios library reports it.");
    for (const RecordField& field : kRecordFields) {
        if (field.number != nullptr) {
            text += std::string("qzbios_setting_value{setting=\"") + field.name + "\"} " +
                    std::to_string(record.*field.number) + '\n';
        }
    }
    Family(text, "qzbios_source_info", "Where qzbios-dump read the BIOS settings from.");
    text += "qzbios_source_info{source=\"" + source + "\"} 1\n";
    Family(text, "qzbios_unreadable_values",
           "Published BIOS settings whose current value could not be read.");
    text += "qzbios_unreadable_values " + std::to_string(unreadable) + '\n';
    return text;
}

}  // namespace qz::tools
