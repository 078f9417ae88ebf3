// The C interface and the header-only C++ face over it: the record a C host reads, the statuses,
// the log callback under the first-call rules, and, on Linux, memory running out at every
// allocation. The host exports its symbols, so that its operator new reaches the libraries.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "qzbios/QZBios.h"
#include "qzbios/qzbios_c.h"
#include "qzbios/qzbios_c.hpp"
#include "qzbios/qzbios_c_plog.hpp"
#include "support/RecordFields.h"
#include "support/RecordingAppender.h"
#if !defined(_WIN32)
#include "support/AllocationSweep.h"
#endif

namespace {

using qz::test::Fields;

Fields FieldsOf(const qzbios_data& data) {
    qz::shared::qzbios::QZBiosData record{};
    std::memcpy(&record, &data, sizeof record);
    return qz::test::RecordFields(record);
}

// Sets the capture the client reads: on Linux the client's, on Windows the one the stand-in for
// WMI serves (tests/support/WmiStandIn.cpp; null, none: Wine's own WMI, without the namespace).
void UseCapture(const char* capture) {
#if defined(_WIN32)
    _putenv_s("QZBIOS_STANDIN_CAPTURE",
              capture != nullptr ? (std::string("Z:") + capture).c_str() : "");
#else
    capture != nullptr ? setenv("QZ_WMI_CAPTURE", capture, 1) : unsetenv("QZ_WMI_CAPTURE");
#endif
}

struct LogRecord {
    int severity;
    std::string function;
    std::uint32_t line;
    std::string message;
    std::string library;
};

// What the next record makes the callback do beside keeping it: throw, or call the library (once).
enum class Hostile { No, Throws, CallsBack };
Hostile gHostile = Hostile::No;
int gCalledBack[2] = {};  // what the library answered the callback's calls

void QZBIOS_C_CALL Keep(void* log, int severity, const char* function, std::uint32_t line,
                        const char* message, const char* library) {
    if (gHostile == Hostile::Throws) {
        throw 42;
    }
    if (gHostile == Hostile::CallsBack) {
        gHostile = Hostile::No;
        qzbios_snapshot* snapshot = nullptr;
        gCalledBack[0] = qzbios_read(&snapshot);
        gCalledBack[1] = qzbios_set_logger(6, &Keep, log);
    }
    static_cast<std::vector<LogRecord>*>(log)->push_back(
        {severity, function, line, message, library});
}

#if !defined(_WIN32)
// Memory running out anywhere in a read, the reading of the capture included, leaves no exception
// and no block: out of memory with no snapshot, or the whole record of a successful reading.
TEST(CInterfaceAllocationSweep, EveryFailureIsOutOfMemoryOrTheWholeRecord) {
    UseCapture(QZBIOS_SAMPLE_CAPTURE);
    qzbios_snapshot* whole = nullptr;
    ASSERT_EQ(qzbios_read(&whole), QZBIOS_OK);
    const Fields expected = FieldsOf(*qzbios_record(whole));
    qzbios_free(whole);
    std::size_t failed = 0;
    qz::test::SweepAllocations("qzbios_read", [&](std::size_t n) {
        qzbios_snapshot* snapshot = nullptr;
        const int status = qzbios_read(&snapshot);
        qz::test::FailNthAllocation(0);
        qzbios_reading reading{};
        if (status == QZBIOS_OK) {
            qzbios_reading_of(snapshot, &reading);
            EXPECT_EQ(FieldsOf(*qzbios_record(snapshot)), expected) << "at allocation " << n;
            EXPECT_EQ(reading.query_status, 0) << "at allocation " << n;
            EXPECT_EQ(reading.published, 31u) << "at allocation " << n;
        } else {
            EXPECT_EQ(status, QZBIOS_OUT_OF_MEMORY) << "at allocation " << n;
            EXPECT_EQ(snapshot, nullptr);
        }
        failed += status == QZBIOS_OUT_OF_MEMORY ? 1 : 0;
        qzbios_free(snapshot);
    });
    EXPECT_GT(failed, 100u);
}

// The first qzbios_set_logger of the process, with memory running out at each allocation in turn:
// a call that fails leaves no callback behind, and the one that succeeds holds.
TEST(CInterfaceAllocationSweep, AFailedFirstLoggerLeavesNothing) {
    static std::vector<LogRecord> contexts[64];
    std::size_t n = 1;
    for (;; ++n) {
        ASSERT_LT(n, std::size(contexts));
        qz::test::FailNthAllocation(n);
        const int status = qzbios_set_logger(5, &Keep, &contexts[n]);
        qz::test::FailNthAllocation(0);
        if (!qz::test::AllocationFailureFired()) {
            ASSERT_EQ(status, QZBIOS_OK);
            break;
        }
        EXPECT_EQ(status, QZBIOS_OUT_OF_MEMORY) << "at allocation " << n;
    }
    EXPECT_GT(n, 1u);
    EXPECT_EQ(qzbios_read(nullptr), QZBIOS_INVALID_ARGUMENT);
    for (std::size_t i = 1; i <= n; ++i) {
        EXPECT_EQ(contexts[i].size(), i == n ? 1u : 0u) << i;
    }
}
#endif

TEST(CInterface, ReadsWhatTheLibrarysClassReadsAndSaysWhatFailed) {
    UseCapture(QZBIOS_SAMPLE_CAPTURE);
    qzbios_snapshot* snapshot = nullptr;
    ASSERT_EQ(qzbios_read(&snapshot), QZBIOS_OK);
    const qzbios_data* record = qzbios_record(snapshot);
    qz::shared::qzbios::QZBios bios;
    std::uint64_t count = 0;
    EXPECT_EQ(FieldsOf(*record), qz::test::RecordFields(*bios.GetQZBiosData(count)));
    // The C++ face appends a record a call, as the library's class does, over the same texts.
    qzbios_c::QZBios face;
    face.GetQZBiosData(count);
    const qzbios_c::QZBiosData* faced = face.GetQZBiosData(count);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(faced[0].UEFIBO, faced[1].UEFIBO);
    EXPECT_EQ(FieldsOf(faced[1]), FieldsOf(*record));
    // On Windows, rows served through COM by the stand-in for WMI, the library's class's too.
    EXPECT_STREQ(
        record->UEFIBO,
        "OS Boot Manager|USB:|NETWORK IPV4:Onboard Ethernet|NETWORK IPV6:Onboard Ethernet");
    EXPECT_STREQ(record->MeFwVer, "16.1.30.2307");
    EXPECT_EQ(record->VMS, 64);
    EXPECT_EQ(record->BIOAPS, 1);
    qzbios_free(snapshot);

#if !defined(_WIN32)
    UseCapture(QZBIOS_THREE_BYTE_CAPTURE);
    static int dummy = 0;
    snapshot = reinterpret_cast<qzbios_snapshot*>(&dummy);
    EXPECT_EQ(qzbios_read(&snapshot), QZBIOS_VIDEO_MEMORY_OPTION);
    EXPECT_EQ(snapshot, nullptr);
    EXPECT_THROW(qzbios_c::QZBios(), std::out_of_range);
#endif
    EXPECT_EQ(qzbios_read(nullptr), QZBIOS_INVALID_ARGUMENT);
    EXPECT_EQ(qzbios_record(nullptr), nullptr);
    qzbios_free(nullptr);
    const std::tuple<int, const char*> texts[] = {
        {0, "success"},
        {1, "out of memory"},
        {2, "the current Video Memory Size option is three bytes long"},
        {3, "a null pointer or a value out of range as an argument"},
        {4, "the library failed"},
        {5, "unknown status"},
        {-1, "unknown status"},
    };
    for (const auto& [status, text] : texts) {
        EXPECT_STREQ(qzbios_status_text(status), text);
    }
    EXPECT_STREQ(qzbios_version(), QZBIOS_VERSION);
}

// The host's own plog receives a record as the library forwards one: the function in the file field
// too, the library's file name as the object, the text widened where plog is wide.
TEST(CInterface, PlogAdapterRebuildsTheRecordForTheHostsAppender) {
    qz::test::RecordingAppender appender;
    qzbios_c::detail::ToPlog(&appender, 2, "qzbios_read", 42, "gr\xC3\xBC\xC3\x9F", "qz-c.dll");
    ASSERT_EQ(appender.records.size(), 1u);
    const qz::test::RecordCopy& record = appender.records[0];
    EXPECT_EQ(record.severity, plog::error);
    EXPECT_EQ(record.function, "qzbios_read");
    EXPECT_EQ(record.file, "qzbios_read");
    EXPECT_EQ(record.line, 42u);
    EXPECT_EQ(record.objectText, PLOG_NSTR("qz-c.dll"));
#if defined(_WIN32)
    EXPECT_EQ(record.message, L"gr\u00fc\u00df");
#else
    EXPECT_EQ(record.message, "gr\xC3\xBC\xC3\x9F");
#endif
}

// Where the settings came from, whether the query failed and how many of the 31 were published.
TEST(CInterface, SaysWhereTheSettingsCameFrom) {
    struct Row {
        const char* capture;
        const char* root;      // Linux: the firmware-attributes folder
        const char* provider;  // Windows: the stand-in's behaviour
        int source;
        std::uint32_t status;
        std::uint32_t published;
        const char* text;
    };
    const Row rows[] = {
#if defined(_WIN32)
        {nullptr, nullptr, "", QZBIOS_SOURCE_NONE, 0x8004100Eu, 0,
         "WBEM_E_INVALID_NAMESPACE, the namespace does not exist (0x8004100E)"},
        {QZBIOS_SAMPLE_CAPTURE, nullptr, "", QZBIOS_SOURCE_WMI, 0, 31, "success"},
        {QZBIOS_SAMPLE_CAPTURE, nullptr, "5", QZBIOS_SOURCE_NONE, 0x80041004u, 0,
         "WBEM_E_PROVIDER_FAILURE, the provider failed (0x80041004)"},
#else
        {QZBIOS_SAMPLE_CAPTURE, nullptr, "", QZBIOS_SOURCE_CAPTURE, 0, 31, "success"},
        {nullptr, QZBIOS_FIRMWARE_FIXTURE, "", QZBIOS_SOURCE_FIRMWARE_ATTRIBUTES, 0, 10, "success"},
        {nullptr, "/", "", QZBIOS_SOURCE_NONE, 0x8004100Eu, 0,
         "WBEM_E_INVALID_NAMESPACE, the namespace does not exist (0x8004100E)"},
        {"/nonexistent", nullptr, "", QZBIOS_SOURCE_NONE, 0x80041001u, 0,
         "WBEM_E_FAILED, the call failed (0x80041001): capture file '/nonexistent': No such "
         "file or directory"},
#endif
    };
    for (const Row& row : rows) {
        UseCapture(row.capture);
#if defined(_WIN32)
        _putenv_s("QZBIOS_STANDIN_FAIL_AFTER", row.provider);  // the rows before it fails
#else
        setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", row.root != nullptr ? row.root : "/", 1);
#endif
        qzbios_snapshot* snapshot = nullptr;
        ASSERT_EQ(qzbios_read(&snapshot), QZBIOS_OK);
        qzbios_reading reading{};
        EXPECT_EQ(qzbios_reading_of(snapshot, &reading), QZBIOS_OK);
        EXPECT_EQ(reading.source, row.source) << row.text;
        EXPECT_EQ(static_cast<std::uint32_t>(reading.query_status), row.status) << row.text;
        EXPECT_EQ(reading.published, row.published) << row.text;
        EXPECT_EQ(std::string(reading.query_text).rfind(row.text, 0), 0u) << reading.query_text;
        EXPECT_EQ(reading.unread, 0u);
        qzbios_free(snapshot);
    }
#if !defined(_WIN32)
    unsetenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
#endif
    UseCapture(QZBIOS_SAMPLE_CAPTURE);
}

// The first call's severity, callback and context hold; each call adds a copy of every record, and
// every failing call writes one error record.
TEST(CInterface, LogsThroughTheCallbackUnderTheFirstCallRules) {
    // They outlive the test: the library keeps the first call's context for its lifetime.
    static std::vector<LogRecord> first;
    static std::vector<LogRecord> second;
    EXPECT_EQ(qzbios_set_logger(6, nullptr, &first), QZBIOS_INVALID_ARGUMENT);
    ASSERT_EQ(qzbios_set_logger(6, &Keep, &first), QZBIOS_OK);
    UseCapture(QZBIOS_SAMPLE_CAPTURE);
    qzbios_snapshot* snapshot = nullptr;
    ASSERT_EQ(qzbios_read(&snapshot), QZBIOS_OK);
    qzbios_free(snapshot);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].severity, 5);
    EXPECT_EQ(first[0].function, "qzbios_read");
#if defined(_WIN32)
    const char* const library = "qz-shared-qzbios-c.dll";
#else
    const char* const library = "libqz-shared-qzbios-c.so.1";
#endif
    EXPECT_EQ(first[0].message, "read the BIOS settings");
    EXPECT_EQ(first[0].library, library);
    ASSERT_EQ(qzbios_set_logger(1, &Keep, &second), QZBIOS_OK);
    first.clear();
    ASSERT_EQ(qzbios_read(&snapshot), QZBIOS_OK);
    qzbios_free(snapshot);
    EXPECT_EQ(first.size(), 2u);
    EXPECT_TRUE(second.empty());
    // Each failing call: one error record, twice over.
    const std::tuple<std::function<int()>, const char*, const char*> failures[] = {
        {[] { return qzbios_read(nullptr); }, "qzbios_read",
         "a null pointer or a value out of range as an argument (snapshot is null)"},
        {[] { return qzbios_reading_of(nullptr, nullptr); }, "qzbios_reading_of",
         "a null pointer or a value out of range as an argument (snapshot is null)"},
        {[] { return qzbios_set_logger(7, &Keep, &second); }, "qzbios_set_logger",
         "a null pointer or a value out of range as an argument (max_severity is not from 0 to 6)"},
        {[] { return qzbios_set_logger(-1, &Keep, &second); }, "qzbios_set_logger",
         "a null pointer or a value out of range as an argument (max_severity is not from 0 to 6)"},
    };
    for (const auto& [call, function, message] : failures) {
        first.clear();
        EXPECT_EQ(call(), QZBIOS_INVALID_ARGUMENT) << function;
        ASSERT_EQ(first.size(), 2u) << function;
        EXPECT_EQ(first[0].severity, 2);
        EXPECT_EQ(first[0].function, function);
        EXPECT_EQ(first[0].message, message);
    }
    // A callback that throws loses its record, and the host goes on; calls it makes into the
    // library are refused, and one error record follows once it has returned (to each entry).
    first.clear();
    gHostile = Hostile::Throws;
    EXPECT_EQ(qzbios_read(nullptr), QZBIOS_INVALID_ARGUMENT);
    gHostile = Hostile::CallsBack;
    EXPECT_EQ(qzbios_read(nullptr), QZBIOS_INVALID_ARGUMENT);
    EXPECT_EQ(gCalledBack[0], QZBIOS_FAILED);
    EXPECT_EQ(gCalledBack[1], QZBIOS_FAILED);
    std::vector<std::string> functions;
    functions.reserve(first.size());
    for (const LogRecord& record : first) {
        functions.push_back(record.function);
    }
    EXPECT_EQ(functions, (std::vector<std::string>{"qzbios_read", "qzbios_set_logger",
                                                   "qzbios_set_logger", "qzbios_read"}));
    EXPECT_EQ(first[1].message,
              "the library failed (called from the log callback, which must not call back into "
              "qzbios)");
#if !defined(_WIN32)
    // The library's own record (memory running out in the name map) is forwarded too.
    UseCapture(QZBIOS_THREE_BYTE_CAPTURE);
    first.clear();
    EXPECT_EQ(qzbios_read(&snapshot), QZBIOS_VIDEO_MEMORY_OPTION);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].message, "the current Video Memory Size option is three bytes long");
    UseCapture(QZBIOS_SAMPLE_CAPTURE);
    first.clear();
    const auto forwarded = [] {
        for (const LogRecord& record : first) {
            if (record.function == "qz::shared::qzbios::QZBiosUtils::MapOfBiosAttribute") {
                return &record;
            }
        }
        return static_cast<const LogRecord*>(nullptr);
    };
    for (std::size_t n = 1; forwarded() == nullptr; ++n) {
        qz::test::FailNthAllocation(n);
        qzbios_read(&snapshot);
        qz::test::FailNthAllocation(0);
        qzbios_free(snapshot);
        ASSERT_TRUE(qz::test::AllocationFailureFired()) << "no failure point was logged";
    }
    EXPECT_EQ(forwarded()->library, library);
    EXPECT_EQ(forwarded()->line, 50u);
    EXPECT_EQ(forwarded()->message, "Exception: in QZBiosUtild MapOfBiosAttribute std::bad_alloc");
    EXPECT_EQ(first.front().message, "out of memory");
#endif
}

}  // namespace
