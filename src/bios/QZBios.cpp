#include "qzbios/QZBios.h"

#include <cstddef>

#include "bios/QZBiosImpl.h"
#include "bios/StringToInt.h"

namespace qz::shared::qzbios {

namespace {

// Shown for a Network (PXE) Boot setting the firmware leaves empty; lives as long as the library.
const char kNotAvailable[] = "NA";

struct TextField {
    const char* key;
    const char* QZBiosData::*field;
};

struct NumberField {
    const char* key;
    std::int32_t QZBiosData::*field;
};

constexpr TextField kTextFields[] = {
    {"RunPowMgmt", &QZBiosData::RunPowMgmt},
    {"IdlPowSvngs", &QZBiosData::IdlPowSvngs},
    {"PS2MsWakeup", &QZBiosData::PS2MsWakeup},
    {"SlpStBlnkRts", &QZBiosData::SlpStBlnkRts},
    {"SataPowMgmt", &QZBiosData::SataPowMgmt},
    {"Multiprocessor", &QZBiosData::Multiprocessor},
    {"Hyperthreading", &QZBiosData::Hyperthreading},
    {"IntgVideo", &QZBiosData::IntgVideo},
    {"TurboMode", &QZBiosData::TurboMode},
    {"VTX", &QZBiosData::VTX},
    {"MEMgmtMd", &QZBiosData::MEMgmtMd},
    {"RBIOSDGU", &QZBiosData::RBIOSDGU},
    {"FastBoot", &QZBiosData::FastBoot},
    {"USBSBoot", &QZBiosData::USBSBoot},
    {"LBO", &QZBiosData::LBO},
    {"UEFIBO", &QZBiosData::UEFIBO},
    {"BWBIOSSP", &QZBiosData::BWBIOSSP},
    {"EQZFIPD", &QZBiosData::EQZFIPD},
    {"BWSEP", &QZBiosData::BWSEP},
    {"VTD", &QZBiosData::VTD},
    {"FASTCHARGE", &QZBiosData::FASTCHARGE},
    {"DPTF", &QZBiosData::DPTF},
    {"BHM", &QZBiosData::BHM},
    {"LANWLANswitching", &QZBiosData::LANWLANswitching},
    {"LANWWANswitching", &QZBiosData::LANWWANswitching},
    {"S5MaxPowSav", &QZBiosData::S5MaxPowSav},
    {"MeFwVer", &QZBiosData::MeFwVer},
};

constexpr NumberField kNumberFields[] = {
    {"BIOAPS", &QZBiosData::BIOAPS},
    {"POSTPS", &QZBiosData::POSTPS},
    {"VMS", &QZBiosData::VMS},
};

// Texts point into the snapshot; nothing is copied.
QZBiosData MakeRecord(const BiosAttributeMap& snapshot) {
    QZBiosData record{};
    for (const TextField& text : kTextFields) {
        record.*text.field = snapshot.at(text.key).c_str();
    }
    const std::string& netPxeBoot = snapshot.at("NetPXEBoot");
    record.NetPXEBoot = netPxeBoot.empty() ? kNotAvailable : netPxeBoot.c_str();
    for (const NumberField& number : kNumberFields) {
        record.*number.field = StringToInt(snapshot.at(number.key));
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
