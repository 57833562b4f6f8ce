// log.h - the library's access to the process-wide "quill" logger.
//
// Records go to the spdlog logger registered under the name "quill" by the
// host program (quillfilter registers one with its CUPS-format sink). When no
// such logger is registered, records are dropped: the library never writes
// to stdout or stderr on its own. Nothing is formatted when the logger would
// drop the record anyway.
//
// Severities follow the scale the messages were written for; they map onto
// spdlog as verbose->trace, debug->debug, info->info, warning->warn,
// error->err, fatal->critical.
#ifndef QUILL_LIB_SUPPORT_LOG_H_
#define QUILL_LIB_SUPPORT_LOG_H_

#include <cstdint>
#include <string_view>

namespace quill_log {

enum class Severity { kVerbose, kDebug, kInfo, kWarning, kError, kFatal };

// True when a record of `sev` would be written (a logger is registered and
// its level lets the record through).
bool Enabled(Severity sev);

// Writes `msg` as one record, unformatted.
void Write(Severity sev, std::string_view msg);

// printf-style records. The format is the system's own message text; the
// arguments are formatted only when the record will be written.
void Verbose(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Debug(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Info(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Warning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Fatal(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quill_log

// Wall-clock milliseconds: seconds * 1000 + microseconds / 1000.
uint64_t time_ms();

// Debug record "<module>:L<line>:<seconds with milliseconds>" marking a
// step of a page conversion, e.g. TimingCheckpoint("doc_proc", __LINE__).
void TimingCheckpoint(const char* module, int line);

#endif  // QUILL_LIB_SUPPORT_LOG_H_
