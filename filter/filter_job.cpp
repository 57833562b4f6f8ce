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
#include "doc_job.h"
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

using namespace quill_host;  // the page canvas

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
  FilterJob(cups_raster_t* ras, int model, quill_host::DocumentJob& doc)
      : ras_(ras), model_(model), doc_(doc) {}

  // Reads and prints pages until the stream ends or the job is cancelled.
  void Run() {
    cups_page_header2_t header;
    while (cupsRasterReadHeader2(ras_, &header)) {
      LogHeader(header, model_);
      if (Stopping()) return;
      if (!RunPage(header)) return;
    }
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
        doc_.SendCopy(header, layout, geo, canvas.get());  // a rejected page does not stop the job
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

  cups_raster_t* ras_;              // the raster stream, owned by RunFilter
  const int model_;                 // the PPD's model number, 0 without a PPD
  quill_host::DocumentJob& doc_;    // the library document, owned by RunFilter
  int page_ = 0;                    // pages read so far
};

}  // namespace

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

  // The processor starts with its defaults (no option string yet) and gets
  // the options with the first page.
  quill_host::DocumentJob doc(*io.api, quill_host::SettingsForModel(model, color_mode),
                              default_write, io.out, check_if_exit,
                              const_cast<sig_atomic_t*>(&Canceled));
  if (!doc.has_document()) {
    loge("Unable to create the document processor %s\n",
         quill_host::ProcessorName(model, color_mode));
  }

  FilterJob job(ras.get(), model, doc);
  if (ras) job.Run();
  doc.Finish();
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
