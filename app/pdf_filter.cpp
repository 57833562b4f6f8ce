// pdf_filter.cpp - PDF documents through Ghostscript into the raster
// callbacks.
#include "pdf_filter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "raster_job.h"

extern char** environ;

namespace quill_app {
namespace {

struct OptionsDelete {
  void operator()(pappl_pr_options_t* o) const { papplJobDeletePrintOptions(o); }
};
using PrintOptions = std::unique_ptr<pappl_pr_options_t, OptionsDelete>;

// A running Ghostscript: its pid and the read end of its standard output.
struct Ghostscript {
  pid_t pid = -1;
  int out = -1;

  ~Ghostscript() { Stop(true); }
  // Waits for the process (killing it first when `kill_it`); returns its
  // exit status, -1 when it did not end normally.
  int Stop(bool kill_it) {
    if (out >= 0) close(out);
    out = -1;
    if (pid <= 0) return -1;
    if (kill_it) kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

bool StartGhostscript(const std::vector<std::string>& args, Ghostscript* gs) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawnp(&gs->pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    gs->pid = -1;
    return false;
  }
  gs->out = fds[0];
  return true;
}

}  // namespace

bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* /*data*/) {
  pappl_printer_t* printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);

  // The job's colour mode and the driver's raster type decide what
  // Ghostscript renders; PAPPL's options carry the resolution and sheet.
  ipp_attribute_t* mode = papplJobGetAttribute(job, "print-color-mode");
  const char* mode_kw = mode != nullptr ? ippGetString(mode, 0, nullptr) : nullptr;
  const bool color = (driver.color_supported & PAPPL_COLOR_MODE_COLOR) &&
                     (mode_kw == nullptr ? driver.color_default == PAPPL_COLOR_MODE_COLOR
                                         : std::strcmp(mode_kw, "color") == 0);
  PrintOptions options(papplJobCreatePrintOptions(job, 0xFFFFFFFFu, color));
  if (!options) return false;
  cups_page_header2_t& base = options->header;
  // Ghostscript renders 8-bit grey or colour, what every driver takes.
  const bool rgb = color;

  const char* gs_path = std::getenv("QUILL_GS");
  std::vector<std::string> args = {
      gs_path != nullptr && *gs_path ? gs_path : "gs",
      "-q",
      "-dSAFER",
      "-dBATCH",
      "-dNOPAUSE",
      "-dNOINTERPOLATE",
      "-sDEVICE=pwgraster",
      "-dcupsColorSpace=" + std::to_string(rgb ? CUPS_CSPACE_SRGB : CUPS_CSPACE_SW),
      "-dcupsBitsPerColor=8",
      "-r" + std::to_string(base.HWResolution[0]) + "x" + std::to_string(base.HWResolution[1]),
      "-g" + std::to_string(base.cupsWidth) + "x" + std::to_string(base.cupsHeight),
      "-dFIXEDMEDIA",
      "-dPDFFitPage",
      "-sOutputFile=%stdout",
      papplJobGetFilename(job)};
  Ghostscript gs;
  if (!StartGhostscript(args, &gs)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start Ghostscript (%s): %s", args[0].c_str(),
                std::strerror(errno));
    return false;
  }
  // The pages Ghostscript writes are read and checked like a client's.
  bool ok = PrintRasterStream(job, options.get(), device, gs.out);
  const bool canceled = papplJobIsCanceled(job);
  const int status = gs.Stop(!ok || canceled);
  if (!canceled && ok && status != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Ghostscript failed with status %d.", status);
    ok = false;
  }
  return ok || canceled;
}

}  // namespace quill_app
