#include <sys/auxv.h>

#include "tools/Platform.h"

namespace qz::tools {

std::vector<std::string> Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

const bool kBackslashSeparatesPaths = false;

bool Privileged() { return getauxval(AT_SECURE) != 0; }

std::string Narrow(const plog::util::nchar* text) { return text == nullptr ? "" : text; }

}  // namespace qz::tools
