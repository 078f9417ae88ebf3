// What qzbios-dump asks of the system beside its output file; implemented once per platform.
#pragma once

#include <string>
#include <vector>

#include <cstdarg>  // before plog/Util.h, which needs it on MinGW

#include <plog/Util.h>

namespace qz::tools {

// The arguments after the program's name, as UTF-8 (on Windows read from the UTF-16 command line,
// so that a name outside the code page reaches the file system unchanged).
std::vector<std::string> Arguments(int argc, char** argv);

// Whether a backslash separates the folders of a path, as on Windows.
extern const bool kBackslashSeparatesPaths;

// True when the process was started setuid, setgid or with file capabilities.
bool Privileged();

// A plog text (wide on Windows) as UTF-8; empty for null.
std::string Narrow(const plog::util::nchar* text);

}  // namespace qz::tools
