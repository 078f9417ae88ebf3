// The texts of capture errors, the reader's and the writer's alike.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "sources/Capture.h"

namespace qz::shared::sources {

// Sets the error text from a handler, where memory may already have run out: the text is
// shortened to what fits in the string's own buffer, or dropped, rather than throwing.
inline void SetError(std::string& error, const char* text) noexcept {
    try {
        error = text;
    } catch (const std::exception&) {
        error.clear();
        const std::size_t room = error.capacity();
        for (std::size_t i = 0; i < room && text[i] != '\0'; ++i) {
            error.push_back(text[i]);
        }
    }
}

// Runs `work`, which says whether it succeeded; memory running out (`error` then says
// `outOfMemory`) or another exception is a failure too. Never throws.
template <typename Work>
bool Guarded(std::string& error, const char* outOfMemory, Work work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        SetError(error, outOfMemory);
    } catch (const std::exception& e) {
        SetError(error, e.what());
    }
    return false;
}

// What a capture beyond kMaxCaptureBytes is.
inline std::string CaptureTooLarge() {
    return "larger than the " + std::to_string(kMaxCaptureBytes >> 20) + " MiB a capture may have";
}

}  // namespace qz::shared::sources
