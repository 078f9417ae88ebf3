// The setting sources' one interface: a request names where the settings are to come from, and one
// reading says where they came from, their rows, and what could not be read. The WMI client of
// systems without WMI, the C interface and qzbios-dump all read through it, so that a fact counts
// the same whoever asks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bios/Settings.h"

namespace qz::shared::sources {

// One row of settings as a source delivers it, a capture's, a tree's or the WMI provider's. A
// member that is missing, null or not a string is a property that cannot be read.
struct SettingRow {
    std::optional<std::string> name;
    std::optional<std::string> value;
};

inline bool operator==(const SettingRow& a, const SettingRow& b) {
    return a.name == b.name && a.value == b.value;
}

enum class Source { None, Capture, FirmwareAttributes, Wmi };

// Which settings a reading returns rows of. Only the rows returned cost a firmware read.
enum class Scope {
    Attributes,  // the 31 settings the library reads: what its query needs
    Every,       // every setting: for recording a machine
};

// What the caller names, and what the environment named that cannot be read.
struct SourceRequest {
    std::optional<std::string> capture;  // a capture file to read instead of the machine
    std::optional<std::string> root;     // the firmware-attributes folder, instead of the default
    bool anyFile = false;                // a capture may be a FIFO, a pipe or "-" (standard input)
    Scope scope = Scope::Attributes;
    std::string problem;  // what is wrong with what the environment names; empty when nothing is
};

enum class Refusal {
    None,
    Named,   // what the request names cannot be read: a capture, a folder, an empty variable
    Source,  // the source is beyond its limits
    Memory,  // memory ran out
};

struct Reading {
    Source source = Source::None;
    std::string location;                 // the capture file, or the firmware-attributes folder
    std::vector<std::string> devices;     // the tree's devices, in byte order
    std::vector<SettingRow> rows;         // in the order read, as the settings query returns them
    std::vector<std::string> rowDevices;  // of a tree, the device of each row
    // Rows whose value could not be read, by index, and why: the reason as strerror words it, or
    // what the capture held.
    std::map<std::size_t, std::string> unread;
    std::size_t otherSettings = 0;  // distinct setting names the source holds beyond the scope
    std::size_t unnamedRows = 0;    // capture rows without a Name that is a string
    // Files of a tree read from the firmware: current_value, type, possible_values, is_enabled
    // (the drivers serve display_name from memory).
    std::size_t firmwareReads = 0;
    Refusal refusal = Refusal::None;
    std::string why;          // what was refused and why, as a message names it; empty when read
    std::int32_t status = 0;  // the status the settings query answers with (common/WbemStatus.h)
};

// `row` as the settings query delivers its texts, as C strings: each cut at its first NUL byte.
inline SettingRow& CutAtNul(SettingRow& row) {
    for (std::optional<std::string>* text : {&row.name, &row.value}) {
        if (*text) {
            (*text)->resize(std::char_traits<char>::length((*text)->c_str()));
        }
    }
    return row;
}

// Takes the rows a capture or the WMI provider delivers into a reading, in the order delivered:
// those in `scope` as the query returns them, a value missing from one noted with `why`; the
// names beyond the scope only counted, by name, and the rows without a name counted too.
class RowCollector {
public:
    RowCollector(Reading& reading, Scope scope, const char* why)
        : m_reading(reading), m_scope(scope), m_why(why) {}
    RowCollector(const RowCollector&) = delete;
    RowCollector& operator=(const RowCollector&) = delete;

    void Add(SettingRow row) {
        m_reading.unnamedRows += row.name ? 0U : 1U;
        if (m_scope == Scope::Every || (row.name && qzbios::IsLibrarySetting(*row.name))) {
            if (!row.value) {
                m_reading.unread[m_reading.rows.size()] = m_why;
            }
            m_reading.rows.push_back(std::move(CutAtNul(row)));
        } else if (row.name && m_others.insert(*row.name).second) {
            ++m_reading.otherSettings;
        }
    }

private:
    Reading& m_reading;
    Scope m_scope;
    const char* m_why;
    std::set<std::string> m_others;
};

// The request the environment makes: QZ_WMI_CAPTURE and QZ_FIRMWARE_ATTRIBUTES_DIR, read only
// where the caller may steer this process (not in a setuid, setgid or file-capability process). A
// variable set but empty is refused: nobody sets one to mean nothing.
SourceRequest RequestFromEnvironment();

#if !defined(_WIN32)
// Reads the settings once: the capture when one is named, else the firmware-attributes tree.
// Never throws.
Reading ReadSources(const SourceRequest& request) noexcept;
#endif

}  // namespace qz::shared::sources
