// A CUPS raster stream into quilldot's job loop, in process: the first
// byte picks the queue's PPD (printer model and accessories) and the job's
// options, the rest is the raster stream, read from a memory file
// (DotIo::in_fd). Printer bytes and messages go to /dev/null; no print
// server answers (CUPS_SERVER names a socket nobody serves). RunFilter
// resets the filter's process-wide state around every job.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dot_job.h"
#include "fuzz_input_file.h"

namespace {

// The shipped PPDs of quilldot's printers (built into QUILL_PPD_DIR).
constexpr const char* kPpds[] = {"quill-dm24.ppd", "quill-dm360.ppd", "quill-dm9.ppd",
                                 "quill-rp80.ppd", "quill-rp58.ppd", "quill-ij720.ppd"};
constexpr const char* kOptions[] = {"", "Cutting=5 Drawer=2 Logo=101",
                                    "Cutting=6 BlackMark=2 PaperType=3", "Cutting=3 Logo=7"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quill_fuzz::KeepAwayFromPrintServers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || quill_fuzz::NullStream() == nullptr) return 0;
  const std::string ppd = std::string(QUILL_PPD_DIR) + "/" + kPpds[(data[0] & 0x0F) % 6];
  const int fd = quill_fuzz::MemoryFd(data + 1, size - 1);
  if (fd < 0) return 0;
  quilldot::DotIo io;
  io.in_fd = fd;
  io.out = quill_fuzz::NullStream();
  io.err = quill_fuzz::NullStream();
  io.ppd_path = ppd.c_str();
  std::string args[] = {"dotq", "7", "fuzz", "title", "1", kOptions[(data[0] >> 4) % 4]};
  char* argv[6];
  for (int i = 0; i < 6; ++i) argv[i] = args[i].data();
  quilldot::RunFilter(6, argv, io);
  close(fd);
  return 0;
}
