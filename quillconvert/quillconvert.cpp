// quillconvert - the command-line host of libquillcore.
//
// Prints image files through any document processor class of the library,
// or converts a print-data stream read from standard input, and writes the
// printer bytes to standard output or a file. It reaches the library only
// through include/quill/, as any other host does.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cups_log.h"
#include "quill/libquill.h"
#include "settings.h"

namespace {

using quillconvert::Settings;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t g_cancelled = 0;

void OnTerminate(int) { g_cancelled = 1; }

int IsCancelled(void*) { return g_cancelled != 0 ? 1 : 0; }

// The printer stream: standard output or the --output file.
struct Output {
  std::FILE* file = nullptr;  // owned when `owned`
  bool owned = false;
  bool failed = false;        // a write failed; later bytes are dropped
  int error = 0;              // errno of the first failure
};

int WriteOutput(void* hdl, const void* data, unsigned int len) {
  auto* out = static_cast<Output*>(hdl);
  if (out->failed) return 0;
  if (len > 0 && std::fwrite(data, 1, len, out->file) != len) {
    out->failed = true;
    out->error = errno;
    return 0;
  }
  return static_cast<int>(len);
}

int ReadStdin(void*, void* buf, unsigned int len) {
  return static_cast<int>(std::fread(buf, 1, len, stdin));
}

spdlog::level::level_enum LevelFor(int verbosity) {
  if (verbosity >= 2) return spdlog::level::trace;
  if (verbosity == 1) return spdlog::level::debug;
  return spdlog::level::info;
}

CONV_PARAM2 ConvParam2(const Settings& s, Output* out) {
  CONV_PARAM2 cp{};
  cp.shingling = s.shingling;
  cp.x_unit = s.x_unit;
  cp.y_unit = s.y_unit;
  cp.num_pins = s.num_pins;
  cp.wr_cb = WriteOutput;
  cp.wr_hdl = out;
  cp.req_exit_cb = IsCancelled;
  cp.req_exit_cb_param = nullptr;
  cp.page_length = s.page_length;
  cp.options = s.has_options ? s.options.c_str() : nullptr;
  return cp;
}

// One page per image file; every file is tried, failures are counted.
int PrintImages(const Settings& s, Output* out, spdlog::logger& log) {
  CONV_PARAM2 cp = ConvParam2(s, out);
  void* doc = DocProc_GetObject(s.processor_class.c_str(), &cp);
  if (doc == nullptr) {
    log.error("unknown processor class \"{}\" (try --help for the list)", s.processor_class);
    return kExitUsage;
  }
  DocProc_StartDoc2(doc, &cp);
  int failures = 0;
  size_t printed = 0;
  for (const std::string& image : s.images) {
    if (g_cancelled != 0) {
      log.info("cancelled, {} of {} images printed", printed, s.images.size());
      break;
    }
    if (access(image.c_str(), R_OK) != 0) {
      log.error("cannot read {}: {}", image, std::strerror(errno));
      ++failures;
      continue;
    }
    log.info("printing {}", image);
    // Fresh parameters for every picture, so that each page gets its own
    // length instead of the first picture's.
    DocProc_Update(doc, &cp);
    const int result =
        s.rotate != 0
            ? DocProc_ProcessImagePage2(doc, image.c_str(), s.x_res, s.y_res, s.rotate)
            : DocProc_ProcessImagePage(doc, image.c_str(), s.x_res, s.y_res);
    if (result != 0) {
      log.error("{} could not be printed (result {})", image, result);
      ++failures;
    } else {
      ++printed;
    }
  }
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  if (failures == 0) log.info("{} page(s) printed", printed);
  return failures == 0 && g_cancelled == 0 ? kExitOk : kExitFailed;
}

int ConvertStream(const Settings& s, Output* out, spdlog::logger& log) {
  if (s.class_given && s.processor_class != "DocumentProcessInk1") {
    log.warn("a print-data stream is always converted by DocumentProcessInk1; --class ignored");
  }
  if (s.has_options) log.warn("the stream sets its own options; --options ignored");
  CONV_PARAM param{};
  param.shingling = s.shingling;
  param.x_unit = s.x_unit;
  param.y_unit = s.y_unit;
  param.num_pins = s.num_pins;
  param.rd_cb = ReadStdin;
  param.rd_hdl = nullptr;
  param.wr_cb = WriteOutput;
  param.wr_hdl = out;
  param.req_exit_cb = IsCancelled;
  param.req_exit_cb_param = nullptr;
  param.prefer_unidir = s.unidir ? 1 : 0;
  param.time_stamp = s.time_stamp ? 1 : 0;
  log.info("converting the print-data stream on standard input");
  const int result = process_print_data(&param);
  if (std::ferror(stdin)) {
    log.error("reading standard input failed");
    return kExitFailed;
  }
  if (result != 0) {
    log.error("the print-data stream is incomplete or malformed");
    return kExitFailed;
  }
  if (g_cancelled != 0) {
    log.info("cancelled");
    return kExitFailed;
  }
  return kExitOk;
}

bool OpenOutput(const Settings& s, Output* out, spdlog::logger& log) {
  if (s.output.empty() || s.output == "-") {
    if (isatty(STDOUT_FILENO)) {
      log.error("printer data is binary; give --output FILE or redirect standard output");
      return false;
    }
    out->file = stdout;
    return true;
  }
  out->file = std::fopen(s.output.c_str(), "wb");
  if (out->file == nullptr) {
    log.error("cannot open {}: {}", s.output, std::strerror(errno));
    return false;
  }
  out->owned = true;
  return true;
}

// Flushes and closes; false when any byte did not reach the file.
bool CloseOutput(Output* out) {
  bool ok = !out->failed;
  if (std::fflush(out->file) != 0 && ok) {
    ok = false;
    out->error = errno;
  }
  if (out->owned && std::fclose(out->file) != 0 && ok) {
    ok = false;
    out->error = errno;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IOLBF, 0);
  auto log = quillconvert::InstallLogger(stderr, spdlog::level::info);

  Settings settings;
  std::string error;
  if (!quillconvert::ParseCommandLine(argc, argv, &settings, &error)) {
    log->error("{} (try --help)", error);
    return kExitUsage;
  }
  if (settings.help) {
    std::fputs(quillconvert::UsageText().c_str(), stdout);
    return kExitOk;
  }
  log->set_level(LevelFor(settings.verbosity));
  if (settings.StreamMode() && isatty(STDIN_FILENO)) {
    log->error("no image files given and standard input is a terminal (try --help)");
    return kExitUsage;
  }

  std::signal(SIGTERM, OnTerminate);
  std::signal(SIGINT, OnTerminate);
  std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows up as a failed write

  Output out;
  if (!OpenOutput(settings, &out, *log)) return kExitFailed;
  const int status = settings.StreamMode() ? ConvertStream(settings, &out, *log)
                                           : PrintImages(settings, &out, *log);
  if (!CloseOutput(&out)) {
    log->error("writing the printer data failed: {}", std::strerror(out.error));
    return kExitFailed;
  }
  spdlog::drop("quill");
  return status;
}
