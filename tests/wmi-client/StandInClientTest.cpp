// The WMI client of systems without WMI: the names it answers to, and a capture it never waits on.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "common/WbemStatus.h"
#include "support/ScratchFolder.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {
namespace {

using namespace common;  // the WBEM statuses

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

// A capture's name exchanged, as another user would, with a FIFO whose writer waits for a reader,
// and with a link to the sample, while queries read it: every query returns, with the file's rows
// or refused, and none opens the FIFO (its writer would get through) or follows the link.
TEST(StandInClient, OpensNothingButTheRegularFileItNames) {
    const test::ScratchFolder scratch;
    const std::string capture = scratch / "capture";
    const std::string swapped[] = {scratch / "fifo", scratch / "link"};
    std::ifstream sample(QZBIOS_SAMPLE_CAPTURE);
    std::ofstream(capture) << sample.rdbuf();
    mkfifo(swapped[0].c_str(), 0600);
    const std::string writerEnd = scratch / "writer-end";  // the FIFO by a name never exchanged
    ASSERT_EQ(link(swapped[0].c_str(), writerEnd.c_str()), 0);
    ASSERT_EQ(symlink(QZBIOS_SAMPLE_CAPTURE, swapped[1].c_str()), 0);
    std::atomic<bool> stop{false};
    std::atomic<bool> opened{false};
    std::thread writer([&] {
        const int fd = open(writerEnd.c_str(), O_WRONLY);  // waits for a reader
        opened = !stop;
        close(fd);
    });
    std::thread exchanger([&] {
        for (std::size_t i = 0; !stop; ++i) {
            renameat2(AT_FDCWD, capture.c_str(), AT_FDCWD, swapped[i / 2 % 2].c_str(),
                      RENAME_EXCHANGE);
            std::this_thread::yield();
        }
    });
    setenv("QZ_WMI_CAPTURE", capture.c_str(), 1);
    // 3000 queries, or as many as 3 s allow where a tool (valgrind) runs one thread at a time.
    std::size_t read = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int i = 0; i < 3000 && std::chrono::steady_clock::now() < end; ++i) {
        WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
        const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
        EXPECT_TRUE(status == kWbemOk || status == kWbemFailed) << status;
        read += status == kWbemOk ? 1 : 0;
    }
    stop = true;
    exchanger.join();
    close(open(writerEnd.c_str(), O_RDONLY | O_NONBLOCK));  // lets the writer go
    writer.join();
    unsetenv("QZ_WMI_CAPTURE");
    EXPECT_FALSE(opened);
    EXPECT_GT(read, 0u);
    std::printf("%zu queries read the file\n", read);
}

}  // namespace
}  // namespace qz::shared::wmi
