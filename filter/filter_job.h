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

#include "quill/libquill.h"

namespace quill_filter {

// The library's document functions the loop calls. The program passes the
// exported ones (doc_api.h); tests may pass recording stand-ins.
struct DocApi {
  void* (*get_object)(const char* name, const CONV_PARAM2* param);
  void (*start_doc2)(void* obj, const CONV_PARAM2* param);
  int (*process_page2)(void* obj, const CONV_PARAM2* param, const RASTER_INFO* raster);
  void (*end_doc)(void* obj);
  void (*release)(void* obj);
};

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

// Name of the document processor for a PPD model number and colour mode:
// "DocumentProcessDot24" for model 1, else "DocumentProcessInk3" for colour
// mode 2, else "DocumentProcessInk1".
const char* ProcessorName(int model, int color_mode);

// The option string before the first page: for model 1
// "dither=2:dual_color=1", otherwise
// "use_locpos=1:gamma=2.2:dither=2:band_hint=1" with ":dup_red=1" added for
// colour mode 2.
std::string BaseOptions(int model, int color_mode);

// Appends the start-of-document command for a pass at vertical resolution
// `y_res`: the short form (without 1B 78 03) when y_res is above 399 or the
// long form was appended before, the long form otherwise.
void AppendStartDoc(std::string& options, unsigned y_res);

// Appends ":duplex=1" for a duplex page, once per job.
void AppendDuplex(std::string& options, bool duplex);

// Command units for a page's cupsRowCount: 24 gives 360 x 360, 896 and 1000
// give 1440 x 1440; any other value leaves the units as they are.
void UnitsForRowCount(unsigned row_count, uint16_t& x_unit, uint16_t& y_unit);

// Page length in y_unit units of a canvas of `height` rows at `y_res` dpi,
// truncated; saturates at UINT32_MAX. Requires: y_res != 0.
uint32_t PageLengthUnits(uint16_t y_unit, uint32_t height, unsigned y_res);

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
