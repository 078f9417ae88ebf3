// The 31 fields of a record in declaration order, for comparing records in tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qzbios/QZBios.h"

namespace qz::test {

// TEXT(field) or NUMBER(field) for each field of QZBiosData, in declaration order.
// clang-format off
#define QZ_RECORD_FIELDS(TEXT, NUMBER)                                                          \
    TEXT(RunPowMgmt) TEXT(IdlPowSvngs) TEXT(PS2MsWakeup) TEXT(SlpStBlnkRts) TEXT(SataPowMgmt) \
    TEXT(Multiprocessor) TEXT(Hyperthreading) TEXT(IntgVideo) TEXT(TurboMode) TEXT(VTX)       \
    TEXT(MEMgmtMd) NUMBER(BIOAPS) NUMBER(POSTPS) TEXT(RBIOSDGU) TEXT(FastBoot) TEXT(USBSBoot) \
    TEXT(NetPXEBoot) TEXT(LBO) TEXT(UEFIBO) TEXT(BWBIOSSP) TEXT(EQZFIPD) TEXT(BWSEP) TEXT(VTD) \
    TEXT(FASTCHARGE) TEXT(DPTF) NUMBER(VMS) TEXT(BHM) TEXT(LANWLANswitching)                  \
    TEXT(LANWWANswitching) TEXT(S5MaxPowSav) TEXT(MeFwVer)
// clang-format on

using Fields = std::vector<std::pair<std::string, std::string>>;

// (name, value) pairs: numbers in decimal, a null text as "<null>"; with `addresses`, each text
// field's address instead of its text.
inline Fields RecordFields(const shared::qzbios::QZBiosData& record, bool addresses = false) {
    Fields fields;
    auto text = [&](const char* name, const char* p) {
        fields.emplace_back(name, addresses ? std::to_string(reinterpret_cast<std::uintptr_t>(p))
                                  : p == nullptr ? "<null>"
                                                 : p);
    };
    auto number = [&](const char* name, std::int32_t n) {
        fields.emplace_back(name, std::to_string(n));
    };
#define QZ_TEXT(field) text(#field, record.field);
#define QZ_NUMBER(field) number(#field, record.field);
    QZ_RECORD_FIELDS(QZ_TEXT, QZ_NUMBER)
#undef QZ_TEXT
#undef QZ_NUMBER
    return fields;
}

}  // namespace qz::test
