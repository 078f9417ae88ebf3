// The fields of a record in declaration order, by name: what qzbios-dump prints, and how the tests
// walk a record.
#pragma once

#include <cstdint>

#include "qzbios/QZBios.h"

namespace qz::tools {

using shared::qzbios::QZBiosData;

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

}  // namespace qz::tools
