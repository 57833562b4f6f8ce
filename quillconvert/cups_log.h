// cups_log.h - CUPS-style message lines for quillconvert.
//
// Every message, the program's own and the library's, becomes one line on
// standard error: the level keyword ("DEBUG", "INFO", "WARNING", "ERROR"),
// ": [quillconvert] ", the text and a line end.
#ifndef QUILL_QUILLCONVERT_CUPS_LOG_H_
#define QUILL_QUILLCONVERT_CUPS_LOG_H_

#include <cstdio>
#include <memory>
#include <string>

#include <spdlog/spdlog.h>

namespace quillconvert {

// The keyword a record of `level` is printed with: trace and debug "DEBUG",
// info "INFO", warn "WARNING", err and critical "ERROR".
const char* LevelKeyword(spdlog::level::level_enum level);

// The finished line for one message, line end included.
std::string FormatLine(spdlog::level::level_enum level, const std::string& text);

// Registers the spdlog logger named "quill" (the one libquillcore writes
// into) with a sink that writes FormatLine() lines to `out` and flushes each
// line. Records below `level` are dropped. Replaces an earlier "quill"
// logger. `out` must stay open while the logger is registered.
std::shared_ptr<spdlog::logger> InstallLogger(std::FILE* out, spdlog::level::level_enum level);

}  // namespace quillconvert

#endif  // QUILL_QUILLCONVERT_CUPS_LOG_H_
