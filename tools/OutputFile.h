// Writing an output file so that a reader never sees part of it, as textfile collectors ask, and so
// that nothing standing at its name is destroyed.
#pragma once

#include <string>

namespace qz::tools {

// Writes `text` in place of `path`:
// - a symbolic link is followed to the file it names, and stays a link;
// - a FIFO, character device or socket is written directly (`/dev/stdout` writes to standard
//   output);
// - a regular file, or a new one, is written to a temporary file in its folder, flushed, renamed
//   over it, and the folder flushed. An existing file keeps its mode, owner and group; a new one is
//   made as any program makes files (0666 less the umask). A run ended by SIGTERM, SIGINT or SIGHUP
//   meanwhile leaves no temporary file.
// On failure `path` is left as it was, no temporary file stays, and `error` says why. Implemented
// once per platform.
bool WriteWholeFile(const std::string& path, const std::string& text, std::string& error);

// True when `a` and `b` name the same existing file. POSIX only: on Windows qzbios-dump reads no
// capture that its output could overwrite.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace qz::tools
