#include "reading/Record.h"

#include <new>
#include <set>

#include "bios/QZBiosUtils.h"
#include "bios/Settings.h"

namespace qz::shared::reading {

using qzbios::kSettings;

std::map<SettingKey, std::size_t> LastRows(const sources::Reading& reading, bool byDevice) {
    std::map<SettingKey, std::size_t> last;
    for (std::size_t i = 0; i < reading.rows.size(); ++i) {
        if (const auto& name = reading.rows[i].name) {
            const bool device = byDevice && i < reading.rowDevices.size();
            qzbios::QZBiosUtils::StoreSetting(
                last, SettingKey(device ? reading.rowDevices[i] : std::string(), *name), i);
        }
    }
    return last;
}

Coverage CoverageOf(const sources::Reading& reading) {
    const std::map<SettingKey, std::size_t> last = LastRows(reading, false);
    Coverage coverage;
    coverage.otherSettings = reading.otherSettings;
    for (const auto& [key, row] : last) {
        coverage.otherSettings += qzbios::IsLibrarySetting(key.second) ? 0U : 1U;
    }
    for (const qzbios::Setting& setting : kSettings) {
        const auto found = last.find(SettingKey(std::string(), setting.name));
        const bool published = found != last.end();
        const std::optional<std::string>* value =
            published ? &reading.rows[found->second].value : nullptr;
        const bool read = published && value->has_value();
        coverage.published.push_back(published);
        coverage.read.push_back(read);
        coverage.publishedCount += published ? 1 : 0;
        if (published && !read) {
            const auto reason = reading.unread.find(found->second);
            coverage.unread[reason != reading.unread.end() ? reason->second : "not read"].push_back(
                setting.name);
            ++coverage.unreadCount;
        }
        if (read && setting.trimSuffix) {
            coverage.trimmedValue = **value;
        }
    }
    return coverage;
}

const qzbios::QZBiosData& MakeRecord(const sources::Reading& reading, qzbios::QZBiosImpl& bios) {
    qzbios::BiosSettingMap settings;
    for (const sources::SettingRow& row : reading.rows) {
        qzbios::QZBiosUtils::StoreRow(settings, row.name ? row.name->c_str() : nullptr,
                                      row.value ? row.value->c_str() : nullptr);
    }
    // No setting of the 31 has the empty name, so a row of that name changes nothing of the
    // record; without it, an empty name looked up shows that the name map failed, which the class
    // absorbs (an empty value) but a reading for the faces reports as memory running out.
    settings.erase(std::string());
    qzbios::QZBiosUtils::AppendSnapshot(settings, bios.snapshots);
    if (settings.count(std::string()) != 0) {
        bios.snapshots.pop_back();
        throw std::bad_alloc();
    }
    std::uint64_t count = 0;
    return bios.GetQZBiosData(count)[count - 1];
}

}  // namespace qz::shared::reading
