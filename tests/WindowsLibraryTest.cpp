// A host of the DLL on a machine without the BIOS settings provider.
#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "support/RecordFields.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::qzbios::QZBiosData;

TEST(WindowsLibrary, NoProviderGivesEmptyTextsAndNaForPxeBoot) {
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData* records = bios.GetQZBiosData(count);
    ASSERT_EQ(count, 1u);
    ASSERT_NE(records, nullptr);
    for (const auto& [name, value] : qz::test::RecordFields(records[0])) {
        EXPECT_EQ(value, name == "NetPXEBoot"                                    ? "NA"
                         : name == "BIOAPS" || name == "POSTPS" || name == "VMS" ? "0"
                                                                                 : "")
            << name;
    }
    records = bios.GetQZBiosData(count);
    EXPECT_EQ(count, 2u);
}

}  // namespace
