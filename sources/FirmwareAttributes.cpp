// The firmware-attributes tree as rows: its walk, setting names, and values in the library's form.
#include "sources/FirmwareAttributes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <set>
#include <string_view>

#include "bios/Settings.h"
#include "common/FileDescriptor.h"
#include "sources/TreeFiles.h"

namespace qz::shared::sources {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(separator, begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > begin) {
            parts.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

// A possible_values list: ';'-separated, or ','-separated where the firmware's list holds no ';'.
std::vector<std::string> SplitOptions(const std::string& list) {
    return Split(list, list.find(';') != std::string::npos ? ';' : ',');
}

// `text` without its trailing blanks, tabs and carriage returns, which firmware leaves behind
// unevenly on values and options.
std::string_view TrimEnd(std::string_view text) {
    const std::size_t end = text.find_last_not_of(" \t\r");
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// The options joined by ',' with the current one marked by '*', each without trailing blanks, tabs
// or carriage returns. A current value that is not among them is added, marked, at the end, so that
// the current setting is never lost.
std::string EnumerationValue(const std::string& current, const std::vector<std::string>& options) {
    bool marked = false;
    std::string joined;
    for (const std::string& option : options) {
        if (!joined.empty()) {
            joined += ',';
        }
        if (!marked && TrimEnd(option) == TrimEnd(current)) {
            joined += '*';
            marked = true;
        }
        joined += TrimEnd(option);
    }
    if (!marked) {
        joined += joined.empty() ? "*" : ",*";
        joined += TrimEnd(current);
    }
    return joined;
}

// Kernels before 6.3 published some firmware's settings without a type file, the options inline
// in current_value: "Disable;[Optional:Disable,Enable]", "Primary;[Optional:Primary,Automatic]
// [Status:ShowOnly]". `current` becomes the text before the first ';' and `options` the list inside
// "[Optional:...]"; a value with neither, such as "[01/01/2019][Status:ShowOnly]", stays as it is.
void SplitInlineOptions(std::string& current, std::vector<std::string>& options) {
    static const std::string kOptional = "[Optional:";
    const std::size_t semicolon = current.find(';');
    const std::size_t optional = current.find(kOptional);
    if (optional != std::string::npos) {
        const std::size_t begin = optional + kOptional.size();
        const std::size_t end = current.find(']', begin);
        options = Split(current.substr(begin, end == std::string::npos ? end : end - begin), ',');
    }
    if (semicolon != std::string::npos || optional != std::string::npos) {
        current.erase(std::min(semicolon, optional));
    }
}

}  // namespace

std::string AttributeName(const std::string& folder, const AttributeFileReader& read) {
    const std::optional<std::string> displayName = read("display_name");
    std::string name = displayName && !displayName->empty() ? *displayName : folder;
    if (name.find('\\') != std::string::npos) {
        std::string slashed = name;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        if (qzbios::IsLibrarySetting(slashed)) {
            return slashed;
        }
    }
    return name;
}

std::optional<std::string> AttributeValue(const AttributeFileReader& read, std::string& reason) {
    reason.clear();
    std::optional<std::string> current = read("current_value");
    if (!current) {
        // A setting published without a readable value: a fact to report.
        if (const int error = errno; error != ENOENT) {
            reason = std::strerror(error);
        }
        return std::nullopt;
    }
    const std::optional<std::string> type = read("type");
    if (type == "ordered-list") {
        std::replace(current->begin(), current->end(), ';', ',');
        return current;
    }
    if (type && type != "enumeration") {
        return current;  // integer, string, or a type this reader does not know
    }
    // An enumeration, or an attribute of an older kernel that has no type file: that is one when
    // it lists options, in possible_values or inline.
    const std::optional<std::string> possible = read("possible_values");
    std::vector<std::string> options = SplitOptions(possible.value_or(""));
    if (!type) {
        SplitInlineOptions(*current, options);
    }
    const bool enumeration = type ? possible.has_value() : !options.empty();
    return enumeration ? EnumerationValue(*current, options) : std::move(*current);
}

namespace {

// One walk of a tree into a reading: each device's attributes, then the passwords of each device
// that the firmware does not publish as settings of their own.
class TreeWalk {
public:
    TreeWalk(const std::string& root, Scope scope, Reading& reading)
        : m_root(root), m_scope(scope), m_reading(reading) {}

    void Run() {
        const common::FileDescriptor root(m_budget.OpenRoot(m_root));
        m_budget.List(root.fd, m_reading.devices);
        KeepDevices(root.fd, m_reading.devices);
        for (auto device = m_reading.devices.begin();
             m_budget.Within() && device != m_reading.devices.end(); ++device) {
            ReadDevice(root.fd, *device);
        }
        m_reading.firmwareReads = m_budget.FirmwareReads();
        if (!m_budget.Within()) {
            Refuse(Refusal::Source);
            m_reading.why = m_budget.Refusal();
            return;
        }
        for (auto& [password, device] : m_passwords) {
            if (m_names.insert(*password.name).second) {
                Add(std::move(password), device);
            }
        }
        if (m_scope == Scope::Attributes) {
            m_reading.otherSettings = static_cast<std::size_t>(std::count_if(
                m_names.begin(), m_names.end(),
                [](const std::string& name) { return !qzbios::IsLibrarySetting(name); }));
        }
        m_reading.source = m_reading.devices.empty() ? Source::None : Source::FirmwareAttributes;
    }

    // Leaves the reading without rows, refused as `refusal`.
    void Refuse(Refusal refusal) {
        m_reading.rows.clear();
        m_reading.rowDevices.clear();
        m_reading.unread.clear();
        m_reading.refusal = refusal;
    }

private:
    void ReadDevice(int root, const std::string& device) {
        const common::FileDescriptor folder(m_budget.OpenDevice(root, device));
        const common::FileDescriptor attributes(m_budget.OpenFolder(folder.fd, "attributes", true));
        m_budget.List(attributes.fd, m_attributes);
        for (auto entry = m_attributes.begin(); m_budget.Within() && entry != m_attributes.end();
             ++entry) {
            const common::FileDescriptor dir(
                m_budget.OpenFolder(attributes.fd, entry->c_str(), false));
            if (dir.fd >= 0 && m_budget.CountAttribute()) {
                ReadAttribute(dir.fd, *entry, device);
            }
        }
        // The administrator's password is the setup password, the system's the power-on one.
        const std::pair<const char*, std::string_view> kPasswords[] = {
            {"Admin", qzbios::SettingNameOf("BIOSAPS")},
            {"System", qzbios::SettingNameOf("POSTPS")}};
        const common::FileDescriptor authentication(
            m_budget.Within() ? m_budget.OpenFolder(folder.fd, "authentication", false) : -1);
        for (const auto& [entry, setting] : kPasswords) {
            const common::FileDescriptor dir(
                m_budget.Within() ? m_budget.OpenFolder(authentication.fd, entry, false) : -1);
            if (dir.fd >= 0) {
                m_passwords.push_back(
                    {{std::string(setting), m_budget.Read(dir.fd, "is_enabled")}, device});
            }
        }
    }

    // The attribute in the folder `dir`, named `entry`: a row when it is in the scope.
    void ReadAttribute(int dir, const std::string& entry, const std::string& device) {
        const auto read = [this, dir](const char* file) { return m_budget.Read(dir, file); };
        std::string name = AttributeName(entry, read);
        m_names.insert(name);
        if (m_scope == Scope::Every || qzbios::IsLibrarySetting(name)) {
            std::string reason;
            std::optional<std::string> value = AttributeValue(read, reason);
            if (!reason.empty()) {
                m_reading.unread[m_reading.rows.size()] = std::move(reason);
            }
            Add({std::move(name), std::move(value)}, device);
        }
    }

    void Add(SettingRow row, const std::string& device) {
        m_reading.rows.push_back(std::move(CutAtNul(row)));
        m_reading.rowDevices.push_back(device);
    }

    const std::string& m_root;
    Scope m_scope;
    Reading& m_reading;
    TreeBudget m_budget;
    std::vector<std::string> m_attributes;  // of the device being read
    // Authentication entries become rows behind every attribute, unless the firmware publishes
    // settings of those names itself.
    std::vector<std::pair<SettingRow, std::string>> m_passwords;  // and their devices
    std::set<std::string> m_names;                                // every setting name of the tree
};

}  // namespace

void ReadFirmwareAttributes(const std::string& root, Scope scope, Reading& reading) noexcept {
    reading.source = Source::None;
    TreeWalk walk(root, scope, reading);
    try {
        reading.location = root;
        walk.Run();
    } catch (const std::exception&) {
        walk.Refuse(Refusal::Memory);
    }
}

}  // namespace qz::shared::sources
