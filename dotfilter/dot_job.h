// dot_job.h - quilldot's program flow: arguments, pages, copies, cancel.
#ifndef QUILL_DOTFILTER_DOT_JOB_H_
#define QUILL_DOTFILTER_DOT_JOB_H_

namespace quilldot {

// SIGTERM handler: only sets Canceled.
void CancelJob(int sig);

// Runs one job as a CUPS filter: argv is "queue job-id user title copies
// options [file]", the PPD comes from the environment variable PPD, the
// raster from the file or standard input. Printer bytes go to the printer
// stream, messages to the message stream (dot_output.h). Returns the exit
// status: 0 when the job was printed (or cancelled by SIGTERM), 1 for wrong
// arguments, unreadable input or a page that cannot be printed.
int RunFilter(int argc, char* argv[]);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_JOB_H_
