// The firmware-attributes tree: its limits, setting names and values that cannot be read, and which
// values a reading reads.
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sources/FirmwareAttributes.h"
#include "support/ScratchFolder.h"

namespace qz::shared::sources {
namespace {

using Rows = std::vector<SettingRow>;

// Every limit of a tree at its edge: as much as it admits is read, and one more is refused, saying
// which.
TEST(TreeLimits, AdmitTheEdgeAndRefuseOneMore) {
    // Trees: attributes of `size` bytes each, hard links to one file, as many as each row says.
    struct Tree {
        std::size_t attributes;
        std::size_t size;
        std::size_t small;  // attributes of one byte after them
        const char* refusal;
    };
    const Tree trees[] = {
        {4096, 1, 0, ""},
        {4096, 1, 1, "more than 4096 attributes, the most a firmware-attributes tree may have"},
        {64, 65536, 0, ""},
        {64, 65536, 1, "more than 4 MiB in its files, the most read of a firmware-attributes tree"},
    };
    for (const Tree& tree : trees) {
        const test::ScratchFolder scratchTree;
        const std::string& root = scratchTree.Path();
        std::filesystem::create_directories(root + "/dev/attributes");
        std::ofstream(root + "/large", std::ios::binary) << std::string(tree.size, 'x');
        std::ofstream(root + "/small", std::ios::binary) << "y";
        for (std::size_t i = 0; i < tree.attributes + tree.small; ++i) {
            const std::string folder = root + "/dev/attributes/a" + std::to_string(100000 + i);
            std::filesystem::create_directory(folder);
            ASSERT_EQ(link((root + (i < tree.attributes ? "/large" : "/small")).c_str(),
                           (folder + "/current_value").c_str()),
                      0);
        }
        Reading read;
        ReadFirmwareAttributes(root, Scope::Every, read);
        EXPECT_EQ(read.why, tree.refusal) << tree.attributes;
        EXPECT_EQ(read.rows.size(), *tree.refusal != '\0' ? 0 : tree.attributes) << tree.attributes;
    }
}

// A name comes from display_name, else the folder; a '\\' stands for the '/' of one of the 31.
// A current_value that exists but cannot be read says why; a missing one says nothing.
TEST(Attribute, NamesAndValuesThatCannotBeRead) {
    const std::tuple<std::optional<std::string>, std::string> names[] = {
        {"LAN \\ WLAN Auto Switching", "LAN / WLAN Auto Switching"},
        {"Virtualization Technology for Directed I\\O (VTd)",
         "Virtualization Technology for Directed I/O (VTd)"},
        {"A\\B", "A\\B"},
        {"", "Folder"},
        {std::nullopt, "Folder"},
    };
    for (const auto& [given, expected] : names) {
        std::optional<std::string> displayName = given;
        const auto read = [&displayName](const char*) {
            errno = ENOENT;
            return displayName;
        };
        EXPECT_EQ(AttributeName("Folder", read), expected);
    }
    for (const auto& [code, reason] :
         {std::pair{EINVAL, "Invalid argument"}, std::pair{EACCES, "Permission denied"},
          std::pair{ENOENT, ""}}) {
        std::string said = "unchanged";
        const int error = code;
        const auto read = [error](const char*) {
            errno = error;
            return std::optional<std::string>();
        };
        EXPECT_EQ(AttributeValue(read, said), std::nullopt);
        EXPECT_EQ(said, reason);
    }
}

// Only the settings the library reads cost a firmware read: a tree of the 31 and 300 others reads
// the values of the 31, and one of the others alone reads none, yet counts them.
TEST(Reading, ReadsTheValuesOfTheSettingsTheLibraryReadsOnly) {
    const test::ScratchFolder scratch;
    const std::string attributes = scratch / "dev/attributes/";
    std::filesystem::create_directories(attributes);
    const auto attribute = [&](const std::string& folder, const std::string& name) {
        std::filesystem::create_directory(attributes + folder);
        std::ofstream(attributes + folder + "/display_name") << name << "\n";
        std::ofstream(attributes + folder + "/current_value") << "Enable\n";
        std::ofstream(attributes + folder + "/type") << "enumeration\n";
        std::ofstream(attributes + folder + "/possible_values") << "Disable;Enable\n";
    };
    for (int i = 0; i < 300; ++i) {
        attribute("other" + std::to_string(i), "Other " + std::to_string(i));
    }
    Reading none;
    ReadFirmwareAttributes(scratch.Path(), Scope::Attributes, none);
    EXPECT_EQ(none.firmwareReads, 0u);
    EXPECT_EQ(none.otherSettings, 300u);
    EXPECT_TRUE(none.rows.empty());
    attribute("fast", "Fast Boot");
    attribute("lan", "LAN \\ WLAN Auto Switching");
    Reading two;
    ReadFirmwareAttributes(scratch.Path(), Scope::Attributes, two);
    EXPECT_EQ(two.firmwareReads, 6u);
    EXPECT_EQ(two.otherSettings, 300u);
    EXPECT_EQ(two.rows,
              (Rows{{std::string("Fast Boot"), std::string("Disable,*Enable")},
                    {std::string("LAN / WLAN Auto Switching"), std::string("Disable,*Enable")}}));
    Reading every;
    ReadFirmwareAttributes(scratch.Path(), Scope::Every, every);
    EXPECT_EQ(every.rows.size(), 302u);
    EXPECT_EQ(every.firmwareReads, 3 * 302u);
}

}  // namespace
}  // namespace qz::shared::sources
