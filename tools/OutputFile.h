// Writing an output file so that a reader never sees part of it, as textfile collectors ask, and so
// that nothing standing at its name is destroyed.
#pragma once

#include <string>

namespace qz::tools {

// Writes `text` in place of `path`, whole or not at all. The folder is opened once, one component
// at a time and never through a link (a link anywhere on the way is refused), and every later step
// is taken relative to it; the name itself is never followed:
// - a new file is written to a temporary file in the folder, flushed, renamed into place, and the
//   folder flushed. It belongs to the user running the tool, with mode 0666 less the umask;
// - an existing regular file is replaced the same way. Its mode is kept without the setuid, setgid
//   and sticky bits, and its group where this user may set it; its owner becomes this user;
// - anything else at the name (a symbolic link, a folder, a FIFO, a socket, a device) is refused:
//   nothing is written, nothing is waited for, and `error` says what stands there.
// A run ended by SIGTERM, SIGINT or SIGHUP meanwhile leaves no temporary file. On failure `path` is
// left as it was, no temporary file stays, and `error` says why. Implemented once per platform.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

// True when `a` and `b` name the same existing file (always false on Windows, where qzbios-dump
// reads no capture that its output could overwrite).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace qz::tools
