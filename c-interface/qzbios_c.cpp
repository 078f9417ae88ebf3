// The C interface: a QZBios behind an opaque handle, exceptions turned into statuses, and the
// library's plog records turned into calls of a C callback.
#include "qzbios/qzbios_c.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <plog/Logger.h>
#include <plog/Record.h>

#include "bios/QZBiosImpl.h"
#include "bios/Settings.h"
#include "common/WbemStatus.h"
#include "logger/ModuleFileName.h"
#include "qzbios/QZBios.h"
#include "reading/ReadSettings.h"
#include "reading/Record.h"

using qz::shared::qzbios::QZBiosData;

// The two records are one layout: the C record is filled by copying the C++ one whole.
static_assert(std::is_standard_layout_v<QZBiosData> && std::is_standard_layout_v<qzbios_data>);
static_assert(sizeof(QZBiosData) == sizeof(qzbios_data) &&
              alignof(QZBiosData) == alignof(qzbios_data));
#define QZBIOS_SAME_FIELD(lookup, field, ...)                                                    \
    static_assert(offsetof(QZBiosData, field) == offsetof(qzbios_data, field) &&                 \
                      std::is_same_v<decltype(QZBiosData::field), decltype(qzbios_data::field)>, \
                  #field " differs between QZBiosData and qzbios_data");
QZBIOS_SETTINGS(QZBIOS_SAME_FIELD)
#undef QZBIOS_SAME_FIELD

struct qzbios_snapshot {
    qz::shared::qzbios::QZBiosImpl bios;
    qzbios_data record{};
    qzbios_reading reading{};
    std::string queryText;
};

namespace {

// UTF-8 of a plog text, wide on Windows.
std::string Utf8(const plog::util::nchar* text) {
    if (text == nullptr) {
        return std::string();
    }
#if defined(_WIN32)
    return plog::util::toNarrow(text, plog::codePage::kUTF8);
#else
    return text;
#endif
}

// Whether this thread is inside the host's log callback; and a call the callback made into the
// library, refused, whose error record follows once the callback has returned.
thread_local bool tInCallback = false;
thread_local const char* tRefusedCall = nullptr;

// Hands each record to the host's callback, as the C types it asks for. Holds no callback until the
// first call of qzbios_set_logger that succeeds.
class CallbackAppender : public plog::IAppender {
public:
    void Set(qzbios_log_callback callback, void* context) noexcept {
        m_callback = callback;
        m_context = context;
    }

    void write(const plog::Record& record) override;

private:
    qzbios_log_callback m_callback = nullptr;
    void* m_context = nullptr;
};

void Log(plog::Severity severity, const char* function, std::size_t line, const char* text,
         const char* detail = nullptr) noexcept;

void CallbackAppender::write(const plog::Record& record) {
    if (m_callback == nullptr || tInCallback) {
        return;
    }
    try {
        const std::string message = Utf8(record.getMessage());
        const std::string library = Utf8(static_cast<const plog::util::nchar*>(record.getObject()));
        tInCallback = true;
        m_callback(m_context, static_cast<int>(record.getSeverity()), record.getFunc(),
                   static_cast<std::uint32_t>(record.getLine()), message.c_str(), library.c_str());
    } catch (...) {
        // A record that cannot be converted, or a callback that throws, loses the record: nothing
        // may leave a C call, and the host goes on.
    }
    tInCallback = false;
    if (const char* refused = tRefusedCall) {
        tRefusedCall = nullptr;
        Log(plog::error, refused, 0, qzbios_status_text(QZBIOS_FAILED),
            "called from the log callback, which must not call back into qzbios");
    }
}

// This library's own file name, the component of its own records.
const plog::util::nstring& ComponentName() {
    static const plog::util::nstring name =
        qz::shared::common::logger::ModuleFileName(reinterpret_cast<const void*>(&qzbios_version));
    return name;
}

// Writes a record of this library's own from `function`, `text` followed by `detail` in
// parentheses when there is one, when its logger admits `severity`. Never throws: a record that
// cannot be built is dropped.
void Log(plog::Severity severity, const char* function, std::size_t line, const char* text,
         const char* detail) noexcept {
    plog::Logger<0>* logger = plog::get<0>();
    if (logger == nullptr || !logger->checkSeverity(severity)) {
        return;
    }
    try {
        plog::Record record(severity, function, line, "", ComponentName().c_str(), 0);
        record << text;
        if (detail != nullptr) {
            record << " (" << detail << ")";
        }
        *logger += record;
    } catch (const std::exception&) {
    }
}

// Says in one error record why `function` failed; the status.
int Failed(int status, const char* function, std::size_t line,
           const char* detail = nullptr) noexcept {
    Log(plog::error, function, line, qzbios_status_text(status), detail);
    return status;
}

// Refuses a call the log callback makes into the library: its error record follows the callback.
int RefusedInCallback(const char* function) noexcept {
    tRefusedCall = function;
    return QZBIOS_FAILED;
}

int SourceOf(qz::shared::sources::Source source) {
    using qz::shared::sources::Source;
    return source == Source::Wmi                  ? QZBIOS_SOURCE_WMI
           : source == Source::FirmwareAttributes ? QZBIOS_SOURCE_FIRMWARE_ATTRIBUTES
           : source == Source::Capture            ? QZBIOS_SOURCE_CAPTURE
                                                  : QZBIOS_SOURCE_NONE;
}

}  // namespace

extern "C" {

int QZBIOS_C_CALL qzbios_read(qzbios_snapshot** snapshot) {
    if (tInCallback) {
        return RefusedInCallback("qzbios_read");
    }
    if (snapshot == nullptr) {
        return Failed(QZBIOS_INVALID_ARGUMENT, "qzbios_read", __LINE__, "snapshot is null");
    }
    *snapshot = nullptr;
    try {
        namespace sources = qz::shared::sources;
        auto read = std::make_unique<qzbios_snapshot>();
        const sources::Reading reading =
            qz::shared::reading::ReadSettings(sources::RequestFromEnvironment());
        if (reading.refusal == sources::Refusal::Memory) {
            throw std::bad_alloc();
        }
        const auto coverage = qz::shared::reading::CoverageOf(reading);
        const QZBiosData& record = qz::shared::reading::MakeRecord(reading, read->bios);
        static_assert(std::is_trivially_copyable_v<QZBiosData>);
        std::memcpy(&read->record, &record, sizeof read->record);
        read->queryText =
            reading.status == 0 ? "success" : qz::shared::common::WbemStatusText(reading.status);
        if (!reading.why.empty()) {
            read->queryText += ": " + reading.why;
        }
        read->reading = {SourceOf(reading.source), reading.status, read->queryText.c_str(),
                         static_cast<std::uint32_t>(coverage.publishedCount),
                         static_cast<std::uint32_t>(coverage.unreadCount)};
        *snapshot = read.release();
        Log(plog::debug, "qzbios_read", __LINE__, "read the BIOS settings",
            (*snapshot)->reading.query_status == 0 ? nullptr : (*snapshot)->reading.query_text);
        return QZBIOS_OK;
    } catch (const std::bad_alloc&) {
        return Failed(QZBIOS_OUT_OF_MEMORY, "qzbios_read", __LINE__);
    } catch (const std::out_of_range&) {
        return Failed(QZBIOS_VIDEO_MEMORY_OPTION, "qzbios_read", __LINE__);
    } catch (const std::exception& e) {
        return Failed(QZBIOS_FAILED, "qzbios_read", __LINE__, e.what());
    } catch (...) {
        return Failed(QZBIOS_FAILED, "qzbios_read", __LINE__, "an exception of an unknown type");
    }
}

int QZBIOS_C_CALL qzbios_reading_of(const qzbios_snapshot* snapshot, qzbios_reading* reading) {
    if (snapshot == nullptr || reading == nullptr) {
        return Failed(QZBIOS_INVALID_ARGUMENT, "qzbios_reading_of", __LINE__,
                      snapshot == nullptr ? "snapshot is null" : "reading is null");
    }
    *reading = snapshot->reading;
    return QZBIOS_OK;
}

const qzbios_data* QZBIOS_C_CALL qzbios_record(const qzbios_snapshot* snapshot) {
    return snapshot == nullptr ? nullptr : &snapshot->record;
}

void QZBIOS_C_CALL qzbios_free(qzbios_snapshot* snapshot) { delete snapshot; }

const char* QZBIOS_C_CALL qzbios_status_text(int status) {
    switch (status) {
        case QZBIOS_OK:
            return "success";
        case QZBIOS_OUT_OF_MEMORY:
            return "out of memory";
        case QZBIOS_VIDEO_MEMORY_OPTION:
            return "the current Video Memory Size option is three bytes long";
        case QZBIOS_INVALID_ARGUMENT:
            return "a null pointer or a value out of range as an argument";
        case QZBIOS_FAILED:
            return "the library failed";
        default:
            return "unknown status";
    }
}

const char* QZBIOS_C_CALL qzbios_version(void) { return QZBIOS_VERSION; }

int QZBIOS_C_CALL qzbios_set_logger(int max_severity, qzbios_log_callback callback, void* context) {
    if (tInCallback) {
        return RefusedInCallback("qzbios_set_logger");
    }
    if (callback == nullptr || max_severity < 0 || max_severity > 6) {
        return Failed(QZBIOS_INVALID_ARGUMENT, "qzbios_set_logger", __LINE__,
                      callback == nullptr ? "callback is null" : "max_severity is not from 0 to 6");
    }
    // The callback and context of the first call that succeeds hold, as the first call's appender
    // does for the library; this library's own records take the same road, through the logger of
    // the library's code linked in. A call that fails leaves no callback behind.
    static CallbackAppender appender;
    static bool installed = false;
    try {
        ComponentName();
        if (!installed) {
            appender.Set(callback, context);
        }
        qzSharedInitializeLogger(max_severity, &appender);
        installed = true;
        return QZBIOS_OK;
    } catch (const std::bad_alloc&) {
        // The appender reached no logger: the next call that succeeds sets its own callback.
        return Failed(QZBIOS_OUT_OF_MEMORY, "qzbios_set_logger", __LINE__);
    }
}

}  // extern "C"
