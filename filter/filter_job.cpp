#include "filter_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "cups_dest.h"
#include "cups_log.h"
#include "page_canvas.h"

namespace {

// Set by the SIGTERM handler; read at the cancellation points and offered to
// the library through check_if_exit.
volatile sig_atomic_t Canceled = 0;

// errno of the first failed write of printer bytes (0: none). Once set, no
// further byte is written and the job ends as if cancelled, with an ERROR
// line instead of converting the rest of the job into a dead stream.
int OutputError = 0;

// The job is to stop: cancelled, or the printer stream failed.
bool Stopping() { return Canceled != 0 || OutputError != 0; }

// The debug line of a stop at a cancellation point (none for a failed
// printer stream, which gets its ERROR line at the end of the job).
void LogStop() {
  if (Canceled) logd("got cancel signal and exit\n");
}

constexpr const char* kStartDocLong = ":start_doc=1B1D1E000C041B1D1F1B7803";
constexpr const char* kStartDocShort = ":start_doc=1B1D1E000C041B1D1F";

}  // namespace

int default_write(void* hdl, const void* data, unsigned int len) {
  if (len == 0 || OutputError != 0) return 0;
  errno = 0;
  const size_t written = std::fwrite(data, 1, len, static_cast<FILE*>(hdl));
  if (written < len) OutputError = errno != 0 ? errno : EIO;
  return static_cast<int>(written);
}

int check_if_exit(void* param) {
  return *static_cast<volatile sig_atomic_t*>(param) != 0 || OutputError != 0 ? 1 : 0;
}

void CancelJob(int /*sig*/) { Canceled = 1; }

namespace quill_filter {
namespace {

using RasterStream = std::unique_ptr<cups_raster_t, decltype(&cupsRasterClose)>;
using PpdFile = std::unique_ptr<ppd_file_t, decltype(&ppdClose)>;

void InstallCancelHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  // A printer stream whose reader went away must fail the write with EPIPE
  // (and give the job its ERROR line), not end the process without a word.
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

void LogHeader(const cups_page_header2_t& h, int model) {
  logd("cupsWidth=%u,cupsHeight=%u\n", h.cupsWidth, h.cupsHeight);
  logd("cupsMediaType=%u\n", h.cupsMediaType);
  logd("cupsBitsPerColor=%u\n", h.cupsBitsPerColor);
  logd("cupsBitsPerPixel=%u\n", h.cupsBitsPerPixel);
  logd("cupsBytesPerLine=%u\n", h.cupsBytesPerLine);
  logd("cupsRowCount=%u\n", h.cupsRowCount);
  logd("cupsRowFeed=%u\n", h.cupsRowFeed);
  logd("cupsRowStep=%u\n", h.cupsRowStep);
  logd("HWResolution=%ux%u\n", h.HWResolution[0], h.HWResolution[1]);
  logd("PageSize=%u,%u\n", h.PageSize[0], h.PageSize[1]);
  logd("ImagingBoundingBox=%u,%u,%u,%u\n", h.ImagingBoundingBox[0], h.ImagingBoundingBox[1],
       h.ImagingBoundingBox[2], h.ImagingBoundingBox[3]);
  logd("cupsImagingBBox=%f,%f,%f,%f\n", static_cast<double>(h.cupsImagingBBox[0]),
       static_cast<double>(h.cupsImagingBBox[1]), static_cast<double>(h.cupsImagingBBox[2]),
       static_cast<double>(h.cupsImagingBBox[3]));
  logd("Margins=%u,%u\n", h.Margins[0], h.Margins[1]);
  logd("ModelNumber=%i\n", model);
  LogRecord(spdlog::level::debug, "cupsBorderlessScalingFactor={:g}",
            static_cast<double>(h.cupsBorderlessScalingFactor));
  LogRecord(spdlog::level::debug, "cupsPageSize={:g},{:g}", static_cast<double>(h.cupsPageSize[0]),
            static_cast<double>(h.cupsPageSize[1]));
}

// Reads whatever rows of the current page the stream still holds, so that
// the next header is read from its own place; rows are read in pieces of
// at most 64 KiB, so a skipped page costs no buffer of its claimed row size.
// Stops at once when the page has been read completely, the stream has
// ended or the job is cancelled (a cancelled job reads nothing more).
void DrainPage(cups_raster_t* ras, const cups_page_header2_t& header) {
  std::vector<uint8_t> piece(std::min<size_t>(header.cupsBytesPerLine, size_t{1} << 16));
  if (piece.empty()) return;
  while (!Stopping() &&
         cupsRasterReadPixels(ras, piece.data(), static_cast<unsigned>(piece.size())) > 0) {
  }
}

// One job: the state that lives from the first header to the end.
class FilterJob {
 public:
  FilterJob(const FilterIo& io, cups_raster_t* ras, int model, void* doc, std::string options,
            CONV_PARAM2 cp)
      : io_(io), ras_(ras), model_(model), doc_(doc), options_(std::move(options)), cp_(cp) {}

  // Reads and prints pages until the stream ends or the job is cancelled.
  void Run() {
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(ras_, &header)) {
      LogHeader(header, model_);
      if (Stopping()) return;
      if (!RunPage(header)) return;
    }
  }

  // Ends and releases the document, whether or not a page was printed.
  void Finish() {
    io_.api->end_doc(doc_);
    io_.api->release(doc_);
    doc_ = nullptr;
  }

 private:
  // One page: returns false when the job was cancelled.
  bool RunPage(const cups_page_header2_t& header) {
    ++page_;
    PixelLayout layout = LayoutOf(header);
    PageGeometry geo;
    CanvasBuffer canvas;
    if (header.HWResolution[0] == 0 || header.HWResolution[1] == 0) {
      loge("Page %d has the invalid resolution %ux%u and is skipped\n", page_,
           header.HWResolution[0], header.HWResolution[1]);
    } else if (layout == PixelLayout::kUnsupported) {
      loge("Page %d is skipped: %u bits per pixel, %u bits per color, color order %u and "
           "color space %u are not supported\n",
           page_, header.cupsBitsPerPixel, header.cupsBitsPerColor,
           StoredValue(header.cupsColorOrder), StoredValue(header.cupsColorSpace));
    } else {
      geo = ComputeGeometry(header);
      const std::string problem = geo.size == 0 ? std::string() : PageBoundsProblem(header, geo);
      if (geo.size == 0) {
        loge("Page %d has no printable size and is skipped\n", page_);
      } else if (!problem.empty()) {
        loge("Page %d is skipped: %s\n", page_, problem.c_str());
      } else {
        canvas = AllocateCanvas(geo.size);
        if (!canvas) {
          loge("Unable to allocate %llu bytes for page %d, the page is skipped\n",
               static_cast<unsigned long long>(geo.size), page_);
        }
      }
    }

    if (canvas) {
      std::vector<uint8_t> line(header.cupsBytesPerLine);  // within the bounds
      for (unsigned icopy = 0; icopy < header.NumCopies; ++icopy) {
        logi("page %d, %d/%d copies\n", page_, static_cast<int>(icopy + 1),
             static_cast<int>(header.NumCopies));
        if (Stopping()) {
          LogStop();
          return false;
        }
        if (icopy == 0) FillCanvas(header, layout, geo, line, canvas.get());
        if (Stopping()) {  // while the canvas was filled: the page is not sent
          LogStop();
          return false;
        }
        SendCopy(header, layout, geo, canvas.get());
      }
    }
    DrainPage(ras_, header);  // skipped pages and pages without copies
    if (Stopping()) {
      LogStop();
      return false;
    }
    return true;
  }

  void FillCanvas(const cups_page_header2_t& header, PixelLayout layout, const PageGeometry& geo,
                  std::vector<uint8_t>& line, uint8_t* canvas) {
    // Every canvas row is written once, white just before its pixels are
    // placed (while the row is in the cache), instead of whitening the
    // whole sheet first and placing the rows over it in a second pass.
    // Rows no raster row reaches are whitened in the gaps and at the end.
    // A cancellation stops the reading at the next row: a huge page is not
    // read to its end only to be dropped (the rest of the canvas is left as
    // it is; the page is not sent).
    uint32_t white_to = 0;  // rows [0, white_to) are done
    if (!line.empty()) {
      for (uint32_t row = 0; row < header.cupsHeight; ++row) {
        if (Stopping()) return;
        if (cupsRasterReadPixels(ras_, line.data(), header.cupsBytesPerLine) == 0) break;
        const int64_t y = CanvasRowOf(geo, row);
        if (y < 0) continue;
        const auto canvas_row = static_cast<uint32_t>(y);
        if (canvas_row >= white_to) {
          FillWhiteRows(geo, layout, white_to, canvas_row + 1, canvas);
          white_to = canvas_row + 1;
        }
        PlaceRow(header, layout, geo, row, line.data(), canvas);
      }
    }
    FillWhiteRows(geo, layout, white_to, geo.height, canvas);
  }

  void SendCopy(const cups_page_header2_t& header, PixelLayout layout, const PageGeometry& geo,
                uint8_t* canvas) {
    if (model_ != 1) AppendStartDoc(options_, header.HWResolution[1]);
    AppendDuplex(options_, StoredValue(header.Duplex) != 0);
    UnitsForRowCount(header.cupsRowCount, x_unit_, y_unit_);

    cp_.x_unit = x_unit_;
    cp_.y_unit = y_unit_;
    cp_.num_pins = static_cast<uint16_t>(header.cupsRowCount);
    cp_.page_length = PageLengthUnits(y_unit_, geo.height, header.HWResolution[1]);
    cp_.options = options_.c_str();

    RASTER_INFO ri;
    std::memset(&ri, 0, sizeof ri);
    ri.img_p = canvas;
    ri.width = geo.width;
    ri.height = geo.height;
    ri.pitch = static_cast<int32_t>(geo.pitch);
    ri.x_res = static_cast<uint16_t>(header.HWResolution[0]);
    ri.y_res = static_cast<uint16_t>(header.HWResolution[1]);
    ri.bpp = static_cast<uint8_t>(header.cupsBitsPerPixel);
    FillPalette(layout, ri.palette);

    if (!has_started_) io_.api->start_doc2(doc_, &cp_);
    io_.api->process_page2(doc_, &cp_, &ri);  // a rejected page does not stop the job
    has_started_ = true;
  }

  const FilterIo& io_;
  cups_raster_t* ras_;   // the raster stream, owned by RunFilter
  const int model_;      // the PPD's model number, 0 without a PPD
  void* doc_;            // the document handle; may be null
  std::string options_;  // option string, grows by one piece per pass
  CONV_PARAM2 cp_;       // parameters handed with every call
  uint16_t x_unit_ = 1200;  // command units, carried from page to page
  uint16_t y_unit_ = 1200;
  bool has_started_ = false;  // DocProc_StartDoc2 was called
  int page_ = 0;              // pages read so far
};

}  // namespace

const char* ProcessorName(int model, int color_mode) {
  if (model == 1) return "DocumentProcessDot24";
  if (color_mode == 2) return "DocumentProcessInk3";
  return "DocumentProcessInk1";
}

std::string BaseOptions(int model, int color_mode) {
  if (model == 1) return "dither=2:dual_color=1";
  std::string options = "use_locpos=1:gamma=2.2:dither=2:band_hint=1";
  if (color_mode == 2) options += ":dup_red=1";
  return options;
}

void AppendStartDoc(std::string& options, unsigned y_res) {
  if (y_res > 399 || options.find("1B78") != std::string::npos) {
    options += kStartDocShort;
  } else {
    options += kStartDocLong;
  }
}

void AppendDuplex(std::string& options, bool duplex) {
  if (duplex && options.find("duplex=") == std::string::npos) options += ":duplex=1";
}

void UnitsForRowCount(unsigned row_count, uint16_t& x_unit, uint16_t& y_unit) {
  switch (row_count) {
    case 24:
      x_unit = y_unit = 360;
      break;
    case 896:
    case 1000:
      x_unit = y_unit = 1440;
      break;
    default:
      break;
  }
}

uint32_t PageLengthUnits(uint16_t y_unit, uint32_t height, unsigned y_res) {
  const uint64_t length = uint64_t{y_unit} * height / y_res;
  return length > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(length);
}

int RunFilter(int argc, char* argv[], const FilterIo& io) {
  init_log(io.err);
  if (argc < 6) {
    std::fprintf(LogStream(), "Usage: %s job-id user title copies options [file]\n",
                 argc > 0 && argv[0] != nullptr ? argv[0] : "quillfilter");
    std::fflush(LogStream());
    return 1;
  }
  int fd = 0;
  bool own_fd = false;  // fd was opened here and is closed at the end
  if (io.in_fd >= 0) {
    fd = io.in_fd;
  } else if (argc >= 7) {
    fd = open(argv[6], O_RDONLY);
    own_fd = true;
    if (fd < 0) {
      loge("Unable to open raster file - %s\n", std::strerror(errno));
      return 1;
    }
  }
  // An unreadable stream ends the page loop at once; the job still ends
  // normally.
  RasterStream ras(cupsRasterOpen(fd, CUPS_RASTER_READ), cupsRasterClose);

  Canceled = 0;
  OutputError = 0;
  InstallCancelHandler();

  PpdFile ppd(io.ppd_path != nullptr ? ppdOpenFile(io.ppd_path) : nullptr, ppdClose);
  const int model = ppd ? ppd->model_number : 0;

  auto dest = std::make_unique<cups::Dest>(argv[0]);
  dest->parse_arg(argv[5]);
  const int color_mode = dest->get_option<int>("CustomColorMode", -1);
  logd("color_mode=%d\n", color_mode);

  CONV_PARAM2 cp;
  std::memset(&cp, 0, sizeof cp);
  cp.shingling = SHINGLING_HALF_BAND_DYNA;
  cp.wr_cb = default_write;
  cp.wr_hdl = io.out;
  cp.req_exit_cb = check_if_exit;
  cp.req_exit_cb_param = const_cast<sig_atomic_t*>(&Canceled);
  if (model == 1) cp.shingling = SHINGLING_NONE;

  // The processor starts with its defaults (no option string yet) and gets
  // the options with the first page.
  const char* name = ProcessorName(model, color_mode);
  void* doc = io.api->get_object(name, &cp);
  if (doc == nullptr) loge("Unable to create the document processor %s\n", name);

  FilterJob job(io, ras.get(), model, doc, BaseOptions(model, color_mode), cp);
  if (ras) job.Run();
  job.Finish();
  errno = 0;
  if (std::fflush(io.out) != 0 && OutputError == 0) OutputError = errno != 0 ? errno : EIO;

  if (own_fd) close(fd);
  int status = 0;
  if (OutputError != 0) {
    loge("Unable to send print data to the printer - %s\n", std::strerror(OutputError));
    status = 1;
  } else {
    logi("Job %s finished.\n", argv[1]);
  }
  dest.reset();
  ppd.reset();
  ras.reset();
  return status;
}

}  // namespace quill_filter
