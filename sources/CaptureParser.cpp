// The capture parser: rows straight from the JSON parser's events, in UTF-8 or UTF-16.
#include <exception>
#include <new>

#include <nlohmann/json.hpp>

#include "sources/Capture.h"
#include "sources/CaptureMessages.h"

namespace qz::shared::sources {

namespace {

using json = nlohmann::json;

// Deeper than any capture needs; a limit keeps hostile input from growing the parser's stack.
constexpr std::size_t kMaxDepth = 32;

// The most of the parser's words on an error that a message quotes.
constexpr std::size_t kMaxQuoted = 160;

// Builds rows straight from the parser's events, so that the document is never held as a tree.
class CaptureHandler : public nlohmann::json_sax<json> {
public:
    explicit CaptureHandler(std::vector<SettingRow>& rows) : m_rows(rows) {}

    const std::string& Error() const { return m_error; }

    bool null() override { return Member(std::nullopt); }
    bool boolean(bool /*unused*/) override { return Member(std::nullopt); }
    bool number_integer(number_integer_t /*unused*/) override { return Member(std::nullopt); }
    bool number_unsigned(number_unsigned_t /*unused*/) override { return Member(std::nullopt); }
    bool number_float(number_float_t /*unused*/, const string_t& /*unused*/) override {
        return Member(std::nullopt);
    }
    bool string(string_t& text) override { return Member(std::move(text)); }
    bool binary(binary_t& /*unused*/) override { return Member(std::nullopt); }

    bool start_object(std::size_t /*unused*/) override {
        const std::size_t level = m_depth;
        if (!Enter()) {
            return false;
        }
        if (level == 0 || (level == 1 && m_topIsArray)) {
            if (m_rows.size() == kMaxCaptureRows) {
                return Fail("more than the " + std::to_string(kMaxCaptureRows) +
                            " rows a capture may have");
            }
            m_rows.emplace_back();
        } else if (level == RowDepth()) {
            Assign(std::nullopt);  // an object as a member's value cannot be read
        }
        return true;
    }
    bool end_object() override {
        --m_depth;
        return true;
    }
    bool start_array(std::size_t /*unused*/) override {
        const std::size_t level = m_depth;
        if (!Enter()) {
            return false;
        }
        if (level == 0) {
            m_topIsArray = true;
        } else if (level == 1 && m_topIsArray) {
            return Fail("element " + std::to_string(m_rows.size() + 1) + " is not an object");
        } else if (level == RowDepth()) {
            Assign(std::nullopt);
        }
        return true;
    }
    bool end_array() override {
        --m_depth;
        return true;
    }
    bool key(string_t& name) override {
        m_key = std::move(name);
        return true;
    }
    bool parse_error(std::size_t position, const std::string& /*unused*/,
                     const nlohmann::detail::exception& e) override {
        std::string what = e.what();
        // "[json.exception.parse_error.101] parse error at ...": keep what follows the tag.
        const auto tagEnd = what.find("] ");
        if (tagEnd != std::string::npos) {
            what.erase(0, tagEnd + 2);
        }
        // The parser quotes the token it stopped at, which may be megabytes long.
        if (what.size() > kMaxQuoted) {
            what.resize(kMaxQuoted);
            what += "...";
        }
        return Fail("not valid JSON at byte " + std::to_string(position) + ": " + what);
    }

private:
    // A top-level array holds rows one level down; a single top-level object is the row.
    std::size_t RowDepth() const { return m_topIsArray ? 2 : 1; }

    bool Enter() {
        ++m_depth;
        if (m_depth > kMaxDepth) {
            return Fail("nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        return true;
    }

    // A scalar: a member of a row, part of a nested value, or misplaced.
    bool Member(std::optional<std::string> text) {
        if (m_depth == 0) {
            return Fail("expected an array of objects or one object, found a single value");
        }
        if (m_depth == 1 && m_topIsArray) {
            return Fail("element " + std::to_string(m_rows.size() + 1) + " is not an object");
        }
        if (m_depth == RowDepth()) {
            Assign(std::move(text));
        }
        return true;
    }

    void Assign(std::optional<std::string> text) {
        if (m_key == "Name") {
            m_rows.back().name = std::move(text);
        } else if (m_key == "Value") {
            m_rows.back().value = std::move(text);
        }
    }

    bool Fail(std::string message) {
        if (m_error.empty()) {
            m_error = std::move(message);
        }
        return false;
    }

    std::vector<SettingRow>& m_rows;
    std::string m_error;
    std::string m_key;
    std::size_t m_depth = 0;
    bool m_topIsArray = false;
};

template <typename Input>
bool ParseWith(Input&& input, std::vector<SettingRow>& rows, std::string& error) {
    std::vector<SettingRow> parsed;
    CaptureHandler handler(parsed);
    const bool ok = json::sax_parse(std::forward<Input>(input), &handler);
    if (!ok) {
        error = handler.Error().empty() ? std::string("not a valid capture") : handler.Error();
        return false;
    }
    rows = std::move(parsed);
    return true;
}

// UTF-16 as the standard reads it: a high surrogate followed by a low one is a pair, and any other
// surrogate stands for U+FFFD, so that nothing after it is lost.
bool DecodeUtf16(std::string_view bytes, bool bigEndian, std::u16string& out, std::string& error) {
    if (bytes.size() % 2 != 0) {
        error = "UTF-16 text with an odd number of bytes";
        return false;
    }
    const auto unit = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    const auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char16_t c = unit(i);
        if (high(c) && i + 2 < bytes.size() && low(unit(i + 2))) {
            out.push_back(c);
            out.push_back(unit(i += 2));
        } else {
            out.push_back(high(c) || low(c) ? u'\uFFFD' : c);
        }
    }
    return true;
}

}  // namespace

bool ParseCapture(std::string_view text, std::vector<SettingRow>& rows,
                  std::string& error) noexcept {
    return Guarded(error, "out of memory while reading it", [&] {
        if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        } else if (text.size() >= 2 &&
                   (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")) {
            const bool bigEndian = text[0] == '\xFE';
            std::u16string wide;
            if (!DecodeUtf16(text.substr(2), bigEndian, wide, error)) {
                return false;
            }
            return ParseWith(wide, rows, error);
        }
        return ParseWith(text, rows, error);
    });
}

}  // namespace qz::shared::sources
