// qzbios-dump's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qz::tools {

enum class Format { Table, Json, Jsonl, Prometheus };

struct Options {
    Format format = Format::Table;
    bool formatGiven = false;
    std::optional<std::string> capture;  // --capture
    std::optional<std::string> record;   // record FILE, --record FILE
    std::string output = "-";            // --output; "-" is standard output
    bool showSource = false;             // --source
    bool allSettings = false;            // --all-settings
    std::optional<int> logLevel;         // --log-level, 0 to 6
};

// Reads the arguments (without the program's name) into `options`. Returns the exit status when
// the run ends here: after --help or --version (0), or a usage error, said on standard error (2).
// --help and --version answer wherever they stand; `record` is taken wherever a flag is.
std::optional<int> ParseOptions(const std::vector<std::string>& args, Options& options);

// The name of a plog severity from 0 to 6, as --log-level takes it; "?" for any other.
const char* SeverityName(int severity);

// Says "qzbios-dump: MESSAGE (try --help)" on standard error; the usage error's exit status.
int UsageError(const std::string& message);

}  // namespace qz::tools
