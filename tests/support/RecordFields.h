// The 31 fields of a record in declaration order, for comparing records in tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qzbios/QZBios.h"

namespace qz::test {

using shared::qzbios::QZBiosData;

struct RecordField {
    const char* name = nullptr;
    const char* QZBiosData::*text = nullptr;     // null for a number field
    std::int32_t QZBiosData::*number = nullptr;  // null for a text field
};

inline const std::vector<RecordField>& AllRecordFields() {
    static const std::vector<RecordField> fields = {
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
    return fields;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// (name, value) pairs; numbers in decimal, a null text as "<null>".
inline Fields RecordFields(const QZBiosData& record) {
    Fields fields;
    for (const RecordField& field : AllRecordFields()) {
        if (field.text == nullptr) {
            fields.emplace_back(field.name, std::to_string(record.*field.number));
        } else {
            const char* text = record.*field.text;
            fields.emplace_back(field.name, text == nullptr ? "<null>" : text);
        }
    }
    return fields;
}

// The addresses held by the 28 text fields.
inline std::vector<const char*> TextPointers(const QZBiosData& record) {
    std::vector<const char*> pointers;
    for (const RecordField& field : AllRecordFields()) {
        if (field.text != nullptr) {
            pointers.push_back(record.*field.text);
        }
    }
    return pointers;
}

}  // namespace qz::test
