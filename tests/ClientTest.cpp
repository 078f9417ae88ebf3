// The stand-in WMI client of systems without WMI: the firmware-attributes reader on trees that
// cannot be committed, and the query it answers. Capture files and committed trees are tested
// through qzbios-dump (CMakeLists.txt).
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
#include "WbemStatus.h"

namespace qz::shared::wmi {

// Readable failure messages for rows.
void PrintTo(const CaptureRow& row, std::ostream* out) {
    *out << '{' << (row.name ? '"' + *row.name + '"' : "null") << ", "
         << (row.value ? '"' + *row.value + '"' : "null") << '}';
}

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<CaptureRow>;
using Text = std::optional<std::string>;

// A tree of one device, "dev", built in a temporary folder.
class FirmwareTree : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(m_root);
        fs::create_directories(m_root / "dev" / "attributes");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path Attribute(const std::string& name) {
        fs::create_directories(m_root / "dev" / "attributes" / name);
        return m_root / "dev" / "attributes" / name;
    }
    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }

    fs::path m_root = fs::path(::testing::TempDir()) / ("qzbios-fw-" + std::to_string(getpid()));
};

TEST_F(FirmwareTree, OddFilesNeverStopTheReadAndBytesPassThrough) {
    Attribute("NoFilesAtAll");
    fs::create_directories(Attribute("DirectoryValue") / "current_value");
    fs::create_symlink("current_value", Attribute("SymlinkLoop") / "current_value");
    ASSERT_EQ(mkfifo((Attribute("Fifo") / "current_value").c_str(), 0600), 0);
    Write(Attribute("NoPossibleValues") / "type", "enumeration\n");
    Write(m_root / "dev/attributes/NoPossibleValues/current_value", "On\n");
    Write(Attribute("EmptyDisplayName") / "display_name", "\n");
    Write(m_root / "dev/attributes/EmptyDisplayName/current_value", "");
    Write(Attribute("Bytes") / "display_name", "Caf\xe9 \xff\n");
    Write(m_root / "dev/attributes/Bytes/current_value", std::string("a\0b\n", 4));
    Write(Attribute("Huge") / "current_value", std::string(65536, 'x') + "yz");
    Write(Attribute("SetupPw") / "display_name", "Setup Password\n");
    Write(m_root / "dev/attributes/SetupPw/current_value", "firmware's own");
    for (const char* entry : {"Admin", "System"}) {
        fs::create_directories(m_root / "dev/authentication" / entry);
        Write(m_root / "dev/authentication" / entry / "is_enabled", "1\n");
    }
    Rows rows;
    std::vector<std::string> devices;
    ASSERT_TRUE(ReadFirmwareAttributes(m_root.string(), rows, devices));
    EXPECT_EQ(devices, std::vector<std::string>{"dev"});
    EXPECT_EQ(rows, (Rows{{Text("Caf\xe9 \xff"), Text(std::string("a\0b", 3))},
                          {Text("DirectoryValue"), Text()},
                          {Text("EmptyDisplayName"), Text("")},
                          {Text("Fifo"), Text()},
                          {Text("Huge"), Text(std::string(65536, 'x'))},
                          {Text("NoFilesAtAll"), Text()},
                          {Text("NoPossibleValues"), Text("On")},
                          {Text("Setup Password"), Text("firmware's own")},
                          {Text("SymlinkLoop"), Text()},
                          {Text("Power-On Password"), Text("1")}}));
}

TEST(StandInClient, AnswersTheWholeNamespaceQueryAndPropertyNamesOnly) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    const std::wstring ns = L"\\\\.\\root\\QZ\\InstrumentedBios";
    const std::wstring query = L"SELECT * FROM QZ_BIOSSetting";
    const std::tuple<std::wstring, std::wstring, std::int32_t> cases[] = {
        {ns, query, kWbemOk},
        {L"\\\\.\\ROOT\\qz\\instrumentedBIOS", L"select * from qz_biossetting", kWbemOk},
        {ns.substr(0, ns.size() - 1), query, kWbemInvalidNamespace},
        {ns + L"2", query, kWbemInvalidNamespace},
        {ns, query.substr(0, query.size() - 1), kWbemInvalidQuery},
        {ns, query + L"s", kWbemInvalidQuery},
    };
    for (const auto& [space, text, status] : cases) {
        WMIClient client(space);
        EXPECT_EQ(client.Query(text), status);
        EXPECT_EQ(client.GetNext(), status == kWbemOk);
    }
    WMIClient client(ns);
    client.Query(query);
    ASSERT_TRUE(client.GetNext());
    const char* text = nullptr;
    EXPECT_EQ(client.GetValue(L"NAME", &text), kWbemOk);
    EXPECT_STREQ(text, "Runtime Power Management");
    for (const wchar_t* property : {L"Nam", L"Names", L"Valu", L"Values"}) {
        EXPECT_EQ(client.GetValue(property, &text), kWbemNotFound);
        EXPECT_EQ(text, nullptr);
    }
    setenv("QZ_WMI_CAPTURE", QZBIOS_BAD_CAPTURE, 1);
    EXPECT_EQ(client.Query(query), kWbemFailed);
    EXPECT_FALSE(client.GetNext());
}

}  // namespace
}  // namespace qz::shared::wmi
