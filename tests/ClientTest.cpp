// The WMI client of systems without WMI: memory running out at every allocation of its readers and
// its writer, and the names the stand-in client answers to. Capture files and trees are tested
// through qzbios-dump (CMakeLists.txt).
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
#include "SettingsSource.h"
#include "WbemStatus.h"
#include "support/AllocationSweep.h"
#include "support/ScratchFolder.h"

namespace qz::shared::wmi {
namespace {

using Rows = std::vector<CaptureRow>;

// Each reader, and the writer, either fails cleanly or delivers exactly what it delivers with
// memory to spare; a sweep checks that nothing leaks.
TEST(ClientAllocationSweep, ReadersAndTheWriterFailCleanlyOrDeliverEverything) {
    const std::string capture = QZBIOS_SAMPLE_CAPTURE;
    const std::string tree = QZBIOS_FIRMWARE_FIXTURE;
    Rows sample;
    Rows fixture;
    std::vector<std::string> devices;
    std::string error;
    ASSERT_TRUE(LoadCaptureFile(capture, sample, error));
    UnreadableValues unreadable;
    ASSERT_TRUE(ReadFirmwareAttributes(tree, fixture, devices, unreadable, error));
    const auto sweep = [](const char* what, const Rows& expected, auto read) {
        const std::size_t points = test::SweepAllocations(what, [&](std::size_t n) {
            Rows rows;
            const bool delivered = read(rows);
            test::FailNthAllocation(0);
            EXPECT_EQ(rows, delivered ? expected : Rows()) << what << " at allocation " << n;
        });
        EXPECT_GT(points, 30u) << what;
    };
    sweep("capture file", sample, [&](Rows& rows) {
        std::string message;
        return LoadCaptureFile(capture, rows, message);
    });
    sweep("firmware-attributes tree", fixture, [&](Rows& rows) {
        std::vector<std::string> found;
        return ReadFirmwareAttributes(tree, rows, found, unreadable, error) && found == devices;
    });
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
    // exist.
    unsetenv("QZ_WMI_CAPTURE");
    for (const auto& [root, status] : {std::pair{QZBIOS_FIRMWARE_FIXTURE, kWbemOk},
                                       std::pair{"/nonexistent", kWbemInvalidNamespace}}) {
        setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", root, 1);
        EXPECT_EQ(client.Query(query), status) << root;
        EXPECT_EQ(client.GetNext(), status == kWbemOk) << root;
    }
    // Rows handed over answer every later query, a second one too, whatever the environment names.
    ServeCaptureRows(
        std::make_shared<const Rows>(Rows{{std::string("Fast Boot"), std::string("*On")}}));
    for (int again = 0; again < 2; ++again) {
        WMIClient served(ns);
        EXPECT_EQ(served.Query(query), kWbemOk);
        ASSERT_TRUE(served.GetNext());
        EXPECT_EQ(served.GetValue(L"Value", &text), kWbemOk);
        EXPECT_STREQ(text, "*On");
        EXPECT_FALSE(served.GetNext());
    }
    ServeCaptureRows(nullptr);
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
        Rows read;
        std::vector<std::string> devices;
        UnreadableValues unreadable;
        ASSERT_TRUE(ReadFirmwareAttributes(root, read, devices, unreadable, error));
        EXPECT_EQ(error, tree.refusal) << tree.attributes;
        EXPECT_EQ(read.size(), *tree.refusal != '\0' ? 0 : tree.attributes) << tree.attributes;
    }
}

// A current_value that exists but cannot be read is counted by its reason; a missing one is not.
TEST(AttributeRow, CountsCurrentValuesThatCannotBeRead) {
    UnreadableValues unreadable;
    for (const int error : {EINVAL, EIO, EINVAL, ENOENT}) {
        const CaptureRow row = AttributeRow(
            "Setting",
            [error](const char* file) {
                errno = std::string(file) == "current_value" ? error : ENOENT;
                return std::optional<std::string>();
            },
            unreadable);
        EXPECT_EQ(row, (CaptureRow{std::string("Setting"), std::nullopt}));
    }
    EXPECT_EQ(unreadable, (UnreadableValues{{"Invalid argument", 2}, {"Input/output error", 1}}));
}

}  // namespace
}  // namespace qz::shared::wmi
