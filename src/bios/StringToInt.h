#pragma once

#include <cstdint>
#include <string>

namespace qz::shared::qzbios {

// The leading base-10 number of `text` (after white space and an optional sign, stopping at the
// first other character), or 0 when there is none or it does not fit in 32 bits. Never throws.
std::int32_t StringToInt(const std::string& text) noexcept;

}  // namespace qz::shared::qzbios
