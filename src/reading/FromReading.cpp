#include "FromReading.h"

#include <set>

#include "bios/QZBiosUtils.h"
#include "bios/RecordFields.h"

namespace qz::shared::qzbios {

Publication Publish(const wmi::Reading& reading) {
    // Each name's row as the library keeps it: the last row of a name wins.
    std::map<std::string, std::size_t> last;
    std::set<std::string> others;
    for (std::size_t i = 0; i < reading.rows.size(); ++i) {
        if (const auto& name = reading.rows[i].name) {
            QZBiosUtils::StoreSetting(last, *name, i);
            if (!IsAttributeSetting(*name)) {
                others.insert(*name);
            }
        }
    }
    Publication publication;
    publication.otherSettings = reading.otherSettings + others.size();
    for (const auto& field : kRecordFields) {
        const std::string name(SettingOfResultKey(field.name));
        const auto found = last.find(name);
        const bool published = found != last.end();
        const std::optional<std::string>* value =
            published ? &reading.rows[found->second].value : nullptr;
        const bool read = published && value->has_value();
        publication.published.push_back(published);
        publication.read.push_back(read);
        publication.publishedCount += published ? 1 : 0;
        if (published && !read) {
            const auto reason = reading.unread.find(found->second);
            publication.unread[reason != reading.unread.end() ? reason->second : "not read"]
                .push_back(name);
            ++publication.unreadCount;
        }
        if (read && name == SettingOfResultKey("VMS")) {
            publication.videoMemory = **value;
        }
    }
    return publication;
}

const QZBiosData& MakeRecord(const wmi::Reading& reading, QZBiosImpl& bios) {
    BiosSettingMap settings;
    for (const wmi::CaptureRow& row : reading.rows) {
        if (row.name) {
            QZBiosUtils::StoreSetting(settings, *row.name, row.value.value_or(""));
        }
    }
    QZBiosUtils::AppendSnapshot(settings, bios.snapshots);
    std::uint64_t count = 0;
    return bios.GetQZBiosData(count)[count - 1];
}

}  // namespace qz::shared::qzbios
