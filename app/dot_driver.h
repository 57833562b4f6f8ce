// dot_driver.h - PAPPL's raster callbacks for quilldot's printers: the
// dot-matrix printers, the raster inkjet and the receipt printers.
//
// Every job is a quilldot::HostJob on the job's own thread (quilldot's job
// state is per thread), reading the printer's add-ons from its PPD and the
// job options from the job's vendor attributes, so that its bytes are
// quilldot's for the same rows, header and options. Pages arrive as 8-bit
// grey or colour (raster_job.h says why) and are screened here to one bit
// per dot with the job's dither matrix, as PAPPL screens its own pages.
#ifndef QUILL_APP_DOT_DRIVER_H_
#define QUILL_APP_DOT_DRIVER_H_

#include <pappl/pappl.h>

#include "dot_host_job.h"
#include "drivers.h"

namespace quill_app {

// Sets the raster callbacks of `data` to this engine's.
void SetDotCallbacks(pappl_pr_driver_data_t* data);

// The job options quilldot acts on, from the job's vendor attributes (their
// defaults are the PPD defaults; options a model does not have are 0, as
// quilldot reads them for a queue without them).
quilldot::JobOptions DotJobOptions(const DriverSpec& driver, int num_vendor,
                                   const cups_option_t* vendor);

}  // namespace quill_app

#endif  // QUILL_APP_DOT_DRIVER_H_
