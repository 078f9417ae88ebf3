#include <windows.h>
// windows.h is included first: shellapi.h needs its types.
#include <shellapi.h>

#include "tools/Platform.h"

namespace qz::tools {

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

const bool kBackslashSeparatesPaths = true;

bool Privileged() { return false; }

std::string Narrow(const plog::util::nchar* text) {
    return text == nullptr ? std::string() : plog::util::toNarrow(text, plog::codePage::kChar);
}

}  // namespace qz::tools
