// dot_host_job.cpp - a quilldot job driven row by row by a host.
#include "dot_host_job.h"

#include <cerrno>
#include <cstring>

#include "dot_band.h"
#include "dot_commands.h"
#include "dot_options.h"
#include "dot_output.h"
#include "dot_page.h"

namespace quilldot {

HostJob::HostJob(const char* ppd_path, const JobOptions& options, FILE* printer,
                 FILE* messages) {
  ResetState();
  SetOutputStreams(printer, messages);
  ppd_ = ppd_path != nullptr ? ppdOpenFile(ppd_path) : nullptr;
  ReadCapabilities(ppd_);
  CuttingMethod = options.cutting;
  DrawerMethod = options.drawer;
  BlackMarkMethod = options.black_mark;
  LogoMethod = options.logo;
  PaperType = options.paper_type;
  TraceJobOptions();
  WriteJobStartCommands();
}

HostJob::~HostJob() { Finish(); }

bool HostJob::StartPage(const CUPS_PAGE_HEADER& header, std::string* why) {
  if (finished_ || in_page_) {
    *why = "the job cannot take a page now";
    return false;
  }
  if (JobStopped()) {
    *why = "the job is stopped";
    return false;
  }
  if (!CheckPageHeader(Model, header, why)) {
    status_ = 1;
    return false;
  }
  header_ = header;
  if (!quilldot::StartPage(ppd_, &header_)) {
    *why = "not enough memory for the page";
    status_ = 1;
    return false;  // what was had is released by Finish

  }
  in_page_ = true;
  return true;
}

void HostJob::WriteRow(const uint8_t* row) {
  if (!in_page_ || JobStopped()) return;
  std::memcpy(RowBuffer.data(), row, header_.cupsBytesPerLine);
  OutputLine(&header_);
}

void HostJob::EndPage() {
  quilldot::EndPage(&header_);
  in_page_ = false;
}

int HostJob::Finish() {
  if (finished_) return status_;
  finished_ = true;
  if (in_page_) EndPage();
  EndDoc(&header_);
  Emit(EscReset());
  FlushOutput();
  if (OutputError != 0) {
    Message("ERROR: Unable to send print data to the printer - %s\n", strerror(OutputError));
    status_ = 1;
  }
  if (ppd_ != nullptr) ppdClose(ppd_);
  ppd_ = nullptr;
  ResetState();
  SetOutputStreams(nullptr, nullptr);
  return status_;
}

}  // namespace quilldot
