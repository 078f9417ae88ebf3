// Settings rows made from the input (known and unknown names, values of any bytes, unreadable
// properties) go through a QZBios, which must keep its promises to a host: only a Video Memory
// Size setting can fail the snapshot (std::out_of_range), every call gives the same texts, the boot
// orders hold no comma, and NetPXEBoot is never empty.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/Invariant.h"
#include "qzbios/QZBios.h"
#include "support/FakeWMIClient.h"
#include "support/RecordFields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<qz::test::FakeRow> known = qz::test::FullSettings();
    FuzzedDataProvider input(data, size);
    qz::test::FakeRows() = {};
    bool videoMemory = false;
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
        }
        videoMemory = videoMemory || row.name == "Video Memory Size";
        qz::test::FakeRows().push_back(std::move(row));
    }
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        bios.GetQZBiosData(count);
        const qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
        Check(count == 2 && qz::test::RecordFields(records[0], true) ==
                                qz::test::RecordFields(records[1], true),
              "two calls, two records with the same texts");
        Check(std::strchr(records[0].LBO, ',') == nullptr &&
                  std::strchr(records[0].UEFIBO, ',') == nullptr,
              "a comma in a boot order");
        Check(*records[0].NetPXEBoot != '\0', "an empty NetPXEBoot");
    } catch (const std::out_of_range&) {
        Check(videoMemory, "out_of_range without a Video Memory Size setting");
    }
    return 0;
}
