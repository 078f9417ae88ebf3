// The stand-in WMI client of systems without WMI: capture files, the firmware-attributes reader,
// and the query it answers.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureFile.h"
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

// The rows of `text`, or the error when it is refused (then the rows given must stay as they were).
std::string Parse(const std::string& text, Rows& rows) {
    std::string error;
    const Rows before = rows;
    if (!ParseCapture(text, rows, error)) {
        EXPECT_EQ(rows, before) << "a refused capture changed the rows";
        return error.empty() ? "refused without a reason" : error;
    }
    return "";
}

TEST(ParseCapture, ReadsStringMembersNameAndValueOfEachObject) {
    const std::pair<std::string, Rows> cases[] = {
        {"\xEF\xBB\xBF[\r\n {\r\n  \"Name\":  \"Fast Boot\",\r\n  \"Value\":  "
         "\"*Disable,Enable\"\r\n"
         " },\r\n {\"Value\": \"x\", \"Name\": \"Second\", \"PSComputerName\": null}\r\n]\r\n",
         {{Text("Fast Boot"), Text("*Disable,Enable")}, {Text("Second"), Text("x")}}},
        {R"({"Name": "Only", "Value": "*On"})", {{Text("Only"), Text("*On")}}},
        {"[]", {}},
        {R"([{"Name": null, "Value": 5}, {"Name": "n", "Value": {"x": [1]}}, {"Name": ["a"]},)"
         R"( {"name": "lower", "Value": "1", "Value": true}])",
         {{Text(), Text()}, {Text("n"), Text()}, {Text(), Text()}, {Text(), Text()}}},
        {R"([{"Name": "B\u00fcro \"3\"", "Value": "a\u0000b"}])",
         {{Text("B\xc3\xbcro \"3\""), Text(std::string("a\0b", 3))}}},
        {std::string("\xFF\xFE{\0\"\0N\0a\0m\0e\0\"\0:\0\"\0\xE9\0\"\0}\0", 26),
         {{Text("\xC3\xA9"), Text()}}},
        {std::string("\xFE\xFF\0{\0\"\0N\0a\0m\0e\0\"\0:\0\"\0\xE9\0\"\0}", 26),
         {{Text("\xC3\xA9"), Text()}}},
        // 32 levels of nesting: the array, the object and 30 in a member.
        {"[{\"Value\": " + std::string(30, '[') + std::string(30, ']') + "}]", {{Text(), Text()}}},
    };
    for (const auto& [text, expected] : cases) {
        Rows rows;
        EXPECT_EQ(Parse(text, rows), "") << text;
        EXPECT_EQ(rows, expected) << text;
    }
}

TEST(ParseCapture, SaysWhatIsWrongWithWhatIsNotACapture) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "not valid JSON at byte 1: "},
        {"[{\"Name\": \"A\"", "not valid JSON"},
        {"\"just text\"", "expected an array of objects or one object, found a single value"},
        {"[1]", "element 1 is not an object"},
        {"[{}, [ ]]", "element 2 is not an object"},
        {"[{\"Name\": \"\xff\"}]", "not valid JSON"},
        {"[{\"Value\": " + std::string(31, '[') + std::string(31, ']') + "}]",
         "nested deeper than 32 levels"},
        {"[{\"Name\": \"A\"}] trailing", "not valid JSON"},
        {std::string("\xFF\xFE[\0]", 5), "UTF-16 text with an odd number of bytes"},
    };
    for (const auto& [text, expected] : cases) {
        Rows rows{{Text("untouched"), Text()}};
        EXPECT_EQ(Parse(text, rows).find(expected), 0u) << text << " -> " << Parse(text, rows);
    }
}

TEST(CaptureFile, LoadsUpTo16MiBWritesWhatItLoadsAndNamesWhatIsWrong) {
    const std::string dir = ::testing::TempDir() + "qzbios-captures-" + std::to_string(getpid());
    fs::create_directories(dir);
    Rows rows;
    std::string error;
    const Rows written = {{Text("A"), Text()}, {Text(), Text("v")}, {Text("\xff"), Text("")}};
    ASSERT_TRUE(WriteCaptureFile(dir + "/rows.json", written, error)) << error;
    ASSERT_TRUE(LoadCaptureFile(dir + "/rows.json", rows, error)) << error;
    EXPECT_EQ(rows,
              (Rows{{Text("A"), Text()}, {Text(), Text("v")}, {Text("\xEF\xBF\xBD"), Text("")}}));

    std::ofstream(dir + "/largest.json") << '[' << std::string((16 << 20) - 2, ' ') << ']';
    std::ofstream(dir + "/too-large.json") << '[' << std::string((16 << 20) - 1, ' ') << ']';
    std::ofstream(dir + "/empty.json").close();
    EXPECT_TRUE(LoadCaptureFile(dir + "/largest.json", rows, error)) << error;
    const std::pair<std::string, std::string> failures[] = {
        {dir + "/too-large.json", "larger than the 16 MiB a capture may have"},
        {dir + "/empty.json", "the file is empty"},
        {dir + "/missing.json", "No such file or directory"},
        {dir, "Is a directory"},
    };
    for (const auto& [path, expected] : failures) {
        EXPECT_FALSE(LoadCaptureFile(path, rows, error));
        EXPECT_EQ(error, expected) << path;
    }
    EXPECT_FALSE(WriteCaptureFile(dir + "/none/rows.json", rows, error));
    EXPECT_EQ(error, "No such file or directory");
    fs::remove_all(dir);
}

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

TEST(FindSettingsSource, ACaptureWinsOverTheFirmwareTree) {
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", "", 1);
    EXPECT_EQ(FirmwareAttributesRoot(), "/sys/class/firmware-attributes");
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
}

}  // namespace
}  // namespace qz::shared::wmi
