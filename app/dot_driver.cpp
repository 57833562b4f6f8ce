// dot_driver.cpp - PAPPL's raster callbacks for quilldot's printers.
#include "dot_driver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "raster_copy.h"
#include "raster_job.h"

namespace quill_app {
namespace {

// A stdio stream over the job's device: quilldot writes its printer bytes
// to a FILE.
ssize_t DeviceStreamWrite(void* cookie, const char* data, size_t size) {
  if (papplDeviceWrite(static_cast<pappl_device_t*>(cookie), data, size) < 0) return -1;
  return static_cast<ssize_t>(size);
}

// A stdio stream over the job's log: quilldot's message lines ("ERROR: ...",
// "[QL] ..." traces) become job log records.
struct LogCookie {
  pappl_job_t* job;
  std::string pending;  // text of an unfinished line
};
ssize_t LogStreamWrite(void* cookie, const char* data, size_t size) {
  auto* log = static_cast<LogCookie*>(cookie);
  log->pending.append(data, size);
  std::string::size_type end;
  while ((end = log->pending.find('\n')) != std::string::npos) {
    const std::string line = log->pending.substr(0, end);
    log->pending.erase(0, end + 1);
    const pappl_loglevel_t level = line.rfind("ERROR:", 0) == 0     ? PAPPL_LOGLEVEL_ERROR
                                   : line.rfind("WARNING:", 0) == 0 ? PAPPL_LOGLEVEL_WARN
                                   : line.rfind("INFO:", 0) == 0    ? PAPPL_LOGLEVEL_INFO
                                                                    : PAPPL_LOGLEVEL_DEBUG;
    papplLogJob(log->job, level, "%s", line.c_str());
  }
  return static_cast<ssize_t>(size);
}

struct FileClose {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileClose>;

// One job's state, owned by the job (papplJobSetData) from start to end.
struct DotJob {
  const DriverSpec* driver = nullptr;
  pappl_job_t* job = nullptr;
  LogCookie log_cookie{};
  File printer;
  File messages;
  std::unique_ptr<quilldot::HostJob> dot;
  std::unique_ptr<RasterCopy> copy;  // the diagnostic raster copy
  cups_page_header2_t page{};        // the page as it came (8-bit grey or RGB)
  cups_page_header2_t dots{};        // the page as quilldot prints it (one bit)
  std::vector<uint8_t> grey;         // one row as grey
  std::vector<uint8_t> bits;         // one row screened
  bool in_page = false;
};

// The page as quilldot takes it: one bit per pixel, 1 black.
cups_page_header2_t DotPageHeader(const cups_page_header2_t& page) {
  cups_page_header2_t h = page;
  h.cupsBitsPerColor = 1;
  h.cupsBitsPerPixel = 1;
  h.cupsColorSpace = CUPS_CSPACE_K;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsNumColors = 1;
  h.cupsBytesPerLine = (page.cupsWidth + 7) / 8;
  return h;
}

// A row of the page (8-bit grey, 0 black, or RGB) as grey.
void GreyOf(const cups_page_header2_t& page, const unsigned char* row, uint8_t* grey) {
  if (page.cupsBitsPerPixel == 8) {
    std::memcpy(grey, row, page.cupsWidth);
    return;
  }
  for (unsigned x = 0; x < page.cupsWidth; ++x, row += 3) {  // Rec. 601 luma
    grey[x] = static_cast<uint8_t>((row[0] * 77u + row[1] * 150u + row[2] * 29u + 128u) >> 8);
  }
}

// One bit per pixel, 1 black: a dot where the grey is below the job's
// dither threshold, the screen PAPPL uses for its own one-bit pages.
void ScreenRow(const uint8_t* grey, unsigned width, unsigned y, const pappl_dither_t& dither,
               uint8_t* out) {
  std::memset(out, 0, (width + 7) / 8);
  const unsigned char* thresholds = dither[y & 15];
  for (unsigned x = 0; x < width; ++x) {
    if (grey[x] < thresholds[x & 15]) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
}

DotJob* JobOf(pappl_job_t* job) { return static_cast<DotJob*>(papplJobGetData(job)); }

bool Stop(DotJob* dj) {
  if (papplJobIsCanceled(dj->job)) dj->dot->Cancel();
  return dj->dot->stopped();
}

bool StartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const DriverSpec* driver = FindDriver(papplPrinterGetDriverName(papplJobGetPrinter(job)));
  if (driver == nullptr || driver->ppd == nullptr) return false;
  auto dj = std::make_unique<DotJob>();
  dj->driver = driver;
  dj->job = job;
  dj->log_cookie.job = job;
  dj->copy = std::make_unique<RasterCopy>(job);
  const cookie_io_functions_t device_io = {nullptr, DeviceStreamWrite, nullptr, nullptr};
  const cookie_io_functions_t log_io = {nullptr, LogStreamWrite, nullptr, nullptr};
  dj->printer.reset(fopencookie(device, "w", device_io));
  dj->messages.reset(fopencookie(&dj->log_cookie, "w", log_io));
  if (!dj->printer || !dj->messages) return false;
  const std::string ppd = PpdDirectory() + "/" + driver->ppd;
  dj->dot = std::make_unique<quilldot::HostJob>(
      ppd.c_str(), DotJobOptions(*driver, options->num_vendor, options->vendor), dj->printer.get(),
      dj->messages.get());
  papplJobSetData(job, dj.release());  // owned by the job until EndJob
  return true;
}

bool StartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
               unsigned page) {
  DotJob* dj = JobOf(job);
  if (dj == nullptr || Stop(dj)) return false;
  const std::string refused = PageProblem(*dj->driver, options->header);
  if (!refused.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Page %u cannot be printed: %s.", page,
                refused.c_str());
    return false;
  }
  dj->page = options->header;
  dj->dots = DotPageHeader(
      DriverPageHeader(*dj->driver, options->header, options->num_vendor, options->vendor));
  std::string why;
  if (!dj->dot->StartPage(dj->dots, &why)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to print page %u - %s", page, why.c_str());
    return false;
  }
  dj->in_page = true;
  dj->grey.assign(dj->page.cupsWidth, 255);
  dj->bits.assign(dj->dots.cupsBytesPerLine, 0);
  dj->copy->Page(dj->dots);
  return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* /*device*/,
               unsigned y, const unsigned char* line) {
  DotJob* dj = JobOf(job);
  if (dj == nullptr || !dj->in_page) return false;
  if (Stop(dj)) return false;
  GreyOf(dj->page, line, dj->grey.data());
  ScreenRow(dj->grey.data(), dj->page.cupsWidth, y, options->dither, dj->bits.data());
  dj->dot->WriteRow(dj->bits.data());
  dj->copy->Row(dj->bits.data(), dj->dots.cupsBytesPerLine);
  return true;
}

bool EndPage(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
             unsigned /*page*/) {
  DotJob* dj = JobOf(job);
  if (dj == nullptr) return false;
  if (dj->in_page) dj->dot->EndPage();
  dj->in_page = false;
  std::fflush(dj->printer.get());
  return !Stop(dj);
}

bool EndJob(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* device) {
  std::unique_ptr<DotJob> dj(JobOf(job));
  papplJobSetData(job, nullptr);
  if (!dj) return false;
  const int status = dj->dot->Finish();  // the job end is sent after a cancel too
  dj->dot.reset();
  dj->printer.reset();   // flushes into the device
  dj->messages.reset();
  papplDeviceFlush(device);
  return status == 0;
}

}  // namespace

void SetDotCallbacks(pappl_pr_driver_data_t* data) {
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
}

quilldot::JobOptions DotJobOptions(const DriverSpec& driver, int num_vendor,
                                   const cups_option_t* vendor) {
  quilldot::JobOptions o;
  o.cutting = VendorValue(driver, "cutting", num_vendor, vendor, 0);
  o.drawer = VendorValue(driver, "cash-drawer", num_vendor, vendor, 0);
  o.black_mark = VendorValue(driver, "black-mark", num_vendor, vendor, 0);
  o.logo = VendorValue(driver, "logo", num_vendor, vendor, 0);
  o.paper_type = VendorValue(driver, "paper-type", num_vendor, vendor, 0);
  return o;
}

}  // namespace quill_app
