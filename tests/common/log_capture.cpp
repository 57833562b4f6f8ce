#include "common/log_capture.h"

#include <mutex>

#include <spdlog/sinks/base_sink.h>

namespace quill_test {

struct LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
  std::vector<LogRecord> records;

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    records.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  spdlog::drop("quill");
  auto logger = std::make_shared<spdlog::logger>("quill", sink_);
  logger->set_level(spdlog::level::trace);
  spdlog::register_logger(logger);
}

LogCapture::~LogCapture() { spdlog::drop("quill"); }

const std::vector<LogRecord>& LogCapture::Records() const { return sink_->records; }

int LogCapture::Count(spdlog::level::level_enum level, const std::string& message) const {
  int n = 0;
  for (const LogRecord& r : sink_->records) {
    if (r.level == level && r.message == message) ++n;
  }
  return n;
}

bool LogCapture::Contains(const std::string& part) const {
  for (const LogRecord& r : sink_->records) {
    if (r.message.find(part) != std::string::npos) return true;
  }
  return false;
}

void LogCapture::Clear() { sink_->records.clear(); }

}  // namespace quill_test
