#include "CaptureFile.h"
#include "FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include <nlohmann/json.hpp>

namespace qz::shared::wmi {

namespace {

using json = nlohmann::json;

// Sets the error text from a handler, where memory may already have run out: the text is
// shortened to what fits in the string's own buffer, or dropped, rather than throwing.
void SetError(std::string& error, const char* text) noexcept {
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

// Appends `"name": value` as one member of a row of a capture file, indented as PowerShell does.
void AppendMember(std::string& text, const char* name, const std::optional<std::string>& value,
                  const char* after) {
    text += "        \"";
    text += name;
    text += "\": ";
    if (value) {
        const json string(*value);
        text += TerminalSafeJson(string.dump(-1, ' ', false, json::error_handler_t::replace));
    } else {
        text += "null";
    }
    text += after;
}

// Deeper than any capture needs; a limit keeps hostile input from growing the parser's stack.
constexpr std::size_t kMaxDepth = 32;

// Builds rows straight from the parser's events, so that the document is never held as a tree.
class CaptureHandler : public nlohmann::json_sax<json> {
public:
    explicit CaptureHandler(std::vector<CaptureRow>& rows) : m_rows(rows) {}

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

    std::vector<CaptureRow>& m_rows;
    std::string m_error;
    std::string m_key;
    std::size_t m_depth = 0;
    bool m_topIsArray = false;
};

template <typename Input>
bool ParseWith(Input&& input, std::vector<CaptureRow>& rows, std::string& error) {
    std::vector<CaptureRow> parsed;
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

std::string TerminalSafeJson(std::string_view json) {
    const auto byte = [json](std::size_t i) {
        return i < json.size() ? static_cast<unsigned>(static_cast<unsigned char>(json[i])) : 0U;
    };
    std::string safe;
    safe.reserve(json.size());
    for (std::size_t i = 0; i < json.size();) {
        // The code point of the sequence at i when it is one to escape, and its length.
        std::size_t length = 0;
        unsigned point = byte(i);
        if (point == 0x7F) {
            length = 1;
        } else if (point == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
            point = byte(i + 1);
            length = 2;
        } else if (point == 0xD8 && byte(i + 1) == 0x9C) {
            point = 0x061C;
            length = 2;
        } else if (point == 0xE2 && (byte(i + 1) == 0x80 || byte(i + 1) == 0x81)) {
            point = 0x2000 + ((byte(i + 1) & 0x3FU) << 6) + (byte(i + 2) & 0x3FU);
            const bool bidirectional =
                point == 0x200E || point == 0x200F || (point >= 0x2066 && point <= 0x2069);
            length = bidirectional || (point >= 0x2028 && point <= 0x202E) ? 3 : 0;
        }
        if (length == 0) {
            safe += json[i++];
            continue;
        }
        char escape[8] = {};
        std::snprintf(escape, sizeof escape, "\\u%04x", point);
        safe += escape;
        i += length;
    }
    return safe;
}

bool ParseCapture(std::string_view text, std::vector<CaptureRow>& rows,
                  std::string& error) noexcept {
    try {
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
    } catch (const std::bad_alloc&) {
        SetError(error, "out of memory while reading it");
    } catch (const std::exception& e) {
        SetError(error, e.what());
    }
    return false;
}

namespace {

#if defined(_WIN32)
constexpr int kCloseOnExec = O_BINARY | O_NOINHERIT;
constexpr int kNoWait = 0;
constexpr int kNoTerminal = 0;
#else
constexpr int kCloseOnExec = O_CLOEXEC;
constexpr int kNoWait = O_NONBLOCK;
constexpr int kNoTerminal = O_NOCTTY;
#endif

std::string TooLarge() {
    return "larger than the " + std::to_string(kMaxCaptureBytes >> 20) + " MiB a capture may have";
}

// Reads what is left of `fd`, at most kMaxCaptureBytes, and parses it.
bool ReadAndParse(int fd, std::vector<CaptureRow>& rows, std::string& error) noexcept {
    try {
        std::string text;
        char buffer[65536];
        for (;;) {
            const auto got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                error = std::strerror(errno);
                return false;
            }
            if (got == 0) {
                break;
            }
            const auto size = static_cast<std::size_t>(got);
            if (text.size() + size > kMaxCaptureBytes) {
                error = TooLarge();
                return false;
            }
            text.append(buffer, size);
        }
        if (text.empty()) {
            error = "the file is empty";
            return false;
        }
        return ParseCapture(text, rows, error);
    } catch (const std::bad_alloc&) {
        SetError(error, "out of memory while reading it");
    } catch (const std::exception& e) {
        SetError(error, e.what());
    }
    return false;
}

bool IsRegular(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}

}  // namespace

bool LoadCaptureFile(const std::string& path, std::vector<CaptureRow>& rows,
                     std::string& error) noexcept {
    // Looked at before it is opened, so that a device is never opened, and confirmed on the
    // descriptor, which is opened without waiting: a name swapped for a FIFO in between is refused
    // rather than waited on.
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    if ((info.st_mode & S_IFMT) != S_IFREG) {
        SetError(error, "not a regular file");
        return false;
    }
    const FileDescriptor file(open(path.c_str(), O_RDONLY | kCloseOnExec | kNoWait | kNoTerminal));
    if (file.fd < 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    if (!IsRegular(file.fd)) {
        SetError(error, "not a regular file");
        return false;
    }
    return ReadAndParse(file.fd, rows, error);
}

bool ReadCapture(const std::string& path, std::vector<CaptureRow>& rows,
                 std::string& error) noexcept {
    if (path == "-") {
        return ReadAndParse(STDIN_FILENO, rows, error);
    }
    const FileDescriptor file(open(path.c_str(), O_RDONLY | kCloseOnExec | kNoTerminal));
    if (file.fd < 0) {
        SetError(error, std::strerror(errno));
        return false;
    }
    return ReadAndParse(file.fd, rows, error);
}

bool CaptureText(const std::vector<CaptureRow>& rows, std::string& text,
                 std::string& error) noexcept {
    try {
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
            error = "the capture would be " + TooLarge();
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        SetError(error, "out of memory while writing it");
    } catch (const std::exception& e) {
        SetError(error, e.what());
    }
    return false;
}

}  // namespace qz::shared::wmi
