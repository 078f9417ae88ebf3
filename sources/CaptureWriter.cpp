// Capture files written: the rows as PowerShell's ConvertTo-Json lays them out, terminal-safe.
#include <exception>
#include <new>

#include <nlohmann/json.hpp>

#include "common/TerminalText.h"
#include "sources/Capture.h"
#include "sources/CaptureMessages.h"

namespace qz::shared::sources {

namespace {

using json = nlohmann::json;

// Appends `"name": value` as one member of a row of a capture file, indented as PowerShell does.
void AppendMember(std::string& text, const char* name, const std::optional<std::string>& value,
                  const char* after) {
    text += "        \"";
    text += name;
    text += "\": ";
    if (value) {
        const json string(*value);
        text += common::TerminalText(string.dump(-1, ' ', false, json::error_handler_t::replace),
                                     common::Escapes::Json);
    } else {
        text += "null";
    }
    text += after;
}

}  // namespace

bool CaptureText(const std::vector<SettingRow>& rows, std::string& text,
                 std::string& error) noexcept {
    return Guarded(error, "out of memory while writing it", [&] {
        if (rows.size() > kMaxCaptureRows) {
            error = std::to_string(rows.size()) + " settings, more than the " +
                    std::to_string(kMaxCaptureRows) + " rows a capture may have";
            return false;
        }
        // The text is built row by row rather than as one document: destroying a JSON array or
        // object allocates, and a destructor cannot report that memory ran out. Only string values
        // pass through the library, to be escaped.
        text = rows.empty() ? "[]" : "[";
        for (std::size_t i = 0; i < rows.size() && text.size() <= kMaxCaptureBytes; ++i) {
            text += i == 0 ? "\n    {\n" : ",\n    {\n";
            AppendMember(text, "Name", rows[i].name, ",\n");
            AppendMember(text, "Value", rows[i].value, "\n");
            text += "    }";
        }
        text += rows.empty() ? "\n" : "\n]\n";
        if (text.size() > kMaxCaptureBytes) {
            text.clear();
            error = "the capture would be " + CaptureTooLarge();
            return false;
        }
        return true;
    });
}

}  // namespace qz::shared::sources
