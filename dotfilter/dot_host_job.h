// dot_host_job.h - a quilldot job driven row by row by a host instead of
// read from a CUPS raster stream.
//
// The printer application receives its pages as raster headers and rows
// from its own framework; it prints them through the same page, band and
// command functions that quilldot's job loop uses, so the same rows with the
// same header, PPD and options give the same printer bytes as quilldot.
//
// A HostJob lives on one thread: quilldot's job state is per thread
// (dot_state.h), so jobs on separate threads print at once without meeting,
// but one thread holds at most one HostJob at a time.
#ifndef QUILL_DOTFILTER_DOT_HOST_JOB_H_
#define QUILL_DOTFILTER_DOT_HOST_JOB_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include <cups/ppd.h>

#include "dot_state.h"

namespace quilldot {

// The five job options quilldot reads from the marked PPD choices, as the
// choice numbers (kOptionUnmarked, dot_options.h, for an option the PPD does
// not have).
struct JobOptions {
  int cutting;
  int drawer;
  int black_mark;
  int logo;
  int paper_type;
};

class HostJob {
 public:
  // Starts a job: clears this thread's job state, sends the printer bytes to
  // `printer` and the message lines to `messages` (both borrowed, open until
  // Finish), reads the printer's capabilities from the PPD at `ppd_path`
  // (null or unreadable: none, as quilldot without a PPD), takes `options`
  // as the marked choices, traces them and writes the job-start commands.
  HostJob(const char* ppd_path, const JobOptions& options, FILE* printer, FILE* messages);
  // Finishes the job if Finish was not called.
  ~HostJob();
  HostJob(const HostJob&) = delete;
  HostJob& operator=(const HostJob&) = delete;

  // Starts a page of `header` (one copy: NumCopies is not looked at).
  // Returns false, with the reason in *why, when quilldot would refuse the
  // page (CheckPageHeader) or its buffers cannot be had; the page is then
  // not printed and its rows must not be sent.
  bool StartPage(const CUPS_PAGE_HEADER& header, std::string* why);
  // Prints the next row of the started page: cupsBytesPerLine bytes of
  // `row`, borrowed for the call. Does nothing once the job is stopped.
  void WriteRow(const uint8_t* row);
  // Ends the started page (the rows still held, the page-end commands).
  void EndPage();

  // Stops the job as SIGTERM stops quilldot: rows after it are not printed.
  void Cancel() { Canceled = 1; }
  // True once the job is cancelled or its printer stream failed.
  bool stopped() const { return JobStopped(); }

  // Writes the job-end commands and the reset, flushes, and clears this
  // thread's job state. Returns 0, or 1 when the printer stream failed (with
  // an "ERROR: Unable to send print data to the printer" line) or a page was
  // refused. Later calls return the same status and do nothing.
  int Finish();

 private:
  ppd_file_t* ppd_ = nullptr;    // the printer's PPD, owned; may be null
  CUPS_PAGE_HEADER header_{};    // of the started page
  bool in_page_ = false;
  bool finished_ = false;
  int status_ = 0;
};

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_HOST_JOB_H_
