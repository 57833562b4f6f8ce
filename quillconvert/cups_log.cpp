#include "cups_log.h"

#include <mutex>

#include <spdlog/sinks/base_sink.h>

namespace quillconvert {
namespace {

constexpr const char* kTag = ": [quillconvert] ";

class CupsLineSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  explicit CupsLineSink(std::FILE* out) : out_(out) {}

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    const std::string line =
        FormatLine(msg.level, std::string(msg.payload.data(), msg.payload.size()));
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }
  void flush_() override { std::fflush(out_); }

 private:
  std::FILE* out_;  // not owned
};

}  // namespace

const char* LevelKeyword(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::info: return "INFO";
    case spdlog::level::warn: return "WARNING";
    case spdlog::level::err:
    case spdlog::level::critical: return "ERROR";
    default: return "DEBUG";
  }
}

std::string FormatLine(spdlog::level::level_enum level, const std::string& text) {
  std::string line = LevelKeyword(level);
  line += kTag;
  line += text;
  line += '\n';
  return line;
}

std::shared_ptr<spdlog::logger> InstallLogger(std::FILE* out, spdlog::level::level_enum level) {
  spdlog::drop("quill");
  auto logger = std::make_shared<spdlog::logger>("quill", std::make_shared<CupsLineSink>(out));
  logger->set_level(level);
  spdlog::register_logger(logger);
  return logger;
}

}  // namespace quillconvert
