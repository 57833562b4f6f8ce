// A CUPS raster stream into quillfilter's job loop, in process: the first
// byte picks the queue's PPD (and so the printer family), the rest is the
// raster stream, read from a memory file (FilterIo::in_fd). The filter runs
// with the real library, writes its printer bytes and messages to
// /dev/null, and finds no print server (CUPS_SERVER names a socket nobody
// serves), as in a bare cupsfilter run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "doc_api.h"
#include "filter_job.h"
#include "fuzz_input_file.h"

namespace {

// The shipped PPDs of quillfilter's printers (built into QUILL_PPD_DIR).
constexpr const char* kPpds[] = {"quill-ink1.ppd", "quill-ink1s.ppd", "quill-ink1l.ppd",
                                 "quill-ink3.ppd", "quill-dot24.ppd"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quill_fuzz::KeepAwayFromPrintServers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || quill_fuzz::NullStream() == nullptr) return 0;
  const std::string ppd = std::string(QUILL_PPD_DIR) + "/" + kPpds[data[0] % 5];
  const int fd = quill_fuzz::MemoryFd(data + 1, size - 1);
  if (fd < 0) return 0;
  quill_filter::FilterIo io;
  io.out = quill_fuzz::NullStream();
  io.err = quill_fuzz::NullStream();
  io.ppd_path = ppd.c_str();
  io.api = &quill_filter::LibraryApi();
  io.in_fd = fd;
  std::string args[] = {"quillq", "7", "fuzz", "title", "1", ""};
  char* argv[6];
  for (int i = 0; i < 6; ++i) argv[i] = args[i].data();
  quill_filter::RunFilter(6, argv, io);
  close(fd);
  return 0;
}
