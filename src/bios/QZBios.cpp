#include "qzbios/QZBios.h"

#include <cstddef>

#include "bios/QZBiosImpl.h"
#include "bios/RecordFields.h"
#include "bios/StringToInt.h"

namespace qz::shared::qzbios {

namespace {

// Shown for a Network (PXE) Boot setting the firmware leaves empty; lives as long as the library.
const char kNotAvailable[] = "NA";

// Texts point into the snapshot; nothing is copied.
QZBiosData MakeRecord(const BiosAttributeMap& snapshot) {
    QZBiosData record{};
    for (const RecordField& field : kRecordFields) {
        const std::string& value = snapshot.at(field.name);
        if (field.number != nullptr) {
            record.*field.number = StringToInt(value);
        } else {
            record.*field.text = value.c_str();
        }
    }
    if (*record.NetPXEBoot == '\0') {
        record.NetPXEBoot = kNotAvailable;
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
