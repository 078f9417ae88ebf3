// The fields of a record in declaration order, each by its attribute's result key: how the library
// fills a record from a snapshot, what qzbios-dump prints, and how the tests walk a record. A
// compile-time check below keeps it in step with the attribute table. Internal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bios/AttributeTable.h"
#include "qzbios/QZBios.h"

namespace qz::shared::qzbios {

// Exactly one of `text` and `number` is set.
struct RecordField {
    const char* name;
    const char* QZBiosData::*text;
    std::int32_t QZBiosData::*number;
};

inline constexpr RecordField kRecordFields[] = {
    {"RunPowMgmt", &QZBiosData::RunPowMgmt, nullptr},
    {"IdlPowSvngs", &QZBiosData::IdlPowSvngs, nullptr},
    {"PS2MsWakeup", &QZBiosData::PS2MsWakeup, nullptr},
    {"SlpStBlnkRts", &QZBiosData::SlpStBlnkRts, nullptr},
    {"SataPowMgmt", &QZBiosData::SataPowMgmt, nullptr},
    {"Multiprocessor", &QZBiosData::Multiprocessor, nullptr},
    {"Hyperthreading", &QZBiosData::Hyperthreading, nullptr},
    {"IntgVideo", &QZBiosData::IntgVideo, nullptr},
    {"TurboMode", &QZBiosData::TurboMode, nullptr},
    {"VTX", &QZBiosData::VTX, nullptr},
    {"MEMgmtMd", &QZBiosData::MEMgmtMd, nullptr},
    {"BIOAPS", nullptr, &QZBiosData::BIOAPS},
    {"POSTPS", nullptr, &QZBiosData::POSTPS},
    {"RBIOSDGU", &QZBiosData::RBIOSDGU, nullptr},
    {"FastBoot", &QZBiosData::FastBoot, nullptr},
    {"USBSBoot", &QZBiosData::USBSBoot, nullptr},
    {"NetPXEBoot", &QZBiosData::NetPXEBoot, nullptr},
    {"LBO", &QZBiosData::LBO, nullptr},
    {"UEFIBO", &QZBiosData::UEFIBO, nullptr},
    {"BWBIOSSP", &QZBiosData::BWBIOSSP, nullptr},
    {"EQZFIPD", &QZBiosData::EQZFIPD, nullptr},
    {"BWSEP", &QZBiosData::BWSEP, nullptr},
    {"VTD", &QZBiosData::VTD, nullptr},
    {"FASTCHARGE", &QZBiosData::FASTCHARGE, nullptr},
    {"DPTF", &QZBiosData::DPTF, nullptr},
    {"VMS", nullptr, &QZBiosData::VMS},
    {"BHM", &QZBiosData::BHM, nullptr},
    {"LANWLANswitching", &QZBiosData::LANWLANswitching, nullptr},
    {"LANWWANswitching", &QZBiosData::LANWWANswitching, nullptr},
    {"S5MaxPowSav", &QZBiosData::S5MaxPowSav, nullptr},
    {"MeFwVer", &QZBiosData::MeFwVer, nullptr},
};

// The field of a result key; null for a key no field has.
constexpr const RecordField* FieldOf(std::string_view resultKey) {
    for (const RecordField& field : kRecordFields) {
        if (resultKey == field.name) {
            return &field;
        }
    }
    return nullptr;
}

// The index of `field` in kRecordFields.
constexpr std::size_t IndexOf(const RecordField& field) {
    return static_cast<std::size_t>(&field - kRecordFields);
}

constexpr bool EveryAttributeHasItsField() {
    for (const AttributeRow& row : kAttributeTable) {
        if (FieldOf(row.resultKey) == nullptr) {
            return false;
        }
    }
    return std::size(kAttributeTable) == std::size(kRecordFields) &&
           std::size(kNameTable) == std::size(kRecordFields);
}
static_assert(EveryAttributeHasItsField(),
              "the record's fields and the attribute table name the same 31 result keys");

}  // namespace qz::shared::qzbios
