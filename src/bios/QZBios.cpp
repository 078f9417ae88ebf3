#include "qzbios/QZBios.h"

#include <cstddef>

#include "bios/QZBiosImpl.h"
#include "bios/Settings.h"
#include "bios/StringToInt.h"

namespace qz::shared::qzbios {

namespace {

// Texts point into the snapshot, or to the table's text for an empty value, which lives as long as
// the library; nothing is copied.
QZBiosData MakeRecord(const BiosAttributeMap& snapshot) {
    QZBiosData record{};
    for (const Setting& setting : kSettings) {
        const std::string& value = snapshot.at(setting.resultKey);
        if (setting.field.number != nullptr) {
            record.*setting.field.number = StringToInt(value);
        } else {
            record.*setting.field.text =
                value.empty() && setting.whenEmpty != nullptr ? setting.whenEmpty : value.c_str();
        }
    }
    return record;
}

}  // namespace

QZBiosData* QZBiosImpl::GetQZBiosData(std::uint64_t& count) {
    count = snapshots.size();
    for (const BiosAttributeMap& snapshot : snapshots) {
        records.push_back(MakeRecord(snapshot));
    }
    count = records.size();
    return records.empty() ? nullptr : records.data();
}

QZBios::QZBios() : m_impl(std::make_unique<QZBiosImpl>()) {
    m_impl->utils.CollectBiosAttributes(m_impl->snapshots);
}

QZBios::~QZBios() = default;

QZBiosData* QZBios::GetQZBiosData(std::uint64_t& count) { return m_impl->GetQZBiosData(count); }

}  // namespace qz::shared::qzbios
