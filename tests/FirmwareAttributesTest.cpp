#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SettingsSource.h"

namespace qz::shared::wmi {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<CaptureRow>;
using Text = std::optional<std::string>;

}  // namespace

// Readable failure messages for rows.
void PrintTo(const CaptureRow& row, std::ostream* out) {
    *out << '{' << (row.name ? '"' + *row.name + '"' : "null") << ", "
         << (row.value ? '"' + *row.value + '"' : "null") << '}';
}

namespace {

TEST(ReadFirmwareAttributes, TurnsAFixtureTreeIntoRows) {
    Rows rows;
    std::vector<std::string> devices;
    ASSERT_TRUE(ReadFirmwareAttributes(QZBIOS_FIRMWARE_FIXTURE, rows, devices));
    EXPECT_EQ(devices, (std::vector<std::string>{"aux-firmware", "platform-bios"}));
    const Rows expected = {
        {Text("Battery Health Manager"), Text("")},
        {Text("Network (PXE) Boot"), Text("Disable,*Enable")},
        {Text("AssetTag"), Text("Rack 12, Slot 3")},
        {Text("Fast Boot"), Text("*Disable,Enable")},
        {Text("ME Firmware Version"), Text("16.1.30.2307")},
        {Text("Turbo-boost"), Text("Disable,Enable,*Auto")},
        {Text("UEFI Boot Order"), Text("OS Boot Manager,USB:,NETWORK IPV4")},
        {Text("Video Memory Size"), Text("64")},
        {Text("Virtualization Technology (VTx)"), Text("Disable,*Enable")},
        {Text("Setup Password"), Text("1")},
        {Text("Power-On Password"), Text("0")},
    };
    EXPECT_EQ(rows, expected);
}

// A tree of one device built in a temporary folder.
class BadTree : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::path(::testing::TempDir()) /
                 ("qzbios-fw-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root / "dev" / "attributes");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path Attribute(const std::string& name) {
        fs::path dir = m_root / "dev" / "attributes" / name;
        fs::create_directories(dir);
        return dir;
    }
    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    Rows Read() {
        Rows rows;
        std::vector<std::string> devices;
        EXPECT_TRUE(ReadFirmwareAttributes(m_root.string(), rows, devices));
        return rows;
    }

    fs::path m_root;
};

TEST_F(BadTree, MissingAndOddFilesNeverStopTheRead) {
    Attribute("NoFilesAtAll");
    const fs::path directoryValue = Attribute("DirectoryValue");
    fs::create_directories(directoryValue / "current_value");
    const fs::path loop = Attribute("SymlinkLoop");
    fs::create_symlink(loop / "current_value", loop / "current_value");
    const fs::path fifo = Attribute("Fifo");
    ASSERT_EQ(mkfifo((fifo / "current_value").c_str(), 0600), 0);
    const fs::path noPossible = Attribute("NoPossibleValues");
    Write(noPossible / "type", "enumeration\n");
    Write(noPossible / "current_value", "On\n");
    const fs::path unknownType = Attribute("UnknownType");
    Write(unknownType / "type", "password\n");
    Write(unknownType / "current_value", "*secret,x");
    const fs::path emptyName = Attribute("EmptyDisplayName");
    Write(emptyName / "display_name", "\n");
    Write(emptyName / "current_value", "");
    Write(m_root / "dev" / "attributes" / "pending_reboot", "1\n");
    fs::create_directories(m_root / "not-a-device");

    EXPECT_EQ(Read(), (Rows{{Text("DirectoryValue"), Text()},
                            {Text("EmptyDisplayName"), Text("")},
                            {Text("Fifo"), Text()},
                            {Text("NoFilesAtAll"), Text()},
                            {Text("NoPossibleValues"), Text("On")},
                            {Text("SymlinkLoop"), Text()},
                            {Text("UnknownType"), Text("*secret,x")}}));
}

TEST_F(BadTree, KeepsBytesAndBoundsHugeFiles) {
    const fs::path bytes = Attribute("Bytes");
    Write(bytes / "display_name", "Caf\xe9 \xff\n");
    Write(bytes / "current_value", std::string("a\0b\n", 4));
    const fs::path huge = Attribute("Huge");
    Write(huge / "current_value", std::string(5 * kMaxAttributeFileBytes, 'x'));
    const Rows rows = Read();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, Text("Caf\xe9 \xff"));
    EXPECT_EQ(rows[0].value, Text(std::string("a\0b", 3)));
    EXPECT_EQ(rows[1].value, Text(std::string(kMaxAttributeFileBytes, 'x')));
}

TEST_F(BadTree, FirmwarePasswordsWinOverAuthenticationEntries) {
    const fs::path own = Attribute("SetupPw");
    Write(own / "display_name", "Setup Password\n");
    Write(own / "current_value", "firmware's own");
    for (const char* entry : {"Admin", "System"}) {
        fs::create_directories(m_root / "dev" / "authentication" / entry);
        Write(m_root / "dev" / "authentication" / entry / "is_enabled", "1\n");
    }
    EXPECT_EQ(Read(), (Rows{{Text("Setup Password"), Text("firmware's own")},
                            {Text("Power-On Password"), Text("1")}}));
}

TEST(ReadFirmwareAttributes, AMissingRootHasNoDevice) {
    Rows rows{{Text("stale"), Text()}};
    std::vector<std::string> devices{"stale"};
    ASSERT_TRUE(ReadFirmwareAttributes("/nonexistent/firmware-attributes", rows, devices));
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(devices.empty());
}

TEST(FindSettingsSource, ACaptureWinsOverTheFirmwareTree) {
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", QZBIOS_FIRMWARE_FIXTURE, 1);
    setenv("QZ_WMI_CAPTURE", "/some/capture.json", 1);
    SettingsSource source = FindSettingsSource();
    EXPECT_EQ(source.kind, SettingsSource::Kind::kCapture);
    EXPECT_EQ(source.path, "/some/capture.json");

    unsetenv("QZ_WMI_CAPTURE");
    source = FindSettingsSource();
    EXPECT_EQ(source.kind, SettingsSource::Kind::kFirmwareAttributes);
    EXPECT_EQ(source.devices, (std::vector<std::string>{"aux-firmware", "platform-bios"}));

    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", "/nonexistent", 1);
    EXPECT_EQ(FindSettingsSource().kind, SettingsSource::Kind::kNone);
    unsetenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
}

}  // namespace
}  // namespace qz::shared::wmi
