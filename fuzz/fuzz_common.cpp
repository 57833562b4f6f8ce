#include "fuzz_common.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz_input_file.h"

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

const std::string& InputPath(const char* stem) {
  static const std::string path = [stem] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/quill-fuzz-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    return dir + "/" + stem;
  }();
  return path;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) break;
    data += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
  return size == 0;
}

int MemoryFd(const uint8_t* data, size_t size) {
  const int fd = memfd_create("quill-fuzz-input", MFD_CLOEXEC);
  if (fd < 0) return -1;
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) break;
    data += n;
    size -= static_cast<size_t>(n);
  }
  if (size != 0 || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

FILE* NullStream() {
  static FILE* null = std::fopen("/dev/null", "w");
  return null;
}

void KeepAwayFromPrintServers() { setenv("CUPS_SERVER", "/nonexistent/quill-fuzz-cups.sock", 1); }

}  // namespace quill_fuzz
