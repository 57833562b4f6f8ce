// dot_job.h - quilldot's program flow: arguments, pages, copies, cancel.
#ifndef QUILL_DOTFILTER_DOT_JOB_H_
#define QUILL_DOTFILTER_DOT_JOB_H_

#include <cstdio>

namespace quilldot {

// Where one job reads and writes. The defaults are what the program uses.
struct DotIo {
  int in_fd = -1;                  // raster stream; -1: argv[6] or standard input
  FILE* out = nullptr;             // printer bytes; null: standard output
  FILE* err = nullptr;             // message lines; null: standard error
  const char* ppd_path = nullptr;  // the queue's PPD; null: no PPD
};

// SIGTERM handler: only sets Canceled.
void CancelJob(int sig);

// Runs one job as a CUPS filter: argv is "queue job-id user title copies
// options [file]", the PPD comes from the environment variable PPD, the
// raster from the file or standard input. Printer bytes go to the printer
// stream, messages to the message stream (dot_output.h). Returns the exit
// status: 0 when the job was printed (or cancelled by SIGTERM), 1 for wrong
// arguments, unreadable input, a page that cannot be printed (it is skipped
// with an ERROR line and the job goes on) or a failed printer stream: a
// write or flush that fails (EPIPE when the backend went away, ENOSPC, ...)
// stops the job at the next row, nothing more is written, and the job ends
// with "ERROR: Unable to send print data to the printer - <error>". SIGPIPE
// is ignored so that such a write fails instead of killing the process.
// This form is RunFilter(argc, argv, io) with io.ppd_path = getenv("PPD")
// and the other members at their defaults.
int RunFilter(int argc, char* argv[]);

// Runs one job with the streams and PPD of io; returns the exit status as
// above.
//
// In-process use (tests, fuzzers): quilldot keeps its job in per-thread
// variables (dot_state.h); every call starts by resetting all of them to
// their state in a fresh process (cancellation flag and printer-stream
// error included; SIGTERM handled and SIGPIPE ignored in the host) and ends by
// releasing the page buffers and restoring the default streams, so repeated
// calls in one process behave like separate processes. Requires: argv holds
// argc non-null strings. When io.in_fd >= 0 the raster is read from it
// instead of argv[6] or standard input; the descriptor stays the caller's
// (read, never closed). io.out and io.err are borrowed and must stay open
// for the call; with io.err null, standard error is made unbuffered as the
// program does. The SIGTERM handler is installed by every call.
int RunFilter(int argc, char* argv[], const DotIo& io);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_JOB_H_
