// Settings rows made from the input (known and unknown names, values of any bytes, unreadable
// properties) go through one snapshot and one record, which must keep the library's promises: all
// 31 keys, each value within its limit, boot orders without commas, NetPXEBoot "NA" exactly when
// empty, and std::out_of_range only for a three-byte Video Memory Size option.
#include <cstdint>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "Invariant.h"
#include "bios/QZBiosImpl.h"
#include "support/FakeWMIClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<qz::test::FakeRow> known = qz::test::FullSettings();
    static const std::map<std::string, std::size_t> limits = {
        {"MeFwVer", 32},  {"RBIOSDGU", 64},     {"BHM", 128},         {"LBO", 1024},
        {"UEFIBO", 1024}, {"BIOAPS", SIZE_MAX}, {"POSTPS", SIZE_MAX}, {"VMS", SIZE_MAX}};
    // A marked option of three bytes, up to the first NUL: the only option the trim cannot take.
    static const std::regex kThreeByteOption("(^|,)\\*[^,]{2}(,|$)");
    FuzzedDataProvider input(data, size);
    qz::test::FakeRows() = {};
    bool mayFail = false;  // a Video Memory Size value holds a marked option of three bytes
    while (input.remaining_bytes() > 0 && qz::test::FakeRows().size() < 200) {
        const auto kind = input.ConsumeIntegral<std::uint8_t>();
        qz::test::FakeRow row;
        if ((kind & 3) != 0) {
            row.name = known[input.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)].name;
        } else if ((kind & 4) == 0) {
            row.name = input.ConsumeRandomLengthString(48);
        }
        if ((kind & 0x18) != 0x18) {
            row.value = input.ConsumeRandomLengthString(2048);
            mayFail = mayFail || (row.name == "Video Memory Size" &&
                                  std::regex_search(row.value->c_str(), kThreeByteOption));
        }
        qz::test::FakeRows().push_back(std::move(row));
    }
    qz::shared::qzbios::QZBiosImpl impl;
    try {
        impl.utils.CollectBiosAttributes(impl.snapshots);
    } catch (const std::out_of_range&) {
        Check(mayFail, "out_of_range without a three-byte video memory option");
        return 0;
    }
    const qz::shared::qzbios::BiosAttributeMap& snapshot = impl.snapshots.at(0);
    Check(snapshot.size() == 31, "key count " + std::to_string(snapshot.size()));
    for (const auto& [key, value] : snapshot) {
        const auto limit = limits.find(key);
        Check(value.size() <= (limit == limits.end() ? 16 : limit->second), "limit of " + key);
        Check((key != "LBO" && key != "UEFIBO") || value.find(',') == std::string::npos, "pipes");
    }
    std::uint64_t count = 0;
    const qz::shared::qzbios::QZBiosData* record = impl.GetQZBiosData(count);
    const std::string& pxe = snapshot.at("NetPXEBoot");
    Check(count == 1 && (pxe.empty() ? std::string(record->NetPXEBoot) == "NA"
                                     : record->NetPXEBoot == pxe.c_str()),
          "one record, NetPXEBoot");
    return 0;
}
