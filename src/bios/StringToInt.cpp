#include "bios/StringToInt.h"

#include <stdexcept>

namespace qz::shared::qzbios {

std::int32_t StringToInt(const std::string& text) noexcept {
    if (text.empty()) {
        return 0;
    }
    try {
        return static_cast<std::int32_t>(std::stoi(text, nullptr, 10));
    } catch (const std::exception&) {
        // No leading digit (std::invalid_argument) or out of range (std::out_of_range).
        return 0;
    }
}

}  // namespace qz::shared::qzbios
