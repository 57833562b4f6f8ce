#include "fuzz_common.h"

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

namespace quill_fuzz {

void InstallNullLogger() {
  static const bool installed = [] {
    auto logger = std::make_shared<spdlog::logger>("quill",
                                                   std::make_shared<spdlog::sinks::null_sink_st>());
    logger->set_level(spdlog::level::trace);
    spdlog::register_logger(logger);
    return true;
  }();
  (void)installed;
}

int CountingWrite(void* hdl, const void* /*data*/, unsigned int len) {
  if (hdl != nullptr) *static_cast<uint64_t*>(hdl) += len;
  return static_cast<int>(len);
}

int BudgetExit(void* param) {
  Budget* budget = static_cast<Budget*>(param);
  if (budget->left == 0) return 1;
  --budget->left;
  return 0;
}

uint8_t Input::Byte() {
  if (size_ == 0) return 0;
  --size_;
  return *data_++;
}

uint16_t Input::U16() {
  const uint16_t lo = Byte();
  return static_cast<uint16_t>(lo | (Byte() << 8));
}

std::string Input::Text(size_t max) {
  std::string out;
  while (size_ > 0 && out.size() < max) {
    const uint8_t c = Byte();
    if (c == 0) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

}  // namespace quill_fuzz
