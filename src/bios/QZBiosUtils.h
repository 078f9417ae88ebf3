#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qz::shared::qzbios {

// Every setting the firmware publishes: Name to raw Value, compared byte for byte.
using BiosSettingMap = std::map<std::string, std::string>;

// One snapshot: the 31 attribute result keys (such as "RunPowMgmt") to their selected values.
using BiosAttributeMap = std::unordered_map<std::string, std::string>;

// The operations that take one snapshot. None keeps state; they are members only so that the
// snapshot has one home.
class QZBiosUtils {
public:
    // A maxLength that never cuts.
    static constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

    // Reads all settings and appends one snapshot holding all 31 result keys to `snapshots`. On
    // any exception nothing is appended and the list keeps what it had.
    void CollectBiosAttributes(std::vector<BiosAttributeMap>& snapshots) const;

    // The value of one attribute: the setting behind `lookupKey`, reduced to its selected option
    // and cut to `maxLength` bytes. An absent setting gains an empty entry in `settings`.
    static std::string GetAttributeValue(const std::string& lookupKey, bool trimSuffix,
                                         std::uint64_t maxLength, BiosSettingMap& settings);

    // The first non-empty comma-separated option that begins with '*', without the '*' (and with
    // its last three bytes dropped first when `trimSuffix` is set and it has at least three); the
    // whole value when no option is marked. Throws std::out_of_range when `trimSuffix` leaves
    // nothing of a three-byte option.
    static std::string GetSelectedOption(const std::string& rawValue, bool trimSuffix);

    // Takes `value` over (leaving it empty) and returns it with every ',' turned into '|'.
    static std::string ReplaceCommasWithPipes(std::string&& value);

    // The BIOS setting name behind a lookup key, or the empty string for a key it does not know.
    // Never throws: a failure (memory running out) is logged as an error record and gives the
    // empty string.
    static std::string MapOfBiosAttribute(const std::string& lookupKey);

    // Stores the Name and Value of every QZ_BIOSSetting row in `settings`; a later row replaces
    // the value of an earlier one with the same Name. Rows whose Name cannot be read are skipped;
    // a Value that cannot be read is stored as the empty string.
    static void QueryBiosSettings(BiosSettingMap& settings);

    // Each attribute's result key and the BIOS setting name it is read from, in collection order,
    // from the tables CollectBiosAttributes reads: for a tool built with the library's code that
    // says which of them the firmware publishes. Not exported.
    static std::vector<std::pair<std::string, std::string>> AttributeSettings();
};

}  // namespace qz::shared::qzbios
