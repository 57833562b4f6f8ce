#include "support/log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include <spdlog/spdlog.h>

namespace quill_log {
namespace {

constexpr const char* kLoggerName = "quill";

spdlog::level::level_enum ToSpdlog(Severity sev) {
  switch (sev) {
    case Severity::kVerbose: return spdlog::level::trace;
    case Severity::kDebug: return spdlog::level::debug;
    case Severity::kInfo: return spdlog::level::info;
    case Severity::kWarning: return spdlog::level::warn;
    case Severity::kError: return spdlog::level::err;
    case Severity::kFatal: return spdlog::level::critical;
  }
  return spdlog::level::critical;
}

// The logger that would take a record of `sev`, or null. Looked up for every
// record so that a host may register or drop its logger at any time.
std::shared_ptr<spdlog::logger> Target(Severity sev) {
  std::shared_ptr<spdlog::logger> logger = spdlog::get(kLoggerName);
  if (logger && logger->should_log(ToSpdlog(sev))) return logger;
  return nullptr;
}

void WriteV(Severity sev, const char* fmt, va_list args) {
  std::shared_ptr<spdlog::logger> logger = Target(sev);
  if (!logger) return;
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    logger->log(ToSpdlog(sev), std::string_view(small, static_cast<size_t>(n)));
    return;
  }
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), fmt, args);
  text.resize(static_cast<size_t>(n));
  logger->log(ToSpdlog(sev), std::string_view(text));
}

}  // namespace

bool Enabled(Severity sev) { return Target(sev) != nullptr; }

void Write(Severity sev, std::string_view msg) {
  if (std::shared_ptr<spdlog::logger> logger = Target(sev)) logger->log(ToSpdlog(sev), msg);
}

void Verbose(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kVerbose, fmt, args);
  va_end(args);
}

void Debug(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kDebug, fmt, args);
  va_end(args);
}

void Info(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kInfo, fmt, args);
  va_end(args);
}

void Warning(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kWarning, fmt, args);
  va_end(args);
}

void Error(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kError, fmt, args);
  va_end(args);
}

void Fatal(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(Severity::kFatal, fmt, args);
  va_end(args);
}

}  // namespace quill_log

uint64_t time_ms() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

void TimingCheckpoint(const char* module, int line) {
  if (!quill_log::Enabled(quill_log::Severity::kDebug)) return;
  quill_log::Debug("%s:L%d:%.3f", module, line, static_cast<double>(time_ms()) / 1000.0);
}
