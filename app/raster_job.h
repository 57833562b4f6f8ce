// raster_job.h - what a raster page must be before a driver takes it, and
// printing a stream of raster pages through a printer's raster callbacks.
//
// PAPPL (1.3) streams a client's PWG or Apple raster rows straight into
// the driver. When the driver takes 8-bit pages, PAPPL hands it the
// client's own page header before it sizes its row buffers, so the driver
// can check the page (PageProblem) and refuse it before a row is read. When
// a driver takes one-bit pages, PAPPL screens the client's rows into a
// buffer sized for the job's resolution and sheet instead of the page's,
// and a page finer or wider than PAPPL expects (a 720-dpi page for a
// 203-dpi printer) overruns it and ends the application. Every driver here
// therefore takes 8-bit grey or colour pages only; quilldot's printers
// screen them themselves (dot_driver.h).
#ifndef QUILL_APP_RASTER_JOB_H_
#define QUILL_APP_RASTER_JOB_H_

#include <pappl/pappl.h>

#include <string>

#include "drivers.h"

namespace quill_app {

// Why `driver` cannot print a page of header `h`, as one line, or "" when
// it can: the resolution must be one the driver lists, the raster at most
// 2 m on a side, the pixels 8-bit grey (sgray, 0 black) or 8-bit RGB in
// chunky order with rows of exactly the bytes their pixels need.
std::string PageProblem(const DriverSpec& driver, const cups_page_header2_t& h);

// Reads raster pages from `fd` (borrowed; read to its end or to the first
// refused page) and prints them through the printer's raster callbacks:
// start of job, then per page start, rows and end, then end of job; the
// callbacks check each page (PageProblem) in their start of page. Stops at
// the next row when the job is cancelled. Returns true when every page was
// printed or the job was cancelled, false otherwise. `options` is the
// job's; its header is replaced by each page's.
bool PrintRasterStream(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                       int fd);

}  // namespace quill_app

#endif  // QUILL_APP_RASTER_JOB_H_
