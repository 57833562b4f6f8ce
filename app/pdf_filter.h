// pdf_filter.h - PDF documents, rendered by Ghostscript into raster pages
// that go through the printer's raster callbacks like a PWG raster job.
#ifndef QUILL_APP_PDF_FILTER_H_
#define QUILL_APP_PDF_FILTER_H_

#include <pappl/pappl.h>

namespace quill_app {

// PAPPL's MIME filter for application/pdf: starts "gs" (found on PATH, or
// $QUILL_GS) with the job's resolution, page size and the raster type the
// driver takes, reads its PWG raster output and hands every page to the
// driver's raster callbacks. Returns false when Ghostscript cannot be run or
// fails, or the job was cancelled (Ghostscript is then stopped at once).
bool PdfFilter(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace quill_app

#endif  // QUILL_APP_PDF_FILTER_H_
