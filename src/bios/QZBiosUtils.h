#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bios/Settings.h"

namespace qz::shared::qzbios {

// Every setting the firmware publishes: Name to raw Value, compared byte for byte.
using BiosSettingMap = std::map<std::string, std::string>;

// One snapshot: the 31 attribute result keys (such as "RunPowMgmt") to their selected values.
using BiosAttributeMap = std::unordered_map<std::string, std::string>;

// The operations that take one snapshot: the query that reads every setting, the name map, and the
// rules that reduce a setting's raw value to what the record shows. None keeps state.
class QZBiosUtils {
public:
    // A maxLength that never cuts.
    static constexpr std::uint64_t kNoLimit = qzbios::kNoLimit;

    // Reads all settings and appends one snapshot holding all 31 result keys to `snapshots`. On
    // any exception nothing is appended and the list keeps what it had.
    void CollectBiosAttributes(std::vector<BiosAttributeMap>& snapshots) const;

    // Appends the snapshot of the settings read into `settings` (which gains an empty entry for
    // each of the 31 it lacks), as CollectBiosAttributes does after its query. On any exception
    // nothing is appended.
    static void AppendSnapshot(BiosSettingMap& settings, std::vector<BiosAttributeMap>& snapshots);

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

    // Stores one row as QueryBiosSettings does: a row whose Name cannot be read (null) is skipped,
    // and a Value that cannot be read is the empty string.
    static void StoreRow(BiosSettingMap& settings, const char* name, const char* value);

    // The store rule of every row: `value` under `name`, found or inserted (an existing key stays
    // as it is), so that a later row of a name replaces an earlier one's value.
    template <typename Map, typename Name, typename Value>
    static void StoreSetting(Map& settings, Name name, Value value) {
        settings.try_emplace(std::move(name)).first->second = std::move(value);
    }
};

}  // namespace qz::shared::qzbios
