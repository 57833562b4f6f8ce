#include "cups_log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace quill_filter {
namespace {

std::shared_ptr<CupsConsoleSink>& Sink() {
  static std::shared_ptr<CupsConsoleSink> sink;
  return sink;
}

// Appends the prefix and the caller's printf text as one line and writes it
// with a single stdio call, so it is not interleaved with logger lines.
void WriteDirect(const char* keyword, const char* fmt, va_list args) {
  std::string line(keyword);
  line += ": [";
  line += kProgramTag;
  line += "] ";
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n > 0) {
    size_t start = line.size();
    line.resize(start + static_cast<size_t>(n) + 1);
    std::vsnprintf(&line[start], static_cast<size_t>(n) + 1, fmt, args);
    line.resize(start + static_cast<size_t>(n));
  }
  FILE* stream = LogStream();
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

const char* CupsLevelKeyword(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::warn: return "WARNING";
    case spdlog::level::info: return "INFO";
    case spdlog::level::err: return "ERROR";
    default: return "DEBUG";  // trace, debug, critical (fatal) and off
  }
}

std::string CupsFormatter::FormatLine(spdlog::level::level_enum level, std::string_view message) {
  std::string line(CupsLevelKeyword(level));
  line += ": [";
  line += kProgramTag;
  line += "] ";
  line.append(message.data(), message.size());
  line += '\n';
  return line;
}

void CupsFormatter::format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) {
  std::string line = FormatLine(msg.level, std::string_view(msg.payload.data(), msg.payload.size()));
  dest.append(line.data(), line.data() + line.size());
}

std::unique_ptr<spdlog::formatter> CupsFormatter::clone() const {
  return std::make_unique<CupsFormatter>();
}

CupsConsoleSink::CupsConsoleSink(FILE* stream) : stream_(stream), is_tty_(isatty(fileno(stream))) {}

void CupsConsoleSink::log(const spdlog::details::log_msg& msg) {
  std::string line =
      CupsFormatter::FormatLine(msg.level, std::string_view(msg.payload.data(), msg.payload.size()));
  std::lock_guard<std::mutex> lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), stream_);
  std::fflush(stream_);
}

void CupsConsoleSink::flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fflush(stream_);
}

void CupsConsoleSink::set_pattern(const std::string& /*pattern*/) {}

void CupsConsoleSink::set_formatter(std::unique_ptr<spdlog::formatter> /*formatter*/) {}

void CupsConsoleSink::SetStream(FILE* stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  stream_ = stream;
  is_tty_ = isatty(fileno(stream));
}

FILE* CupsConsoleSink::Stream() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stream_;
}

void init_log(FILE* stream) {
  setvbuf(stream, nullptr, _IOLBF, 0);
  std::shared_ptr<CupsConsoleSink>& sink = Sink();
  if (sink) {
    sink->SetStream(stream);
  } else {
    sink = std::make_shared<CupsConsoleSink>(stream);
  }
  auto logger = std::make_shared<spdlog::logger>("quill", sink);
  logger->set_level(spdlog::level::trace);
  logger->flush_on(spdlog::level::trace);
  spdlog::drop("quill");
  spdlog::register_logger(logger);
}

FILE* LogStream() {
  std::shared_ptr<CupsConsoleSink>& sink = Sink();
  return sink ? sink->Stream() : stderr;
}

}  // namespace quill_filter

void logd(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  quill_filter::WriteDirect("DEBUG", fmt, args);
  va_end(args);
}

void logi(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  quill_filter::WriteDirect("INFO", fmt, args);
  va_end(args);
}

void loge(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  quill_filter::WriteDirect("ERROR", fmt, args);
  va_end(args);
}
