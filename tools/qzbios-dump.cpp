// qzbios-dump: prints the BIOS attributes exactly as a host reads them from the records.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <plog/Record.h>
#include <plog/Severity.h>
#include <plog/Util.h>
#include <nlohmann/json.hpp>

#include "CaptureFile.h"
#if !defined(_WIN32)
#include <filesystem>

#include "SettingsSource.h"
#endif
#include "DisplayText.h"
#include "FieldTable.h"
#include "OutputFile.h"
#include "Prometheus.h"
#include "qzbios/QZBios.h"
#include "wmi/WMIClient.h"

namespace {

using qz::shared::qzbios::QZBiosData;
using qz::tools::kRecordFields;
using qz::tools::RecordField;

// Exit statuses, as --help lists them.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

const char kUsage[] =
    "usage: qzbios-dump [--format table|json|jsonl|prometheus] [--output FILE]\n"
    "                   [--capture FILE] [--source] [--log-level LEVEL]\n"
    "       qzbios-dump record OUTPUT.json   (or --record OUTPUT.json)\n"
    "\n"
    "Prints the 31 BIOS attributes of this machine as the qzbios library reports them, or\n"
    "records every BIOS setting the WMI client delivers as a capture file.\n"
    "\n"
    "  --format FORMAT      table of field, value and type (default), one JSON object\n"
    "                       (json), one JSON object per line (jsonl), or the Prometheus\n"
    "                       text format for a textfile collector (prometheus)\n"
    "  --output FILE        write to FILE instead of standard output, whole or not at all:\n"
    "                       a temporary file beside it, renamed over it, mode 0644\n"
    "  --capture FILE       read the settings from a capture file, once ('-' is standard\n"
    "                       input); the same as QZ_WMI_CAPTURE=FILE\n"
    "  --source             say on standard error where the settings come from\n"
    "  record FILE, --record FILE\n"
    "                       write every setting row, unfiltered, to FILE as a capture\n"
    "                       ('-' is standard output), whole or not at all, as --output\n"
    "  --log-level LEVEL    show the library's diagnostics at LEVEL or more severe on\n"
    "                       standard error: none, fatal, error, warning, info, debug,\n"
    "                       verbose, or the same as a number from 0 to 6\n"
    "  --help               show this text, wherever it stands\n"
    "  --version            show the version\n"
    "Each flag may be given once, and a value may follow it or an '='.\n"
    "\n"
    "Environment (Linux):\n"
    "  QZ_WMI_CAPTURE              a capture file to read the settings from\n"
    "  QZ_FIRMWARE_ATTRIBUTES_DIR  the folder holding the firmware-attributes devices\n"
    "                              (/sys/class/firmware-attributes when unset)\n"
    "\n"
    "Exit status:\n"
    "  0  the settings were read and written out\n"
    "  1  the run failed: the library reported an error, there was nothing to record,\n"
    "     or the output could not be written\n"
    "  2  a usage error, or a capture file that cannot be read or parsed\n"
    "  3  written, but incomplete: a published setting's current value could not be\n"
    "     read (the kernel shows them to root only), or a capture held no row that the\n"
    "     library can use\n";

// Where the settings come from: a description, whether there is anything to read, and whether the
// user named the wrong folder.
struct SourceDescription {
    std::string text;
    bool found = false;
    bool misnamed = false;
    std::string kind = "none";  // capture, firmware-attributes, wmi or none
};

// How a path given on the command line reads in a message; "-" is the standard stream `stream`.
std::string Shown(const std::string& path, const char* stream) {
    return path == "-" ? stream : "'" + path + "'";
}

#if defined(_WIN32)
// Windows reads the firmware's WMI provider; captures are replayed only where there is no WMI.
constexpr bool kReadsCaptures = false;

std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : plog::util::toNarrow(text, plog::codePage::kChar);
}

bool ServeCapture(std::vector<qz::shared::wmi::CaptureRow> /*rows*/) { return true; }

const char* SettingsVariable(const char* /*name*/) { return nullptr; }

std::string QueryRefusal() { return std::string(); }

SourceDescription DescribeSource(const std::string& /*capture*/) {
    return {"WMI", true, false, "wmi"};
}

std::size_t UnreadableValueCount() { return 0; }

bool ReportUnreadableValues() { return false; }
#else
constexpr bool kReadsCaptures = true;

std::string Narrow(const char* text) { return text == nullptr ? std::string() : text; }

bool ServeCapture(std::vector<qz::shared::wmi::CaptureRow> rows) {
    return qz::shared::wmi::ServeCaptureRows(std::move(rows));
}

using qz::shared::wmi::SettingsVariable;

// Why the last read refused its source whole (a tree beyond its limits), or nothing. The tool reads
// a capture itself, so only a tree is left to refuse.
std::string QueryRefusal() {
    const std::string refusal = qz::shared::wmi::LastQueryReport().refusal;
    return refusal.empty()
               ? refusal
               : "firmware-attributes tree " +
                     qz::tools::TerminalText(qz::shared::wmi::FirmwareAttributesRoot()) + ": " +
                     refusal;
}

SourceDescription DescribeSource(const std::string& capture) {
    if (!capture.empty()) {
        return {"capture " + (capture == "-" ? "standard input" : capture), true, false, "capture"};
    }
    const qz::shared::wmi::SettingsSource source = qz::shared::wmi::FindSettingsSource();
    if (!source.devices.empty()) {
        std::string text = "firmware-attributes " + source.path + ":";
        for (const std::string& device : source.devices) {
            text += " " + device;
        }
        return {text, true, false, "firmware-attributes"};
    }
    std::filesystem::path root = std::filesystem::path(source.path).lexically_normal();
    if (root.filename().empty()) {
        root = root.parent_path();  // the path ended in a separator
    }
    std::error_code failed;
    if (std::filesystem::is_directory(root / "attributes", failed)) {
        return {"QZ_FIRMWARE_ATTRIBUTES_DIR names the firmware-attributes device '" + source.path +
                    "'; name the folder that holds its devices instead, '" +
                    root.parent_path().string() + "'",
                false, true};
    }
    return {"none (no capture named, and " + source.path + " holds no firmware-attributes device)",
            false};
}

std::size_t UnreadableValueCount() {
    std::size_t count = 0;
    for (const auto& [reason, settings] : qz::shared::wmi::LastQueryReport().unreadable) {
        count += settings;
    }
    return count;
}

// Says on standard error which published settings' current values the last read could not get,
// once per reason; true when there were any.
bool ReportUnreadableValues() {
    const qz::shared::wmi::UnreadableValues unreadable =
        qz::shared::wmi::LastQueryReport().unreadable;
    for (const auto& [reason, count] : unreadable) {
        const bool denied = reason == std::strerror(EACCES);
        std::fprintf(stderr, "qzbios-dump: %zu published %s could not be read: %s%s\n", count,
                     count == 1 ? "setting's current value" : "settings' current values",
                     reason.c_str(),
                     denied ? " (the kernel shows current values to root only: run qzbios-dump "
                              "as root)"
                            : "");
    }
    return !unreadable.empty();
}
#endif

const char* const kSeverityNames[] = {"none", "fatal", "error",  "warning",
                                      "info", "debug", "verbose"};

// Writes the library's records to standard error, one line each.
class StderrAppender : public plog::IAppender {
public:
    void write(const plog::Record& record) override {
        const auto severity = static_cast<int>(record.getSeverity());
        const std::string component =
            Narrow(static_cast<const plog::util::nchar*>(record.getObject()));
        std::fprintf(stderr, "qzbios-dump: [%s] %s %s:%zu: %s\n",
                     severity >= 0 && severity <= 6 ? kSeverityNames[severity] : "?",
                     component.c_str(), record.getFunc(), record.getLine(),
                     Narrow(record.getMessage()).c_str());
    }
};

struct Options {
    std::string format = "table";
    std::string capture;
    std::string record;
    std::string output = "-";
    bool showSource = false;
    int logLevel = -1;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qzbios-dump: %s (try --help)\n", message.c_str());
    return kExitUsage;
}

int ParseSeverity(const std::string& text) {
    for (int i = 0; i <= 6; ++i) {
        if (text == kSeverityNames[i] || text == std::to_string(i)) {
            return i;
        }
    }
    return -1;
}

// Returns -1 when the options are good, otherwise the exit status. --help and --version answer
// wherever they stand; `record` is taken wherever a flag is.
int ParseOptions(int argc, char** argv, Options& options) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        std::printf("qzbios-dump %s\n", QZBIOS_VERSION);
        return 0;
    }
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string flag = arg.substr(0, equals);
        // "record FILE" is "--record FILE" by another name.
        const std::string name = flag == "record" ? "--record" : flag;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return UsageError(flag + " is given twice");
        }
        seen.push_back(name);
        if (arg == "--source") {
            options.showSource = true;
            continue;
        }
        if (name != "--format" && name != "--capture" && name != "--log-level" &&
            name != "--record" && name != "--output") {
            return UsageError("unknown argument '" + arg + "'");
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        if (value.empty()) {
            return UsageError(flag +
                              (name == "--record" ? " needs an output file" : " needs a value"));
        }
        if (name == "--format") {
            if (value != "table" && value != "json" && value != "jsonl" && value != "prometheus") {
                return UsageError("--format must be table, json, jsonl or prometheus, not '" +
                                  value + "'");
            }
            options.format = value;
        } else if (name == "--record") {
            options.record = value;
        } else if (name == "--output") {
            options.output = value;
        } else if (name == "--capture") {
            if (!kReadsCaptures) {
                return UsageError("--capture is not available here: settings come from WMI");
            }
            options.capture = value;
        } else {
            options.logLevel = ParseSeverity(value);
            if (options.logLevel < 0) {
                return UsageError(
                    "--log-level must be one of none, fatal, error, warning, info, debug, "
                    "verbose, or 0 to 6, not '" +
                    value + "'");
            }
        }
    }
    if (!options.record.empty() && options.output != "-") {
        return UsageError("record writes to its own FILE: --output is for the formats");
    }
    return -1;
}

// One line a field, whatever the value holds; columns aligned by the width a terminal gives them.
std::string Table(const QZBiosData& record) {
    std::vector<std::string> values;
    std::size_t width = 5;  // "Value"
    for (const RecordField& field : kRecordFields) {
        values.push_back(field.text != nullptr ? qz::tools::TerminalText(record.*field.text)
                                               : std::to_string(record.*field.number));
        width = std::max(width, qz::tools::DisplayWidth(values.back()));
    }
    std::string text;
    const auto line = [&text, width](const char* name, const std::string& value, const char* type) {
        text += name + std::string(18 - std::strlen(name) + 1, ' ') + value +
                std::string(width - qz::tools::DisplayWidth(value) + 1, ' ') + type + '\n';
    };
    line("Field", "Value", "Type");
    for (std::size_t i = 0; i < values.size(); ++i) {
        line(kRecordFields[i].name, values[i], kRecordFields[i].text != nullptr ? "text" : "int32");
    }
    return text;
}

std::string Json(const QZBiosData& record, bool oneLine) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr) {
            object[field.name] = record.*field.text;
        } else {
            object[field.name] = record.*field.number;
        }
    }
    // JSON holds Unicode text only: bytes that are not UTF-8 are shown as U+FFFD.
    return object.dump(oneLine ? -1 : 2, ' ', false,
                       nlohmann::ordered_json::error_handler_t::replace) +
           '\n';
}

// Settles the exit status once standard output is flushed: output that could not be written (a full
// disk, a closed standard output) fails the run.
int Finish(int status) {
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "qzbios-dump: cannot write the output: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    return status;
}

// The record as the library hands it out, in `options.format`; the exit status.
int Print(const Options& options, const SourceDescription& source, std::string& text) {
    static StderrAppender appender;
    if (options.logLevel >= 0) {
        qzSharedInitializeLogger(options.logLevel, &appender);
    }
    try {
        qz::shared::qzbios::QZBios bios;
        if (const std::string refusal = QueryRefusal(); !refusal.empty()) {
            // The records would look complete, and are not.
            std::fprintf(stderr, "qzbios-dump: cannot read the settings: %s\n", refusal.c_str());
            return kExitFailed;
        }
        std::uint64_t count = 0;
        const QZBiosData* records = bios.GetQZBiosData(count);
        if (records == nullptr || count == 0) {
            std::fprintf(stderr, "qzbios-dump: the library returned no record\n");
            return kExitFailed;
        }
        text = options.format == "table" ? Table(records[0])
               : options.format == "prometheus"
                   ? qz::tools::PrometheusText(records[0], source.kind, UnreadableValueCount())
                   : Json(records[0], options.format == "jsonl");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzbios-dump: reading the BIOS settings failed: %s\n", e.what());
        return kExitFailed;
    }
    return 0;
}

// Writes `text` to standard output ("-") or in place of the file `path`; the exit status.
int Write(const std::string& path, const std::string& text) {
    std::string error;
    if (path != "-" && !qz::tools::WriteWholeFile(path, text, error)) {
        std::fprintf(stderr, "qzbios-dump: cannot write '%s': %s\n", path.c_str(), error.c_str());
        return kExitFailed;
    }
    if (path == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);  // Finish says whether it was written
    }
    return 0;
}

// Every row the WMI client delivers for the settings query, as the library would read it.
int Record(const std::string& path) {
    qz::shared::wmi::WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
    const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
    std::vector<qz::shared::wmi::CaptureRow> rows;
    while (client.GetNext()) {
        qz::shared::wmi::CaptureRow row;
        const char* value = nullptr;
        if (client.GetValue(L"Name", &value) == 0 && value != nullptr) {
            row.name = value;
        }
        if (client.GetValue(L"Value", &value) == 0 && value != nullptr) {
            row.value = value;
        }
        rows.push_back(std::move(row));
    }
    if (const std::string refusal = QueryRefusal(); !refusal.empty()) {
        std::fprintf(stderr, "qzbios-dump: no settings to record: %s\n", refusal.c_str());
        return kExitFailed;
    }
    if (status != 0) {
        std::fprintf(stderr, "qzbios-dump: no settings to record: the query failed (0x%08X)\n",
                     static_cast<unsigned>(status));
        return kExitFailed;
    }
    std::string text;
    std::string error;
    if (!qz::shared::wmi::CaptureText(rows, text, error)) {
        std::fprintf(stderr, "qzbios-dump: cannot record the settings: %s\n", error.c_str());
        return kExitFailed;
    }
    const int written = Write(path, text);
    if (written == 0) {
        std::fprintf(stderr, "qzbios-dump: recorded %zu %s to %s\n", rows.size(),
                     rows.size() == 1 ? "setting" : "settings",
                     Shown(path, "standard output").c_str());
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) {
        return Finish(parsed);
    }
    bool incomplete = false;
    // A capture is read here, once, and its rows handed to the client: a pipe, a FIFO or standard
    // input cannot be read a second time.
    std::string capture = options.capture;
    if (const char* named = SettingsVariable("QZ_WMI_CAPTURE"); capture.empty() && named) {
        capture = named;
    }
    if (!capture.empty()) {
        std::vector<qz::shared::wmi::CaptureRow> rows;
        std::string error;
        if (!qz::shared::wmi::ReadCapture(capture, rows, error)) {
            std::fprintf(stderr, "qzbios-dump: capture file %s: %s\n",
                         Shown(capture, "standard input").c_str(), error.c_str());
            return kExitUsage;
        }
        if (std::none_of(rows.begin(), rows.end(),
                         [](const auto& row) { return row.name.has_value(); })) {
            std::fprintf(stderr,
                         "qzbios-dump: capture file %s: no row has a \"Name\" that is a string "
                         "(%zu read; the members are \"Name\" and \"Value\", letter case "
                         "included)\n",
                         Shown(capture, "standard input").c_str(), rows.size());
            incomplete = true;
        }
        if (!ServeCapture(std::move(rows))) {
            std::fprintf(stderr, "qzbios-dump: capture file %s: out of memory\n",
                         Shown(capture, "standard input").c_str());
            return kExitFailed;
        }
    }
    const SourceDescription source = DescribeSource(capture);
    if (source.misnamed) {
        return UsageError(source.text);
    }
    if (options.showSource) {
        std::fprintf(stderr, "qzbios-dump: source: %s\n", source.text.c_str());
    } else if (!source.found) {
        std::fprintf(stderr, "qzbios-dump: no settings source found: %s\n", source.text.c_str());
    }
    int status = 0;
    if (options.record.empty()) {
        std::string text;
        status = Print(options, source, text);
        status = status == 0 ? Write(options.output, text) : status;
    } else {
        status = Record(options.record);
    }
    incomplete = ReportUnreadableValues() || incomplete;
    return Finish(status == 0 && incomplete ? kExitIncomplete : status);
}
