// raster_copy.h - a diagnostic copy of the raster an engine prints.
//
// With QUILL_APP_RASTER_DIR set to a folder, every job writes the pages its
// engine received, with the header the engine got (DriverPageHeader), as a
// CUPS raster stream <folder>/<printer>-<job id>.ras. Fed to quillfilter or
// quilldot with the printer's PPD, it gives the job's printer bytes: that is
// how the tests show the application prints what the filters print.
#ifndef QUILL_APP_RASTER_COPY_H_
#define QUILL_APP_RASTER_COPY_H_

#include <pappl/pappl.h>

#include <memory>

#include <cups/raster.h>

namespace quill_app {

class RasterCopy {
 public:
  // Opens the copy of `job` when QUILL_APP_RASTER_DIR is set; otherwise
  // every call does nothing.
  explicit RasterCopy(pappl_job_t* job);
  ~RasterCopy();
  RasterCopy(const RasterCopy&) = delete;
  RasterCopy& operator=(const RasterCopy&) = delete;

  // Starts a page of `header`; then cupsBytesPerLine bytes per row.
  void Page(const cups_page_header2_t& header);
  void Row(const unsigned char* row, unsigned bytes);

 private:
  int fd_ = -1;
  cups_raster_t* ras_ = nullptr;  // owned
};

}  // namespace quill_app

#endif  // QUILL_APP_RASTER_COPY_H_
