// quillfilter: CUPS raster filter for the serial inkjet and 24-pin printers
// served by libquillcore. See filter_job.h for the command line.

#include <cstdio>
#include <cstdlib>

#include "doc_api.h"
#include "filter_job.h"

int main(int argc, char* argv[]) {
  quill_filter::FilterIo io;
  io.out = stdout;
  io.err = stderr;
  io.ppd_path = std::getenv("PPD");
  io.api = &quill_filter::LibraryApi();
  return quill_filter::RunFilter(argc, argv, io);
}
