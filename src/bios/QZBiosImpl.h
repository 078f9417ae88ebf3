#pragma once

#include <cstdint>
#include <vector>

#include "bios/QZBiosUtils.h"
#include "qzbios/QZBios.h"

namespace qz::shared::qzbios {

// What a QZBios object owns. Members are destroyed in reverse order: the snapshots go before the
// records that point into them.
class QZBiosImpl {
public:
    // Appends one record per snapshot and returns the whole record list (null when it is empty).
    // Throws std::out_of_range when a snapshot lacks a key; `count` then already holds the number
    // of snapshots and the records appended before the bad snapshot stay.
    QZBiosData* GetQZBiosData(std::uint64_t& count);

    std::vector<QZBiosData> records;
    std::vector<BiosAttributeMap> snapshots;
    QZBiosUtils utils;
};

}  // namespace qz::shared::qzbios
