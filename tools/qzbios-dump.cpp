// qzbios-dump: prints the BIOS attributes exactly as a host reads them from the records.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <plog/Record.h>
#include <plog/Severity.h>
#include <plog/Util.h>
#include <nlohmann/json.hpp>

#include "CaptureFile.h"
#if defined(_WIN32)
#include <windows.h>
// windows.h is included first: shellapi.h needs its types.
#include <shellapi.h>
#else
#include <sys/auxv.h>
#include <sys/stat.h>

#include "SettingsSource.h"
#endif
#include "DisplayText.h"
#include "FieldTable.h"
#include "OutputFile.h"
#include "Prometheus.h"
#include "Published.h"
#include "qzbios/QZBios.h"
#include "wmi/WMIClient.h"

namespace {

using qz::shared::qzbios::QZBiosData;
using qz::shared::wmi::CaptureRow;
using qz::tools::kRecordFields;
using qz::tools::RecordField;
using qz::tools::TerminalText;

// Exit statuses, as --help lists them.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

const char kUsage[] =
    "Usage: qzbios-dump [--format table|json|jsonl|prometheus] [--output FILE]\n"
    "                   [--capture FILE] [--source] [--log-level LEVEL]\n"
    "       qzbios-dump record FILE   (or --record FILE)\n"
    "\n"
    "Prints the 31 BIOS attributes of this machine as the qzbios library reports them, or\n"
    "records every BIOS setting the WMI client delivers as a capture file.\n"
    "\n"
    "  --format FORMAT      table of field, value and type (default), one JSON object\n"
    "                       (json), one JSON object per line (jsonl), or the Prometheus\n"
    "                       text format for a textfile collector (prometheus)\n"
    "  --output FILE        write to FILE instead of standard output ('-'), whole or not\n"
    "                       at all; only a regular file is replaced (its mode and group\n"
    "                       kept), and a link, folder, FIFO, socket or device is refused\n"
    "  --capture FILE       read the settings from a capture file, once ('-' is standard\n"
    "                       input); the same as QZ_WMI_CAPTURE=FILE\n"
    "  --source             say on standard error where the settings come from\n"
    "  record FILE, --record FILE\n"
    "                       write every setting row, unfiltered, to FILE as a capture\n"
    "                       ('-' is standard output), as --output writes\n"
    "  --log-level LEVEL    show the library's diagnostics at LEVEL or more severe on\n"
    "                       standard error: none, fatal, error, warning, info, debug,\n"
    "                       verbose, or the same as a number from 0 to 6\n"
    "  -h, --help           show this text, wherever it stands\n"
    "  --version            show the version\n"
    "Each flag may be given once, and a value may follow it or an '='.\n"
    "\n"
    "Environment (Linux; for tests and support):\n"
    "  QZ_WMI_CAPTURE              a capture file to read the settings from\n"
    "  QZ_FIRMWARE_ATTRIBUTES_DIR  the folder holding the firmware-attributes devices\n"
    "                              (/sys/class/firmware-attributes when unset)\n"
    "\n"
    "Exit status:\n"
    "  0  the settings were read and written out\n"
    "  1  the run failed: the library reported an error, there was nothing to record,\n"
    "     or the output could not be written\n"
    "  2  a usage error, a capture file that cannot be read or parsed, or a run with\n"
    "     privileges it was given by setuid, setgid or file capabilities\n"
    "  3  written, but incomplete: a value of a published setting could not be read\n"
    "     (the kernel shows current values to root only; a capture holds null), or a\n"
    "     capture held no row with a Name the library can use\n";

struct Options {
    std::string format = "table";
    bool formatGiven = false;
    std::string capture;
    std::string record;
    std::string output = "-";
    bool showSource = false;
    int logLevel = -1;
};

// What the run read its settings from, and what it could not read.
struct Source {
    std::string kind = "none";  // capture, firmware-attributes, wmi or none
    std::string text;           // for --source, escaped
    std::shared_ptr<const std::vector<CaptureRow>> rows;
    std::size_t unreadable = 0;      // published settings whose value could not be read
    std::vector<std::string> notes;  // what to say of it on standard error, escaped
    bool incomplete = false;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qzbios-dump: %s (try --help)\n", message.c_str());
    return kExitUsage;
}

// How a path given on the command line reads in a message; "-" is the standard stream `stream`.
std::string Shown(const std::string& path, const char* stream) {
    return path == "-" ? stream : "'" + TerminalText(path) + "'";
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Every row the WMI client delivers for the settings query, as the library reads them (a string
// ends at its first NUL); the status of the query.
std::int32_t QueryRows(Source& source) {
    qz::shared::wmi::WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
    const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
    std::vector<CaptureRow> rows;
    while (client.GetNext()) {
        CaptureRow row;
        const char* value = nullptr;
        if (client.GetValue(L"Name", &value) == 0 && value != nullptr) {
            row.name = value;
        }
        if (client.GetValue(L"Value", &value) == 0 && value != nullptr) {
            row.value = value;
        }
        rows.push_back(std::move(row));
    }
    source.rows = std::make_shared<const std::vector<CaptureRow>>(std::move(rows));
    return status;
}

#if defined(_WIN32)
std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : plog::util::toNarrow(text, plog::codePage::kChar);
}

// The arguments as UTF-8, read from the UTF-16 command line: the ANSI argv would turn a name
// outside the code page into '?'.
std::vector<std::string> Arguments(int /*argc*/, char** /*argv*/) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; wide != nullptr && i < count; ++i) {
        args.push_back(plog::util::toNarrow(wide[i], CP_UTF8));
    }
    LocalFree(wide);
    return args;
}

bool Privileged() { return false; }

// Windows reads the firmware's WMI provider.
int ReadSource(const Options& /*options*/, Source& source) {
    const std::int32_t status = QueryRows(source);
    source.kind = "wmi";
    source.text = "WMI";
    if (status != 0) {
        char failed[64] = {};
        std::snprintf(failed, sizeof failed, "the query failed (0x%08X)",
                      static_cast<unsigned>(status));
        source.kind = "none";
        source.text = std::string("none: ") + failed;
    }
    return -1;
}
#else
std::string Narrow(const char* text) { return text == nullptr ? std::string() : text; }

std::vector<std::string> Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

// Started setuid, setgid or with file capabilities: its caller would steer a privileged process.
bool Privileged() { return getauxval(AT_SECURE) != 0; }

// A variable of the environment, as the client reads it: ignored in a privileged process; empty
// is a usage error, since nobody sets one to mean nothing.
int Variable(const char* name, std::string& value) {
    const char* text = secure_getenv(name);
    if (text != nullptr && *text == '\0') {
        return UsageError(std::string(name) + " is set but empty: name a " +
                          (std::strcmp(name, "QZ_WMI_CAPTURE") == 0 ? "capture file" : "folder") +
                          ", or unset it");
    }
    value = text == nullptr ? "" : text;
    return -1;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The folder QZ_FIRMWARE_ATTRIBUTES_DIR names must be one that holds devices: not missing, not a
// device, not a device's attributes folder.
int CheckNamedRoot(const std::string& root) {
    std::string trimmed = root;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash);
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    const std::string shown = "QZ_FIRMWARE_ATTRIBUTES_DIR names '" + TerminalText(root) + "'";
    if (!IsDirectory(root)) {
        return UsageError(shown + ", which is not a folder: " + std::strerror(errno));
    }
    if (IsDirectory(root + "/attributes")) {
        return UsageError(shown + ", a firmware-attributes device; name the folder that holds " +
                          "its devices instead, '" + TerminalText(parent) + "'");
    }
    const std::size_t up = parent.rfind('/');
    if (name == "attributes" && up != std::string::npos) {
        return UsageError(shown + ", the attributes folder of a device; name the folder that " +
                          "holds its devices instead, '" + TerminalText(parent.substr(0, up)) +
                          "'");
    }
    return -1;
}

// Reads the capture or the tree once and hands its rows to the client that the library reads
// through; the exit status when the run ends here, else -1.
int ReadSource(const Options& options, Source& source) {
    std::string capture = options.capture;
    std::string named;
    std::string root;
    if (const int status = Variable("QZ_WMI_CAPTURE", named); status >= 0) {
        return status;
    }
    if (const int status = Variable("QZ_FIRMWARE_ATTRIBUTES_DIR", root); status >= 0) {
        return status;
    }
    capture = capture.empty() ? named : capture;
    std::vector<CaptureRow> rows;
    if (!capture.empty()) {
        for (const std::string& output : {options.output, options.record}) {
            if (output != "-" && !output.empty() && qz::tools::SameFile(output, capture)) {
                return UsageError("the output " + Shown(output, "") + " is the capture being read");
            }
        }
        std::string error;
        if (!qz::shared::wmi::ReadCapture(capture, rows, error)) {
            std::fprintf(stderr, "qzbios-dump: capture file %s: %s\n",
                         Shown(capture, "standard input").c_str(), TerminalText(error).c_str());
            return kExitUsage;
        }
        source.kind = "capture";
        source.text = "capture " + (capture == "-" ? "standard input" : TerminalText(capture));
        if (std::none_of(rows.begin(), rows.end(), [](const auto& row) { return row.name; })) {
            source.notes.push_back("capture file " + Shown(capture, "standard input") +
                                   ": no row has a \"Name\" that is a string (" +
                                   std::to_string(rows.size()) +
                                   " read; the members are \"Name\" and \"Value\", letter case "
                                   "included)");
            source.incomplete = true;
        }
    } else {
        if (!root.empty()) {
            if (const int status = CheckNamedRoot(root); status >= 0) {
                return status;
            }
        }
        root = qz::shared::wmi::FirmwareAttributesRoot();
        std::vector<std::string> devices;
        qz::shared::wmi::UnreadableValues unreadable;
        std::string refusal;
        if (!qz::shared::wmi::ReadFirmwareAttributes(root, rows, devices, unreadable, refusal)) {
            std::fprintf(stderr, "qzbios-dump: out of memory reading %s\n",
                         TerminalText(root).c_str());
            return kExitFailed;
        }
        if (!refusal.empty()) {
            std::fprintf(stderr,
                         "qzbios-dump: cannot read the settings: firmware-attributes %s: %s\n",
                         TerminalText(root).c_str(), refusal.c_str());
            return kExitFailed;
        }
        source.text = devices.empty() ? "none (no capture named, and " + TerminalText(root) +
                                            " holds no firmware-attributes device)"
                                      : "firmware-attributes " + TerminalText(root) + ":";
        for (const std::string& device : devices) {
            source.text += " " + TerminalText(device);
        }
        source.kind = devices.empty() ? "none" : "firmware-attributes";
        for (const auto& [reason, count] : unreadable) {
            source.unreadable += count;
            source.notes.push_back(
                Plural(count, "published setting's current value",
                       "published settings' current values") +
                " could not be read: " + reason +
                (reason == std::strerror(EACCES)
                     ? " (the kernel shows current values to root only: run qzbios-dump as root)"
                     : ""));
            source.incomplete = true;
        }
    }
    qz::shared::wmi::ServeCaptureRows(
        std::make_shared<const std::vector<CaptureRow>>(std::move(rows)));
    QueryRows(source);
    return -1;
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
                     TerminalText(Narrow(record.getMessage())).c_str());
    }
};

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
int ParseOptions(const std::vector<std::string>& args, Options& options) {
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
            return UsageError(TerminalText(flag) + " is given twice");
        }
        seen.push_back(name);
        if (arg == "--source") {
            options.showSource = true;
            continue;
        }
        if (name != "--format" && name != "--capture" && name != "--log-level" &&
            name != "--record" && name != "--output") {
            return UsageError("unknown argument '" + TerminalText(arg) + "'");
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
                                  TerminalText(value) + "'");
            }
            options.format = value;
            options.formatGiven = true;
        } else if (name == "--record") {
            options.record = value;
        } else if (name == "--output") {
            options.output = value;
        } else if (name == "--capture") {
#if defined(_WIN32)
            return UsageError("--capture is not available here: settings come from WMI");
#else
            options.capture = value;
#endif
        } else {
            options.logLevel = ParseSeverity(value);
            if (options.logLevel < 0) {
                return UsageError(
                    "--log-level must be one of none, fatal, error, warning, info, debug, "
                    "verbose, or 0 to 6, not '" +
                    TerminalText(value) + "'");
            }
        }
    }
    if (!options.record.empty() && options.output != "-") {
        return UsageError("record writes to its own FILE: --output is for the formats");
    }
    if (!options.record.empty() && options.formatGiven) {
        return UsageError("record writes a capture: --format is for the records");
    }
    return -1;
}

// One line a field, whatever the value holds; columns aligned by the width a terminal gives them.
std::string Table(const QZBiosData& record) {
    std::vector<std::string> values;
    std::size_t width = 5;  // "Value"
    for (const RecordField& field : kRecordFields) {
        values.push_back(field.text != nullptr ? TerminalText(record.*field.text)
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
    return qz::shared::wmi::TerminalSafeJson(object.dump(
               oneLine ? -1 : 2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) +
           '\n';
}

// Flushes standard output: false, with a message, when it could not be written (a full disk, a
// closed standard output).
bool Flushed() {
    std::cout.flush();
    if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "qzbios-dump: cannot write the output: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

// The record as the library hands it out, in `options.format`; the exit status.
int Print(const Options& options, const Source& source, const qz::tools::Publication& publication,
          std::string& text) {
    static StderrAppender appender;
    if (options.logLevel >= 0) {
        qzSharedInitializeLogger(options.logLevel, &appender);
    }
    try {
        qz::shared::qzbios::QZBios bios;
        std::uint64_t count = 0;
        const QZBiosData* records = bios.GetQZBiosData(count);
        if (records == nullptr || count == 0) {
            std::fprintf(stderr, "qzbios-dump: the library returned no record\n");
            return kExitFailed;
        }
        text =
            options.format == "table" ? Table(records[0])
            : options.format == "prometheus"
                ? qz::tools::PrometheusText(records[0], publication, source.kind, source.unreadable)
                : Json(records[0], options.format == "jsonl");
    } catch (const std::out_of_range&) {
        // The one failure of the library's rules: a three-byte current Video Memory Size option.
        std::fprintf(stderr,
                     "qzbios-dump: reading the BIOS settings failed: the library cannot read "
                     "the Video Memory Size value '%s': its current option is three bytes long\n",
                     TerminalText(publication.videoMemory).c_str());
        return kExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzbios-dump: reading the BIOS settings failed: %s\n",
                     TerminalText(e.what()).c_str());
        return kExitFailed;
    }
    return 0;
}

// Writes `text` to standard output ("-") or in place of the file `path`; the exit status.
int Write(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return Flushed() ? 0 : kExitFailed;
    }
    std::string error;
    if (!qz::tools::WriteWholeFile(path, text, error)) {
        std::fprintf(stderr, "qzbios-dump: cannot write %s: %s\n", Shown(path, "").c_str(),
                     TerminalText(error).c_str());
        return kExitFailed;
    }
    return 0;
}

// Every row the WMI client delivers for the settings query, as the library would read it.
int Record(const std::string& path, const Source& source) {
    if (source.kind == "none") {
        std::fprintf(stderr, "qzbios-dump: no settings to record: %s\n", source.text.c_str());
        return kExitFailed;
    }
    std::string text;
    std::string error;
    if (!qz::shared::wmi::CaptureText(*source.rows, text, error)) {
        std::fprintf(stderr, "qzbios-dump: cannot record the settings: %s\n", error.c_str());
        return kExitFailed;
    }
    const int written = Write(path, text);
    if (written == 0) {
        std::fprintf(stderr, "qzbios-dump: recorded %s to %s\n",
                     Plural(source.rows->size(), "setting", "settings").c_str(),
                     Shown(path, "standard output").c_str());
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (Privileged()) {
        std::fprintf(stderr,
                     "qzbios-dump: refusing to run setuid, setgid or with file capabilities: run "
                     "it as root, or as the user it is\n");
        return kExitUsage;
    }
    Options options;
    if (const int parsed = ParseOptions(Arguments(argc, argv), options); parsed >= 0) {
        return parsed == 0 && !Flushed() ? kExitFailed : parsed;
    }
    Source source;
    if (const int status = ReadSource(options, source); status >= 0) {
        return status;
    }
    if (options.showSource) {
        std::fprintf(stderr, "qzbios-dump: source: %s\n", source.text.c_str());
    } else if (source.kind == "none") {
        std::fprintf(stderr, "qzbios-dump: no settings source found: %s\n", source.text.c_str());
    }
    qz::tools::Publication publication;
    try {
        publication = qz::tools::Publish(*source.rows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzbios-dump: %s\n", e.what());
        return kExitFailed;
    }
    // What this firmware publishes, said once: a setting it does not publish is a fact about the
    // machine, not a failure.
    if (source.kind != "none" && publication.publishedCount < std::size(kRecordFields)) {
        const std::size_t others = publication.settings - publication.publishedCount;
        source.notes.insert(source.notes.begin(),
                            "the firmware publishes " + std::to_string(publication.publishedCount) +
                                " of the 31 settings qzbios reads, and " +
                                Plural(others, "other setting", "other settings") +
                                " ('qzbios-dump record FILE' shows every setting)");
    }
    // A capture's null is a value that was not read, as a tree's unreadable current value is.
    if (source.kind == "capture" && !publication.unread.empty()) {
        std::string names;
        for (const std::string& name : publication.unread) {
            names += (names.empty() ? "" : ", ") + TerminalText(name);
        }
        source.unreadable = publication.unread.size();
        source.notes.push_back(
            Plural(publication.unread.size(), "published setting has", "published settings have") +
            " no value in the capture (null, or not a string): " + names);
        source.incomplete = true;
    }
    int status = 0;
    if (options.record.empty()) {
        std::string text;
        status = Print(options, source, publication, text);
        status = status == 0 ? Write(options.output, text) : status;
    } else {
        status = Record(options.record, source);
    }
    for (const std::string& note : source.notes) {
        std::fprintf(stderr, "qzbios-dump: %s\n", note.c_str());
    }
    return status == 0 && source.incomplete ? kExitIncomplete : status;
}
