// Any bytes as the files of one firmware attribute, each of which may also be missing: the reader
// turns them into one row named by the display name, with a value exactly when current_value can
// be read; an enumeration with possible_values always marks an option, an ordered list keeps its
// length without ';', and other attributes with a type keep the value as read.
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/Invariant.h"
#include "sources/FirmwareAttributes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kTypes[] = {"enumeration", "ordered-list", "integer", "string"};
    FuzzedDataProvider input(data, size);
    std::map<std::string, std::string> files;
    if (input.ConsumeBool()) {
        files["type"] = input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange(0, 3)]
                                            : input.ConsumeRandomLengthString(16);
    }
    for (const char* file : {"display_name", "possible_values", "current_value"}) {
        if (input.ConsumeBool()) {
            files[file] = input.ConsumeRandomLengthString(1024);
        }
    }
    const auto text = [&files](const char* file) -> std::optional<std::string> {
        const auto found = files.find(file);
        errno = ENOENT;
        return found == files.end() ? std::nullopt : std::optional(found->second);
    };
    std::string reason;
    const std::string name = qz::shared::sources::AttributeName("Setting", text);
    const std::optional<std::string> read = qz::shared::sources::AttributeValue(text, reason);
    const std::string displayName = text("display_name").value_or("");
    const std::optional<std::string> type = text("type");
    const std::optional<std::string> current = text("current_value");
    Check(name.size() == (displayName.empty() ? 7 : displayName.size()),
          "not named by the display name");
    Check(read.has_value() == current.has_value() && reason.empty(),
          "a value without current_value");
    if (!current) {
        return 0;
    }
    const std::string& value = *read;
    const bool enumeration = type == "enumeration" && text("possible_values");
    Check(!enumeration || value.find('*') != std::string::npos, "no option is marked");
    Check(type != "ordered-list" ||
              (value.find(';') == std::string::npos && value.size() == current->size()),
          "ordered list");
    Check(!type || enumeration || type == "ordered-list" || value == *current, "value as read");
    return 0;
}
