// qzbios-dump: prints the BIOS attributes exactly as a host reads them from the records.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
#include "SettingsSource.h"
#endif
#include "FieldTable.h"
#include "qzbios/QZBios.h"
#include "wmi/WMIClient.h"

namespace {

using qz::shared::qzbios::QZBiosData;
using qz::tools::kRecordFields;
using qz::tools::RecordField;

constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: qzbios-dump [--format table|json|jsonl] [--capture FILE] [--source]\n"
    "                   [--log-level LEVEL]\n"
    "       qzbios-dump record OUTPUT.json   (or --record OUTPUT.json)\n"
    "\n"
    "Prints the 31 BIOS attributes of this machine as the qzbios library reports them, or\n"
    "records every BIOS setting the WMI client delivers as a capture file.\n"
    "\n"
    "  --format FORMAT      table of field, value and type (default), one JSON object\n"
    "                       (json), or one JSON object per line (jsonl)\n"
    "  --capture FILE       read the settings from a capture file (as QZ_WMI_CAPTURE=FILE)\n"
    "  --source             say on standard error where the settings come from\n"
    "  --record FILE        write every setting row, unfiltered, to FILE as a capture\n"
    "  --log-level LEVEL    show the library's diagnostics at LEVEL or more severe on\n"
    "                       standard error: none, fatal, error, warning, info, debug, verbose\n"
    "  --help               show this text\n"
    "  --version            show the version\n";

// Where the settings come from: a description, and whether there is anything to read.
struct SourceDescription {
    std::string text;
    bool found = false;
};

#if defined(_WIN32)
// Windows reads the firmware's WMI provider; captures are replayed only where there is no WMI.
constexpr bool kReadsCaptures = false;

std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : plog::util::toNarrow(text, plog::codePage::kChar);
}

void UseCapture(const std::string& /*path*/) {}

SourceDescription DescribeSource() { return {"WMI", true}; }
#else
constexpr bool kReadsCaptures = true;

std::string Narrow(const char* text) { return text == nullptr ? std::string() : text; }

void UseCapture(const std::string& path) { setenv("QZ_WMI_CAPTURE", path.c_str(), 1); }

SourceDescription DescribeSource() {
    using qz::shared::wmi::SettingsSource;
    const SettingsSource source = qz::shared::wmi::FindSettingsSource();
    switch (source.kind) {
        case SettingsSource::Kind::kCapture:
            return {"capture " + source.path, true};
        case SettingsSource::Kind::kFirmwareAttributes: {
            std::string text = "firmware-attributes " + source.path + ":";
            for (const std::string& device : source.devices) {
                text += " " + device;
            }
            return {text, true};
        }
        case SettingsSource::Kind::kNone:
            break;
    }
    return {"none (QZ_WMI_CAPTURE is not set and " + source.path +
                " holds no firmware-attributes device)",
            false};
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

// Returns -1 when the options are good, otherwise the exit code.
int ParseOptions(int argc, char** argv, Options& options) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto takeValue = [&](std::string& out) {
            const auto equals = arg.find('=');
            if (equals != std::string::npos) {
                out = arg.substr(equals + 1);
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            out = args[++i];
            return true;
        };
        const std::string flag = arg.substr(0, arg.find('='));
        std::string value;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("qzbios-dump %s\n", QZBIOS_VERSION);
            return 0;
        }
        if (arg == "--source") {
            options.showSource = true;
            continue;
        }
        if (arg == "record" && i == 0) {
            if (i + 1 >= args.size()) {
                return UsageError("record needs an output file");
            }
            options.record = args[++i];
            continue;
        }
        if (flag == "--format" || flag == "--capture" || flag == "--log-level" ||
            flag == "--record") {
            if (!takeValue(value)) {
                return UsageError(flag + " needs a value");
            }
        } else {
            return UsageError("unknown argument '" + arg + "'");
        }
        if (flag == "--format") {
            if (value != "table" && value != "json" && value != "jsonl") {
                return UsageError("--format must be table, json or jsonl, not '" + value + "'");
            }
            options.format = value;
        } else if (flag == "--record") {
            if (value.empty()) {
                return UsageError("--record needs an output file");
            }
            options.record = value;
        } else if (flag == "--capture") {
            if (!kReadsCaptures) {
                return UsageError("--capture is not available here: settings come from WMI");
            }
            options.capture = value;
        } else {
            options.logLevel = ParseSeverity(value);
            if (options.logLevel < 0) {
                return UsageError(
                    "--log-level must be one of none, fatal, error, warning, "
                    "info, debug, verbose, not '" +
                    value + "'");
            }
        }
    }
    return -1;
}

void PrintTable(const QZBiosData& record) {
    std::vector<std::string> values;
    int width = 5;  // "Value"
    for (const RecordField& field : kRecordFields) {
        values.push_back(field.text != nullptr ? std::string(record.*field.text)
                                               : std::to_string(record.*field.number));
        width = std::max(width, static_cast<int>(values.back().size()));
    }
    std::printf("%-18s %-*s %s\n", "Field", width, "Value", "Type");
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::printf("%-18s %-*s %s\n", kRecordFields[i].name, width, values[i].c_str(),
                    kRecordFields[i].text != nullptr ? "text" : "int32");
    }
}

void PrintJson(const QZBiosData& record, bool oneLine) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const RecordField& field : kRecordFields) {
        if (field.text != nullptr) {
            object[field.name] = record.*field.text;
        } else {
            object[field.name] = record.*field.number;
        }
    }
    // JSON holds Unicode text only: bytes that are not UTF-8 are shown as U+FFFD.
    std::cout << object.dump(oneLine ? -1 : 2, ' ', false,
                             nlohmann::ordered_json::error_handler_t::replace)
              << '\n';
}

// Every row the WMI client delivers for the settings query, as the library would read it.
int Record(const std::string& path) {
    qz::shared::wmi::WMIClient client(L"\\\\.\\root\\QZ\\InstrumentedBios");
    const std::int32_t status = client.Query(L"SELECT * FROM QZ_BIOSSetting");
    std::vector<qz::shared::wmi::CaptureRow> rows;
    while (client.GetNext()) {
        qz::shared::wmi::CaptureRow row;
        const char* text = nullptr;
        if (client.GetValue(L"Name", &text) == 0 && text != nullptr) {
            row.name = text;
        }
        if (client.GetValue(L"Value", &text) == 0 && text != nullptr) {
            row.value = text;
        }
        rows.push_back(std::move(row));
    }
    if (status != 0) {
        std::fprintf(stderr, "qzbios-dump: no settings to record: the query failed (0x%08X)\n",
                     static_cast<unsigned>(status));
        return 1;
    }
    std::string error;
    if (!qz::shared::wmi::WriteCaptureFile(path, rows, error)) {
        std::fprintf(stderr, "qzbios-dump: cannot write '%s': %s\n", path.c_str(), error.c_str());
        return kExitUsage;
    }
    std::fprintf(stderr, "qzbios-dump: recorded %zu %s to '%s'\n", rows.size(),
                 rows.size() == 1 ? "setting" : "settings", path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0) {
        return parsed;
    }
    if (!options.capture.empty()) {
        UseCapture(options.capture);
    }
    if (const char* capture = std::getenv("QZ_WMI_CAPTURE");
        kReadsCaptures && capture != nullptr && *capture != '\0') {
        std::vector<qz::shared::wmi::CaptureRow> rows;
        std::string error;
        if (!qz::shared::wmi::LoadCaptureFile(capture, rows, error)) {
            std::fprintf(stderr, "qzbios-dump: capture file '%s': %s\n", capture, error.c_str());
            return kExitUsage;
        }
    }
    const SourceDescription source = DescribeSource();
    if (options.showSource) {
        std::fprintf(stderr, "qzbios-dump: source: %s\n", source.text.c_str());
    } else if (!source.found) {
        std::fprintf(stderr, "qzbios-dump: no settings source found: %s\n", source.text.c_str());
    }
    if (!options.record.empty()) {
        return Record(options.record);
    }
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
            return 1;
        }
        if (options.format != "table") {
            PrintJson(records[0], options.format == "jsonl");
        } else {
            PrintTable(records[0]);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qzbios-dump: reading the BIOS settings failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
