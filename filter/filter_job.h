// filter_job.h - the main loop of quillfilter.
//
//   quillfilter job-id user title copies options [file]
//
// Reads CUPS raster pages from `file` or standard input, places each page on
// a white canvas of the full sheet, picks the library's document processor
// by the PPD's model number and the CustomColorMode option, composes the
// option string and hands every page and copy to the library. Printer bytes
// go to the output stream, messages to the log stream in the CUPS format
// (cups_log.h). SIGTERM stops the job at the next page, copy, raster row
// (while a page is read onto its canvas; the rest of that page is neither
// read nor sent) or end of page, and inside the library's page work through
// the request-exit callback; the document is still ended and released.
//
// A failed write of printer bytes (the backend went away: EPIPE, ENOSPC,
// ...) stops the job like a cancellation, inside the library's page too;
// no further byte is written, the document is still ended and released, and
// the job ends with "ERROR: [quillfilter] Unable to send print data to the
// printer - <error>". SIGPIPE is ignored so that such a write fails instead
// of killing the process silently.
//
// Exit status: 0 after a completed or cancelled job, 1 for a usage error, a
// raster file that cannot be opened or a failed printer stream.
#ifndef QUILL_FILTER_FILTER_JOB_H_
#define QUILL_FILTER_FILTER_JOB_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include "doc_job.h"
#include "quill/libquill.h"

namespace quill_filter {

// The document interface and the option composing live in host/, shared
// with the printer application.
using quill_host::DocApi;

// Everything the loop uses from its surroundings.
struct FilterIo {
  FILE* out = stdout;            // printer bytes
  FILE* err = stderr;            // message lines
  const char* ppd_path = nullptr;  // the queue's PPD (environment PPD), may be null
  const DocApi* api = nullptr;   // required
  int in_fd = -1;                // raster stream; -1: argv[6] or standard input
};

// Runs one job; returns the exit status. Sets up logging on io.err first
// (init_log), installs the SIGTERM handler, and leaves output flushed.
//
// In-process use (tests, fuzzers): the call is self-contained and may be
// repeated in one process; each call behaves like a fresh quillfilter
// process (it leaves SIGTERM handled and SIGPIPE ignored in the host).
// Requires: argv holds argc non-null strings (at least 6 for a job);
// io.api is set; io.out and io.err stay open for the call, and io.err until
// the "quill" logger is dropped or redirected (init_log). When io.in_fd >= 0
// the raster is read from it instead of argv[6] or standard input; the
// descriptor stays the caller's (it is read, never closed), so a pipe, memfd
// or file positioned at the stream's start will do. The cancellation flag
// and the printer-stream error are cleared at the start of every call;
// units, options and the document handle live only for the call, and
// everything the call allocates is released before it returns. The
// destination named by argv[0] is looked up on the print server
// (CUPS_SERVER) like the program does.
int RunFilter(int argc, char* argv[], const FilterIo& io);

}  // namespace quill_filter

// Write callback of the job: writes `len` bytes to the stdio stream `hdl`
// and returns the count written; 0 at once for an empty write. A short
// write records its errno for the job (see RunFilter); every later call
// then writes nothing and returns 0, and check_if_exit asks to stop.
int default_write(void* hdl, const void* data, unsigned int len);

// Request-exit callback: nonzero once the job is cancelled or its printer
// stream has failed. `param` is the address of the cancellation flag.
int check_if_exit(void* param);

// SIGTERM handler: marks the job cancelled.
void CancelJob(int sig);

#endif  // QUILL_FILTER_FILTER_JOB_H_
