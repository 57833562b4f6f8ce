// library_driver.h - PAPPL's raster callbacks for the families libquillcore
// prints: the serial inkjets and the 24-pin printer as quillfilter drives
// them, the page-language inkjet and the thermal printer.
//
// Every job gets a document of its own (quill_host::DocumentJob) and a
// canvas per page; nothing is shared between jobs, so printers print on
// their own threads at once. A cancelled job stops inside the library's page
// loops through the request-exit callback.
#ifndef QUILL_APP_LIBRARY_DRIVER_H_
#define QUILL_APP_LIBRARY_DRIVER_H_

#include <pappl/pappl.h>

#include "doc_job.h"
#include "drivers.h"

namespace quill_app {

// Sets the raster callbacks of `data` to this engine's.
void SetLibraryCallbacks(pappl_pr_driver_data_t* data);

// The library settings of a job: quillfilter's for the serial inkjets
// (colour mode 2, black and red, when the job asks for colour on a colour
// model) and the 24-pin printer (dual colour unless the job asks for
// monochrome), with the job's shingling and gamma; the page-language
// inkjet's quality and grey; the thermal printer's printable width. The
// defaults give exactly quillfilter's option string.
quill_host::DocSettings LibrarySettings(const DriverSpec& driver,
                                        const pappl_pr_options_t& options);

}  // namespace quill_app

#endif  // QUILL_APP_LIBRARY_DRIVER_H_
