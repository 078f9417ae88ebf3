#include "CaptureFile.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace qz::shared::wmi {
namespace {

using Rows = std::vector<CaptureRow>;
using Text = std::optional<std::string>;

Rows Parse(std::string_view text) {
    Rows rows;
    std::string error;
    EXPECT_TRUE(ParseCapture(text, rows, error)) << error;
    return rows;
}

std::string ParseError(std::string_view text) {
    Rows rows{{Text("untouched"), Text()}};
    std::string error;
    EXPECT_FALSE(ParseCapture(text, rows, error));
    EXPECT_EQ(rows.size(), 1u) << "a failed parse must not change the rows";
    return error;
}

TEST(ParseCapture, ReadsPowerShellOutput) {
    const Rows rows = Parse(
        "[\r\n    {\r\n        \"Name\":  \"Fast Boot\",\r\n        \"Value\":  \"*Disable,Enable\""
        "\r\n    },\r\n    {\r\n        \"Value\":  \"x\",\r\n        \"Name\":  \"Second\",\r\n"
        "        \"PSComputerName\":  null\r\n    }\r\n]\r\n");
    EXPECT_EQ(rows,
              (Rows{{Text("Fast Boot"), Text("*Disable,Enable")}, {Text("Second"), Text("x")}}));
}

TEST(ParseCapture, AcceptsOneObjectAndAnEmptyArray) {
    EXPECT_EQ(Parse(R"({"Name": "Only", "Value": "*On"})"), (Rows{{Text("Only"), Text("*On")}}));
    EXPECT_TRUE(Parse("[]").empty());
}

TEST(ParseCapture, MembersThatAreNotStringsCannotBeRead) {
    const Rows rows =
        Parse(R"([{"Name": null, "Value": "v"}, {"Value": 5}, {"Name": "n", "Value": {"x": [1]}},)"
              R"( {"Name": ["a"], "Value": true}, {"Name": "last", "Value": "1", "Value": null}])");
    EXPECT_EQ(rows, (Rows{{Text(), Text("v")},
                          {Text(), Text()},
                          {Text("n"), Text()},
                          {Text(), Text()},
                          {Text("last"), Text()}}));
}

TEST(ParseCapture, KeepsEscapesAndUtf8AsBytes) {
    const Rows rows = Parse(R"([{"Name": "B\u00fcro \"3\"", "Value": "a\u0000b"}])");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, Text("B\xc3\xbcro \"3\""));
    EXPECT_EQ(rows[0].value, Text(std::string("a\0b", 3)));
}

TEST(ParseCapture, UnderstandsByteOrderMarks) {
    EXPECT_EQ(Parse("\xEF\xBB\xBF[{\"Name\":\"A\",\"Value\":\"1\"}]"),
              (Rows{{Text("A"), Text("1")}}));
    const std::string json = "[{\"Name\":\"\xC3\xA9\",\"Value\":\"1\"}]";
    std::string le = "\xFF\xFE";
    std::string be = "\xFE\xFF";
    for (std::size_t i = 0; i < json.size(); ++i) {
        char c = json[i];
        if (c == '\xC3') {  // U+00E9, one UTF-16 unit
            le += "\xE9";
            le += '\0';
            be += '\0';
            be += "\xE9";
            ++i;
            continue;
        }
        le += c;
        le += '\0';
        be += '\0';
        be += c;
    }
    EXPECT_EQ(Parse(le), (Rows{{Text("\xC3\xA9"), Text("1")}}));
    EXPECT_EQ(Parse(be), (Rows{{Text("\xC3\xA9"), Text("1")}}));
    EXPECT_NE(ParseError(le.substr(0, le.size() - 1)).find("odd number"), std::string::npos);
}

TEST(ParseCapture, RejectsWhatIsNotACapture) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "not valid JSON"},
        {"[{\"Name\": \"A\"", "not valid JSON"},
        {"\"just text\"", "single value"},
        {"42", "single value"},
        {"[1]", "element 1 is not an object"},
        {"[{}, \"x\"]", "element 2 is not an object"},
        {"[{}, [ ]]", "element 2 is not an object"},
        {"[{\"Name\": \"\xff\"}]", "not valid JSON"},
        {"[{\"Value\": " + std::string(100, '[') + std::string(100, ']') + "}]",
         "nested deeper than 32"},
        {"[{\"Name\": \"A\"}] trailing", "not valid JSON"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string error = ParseError(text);
        EXPECT_NE(error.find(expected), std::string::npos) << text << " -> " << error;
    }
}

TEST(LoadCaptureFile, NamesWhatIsWrongWithTheFile) {
    Rows rows;
    std::string error;
    EXPECT_FALSE(LoadCaptureFile("/nonexistent/capture.json", rows, error));
    EXPECT_EQ(error, "No such file or directory");

    const std::string empty = ::testing::TempDir() + "qzbios-empty.json";
    std::ofstream(empty).close();
    EXPECT_FALSE(LoadCaptureFile(empty, rows, error));
    EXPECT_EQ(error, "the file is empty");

    EXPECT_FALSE(LoadCaptureFile(::testing::TempDir(), rows, error));  // a directory
    EXPECT_FALSE(error.empty());

    const std::string big = ::testing::TempDir() + "qzbios-big.json";
    {
        std::ofstream out(big, std::ios::binary);
        out << '[';
        const std::string chunk(1 << 20, ' ');
        for (std::size_t i = 0; i <= kMaxCaptureBytes >> 20; ++i) {
            out << chunk;
        }
        out << ']';
    }
    EXPECT_FALSE(LoadCaptureFile(big, rows, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    std::remove(big.c_str());
    std::remove(empty.c_str());
}

}  // namespace
}  // namespace qz::shared::wmi
