// log_capture.h - registers a "quill" logger that keeps the library's records.
#ifndef QUILL_TESTS_COMMON_LOG_CAPTURE_H_
#define QUILL_TESTS_COMMON_LOG_CAPTURE_H_

#include <memory>
#include <string>
#include <vector>

#include <spdlog/spdlog.h>

namespace quill_test {

struct LogRecord {
  spdlog::level::level_enum level;
  std::string message;
};

// While alive, the process's "quill" logger records every message at every
// level into Records(). Only one may exist at a time; the destructor drops
// the logger again.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<LogRecord>& Records() const;
  // Number of records with exactly this text and level.
  int Count(spdlog::level::level_enum level, const std::string& message) const;
  // True when some record's text contains `part`.
  bool Contains(const std::string& part) const;
  void Clear();

 private:
  struct Sink;
  std::shared_ptr<Sink> sink_;
};

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_LOG_CAPTURE_H_
