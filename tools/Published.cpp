#include "Published.h"

#include <cstring>
#include <map>
#include <optional>

#include "FieldTable.h"
#include "bios/QZBiosUtils.h"

namespace qz::tools {

Publication Publish(const std::vector<shared::wmi::CaptureRow>& rows) {
    // The last row of a name wins, as in the library.
    std::map<std::string, const std::optional<std::string>*> values;
    for (const shared::wmi::CaptureRow& row : rows) {
        if (row.name) {
            values[*row.name] = &row.value;
        }
    }
    std::map<std::string, std::string> names;  // result key to setting name
    for (auto& [key, name] : shared::qzbios::QZBiosUtils::AttributeSettings()) {
        names.emplace(std::move(key), std::move(name));
    }
    Publication publication;
    publication.settings = values.size();
    for (const RecordField& field : kRecordFields) {
        const std::string& name = names.at(field.name);
        const auto found = values.find(name);
        const bool published = found != values.end();
        const bool read = published && found->second->has_value();
        publication.published.push_back(published);
        publication.read.push_back(read);
        publication.publishedCount += published ? 1 : 0;
        if (published && !read) {
            publication.unread.push_back(name);
        }
        if (read && std::strcmp(field.name, "VMS") == 0) {
            publication.videoMemory = **found->second;
        }
    }
    return publication;
}

}  // namespace qz::tools
