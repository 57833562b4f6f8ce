// dot_driver.cpp - PAPPL's raster callbacks for quilldot's printers.
#include "dot_driver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "raster_copy.h"

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
  unsigned row_bytes = 0;            // of the current page
  bool in_page = false;
};

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
  const cups_page_header2_t header =
      DriverPageHeader(*dj->driver, options->header, options->num_vendor, options->vendor);
  std::string why;
  if (!dj->dot->StartPage(header, &why)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to print page %u - %s", page, why.c_str());
    return false;
  }
  dj->in_page = true;
  dj->row_bytes = header.cupsBytesPerLine;
  dj->copy->Page(header);
  return true;
}

bool WriteLine(pappl_job_t* job, pappl_pr_options_t* /*options*/, pappl_device_t* /*device*/,
               unsigned /*y*/, const unsigned char* line) {
  DotJob* dj = JobOf(job);
  if (dj == nullptr || !dj->in_page) return false;
  if (Stop(dj)) return false;
  dj->dot->WriteRow(line);
  dj->copy->Row(line, dj->row_bytes);
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
