#include "tools/Options.h"

#include <algorithm>
#include <cstdio>

#include "common/TerminalText.h"
#include "qzbios/version.h"

namespace qz::tools {

using shared::common::TerminalText;

namespace {

const char kUsage[] =
    "Usage: qzbios-dump [--format table|json|jsonl|prometheus] [--output FILE]\n"
    "                   [--all-settings] "
#if !defined(_WIN32)
    "[--capture FILE] "
#endif
    "[--source] [--log-level LEVEL]\n"
    "       qzbios-dump record FILE   (or --record FILE)\n"
    "\n"
    "Prints the 31 BIOS attributes of this machine as the qzbios library reports them, or\n"
    "records every BIOS setting the machine publishes as a capture file (JSON). What each\n"
    "field means: fields.md, installed with qzbios-dump's documentation.\n"
    "\n"
    "  --format FORMAT      table of field, value and type (default), one JSON object\n"
    "                       (json), the same object on one line (jsonl), or the\n"
    "                       Prometheus text format for a textfile collector (prometheus)\n"
    "  --output FILE        write to FILE instead of standard output ('-'), whole or not\n"
    "                       at all; only a regular file is replaced (its mode and group\n"
    "                       kept), and a link, folder, FIFO, socket or device is refused\n"
#if !defined(_WIN32)
    "  --capture FILE       read the settings from a capture file, once ('-' is standard\n"
    "                       input); the same as QZ_WMI_CAPTURE=FILE\n"
#endif
    "  --source             say on standard error where the settings come from\n"
    "  --all-settings       add every setting the firmware publishes, its current value\n"
    "                       raw (json, jsonl and prometheus; read as record reads it)\n"
    "  record FILE, --record FILE\n"
    "                       write every setting, unfiltered, to FILE as a capture ('-' is\n"
    "                       standard output), as --output writes\n"
    "  --log-level LEVEL    show the library's diagnostics at LEVEL or more severe on\n"
    "                       standard error: none, fatal, error, warning, info, debug,\n"
    "                       verbose, or the same as a number from 0 to 6\n"
    "  -h, --help           show this text, wherever it stands\n"
    "  --version            show the version\n"
    "Each flag may be given once, and a value may follow it or an '='.\n"
    "\n"
#if !defined(_WIN32)
    "Environment (for tests and support):\n"
    "  QZ_WMI_CAPTURE              a capture file to read the settings from\n"
    "  QZ_FIRMWARE_ATTRIBUTES_DIR  the folder holding the firmware-attributes devices\n"
    "                              (/sys/class/firmware-attributes when unset)\n"
    "\n"
#endif
    "Exit status:\n"
    "  0  the settings were read and written out\n"
    "  1  the run failed: the library reported an error, there was nothing to record,\n"
    "     a capture had no row with a Name the library can use, the source was beyond\n"
    "     its limits, the WMI provider failed the query, or the output could not be\n"
    "     written\n"
#if defined(_WIN32)
    "  2  a usage error\n"
    "  3  written, but incomplete: a value of one of the 31 settings (of any setting with\n"
    "     record and --all-settings) could not be read\n";
#else
    "  2  a usage error, a capture file that cannot be read or parsed, or a run with\n"
    "     privileges it was given by setuid, setgid or file capabilities\n"
    "  3  written, but incomplete: a value of one of the 31 settings (of any setting with\n"
    "     record and --all-settings) could not be read: the kernel shows current values\n"
    "     to root only; a capture holds null\n";
#endif

const char* const kSeverityNames[] = {"none", "fatal", "error",  "warning",
                                      "info", "debug", "verbose"};

struct FormatName {
    const char* name;
    Format format;
};
constexpr FormatName kFormats[] = {{"table", Format::Table},
                                   {"json", Format::Json},
                                   {"jsonl", Format::Jsonl},
                                   {"prometheus", Format::Prometheus}};

std::optional<int> Severity(const std::string& text) {
    for (int i = 0; i <= 6; ++i) {
        if (text == kSeverityNames[i] || text == std::to_string(i)) {
            return i;
        }
    }
    return std::nullopt;
}

// Stores the value of the flag `name`; a usage error's status when the value is wrong.
std::optional<int> Take(const std::string& name, const std::string& value, Options& options) {
    if (name == "--format") {
        const auto* found = std::find_if(std::begin(kFormats), std::end(kFormats),
                                         [&value](const FormatName& f) { return value == f.name; });
        if (found == std::end(kFormats)) {
            return UsageError("--format must be table, json, jsonl or prometheus, not '" +
                              TerminalText(value) + "'");
        }
        options.format = found->format;
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
        options.logLevel = Severity(value);
        if (!options.logLevel) {
            return UsageError(
                "--log-level must be one of none, fatal, error, warning, info, debug, verbose, "
                "or 0 to 6, not '" +
                TerminalText(value) + "'");
        }
    }
    return std::nullopt;
}

}  // namespace

const char* SeverityName(int severity) {
    return severity >= 0 && severity <= 6 ? kSeverityNames[severity] : "?";
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qzbios-dump: %s (try --help)\n", message.c_str());
    return 2;
}

std::optional<int> ParseOptions(const std::vector<std::string>& args, Options& options) {
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
    const std::vector<std::string> valued = {"--format", "--capture", "--log-level", "--record",
                                             "--output"};
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
        if (arg == "--source" || arg == "--all-settings") {
            (arg == "--source" ? options.showSource : options.allSettings) = true;
            continue;
        }
        if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
            return UsageError("unknown argument '" + TerminalText(arg) + "'");
        }
        const std::string value = equals != std::string::npos ? arg.substr(equals + 1)
                                  : i + 1 < args.size()       ? args[++i]
                                                              : std::string();
        if (value.empty()) {
            return UsageError(flag +
                              (name == "--record" ? " needs an output file" : " needs a value"));
        }
        if (const std::optional<int> status = Take(name, value, options)) {
            return status;
        }
    }
    if (options.record && options.output != "-") {
        return UsageError("record writes to its own FILE: --output is for the formats");
    }
    if (options.record && options.formatGiven) {
        return UsageError("record writes a capture: --format is for the records");
    }
    if (options.allSettings && (options.record || options.format == Format::Table)) {
        return UsageError(std::string("--all-settings is for --format json, jsonl or prometheus") +
                          (options.record ? ": record writes every setting already" : ""));
    }
    return std::nullopt;
}

}  // namespace qz::tools
