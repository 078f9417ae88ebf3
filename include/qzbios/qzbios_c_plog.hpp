// qzbios's diagnostic records in the host's own plog log, for hosts of any compiler: the C
// library's log callback turned into records of the host's own plog release, handed to the host's
// own appender, as qzSharedInitializeLogger hands them to a host built with the library's plog.
//
//   static plog::ConsoleAppender<plog::TxtFormatter> console;
//   qzbios_c::ForwardToPlog(plog::warning, &console);
#pragma once

#include <cstdint>
#include <string>

#include <plog/Appenders/IAppender.h>
#include <plog/Record.h>
#include <plog/Util.h>

#include "qzbios/qzbios_c.h"

namespace qzbios_c {

namespace detail {

// One record of the library, rebuilt as a plog record: the function in the file field too, and the
// library's file name as the object, as the library forwards them. Nothing leaves: an exception
// must not cross into the library.
inline void QZBIOS_C_CALL ToPlog(void* appender, int severity, const char* function,
                                 std::uint32_t line, const char* message, const char* library) {
    try {
#if defined(_WIN32)
        const std::wstring text = plog::util::toWide(message, plog::codePage::kUTF8);
        const std::wstring component = plog::util::toWide(library, plog::codePage::kUTF8);
#else
        const std::string text = message;
        const std::string component = library;
#endif
        plog::Record record(static_cast<plog::Severity>(severity), function, line, function,
                            component.c_str(), 0);
        record << text;
        static_cast<plog::IAppender*>(appender)->write(record);
    } catch (...) {
    }
}

}  // namespace detail

// Sends qzbios's records at `maxSeverity` or more severe to `appender`, which must outlive the
// library. The first call's severity and appender hold; each call adds one more copy of every
// record. Returns a qzbios status (QZBIOS_OK).
inline int ForwardToPlog(int maxSeverity, plog::IAppender* appender) {
    return qzbios_set_logger(maxSeverity, &detail::ToPlog, appender);
}

}  // namespace qzbios_c
