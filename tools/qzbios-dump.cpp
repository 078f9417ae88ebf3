// qzbios-dump: prints the BIOS attributes exactly as a host reads them from the records, or
// records every setting the machine publishes.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <plog/Log.h>
#include <plog/Record.h>

#include "bios/QZBiosImpl.h"
#include "common/TerminalText.h"
#include "common/WbemStatus.h"
#include "qzbios/QZBios.h"
#include "reading/ReadSettings.h"
#include "reading/Record.h"
#include "sources/Capture.h"
#include "sources/Reading.h"
#include "tools/Formats.h"
#include "tools/Options.h"
#include "tools/OutputFile.h"
#include "tools/Platform.h"

namespace {

using namespace qz::tools;
using qz::shared::common::Escapes;
using qz::shared::common::TerminalText;
using qz::shared::reading::Coverage;
using qz::shared::sources::Reading;
using qz::shared::sources::Refusal;
using qz::shared::sources::Source;

// Exit statuses, as --help lists them.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

void Say(const std::string& message) { std::fprintf(stderr, "qzbios-dump: %s\n", message.c_str()); }

// How a path given on the command line reads in a message; "-" is the standard stream `stream`.
std::string Shown(const std::string& path, const char* stream) {
    return path == "-" ? stream
                       : "'" +
                             TerminalText(path, kBackslashSeparatesPaths ? Escapes::Path
                                                                         : Escapes::Display) +
                             "'";
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Writes the library's records to standard error, one line each.
class StderrAppender : public plog::IAppender {
public:
    void write(const plog::Record& record) override {
        Say(std::string("[") + SeverityName(static_cast<int>(record.getSeverity())) + "] " +
            Narrow(static_cast<const plog::util::nchar*>(record.getObject())) + " " +
            record.getFunc() + ":" + std::to_string(record.getLine()) + ": " +
            TerminalText(Narrow(record.getMessage())));
    }
};

// Where the settings came from, for --source and for a run that found none.
std::string Described(const Reading& reading) {
    if (reading.source == Source::Capture) {
        return "capture " + (reading.location == "-" ? std::string("standard input")
                                                     : TerminalText(reading.location));
    }
    if (reading.source == Source::Wmi) {
        return "WMI";
    }
    if (reading.source == Source::None && reading.location == "WMI") {
        return "none: the settings query failed: " +
               qz::shared::common::WbemStatusText(reading.status);
    }
    if (reading.source == Source::None) {
        return "none (no capture named, and " + TerminalText(reading.location) +
               " holds no firmware-attributes device)";
    }
    std::string text = "firmware-attributes " + TerminalText(reading.location) + ":";
    for (const std::string& device : reading.devices) {
        text += " " + TerminalText(device);
    }
    return text;
}

// The values of `reading` that were not read, by why: of the 31 settings, or with `every` of every
// setting the reading holds (the row that holds each, as the library keeps them).
std::map<std::string, std::vector<std::string>> Unread(const Reading& reading,
                                                       const Coverage& coverage, bool every) {
    if (!every) {
        return coverage.unread;
    }
    std::map<std::string, std::vector<std::string>> unread;
    for (const auto& [key, row] : qz::shared::reading::LastRows(reading, true)) {
        if (!reading.rows[row].value) {
            const auto reason = reading.unread.find(row);
            unread[reason != reading.unread.end() ? reason->second : "not read"].push_back(
                key.second);
        }
    }
    return unread;
}

// What to say of the reading once the output is written; whether it was incomplete.
bool Notes(const Reading& reading, const Coverage& coverage, bool every) {
    // What this firmware publishes, said once: a setting it does not publish is a fact about the
    // machine, not a failure.
    if (reading.source != Source::None && coverage.publishedCount < coverage.read.size()) {
        Say("the firmware publishes " + std::to_string(coverage.publishedCount) +
            " of the 31 settings qzbios reads, and " +
            Plural(coverage.otherSettings, "other setting", "other settings") +
            " ('qzbios-dump record FILE' shows every setting)");
    }
    bool incomplete = false;
    for (const auto& [reason, names] : Unread(reading, coverage, every)) {
        std::string list;
        for (const std::string& name : names) {
            list += (list.empty() ? "" : ", ") + TerminalText(name);
        }
        Say(Plural(names.size(), "published setting's value", "published settings' values") +
            " could not be read (" + reason + "): " + list +
            (reason == std::strerror(EACCES)
                 ? " (the kernel shows current values to root only: run qzbios-dump as root)"
                 : ""));
        incomplete = true;
    }
    return incomplete;
}

// Whether a capture holds rows but none with a usable Name: most likely written by hand, wrongly.
// Says so, for every mode alike.
bool Unusable(const Reading& reading) {
    const bool named = std::any_of(reading.rows.begin(), reading.rows.end(),
                                   [](const auto& row) { return row.name.has_value(); });
    if (reading.source != Source::Capture || named || reading.otherSettings != 0 ||
        reading.unnamedRows == 0) {
        return false;
    }
    Say("capture file " + Shown(reading.location, "standard input") +
        ": no row has a \"Name\" that is a string (" + std::to_string(reading.unnamedRows) +
        " read; the members are \"Name\" and \"Value\", letter case included)");
    return true;
}

// Whether the machine's WMI provider failed the settings query, or did not answer in time, as
// Described says; a machine without the provider (no such namespace or class) did not fail.
bool QueryFailed(const Reading& reading) {
    using namespace qz::shared::common;
    return reading.source == Source::None && reading.location == "WMI" &&
           reading.status != kWbemInvalidNamespace && reading.status != kWbemInvalidClass;
}

// Writes `text` to standard output ("-") or in place of the file `path`; the exit status.
int Write(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            Say(std::string("cannot write the output: ") + std::strerror(errno));
            return kExitFailed;
        }
        return 0;
    }
    std::string error;
    if (!WriteWholeFile(path, text, error)) {
        Say("cannot write " + Shown(path, "") + ": " +
            TerminalText(error, kBackslashSeparatesPaths ? Escapes::Path : Escapes::Display));
        return kExitFailed;
    }
    return 0;
}

// The record the library makes of the rows, in the format asked for; the exit status.
int Print(const Options& options, const Reading& reading, const Coverage& coverage) {
    std::string text;
    try {
        qz::shared::qzbios::QZBiosImpl bios;
        const auto& record = qz::shared::reading::MakeRecord(reading, bios);
        const Reading* every = options.allSettings ? &reading : nullptr;
        text = options.format == Format::Table ? Table(record)
               : options.format == Format::Prometheus
                   ? PrometheusText(record, coverage, reading.source, every)
                   : Json(record, options.format == Format::Jsonl, every);
    } catch (const std::out_of_range&) {
        // The one failure of the library's rules: a three-byte current Video Memory Size option.
        Say("reading the BIOS settings failed: the library cannot read the Video Memory Size "
            "value '" +
            TerminalText(coverage.trimmedValue) + "': its current option is three bytes long");
        return kExitFailed;
    } catch (const std::bad_alloc&) {
        Say("reading the BIOS settings failed: out of memory");
        return kExitFailed;
    }
    return Write(options.output, text);
}

// Every row the source holds, as a capture; the exit status.
int Record(const std::string& path, const Reading& reading) {
    if (reading.source == Source::None) {
        Say("no settings to record: " + Described(reading));
        return kExitFailed;
    }
    std::string text;
    std::string error;
    if (!qz::shared::sources::CaptureText(reading.rows, text, error)) {
        Say("cannot record the settings: " + error);
        return kExitFailed;
    }
    const int written = Write(path, text);
    if (written == 0) {
        Say("recorded " + Plural(reading.rows.size(), "setting", "settings") + " to " +
            Shown(path, "standard output"));
    }
    return written;
}

// Installs the library's logger when --log-level asks for it, and says there what the run reads.
void LogReading(const Options& options, const qz::shared::sources::SourceRequest& request) {
    static StderrAppender appender;
    if (options.logLevel) {
        qzSharedInitializeLogger(*options.logLevel, &appender);
    }
    PLOGD << "reading the settings from "
          << (request.capture ? "capture " + Shown(*request.capture, "standard input")
              : request.root  ? "firmware-attributes " + TerminalText(*request.root)
                              : std::string("the machine"));
}

int Run(const Options& options) {
    qz::shared::sources::SourceRequest request = qz::shared::sources::RequestFromEnvironment();
    if (options.capture) {
        request.capture = options.capture;
    }
    request.anyFile = true;
    request.scope = options.record || options.allSettings ? qz::shared::sources::Scope::Every
                                                          : qz::shared::sources::Scope::Attributes;
    for (const std::string& output : {options.output, options.record.value_or("-")}) {
        if (request.capture && output != "-" && SameFile(output, *request.capture)) {
            return UsageError("the output " + Shown(output, "") + " is the capture being read");
        }
    }
    LogReading(options, request);
    const Reading reading = qz::shared::reading::ReadSettings(request);
    if (reading.refusal == Refusal::Named) {
        Say(TerminalText(reading.why));
        return kExitUsage;
    }
    if (reading.refusal != Refusal::None) {
        Say("cannot read the settings: " +
            (reading.refusal == Refusal::Memory
                 ? std::string("out of memory")
                 : "firmware-attributes " + TerminalText(reading.location) + ": " + reading.why));
        return kExitFailed;
    }
    PLOGD << "read " << reading.rows.size() << " rows, " << reading.unread.size()
          << " of them without a value; source: " << Described(reading);
    if (options.showSource) {
        Say("source: " + Described(reading));
    } else if (reading.source == Source::None) {
        Say("no settings source found: " + Described(reading));
    }
    try {
        if (Unusable(reading)) {
            return kExitFailed;
        }
        const auto coverage = qz::shared::reading::CoverageOf(reading);
        const int status =
            options.record ? Record(*options.record, reading) : Print(options, reading, coverage);
        const bool incomplete =
            Notes(reading, coverage, request.scope == qz::shared::sources::Scope::Every);
        return status != 0            ? status
               : QueryFailed(reading) ? kExitFailed
               : incomplete           ? kExitIncomplete
                                      : 0;
    } catch (const std::bad_alloc&) {
        Say("out of memory");
        return kExitFailed;
    } catch (const std::exception&) {
        // Nothing else is thrown; were it, the run still ends with a status rather than a crash.
        Say("the run failed unexpectedly");
        return kExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (Privileged()) {
        Say("refusing to run setuid, setgid or with file capabilities: run it as root, or as the "
            "user it is");
        return kExitUsage;
    }
    Options options;
    if (const std::optional<int> status = ParseOptions(Arguments(argc, argv), options)) {
        return *status == 0 && std::fflush(stdout) != 0 ? kExitFailed : *status;
    }
    return Run(options);
}
