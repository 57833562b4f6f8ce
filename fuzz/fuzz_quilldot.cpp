// A CUPS raster stream into quilldot's job loop, in process: the first
// byte picks the queue's PPD (printer model and accessories) and the job's
// options, the rest is the raster file the filter reads as its last
// argument. Printer bytes go to /dev/null (standard output is pointed
// there once); the filter's messages go to standard error, which the runs
// close for the target (-close_fd_mask=2 in run_fuzzer.sh). No print server
// answers (CUPS_SERVER names a socket nobody serves).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dot_job.h"
#include "dot_state.h"
#include "fuzz_input_file.h"

namespace {

// The shipped PPDs of quilldot's printers (built into QUILL_PPD_DIR).
constexpr const char* kPpds[] = {"quill-dm24.ppd", "quill-dm360.ppd", "quill-dm9.ppd",
                                 "quill-rp80.ppd", "quill-rp58.ppd", "quill-ij720.ppd"};
constexpr const char* kOptions[] = {"", "Cutting=5 Drawer=2 Logo=101",
                                    "Cutting=6 BlackMark=2 PaperType=3", "Cutting=3 Logo=7"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setenv("CUPS_SERVER", "/nonexistent/quill-fuzz-cups.sock", 1);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, 1);
    close(null);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string ppd = std::string(QUILL_PPD_DIR) + "/" + kPpds[data[0] % 6];
  const char* options = kOptions[(data[0] >> 4) % 4];
  const std::string& path = quill_fuzz::InputPath("job.ras");
  if (!quill_fuzz::WriteInput(path, data + 1, size - 1)) return 0;
  setenv("PPD", ppd.c_str(), 1);
  // The filter keeps its state in process-wide variables, as a process
  // started once per job may; every input starts from the state of a
  // fresh process.
  quilldot::ResetState();
  std::string args[] = {"dotq", "7", "fuzz", "title", "1", options, path};
  char* argv[7];
  for (int i = 0; i < 7; ++i) argv[i] = args[i].data();
  quilldot::RunFilter(7, argv);
  return 0;
}
