// raster_job.cpp - raster pages through a printer's raster callbacks.
#include "raster_job.h"

#include <memory>
#include <vector>

#include <cups/raster.h>

#include "quill/libquill.h"

namespace quill_app {
namespace {

using RasterStream = std::unique_ptr<cups_raster_t, decltype(&cupsRasterClose)>;

}  // namespace

std::string PageProblem(const DriverSpec& driver, const cups_page_header2_t& h) {
  bool listed = false;
  for (int i = 0; i < driver.num_resolutions; ++i) {
    listed = listed || (static_cast<unsigned>(driver.x_res[i]) == h.HWResolution[0] &&
                        static_cast<unsigned>(driver.y_res[i]) == h.HWResolution[1]);
  }
  if (!listed) {
    return "the resolution " + std::to_string(h.HWResolution[0]) + "x" +
           std::to_string(h.HWResolution[1]) + " dpi is not one the printer prints";
  }
  if (h.cupsWidth == 0 || h.cupsHeight == 0 ||
      h.cupsWidth > quill_max_side_pixels(h.HWResolution[0]) ||
      h.cupsHeight > quill_max_side_pixels(h.HWResolution[1])) {
    return "the page of " + std::to_string(h.cupsWidth) + "x" + std::to_string(h.cupsHeight) +
           " pixels is empty or larger than 2 m on a side";
  }
  const cups_cspace_t space = h.cupsColorSpace;
  const bool grey = h.cupsBitsPerPixel == 8 && (space == CUPS_CSPACE_SW || space == CUPS_CSPACE_W);
  const bool rgb =
      h.cupsBitsPerPixel == 24 && (space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_RGB);
  if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED || (!grey && !rgb)) {
    return "its pixels (" + std::to_string(h.cupsBitsPerPixel) + " bits, colour space " +
           std::to_string(static_cast<unsigned>(space)) + ") are not sgray_8 or srgb_8";
  }
  if (uint64_t{h.cupsBytesPerLine} != uint64_t{h.cupsWidth} * (h.cupsBitsPerPixel / 8)) {
    return "its rows of " + std::to_string(h.cupsBytesPerLine) + " bytes do not hold " +
           std::to_string(h.cupsWidth) + " pixels";
  }
  return std::string();
}

bool PrintRasterStream(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       int fd) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &driver);
  RasterStream ras(cupsRasterOpen(fd, CUPS_RASTER_READ), cupsRasterClose);
  if (!ras) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The document is not a raster stream.");
    return false;
  }
  bool ok = true;
  bool started = false;
  unsigned page = 0;
  cups_page_header2_t h;
  std::vector<uint8_t> line;
  while (ok && !papplJobIsCanceled(job) && cupsRasterReadHeader2(ras.get(), &h)) {
    ++page;
    options->header = h;
    if (!started) {
      started = true;
      if (!driver.rstartjob_cb(job, options, device)) {
        ok = false;
        break;
      }
    }
    papplJobSetImpressions(job, static_cast<int>(page));
    if (!driver.rstartpage_cb(job, options, device, page)) {  // checks the page
      ok = false;
      break;
    }
    line.resize(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight && !papplJobIsCanceled(job); ++y) {
      if (cupsRasterReadPixels(ras.get(), line.data(), h.cupsBytesPerLine) == 0) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u ends after %u of its %u rows.", page, y,
                    h.cupsHeight);
        ok = false;
        break;
      }
      if (!driver.rwriteline_cb(job, options, device, y, line.data())) break;
    }
    if (!driver.rendpage_cb(job, options, device, page)) ok = false;
    papplJobSetImpressionsCompleted(job, 1);
  }
  if (started && !driver.rendjob_cb(job, options, device)) ok = false;
  if (page == 0 && !papplJobIsCanceled(job)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The document has no pages.");
    ok = false;
  }
  return ok || papplJobIsCanceled(job);
}

}  // namespace quill_app
