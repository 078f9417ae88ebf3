// Settings rows made from the input (known and unknown names, values of any bytes, unreadable
// properties) go through one snapshot; the record must keep every promise the library makes about
// its fields, and a field whose setting was published once must hold exactly the selected option.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "bios/QZBiosUtils.h"
#include "bios/StringToInt.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"

namespace {

using qz::shared::qzbios::QZBiosUtils;

constexpr std::uint64_t kNoLimit = QZBiosUtils::kNoLimit;

// What a field of the record is made of: the lookup key naming its setting, the length limit,
// and whether the suffix is trimmed and commas become bars.
struct FieldRule {
    const char* field;
    const char* lookupKey;
    std::uint64_t limit;
    bool trim = false;
    bool pipes = false;
};

const std::vector<FieldRule>& Rules() {
    static const std::vector<FieldRule> rules = {
        {"RunPowMgmt", "RunPowMgt", 16},
        {"IdlPowSvngs", "IdlPowSvngs", 16},
        {"PS2MsWakeup", "PS2MsWakeup", 16},
        {"SlpStBlnkRts", "SlpStBlnkRts", 16},
        {"SataPowMgmt", "SataPowMgmt", 16},
        {"Multiprocessor", "Multiprocessor", 16},
        {"Hyperthreading", "Hyperthreading", 16},
        {"IntgVideo", "IntgVideo", 16},
        {"TurboMode", "TurboMode", 16},
        {"VTX", "VTX", 16},
        {"MEMgmtMd", "MEMgmtMd", 16},
        {"BIOAPS", "BIOSAPS", kNoLimit},
        {"POSTPS", "POSTPS", kNoLimit},
        {"RBIOSDGU", "RBIOSDGU", 64},
        {"FastBoot", "FastBoot", 16},
        {"USBSBoot", "USBSBoot", 16},
        {"NetPXEBoot", "NetPXEBoot", 16},
        {"LBO", "LBO", 1024, false, true},
        {"UEFIBO", "UEFIBO", 1024, false, true},
        {"BWBIOSSP", "BWBIOSSP", 16},
        {"EQZFIPD", "EQZFIPD", 16},
        {"BWSEP", "BWSEP", 16},
        {"VTD", "VTD", 16},
        {"FASTCHARGE", "FASTCHARGE", 16},
        {"DPTF", "DPTF", 16},
        {"VMS", "VMS", kNoLimit, true},
        {"BHM", "BHM", 128},
        {"LANWLANswitching", "LANWLANswitching", 16},
        {"LANWWANswitching", "LANWWANswitching", 16},
        {"S5MaxPowSav", "S5MaxPowSav", 16},
        {"MeFwVer", "MeFwVer", 32},
    };
    return rules;
}

// The client hands names and values over as C strings, which end at their first NUL byte.
std::string AsDelivered(const std::string& text) { return text.substr(0, text.find('\0')); }

[[noreturn]] void Broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
    std::abort();
}

// The value a field takes from a raw value, written from the rules of the snapshot rather than from
// the library's code; nullopt when the snapshot must fail instead.
std::optional<std::string> Expected(const FieldRule& rule, const std::string& raw) {
    std::optional<std::string> current;
    std::size_t begin = 0;
    while (begin < raw.size()) {
        std::size_t end = raw.find(',', begin);
        end = end == std::string::npos ? raw.size() : end;
        if (end > begin && raw[begin] == '*') {
            current = raw.substr(begin, end - begin);
            break;
        }
        begin = end + 1;
    }
    std::string value = raw;
    if (current) {
        if (rule.trim && current->size() >= 3) {
            current->resize(current->size() - 3);
        }
        if (current->empty()) {
            return std::nullopt;
        }
        value = current->substr(1);
    }
    if (rule.limit != kNoLimit && value.size() > rule.limit) {
        value.resize(rule.limit);
    }
    if (rule.pipes) {
        for (char& c : value) {
            c = c == ',' ? '|' : c;
        }
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<FieldRule>& rules = Rules();
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const FieldRule& rule : Rules()) {
            all.push_back(QZBiosUtils::MapOfBiosAttribute(rule.lookupKey));
        }
        return all;
    }();

    FuzzedDataProvider input(data, size);
    std::vector<qz::test::FakeRow> rows;
    while (input.remaining_bytes() > 0 && rows.size() < 200) {
        const auto kind = input.ConsumeIntegral<std::uint8_t>();
        qz::test::FakeRow row;
        if ((kind & 3) != 0) {
            row.name = names[input.ConsumeIntegralInRange<std::size_t>(0, names.size() - 1)];
        } else if ((kind & 4) == 0) {
            row.name = input.ConsumeRandomLengthString(48);
        }
        if ((kind & 0x18) != 0x18) {
            row.value = input.ConsumeRandomLengthString(2048);
        }
        rows.push_back(std::move(row));
    }
    qz::test::FakeWmi() = {};
    qz::test::FakeWmi().rows = rows;
    qz::test::FakeWmi().recordCalls = false;

    // For each setting, the raw values published under its name.
    std::map<std::string, std::vector<std::optional<std::string>>> published;
    for (const qz::test::FakeRow& row : rows) {
        if (row.name) {
            published[AsDelivered(*row.name)].push_back(row.value);
        }
    }
    const std::size_t vms = 25;
    bool mayFail = false;
    for (const std::optional<std::string>& raw : published[names[vms]]) {
        mayFail = mayFail || (raw && !Expected(rules[vms], AsDelivered(*raw)));
    }

    qz::test::Fields fields;
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
        if (count != 1 || records == nullptr) {
            Broken("record count", std::to_string(count));
        }
        for (const qz::test::RecordField& field : qz::test::AllRecordFields()) {
            if (field.text != nullptr && records[0].*field.text == nullptr) {
                Broken("null text", field.name);
            }
        }
        fields = qz::test::RecordFields(records[0]);
    } catch (const std::out_of_range& e) {
        if (!mayFail) {
            Broken("out_of_range without a three-byte video memory option", e.what());
        }
        return 0;
    }
    if (fields.size() != rules.size()) {
        Broken("field count", std::to_string(fields.size()));
    }
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const FieldRule& rule = rules[i];
        const std::string& value = fields[i].second;
        if (fields[i].first != rule.field) {
            Broken("field order", fields[i].first);
        }
        const bool number = rule.limit == kNoLimit;
        if (!number && value.size() > rule.limit) {
            Broken("longer than its limit", rule.field);
        }
        if (rule.pipes && value.find(',') != std::string::npos) {
            Broken("comma in a boot order", rule.field);
        }
        // A setting published exactly once, with a value, determines its field.
        const auto& raws = published[names[i]];
        if (raws.size() != 1 || !raws[0]) {
            continue;
        }
        std::optional<std::string> expected = Expected(rule, AsDelivered(*raws[0]));
        if (!expected) {
            Broken("a snapshot that had to fail did not", rule.field);
        }
        if (std::strcmp(rule.field, "NetPXEBoot") == 0 && expected->empty()) {
            expected = "NA";
        }
        if (number) {
            expected = std::to_string(qz::shared::qzbios::StringToInt(*expected));
        }
        if (value != *expected) {
            Broken("field value",
                   std::string(rule.field) + " = '" + value + "', expected '" + *expected + "'");
        }
    }
    return 0;
}
