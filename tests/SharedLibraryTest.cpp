// The installed shape: a host that links the shared library and the capture-replaying WMI client,
// with a plog logger 0 of its own.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <plog/Init.h>

#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "support/AllocationFailure.h"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"

namespace {

using qz::shared::qzbios::QZBios;
using qz::shared::qzbios::QZBiosData;
using qz::test::Fields;
using qz::test::RecordFields;
using qz::test::RecordingAppender;

Fields ReadRecord() {
    QZBios bios;
    std::uint64_t count = 0;
    const QZBiosData* records = bios.GetQZBiosData(count);
    EXPECT_EQ(count, 1u);
    return records == nullptr ? Fields() : RecordFields(records[0]);
}

Fields EmptyRecord() {
    Fields fields = RecordFields(QZBiosData{});
    for (auto& [name, value] : fields) {
        value = name == "NetPXEBoot" ? "NA" : value == "<null>" ? "" : value;
    }
    return fields;
}

TEST(SharedLibrary, ReplaysACaptureIntoRecords) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    const Fields fields = ReadRecord();
    ASSERT_EQ(fields.size(), 31u);
    const Fields expected = {
        {"RunPowMgmt", "Enable"},
        {"MEMgmtMd", "Disable"},
        {"BIOAPS", "1"},
        {"RBIOSDGU", "Do Nothing"},
        {"UEFIBO",
         "OS Boot Manager|USB:|NETWORK IPV4:Onboard Ethernet|NETWORK IPV6:Onboard Ethernet"},
        {"VMS", "64"},
        {"BHM", "Let the system manage my battery charging"},
        {"S5MaxPowSav", "Enable"},
        {"MeFwVer", "16.1.30.2307"},
    };
    for (const auto& field : expected) {
        EXPECT_NE(std::find(fields.begin(), fields.end(), field), fields.end()) << field.first;
    }
}

TEST(SharedLibrary, NoUsableCaptureGivesEmptyRecords) {
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", "/nonexistent", 1);
    for (const char* capture : {"", "/nonexistent.json", QZBIOS_BAD_CAPTURE}) {
        setenv("QZ_WMI_CAPTURE", capture, 1);
        EXPECT_EQ(ReadRecord(), EmptyRecord()) << '"' << capture << '"';
    }
    unsetenv("QZ_WMI_CAPTURE");
    EXPECT_EQ(ReadRecord(), EmptyRecord());
}

TEST(SharedLibrary, ReadsTheFirmwareAttributesTreeWithoutACapture) {
    unsetenv("QZ_WMI_CAPTURE");
    setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", QZBIOS_FIRMWARE_FIXTURE, 1);
    Fields expected = EmptyRecord();
    const std::pair<const char*, const char*> set[] = {
        {"FastBoot", "Disable"},
        {"VTX", "Enable"},
        {"TurboMode", "Auto"},
        {"UEFIBO", "OS Boot Manager|USB:|NETWORK IPV4"},
        {"VMS", "64"},
        {"MeFwVer", "16.1.30.2307"},
        {"NetPXEBoot", "Enable"},
        {"BIOAPS", "1"},
        {"POSTPS", "0"}};
    for (auto& [name, value] : expected) {
        for (const auto& [field, text] : set) {
            if (name == field) {
                value = text;
            }
        }
    }
    EXPECT_EQ(ReadRecord(), expected);
}

// Constructs objects, failing one allocation after another, until one construction absorbs the
// failure inside the name map: it then differs from `reference` in exactly one field.
void ConstructUntilTheNameMapAbsorbsAFailure(const Fields& reference) {
    for (std::size_t n = 1; n < 100000; ++n) {
        qz::test::FailNthAllocation(n);
        try {
            QZBios bios;
            qz::test::FailNthAllocation(0);
            std::uint64_t count = 0;
            const Fields fields = RecordFields(*bios.GetQZBiosData(count));
            int differing = 0;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                differing += fields[i] != reference[i] ? 1 : 0;
            }
            if (differing == 1) {
                return;
            }
        } catch (const std::bad_alloc&) {
            qz::test::FailNthAllocation(0);
        }
    }
    FAIL() << "no failure was absorbed by the name map";
}

TEST(SharedLibrary, KeepsItsLoggerApartFromTheHostsLogger) {
    setenv("QZ_WMI_CAPTURE", QZBIOS_SAMPLE_CAPTURE, 1);
    const Fields reference = ReadRecord();

    RecordingAppender hostLog;
    plog::init(plog::verbose, &hostLog);
    ConstructUntilTheNameMapAbsorbsAFailure(reference);
    EXPECT_TRUE(hostLog.records.empty()) << "the library wrote to the host's logger 0";

    RecordingAppender bridge;
    qzSharedInitializeLogger(plog::error, &bridge);
    ConstructUntilTheNameMapAbsorbsAFailure(reference);
    EXPECT_TRUE(hostLog.records.empty()) << "the library wrote to the host's logger 0";
    ASSERT_EQ(bridge.records.size(), 1u);
    EXPECT_EQ(bridge.records[0].function, "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute");
    EXPECT_EQ(bridge.records[0].line, 50u);

    // The component name is the file name of the loaded library.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qzSharedInitializeLogger), &info), 0);
    const std::string path = info.dli_fname;
    EXPECT_EQ(bridge.records[0].objectText, path.substr(path.rfind('/') + 1));
    EXPECT_EQ(bridge.records[0].objectText.rfind("libqz-shared-qzbios.so", 0), 0u);
}

}  // namespace
