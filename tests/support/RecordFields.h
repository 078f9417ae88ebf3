// A record as (name, value) pairs, for comparing records in tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bios/Settings.h"

namespace qz::test {

using Fields = std::vector<std::pair<std::string, std::string>>;

// Numbers in decimal, a null text as "<null>"; with `addresses`, each text field's address instead
// of its text.
inline Fields RecordFields(const shared::qzbios::QZBiosData& record, bool addresses = false) {
    Fields fields;
    for (const std::size_t i : shared::qzbios::kRecordOrder) {
        const shared::qzbios::RecordField& field = shared::qzbios::kSettings[i].field;
        const char* text = field.text != nullptr ? record.*field.text : nullptr;
        fields.emplace_back(shared::qzbios::kSettings[i].resultKey,
                            field.text == nullptr ? std::to_string(record.*field.number)
                            : addresses ? std::to_string(reinterpret_cast<std::uintptr_t>(text))
                            : text == nullptr ? "<null>"
                                              : text);
    }
    return fields;
}

}  // namespace qz::test
