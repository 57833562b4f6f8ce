// cups_log.h - quillfilter's messages in the CUPS filter line format.
//
// CUPS reads a filter's standard error one line at a time; each line opens
// with a level keyword and a colon. Every message of quillfilter, and every
// record the library writes into the process's "quill" logger, becomes one
// line "LEVEL: [quillfilter] message\n" with LEVEL one of DEBUG, INFO,
// WARNING, ERROR.
//
// Two routes lead there:
//   - records of the spdlog logger "quill" (the filter's own "{}" records and
//     everything libquillcore logs), formatted by CupsFormatter and written
//     by CupsConsoleSink under its mutex, flushed after every line;
//   - logd/logi/loge, printf-style, which format the line themselves and
//     write it to the same stream without going through the logger.
#ifndef QUILL_FILTER_CUPS_LOG_H_
#define QUILL_FILTER_CUPS_LOG_H_

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include <spdlog/formatter.h>
#include <spdlog/sinks/sink.h>
#include <spdlog/spdlog.h>

namespace quill_filter {

// The tag every line carries between brackets.
constexpr const char* kProgramTag = "quillfilter";

// Level keyword of a record: warn gives "WARNING", info "INFO", err "ERROR";
// every other level (trace, debug, critical, off) gives "DEBUG".
const char* CupsLevelKeyword(spdlog::level::level_enum level);

// Turns a record into its complete line: keyword, ": [quillfilter] ", the
// message as it is (embedded line ends are not split), "\n". Time, thread
// and source location are never printed.
class CupsFormatter final : public spdlog::formatter {
 public:
  // The line for `level` and `message`, as a string.
  static std::string FormatLine(spdlog::level::level_enum level, std::string_view message);

  void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override;
  std::unique_ptr<spdlog::formatter> clone() const override;
};

// Writes each record as one CupsFormatter line to a stdio stream and flushes
// it, holding its own mutex so that lines stay whole. The line format is
// fixed: set_pattern and set_formatter change nothing.
class CupsConsoleSink final : public spdlog::sinks::sink {
 public:
  // Requires: `stream` stays open while the sink may be used.
  explicit CupsConsoleSink(FILE* stream);

  void log(const spdlog::details::log_msg& msg) override;
  void flush() override;
  void set_pattern(const std::string& pattern) override;
  void set_formatter(std::unique_ptr<spdlog::formatter> formatter) override;

  // Redirects later lines to `stream` (the program keeps standard error;
  // tests point it at a file).
  void SetStream(FILE* stream);
  FILE* Stream();

 private:
  std::mutex mutex_;  // guards stream_ and keeps each line whole
  FILE* stream_;      // where the lines go, not owned
  bool is_tty_;       // stream was a terminal when set; changes nothing in the output
};

// Sets up the process's logging: makes `stream` line-buffered, creates the
// console sink once (later calls only redirect it to `stream`) and registers
// a logger named "quill" at the most verbose level with that sink, replacing
// any "quill" logger registered before. Requires: `stream` stays open until
// the logger is dropped or the process ends.
void init_log(FILE* stream = stderr);

// The stream of the message lines (standard error until init_log names
// another one).
FILE* LogStream();

// Writes one record through the "quill" logger, formatting `fmt` with the
// "{}" placeholders of the fmt library; dropped when no logger is registered.
template <typename... Args>
void LogRecord(spdlog::level::level_enum level, fmt::format_string<Args...> fmt,
               Args&&... args) {
  if (std::shared_ptr<spdlog::logger> logger = spdlog::get("quill")) {
    logger->log(level, fmt, std::forward<Args>(args)...);
  }
}

}  // namespace quill_filter

// printf-style messages written directly to LogStream() as one line each:
// "DEBUG: [quillfilter] ", "INFO: [quillfilter] " or "ERROR: [quillfilter] "
// followed by the formatted text. The caller's format carries its own line
// end. Formats and results of any length are written whole; nothing is cut.
void logd(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void logi(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void loge(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

#endif  // QUILL_FILTER_CUPS_LOG_H_
