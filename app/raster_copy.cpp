// raster_copy.cpp - a diagnostic copy of the raster an engine prints.
#include "raster_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace quill_app {

RasterCopy::RasterCopy(pappl_job_t* job) {
  const char* dir = std::getenv("QUILL_APP_RASTER_DIR");
  if (dir == nullptr || *dir == '\0') return;
  const std::string path = std::string(dir) + "/" +
                           papplPrinterGetName(papplJobGetPrinter(job)) + "-" +
                           std::to_string(papplJobGetID(job)) + ".ras";
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Unable to write the raster copy %s", path.c_str());
    return;
  }
  ras_ = cupsRasterOpen(fd_, CUPS_RASTER_WRITE);
}

RasterCopy::~RasterCopy() {
  if (ras_ != nullptr) cupsRasterClose(ras_);
  if (fd_ >= 0) close(fd_);
}

void RasterCopy::Page(const cups_page_header2_t& header) {
  if (ras_ == nullptr) return;
  cups_page_header2_t h = header;
  cupsRasterWriteHeader2(ras_, &h);
}

void RasterCopy::Row(const unsigned char* row, unsigned bytes) {
  if (ras_ != nullptr) cupsRasterWritePixels(ras_, const_cast<unsigned char*>(row), bytes);
}

}  // namespace quill_app
