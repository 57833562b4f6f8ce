// library_driver.cpp - PAPPL's raster callbacks for libquillcore's families.
#include "library_driver.h"

#include <cstdio>
#include <memory>
#include <string>

#include "raster_copy.h"

#include "page_canvas.h"
#include "raster_job.h"

namespace quill_app {
namespace {

using quill_host::DocSettings;
using quill_host::DocumentJob;

// One job's state, owned by the job (papplJobSetData) from the start to the
// end of the job.
struct LibraryJob {
  const DriverSpec* driver = nullptr;
  pappl_job_t* job = nullptr;
  pappl_device_t* device = nullptr;
  bool write_failed = false;  // the device refused bytes: the job stops
  std::unique_ptr<DocumentJob> doc;
  std::unique_ptr<RasterCopy> copy;  // the diagnostic raster copy
  // The current page.
  cups_page_header2_t header{};
  quill_host::PixelLayout layout = quill_host::PixelLayout::kUnsupported;
  quill_host::PageGeometry geo;
  quill_host::CanvasBuffer canvas;
};

int DeviceWrite(void* hdl, const void* data, unsigned int len) {
  auto* lj = static_cast<LibraryJob*>(hdl);
  if (len == 0 || lj->write_failed) return 0;
  if (papplDeviceWrite(lj->device, data, len) < 0) {
    lj->write_failed = true;
    papplLogJob(lj->job, PAPPL_LOGLEVEL_ERROR, "Unable to send print data to the printer.");
    return 0;
  }
  return static_cast<int>(len);
}

// Asked by the library every few rows of a page.
int StopRequested(void* param) {
  auto* lj = static_cast<LibraryJob*>(param);
  return lj->write_failed || papplJobIsCanceled(lj->job) ? 1 : 0;
}

LibraryJob* JobOf(pappl_job_t* job) { return static_cast<LibraryJob*>(papplJobGetData(job)); }

std::string GammaText(int hundredths) {
  char text[16];
  std::snprintf(text, sizeof text, "%g", hundredths / 100.0);
  return text;
}

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const DriverSpec* driver = FindDriver(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  if (driver == nullptr) return false;
  auto lj = std::make_unique<LibraryJob>();
  lj->driver = driver;
  lj->job = job;
  lj->device = device;
  lj->copy = std::make_unique<RasterCopy>(job);
  const DocSettings settings = LibrarySettings(*driver, *options);
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s with \"%s\", shingling %u", settings.processor.c_str(),
              settings.options.c_str(), settings.shingling);
  lj->doc = std::make_unique<DocumentJob>(quill_host::LibraryApi(), settings, DeviceWrite,
                                          lj.get(), StopRequested, lj.get());
  if (!lj->doc->has_document()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to create the document processor %s",
                settings.processor.c_str());
    return false;
  }
  papplJobSetData(job, lj.release());  // owned by the job until EndJob
  return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
               unsigned page) {
  LibraryJob* lj = JobOf(job);
  if (lj == nullptr) return false;
  const std::string refused = PageProblem(*lj->driver, options->header);
  if (!refused.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u cannot be printed: %s.", page,
                refused.c_str());
    return false;
  }
  lj->header = DriverPageHeader(*lj->driver, options->header, options->num_vendor, options->vendor);
  const cups_page_header2_t& h = lj->header;
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG,
              "Page %u: %ux%u at %ux%u dpi, %u bits per pixel, colour space %u", page,
              h.cupsWidth, h.cupsHeight, h.HWResolution[0], h.HWResolution[1],
              h.cupsBitsPerPixel, static_cast<unsigned>(h.cupsColorSpace));
  lj->layout = quill_host::LayoutOf(h);
  if (h.HWResolution[0] == 0 || h.HWResolution[1] == 0 ||
      lj->layout == quill_host::PixelLayout::kUnsupported) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u has a raster format the printer cannot take.",
                page);
    return false;
  }
  lj->geo = quill_host::ComputeGeometry(h);
  const std::string problem = lj->geo.size == 0 ? std::string("the page has no printable size")
                                                : quill_host::PageBoundsProblem(h, lj->geo);
  if (!problem.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u cannot be printed: %s", page, problem.c_str());
    return false;
  }
  lj->canvas = quill_host::AllocateCanvas(lj->geo.size);
  if (!lj->canvas) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Not enough memory for page %u.", page);
    return false;
  }
  quill_host::FillWhite(lj->geo, lj->layout, lj->canvas.get());
  lj->copy->Page(h);
  return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
               unsigned y, const unsigned char* line) {
  LibraryJob* lj = JobOf(job);
  if (lj == nullptr || !lj->canvas) return false;
  quill_host::PlaceRow(lj->header, lj->layout, lj->geo, y, line, lj->canvas.get());
  lj->copy->Row(line, lj->header.cupsBytesPerLine);
  return !StopRequested(lj);
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device,
             unsigned /*page*/) {
  LibraryJob* lj = JobOf(job);
  if (lj == nullptr) return false;
  if (lj->canvas && !StopRequested(lj)) {
    lj->doc->SendCopy(lj->header, lj->layout, lj->geo, lj->canvas.get());
  }
  lj->canvas.reset();
  papplDeviceFlush(device);
  return !StopRequested(lj);
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  std::unique_ptr<LibraryJob> lj(JobOf(job));
  papplJobSetData(job, nullptr);
  if (!lj) return false;
  // A cancelled job still gets its document end, as quillfilter sends it.
  lj->doc->Finish();
  papplDeviceFlush(device);
  return !lj->write_failed;
}

}  // namespace

void SetLibraryCallbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
}

DocSettings LibrarySettings(const DriverSpec& driver, const pappl_pr_options_t& options) {
  const bool color = driver.color && options.print_color_mode == PAPPL_COLOR_MODE_COLOR;
  DocSettings s;
  switch (driver.engine) {
    case Engine::kSerialInk: {
      s = quill_host::SettingsForModel(0, color ? 2 : 1);
      s.shingling = static_cast<uint16_t>(
          VendorValue(driver, "shingling", options.num_vendor, options.vendor, s.shingling));
      const int gamma = VendorValue(driver, "gamma", options.num_vendor, options.vendor, 220);
      if (gamma != 220) {
        const std::string::size_type at = s.options.find("gamma=2.2");
        if (at != std::string::npos) s.options.replace(at, 9, "gamma=" + GammaText(gamma));
      }
      break;
    }
    case Engine::kDot24:
      s = quill_host::SettingsForModel(1, -1);
      if (!color) s.options = "dither=2";  // one ribbon colour: no separation
      break;
    case Engine::kPageInk: {
      int quality = 1;  // QUALITY_NORMAL1
      if (options.print_quality == IPP_QUALITY_DRAFT) quality = 0;
      if (options.print_quality == IPP_QUALITY_HIGH) quality = 3;
      s.processor = "DocumentProcessInk2";
      s.options = "quality=" + std::to_string(quality);
      if (!color) s.options += ":grey=1";
      s.x_unit = static_cast<uint16_t>(options.header.HWResolution[0]);
      s.y_unit = static_cast<uint16_t>(options.header.HWResolution[1]);
      break;
    }
    case Engine::kThermal:
      s.processor = "DocumentProcessThermal";
      s.options = "dither=2:max_width=" + std::to_string(driver.max_width);
      s.x_unit = static_cast<uint16_t>(options.header.HWResolution[0]);
      s.y_unit = static_cast<uint16_t>(options.header.HWResolution[1]);
      break;
    case Engine::kDot:
      break;  // not a library family
  }
  return s;
}

}  // namespace quill_app
