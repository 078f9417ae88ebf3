// The WMI client of systems without WMI: memory running out at every allocation of its readings and
// its writer, the names the client answers to, the limits, and what a reading reads.
// Capture files and trees are tested through qzbios-dump (CMakeLists.txt).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "CaptureFile.h"
#include "Reading.h"
#include "SettingsSource.h"
#include "WbemStatus.h"
#include "support/AllocationSweep.h"
#include "support/ScratchFolder.h"

namespace qz::shared::wmi {
namespace {

using Rows = std::vector<CaptureRow>;

// Each reading, and the writer, either fails cleanly or delivers exactly what it delivers with
// memory to spare; a sweep checks that nothing leaks.
TEST(ClientAllocationSweep, ReadingsAndTheWriterFailCleanlyOrDeliverEverything) {
    SourceRequest capture;
    capture.capture = QZBIOS_SAMPLE_CAPTURE;
    SourceRequest tree;
    tree.root = QZBIOS_FIRMWARE_FIXTURE;
    tree.scope = Scope::Every;
    const auto sweep = [](const char* what, const Rows& expected, auto read) {
        const std::size_t points = test::SweepAllocations(what, [&](std::size_t n) {
            Rows rows;
            const bool delivered = read(rows);
            test::FailNthAllocation(0);
            EXPECT_EQ(rows, delivered ? expected : Rows()) << what << " at allocation " << n;
        });
        EXPECT_GT(points, 30u) << what;
    };
    for (const SourceRequest& request : {capture, tree}) {
        const Reading whole = ReadSettings(request);
        ASSERT_EQ(whole.refused, Refusal::None);
        sweep(whole.location.c_str(), whole.rows, [&](Rows& rows) {
            Reading reading = ReadSettings(request);
            rows = std::move(reading.rows);
            return reading.refused == Refusal::None;
        });
    }
    const Rows sample = ReadSettings(capture).rows;
    sweep("capture writer", sample, [&](Rows& rows) {
        std::string text;
        std::string message;
        const bool ok = CaptureText(sample, text, message);
        test::FailNthAllocation(0);
        return ok && ParseCapture(text, rows, message);
    });
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
    // A capture the client cannot read fails the query; one that is not a regular file (a FIFO that
    // nobody writes) is refused at once rather than waited for.
    const test::ScratchFolder scratch;
    const std::string fifo = scratch / "fifo";
    mkfifo(fifo.c_str(), 0600);
    for (const std::string& capture : {std::string("/nonexistent.json"), fifo}) {
        setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
        EXPECT_EQ(client.Query(query), kWbemFailed) << capture;
        EXPECT_FALSE(client.GetNext());
    }
    // Without a capture the tree answers; a folder without devices is a namespace that does not
    // exist, and a variable set but empty names nothing.
    unsetenv("QZ_WMI_CAPTURE");
    for (const auto& [root, status] :
         {std::pair{QZBIOS_FIRMWARE_FIXTURE, kWbemOk}, std::pair{"/nonexistent", kWbemFailed},
          std::pair{"", kWbemFailed}, std::pair{"/", kWbemInvalidNamespace}}) {
        setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", root, 1);
        EXPECT_EQ(client.Query(query), status) << root;
        EXPECT_EQ(client.GetNext(), status == kWbemOk) << root;
    }
    unsetenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
}

// A capture's name swapped between a file and a FIFO while queries read it: every query returns,
// with the file's rows or refused, never waiting on the FIFO (ctest's timeout is the deadline).
TEST(StandInClient, NeverWaitsOnACaptureSwappedForAFifo) {
    const test::ScratchFolder scratch;
    const std::string& dir = scratch.Path();
    mkfifo((dir + "/fifo").c_str(), 0600);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool file = true; !stop; file = !file) {
            unlink((dir + "/next").c_str());
            symlink(file ? QZBIOS_SAMPLE_CAPTURE : "fifo", (dir + "/next").c_str());
            rename((dir + "/next").c_str(), (dir + "/capture").c_str());
        }
    });
    setenv("QZ_WMI_CAPTURE", (dir + "/capture").c_str(), 1);
    std::size_t read = 0;
    for (int i = 0; i < 300; ++i) {
        WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
        const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
        EXPECT_TRUE(status == kWbemOk || status == kWbemFailed) << status;
        read += status == kWbemOk ? 1 : 0;
    }
    stop = true;
    swapper.join();
    unsetenv("QZ_WMI_CAPTURE");
    std::printf("%zu of 300 queries read the file\n", read);
}

// UTF-16 captures in both byte orders: a pair is one character, and a surrogate that is not half of
// one reads as U+FFFD, with nothing after it lost.
TEST(CaptureParser, DecodesUtf16SurrogatesAsTheStandardSays) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const std::pair<std::vector<char16_t>, std::string> cases[] = {
        {{u'A', 0xD800, u'B'}, "A" + r + "B"},
        {{u'A', 0xDC00, u'B'}, "A" + r + "B"},
        {{0xDC00, 0xD800, u'B'}, r + r + "B"},
        {{0xD800, 0xD800, 0xDC00}, r + "\xF0\x90\x80\x80"},
        {{0xD83D, 0xDE00, u'B'}, std::string("\xF0\x9F\x98\x80") + "B"},
        {{u'A', 0xDBFF}, "A" + r},
    };
    for (const bool bigEndian : {false, true}) {
        for (const auto& [value, expected] : cases) {
            std::vector<char16_t> units = {0xFEFF, u'{', u'"', u'N', u'a',
                                           u'm',   u'e', u'"', u':', u'"'};
            units.insert(units.end(), value.begin(), value.end());
            units.insert(units.end(), {u'"', u'}'});
            std::string bytes;
            for (const char16_t unit : units) {
                const auto high = static_cast<char>(unit >> 8);
                const auto low = static_cast<char>(unit & 0xFF);
                bytes += bigEndian ? std::string{high, low} : std::string{low, high};
            }
            Rows rows;
            std::string error;
            ASSERT_TRUE(ParseCapture(bytes, rows, error)) << error;
            EXPECT_EQ(rows, (Rows{{expected, std::nullopt}})) << expected << bigEndian;
        }
    }
}

// Every limit at its edge: as much as it admits is read, and one more is refused, saying which.
TEST(Limits, AdmitTheEdgeAndRefuseOneMore) {
    const auto rows = [](std::size_t count) {
        std::string text = "[{}";
        for (std::size_t i = 1; i < count; ++i) {
            text += ",{}";
        }
        return text + "]";
    };
    constexpr std::size_t kBytes = std::size_t{8} << 20;
    const test::ScratchFolder scratch;
    const std::string file = scratch / "limit.json";
    const std::string frame =
        "[\n    {\n        \"Name\": null,\n        \"Value\": \"\"\n    }\n]\n";
    Rows parsed;
    std::string text;
    std::string error;
    const auto load = [&](std::size_t size) {
        std::ofstream(file, std::ios::binary) << "[" << std::string(size - 2, ' ') << "]";
        return LoadCaptureFile(file, parsed, error);
    };
    // The reader, and the writer refusing what the reader would.
    const std::pair<std::function<bool()>, const char*> captures[] = {
        {[&] { return ParseCapture(rows(8192), parsed, error); }, ""},
        {[&] { return ParseCapture(rows(8193), parsed, error); },
         "more than the 8192 rows a capture may have"},
        {[&] { return load(kBytes); }, ""},
        {[&] { return load(kBytes + 1); }, "larger than the 8 MiB a capture may have"},
        {[&] { return CaptureText(Rows(8192), text, error); }, ""},
        {[&] { return CaptureText(Rows(8193), text, error); },
         "8193 settings, more than the 8192 rows a capture may have"},
        {[&] {
             return CaptureText({{{}, std::string(kBytes - frame.size(), 'x')}}, text, error);
         },
         ""},
        {[&] {
             return CaptureText({{{}, std::string(kBytes - frame.size() + 1, 'x')}}, text, error);
         },
         "the capture would be larger than the 8 MiB a capture may have"},
    };
    for (std::size_t i = 0; i < std::size(captures); ++i) {
        error.clear();
        EXPECT_EQ(captures[i].first(), *captures[i].second == '\0') << i;
        EXPECT_EQ(error, captures[i].second) << i;
    }

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
            link((root + (i < tree.attributes ? "/large" : "/small")).c_str(),
                 (folder + "/current_value").c_str());
        }
        Reading read;
        ReadFirmwareAttributes(root, Scope::Every, read);
        EXPECT_EQ(read.refusal, tree.refusal) << tree.attributes;
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
}  // namespace qz::shared::wmi
