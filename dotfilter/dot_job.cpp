// dot_job.cpp - quilldot's program flow: arguments, pages, copies, cancel.
#include "dot_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "dot_band.h"
#include "dot_commands.h"
#include "dot_options.h"
#include "dot_output.h"
#include "dot_page.h"
#include "dot_state.h"

namespace quilldot {
namespace {

constexpr unsigned kProgressRows = 128;  // a progress line every this many rows

void TraceHeader(const CUPS_PAGE_HEADER& h) {
  Trace("header->cupsWidth=%u,header->cupsHeight=%u\n", h.cupsWidth, h.cupsHeight);
  Trace("header->cupsMediaType=%u\n", h.cupsMediaType);
  Trace("header->cupsBitsPerColor=%u\n", h.cupsBitsPerColor);
  Trace("header->cupsBitsPerPixel=%u\n", h.cupsBitsPerPixel);
  Trace("header->cupsBytesPerLine=%u\n", h.cupsBytesPerLine);
  Trace("header->cupsRowCount=%u\n", h.cupsRowCount);
  Trace("header->cupsRowFeed=%u\n", h.cupsRowFeed);
  Trace("header->cupsRowStep=%u\n", h.cupsRowStep);
  Trace("HWResolution=%ux%u\n", h.HWResolution[0], h.HWResolution[1]);
  Trace("ModelNumber=%i\n", Model);
}

// The rows of a page kept for the copies after the first.
using PageStore = std::unique_ptr<uint8_t, decltype(&free)>;

// A zeroed store for every row of the page. calloc leaves untouched memory
// unmapped, so a header that claims a huge page costs only the rows that
// really arrive. Null when the size overflows or the memory is not there.
PageStore AllocatePageStore(const CUPS_PAGE_HEADER& h) {
  const size_t rows = h.cupsHeight;
  const size_t row_bytes = h.cupsBytesPerLine;
  if (row_bytes != 0 && rows > std::numeric_limits<size_t>::max() / row_bytes)
    return PageStore(nullptr, &free);
  // A page without rows still gets a (one-byte) store: calloc may answer a
  // request for nothing with null, which would look like a lack of memory.
  if (rows == 0 || row_bytes == 0) return PageStore(static_cast<uint8_t*>(calloc(1, 1)), &free);
  return PageStore(static_cast<uint8_t*>(calloc(rows, row_bytes)), &free);
}

// Reads and drops the rows of a page that is not printed, so that the next
// page header is read from where it starts. Rows are read in pieces of at
// most 64 KiB, so a refused page costs no buffer of its claimed row size.
void SkipRows(cups_raster_t* ras, const CUPS_PAGE_HEADER& h) {
  std::vector<uint8_t> piece(std::min<size_t>(h.cupsBytesPerLine, size_t{1} << 16));
  if (piece.empty()) return;
  while (!JobStopped() &&
         cupsRasterReadPixels(ras, piece.data(), static_cast<unsigned>(piece.size())) > 0) {
  }
}

enum class PageResult { kPrinted, kNoMemory, kNoPageBuffers };

PageResult PrintPage(cups_raster_t* ras, const ppd_file_t* ppd, const CUPS_PAGE_HEADER& h,
                     int page) {
  const unsigned copies = h.NumCopies;
  if (copies == 0) {
    SkipRows(ras, h);
    return PageResult::kPrinted;
  }
  PageStore store(nullptr, &free);
  if (copies > 1) {
    store = AllocatePageStore(h);
    if (!store) {
      Trace("Non enough memory for page!\n");
      return PageResult::kNoMemory;
    }
  }
  const size_t row_bytes = h.cupsBytesPerLine;
  // Rows the first copy got from the stream; the later copies print those
  // and no more, so a truncated page that claims billions of rows is not
  // printed billions of times over from its empty store.
  unsigned rows = h.cupsHeight;
  for (unsigned k = 1; k <= copies; ++k) {
    if (OutputError != 0) break;  // nothing can reach the printer any more
    Message("PAGE: %d, %u/%u copies\n", page, k, copies);
    if (!StartPage(ppd, &h)) return PageResult::kNoPageBuffers;
    for (unsigned y = 0; y < rows && !JobStopped(); ++y) {
      if (y % kProgressRows == 0)
        Message("INFO: Printing page %d, %d%% complete...\n", page,
                static_cast<int>(y * 100ULL / h.cupsHeight));
      if (k == 1) {
        if (cupsRasterReadPixels(ras, RowBuffer.data(), h.cupsBytesPerLine) == 0) {
          rows = y;
          break;
        }
        if (store) memcpy(store.get() + y * row_bytes, RowBuffer.data(), row_bytes);
      } else {
        memcpy(RowBuffer.data(), store.get() + y * row_bytes, row_bytes);
      }
      OutputLine(&h);
    }
    EndPage(&h);
  }
  return PageResult::kPrinted;
}

// The job itself; RunFilter wraps it with the state reset.
int RunJob(int argc, char* argv[], const DotIo& io) {
  if (argc < 6) {
    Message("Usage: %s job-id user title copies options [file]\n", "quilldot");
    return 1;
  }
  int fd = 0;
  bool own_fd = false;  // fd was opened here and is closed at the end
  if (io.in_fd >= 0) {
    fd = io.in_fd;
  } else if (argc >= 7) {
    fd = open(argv[6], O_RDONLY);
    own_fd = true;
    if (fd < 0) {
      Message("ERROR: Unable to open raster file - %s\n", strerror(errno));
      sleep(1);
      return 1;
    }
  }
  // A stream that delivers no page header (empty input included) is a job
  // without pages: it still gets its document start, end and reset.
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!ras) Message("DEBUG: No raster data in the input\n");
  Canceled = 0;
  signal(SIGTERM, CancelJob);
  // A printer stream whose reader went away must fail the write with EPIPE
  // (and give the job its ERROR line), not end the process without a word.
  signal(SIGPIPE, SIG_IGN);

  ppd_file_t* ppd = io.ppd_path ? ppdOpenFile(io.ppd_path) : nullptr;
  ReadCapabilities(ppd);

  StartDoc(argv[0], argv[5]);

  int status = 0;
  CUPS_PAGE_HEADER header;
  memset(&header, 0, sizeof header);
  int page = 0;
  while (cupsRasterReadHeader2(ras, &header)) {
    ++page;
    TraceHeader(header);
    if (JobStopped()) break;
    std::string why;
    if (!CheckPageHeader(Model, header, &why)) {
      // The page is dropped, the job goes on with the next one; the exit
      // status still tells that a page is missing.
      Message("ERROR: Unable to print page %d - %s\n", page, why.c_str());
      status = 1;
      SkipRows(ras, header);
      if (JobStopped()) break;
      continue;
    }
    const PageResult printed = PrintPage(ras, ppd, header, page);
    if (printed == PageResult::kNoPageBuffers) {
      // StartPage has said so; the rest of the job is not read.
      status = 1;
      break;
    }
    if (printed == PageResult::kNoMemory) {
      // The copies cannot be made and the rest of the job is not read, so
      // the job must not look finished.
      Message("ERROR: Not enough memory to keep page %d for %u copies\n", page, header.NumCopies);
      status = 1;
      break;
    }
    if (JobStopped()) break;
  }

  EndDoc(&header);
  Emit(EscReset());
  FlushOutput();
  if (OutputError != 0) {
    Message("ERROR: Unable to send print data to the printer - %s\n", strerror(OutputError));
    status = 1;
  }

  if (ppd) ppdClose(ppd);
  if (ras) cupsRasterClose(ras);
  if (own_fd) close(fd);
  if (status == 0) Message("INFO: Job %s finished.\n", argv[1]);
  return status;
}

}  // namespace

void CancelJob(int sig) { Canceled = 1; }

int RunFilter(int argc, char* argv[]) {
  DotIo io;
  io.ppd_path = getenv("PPD");
  return RunFilter(argc, argv, io);
}

int RunFilter(int argc, char* argv[], const DotIo& io) {
  ResetState();
  SetOutputStreams(io.out, io.err);
  // However the job ends, the page buffers go and the default streams come
  // back.
  struct Restore {
    ~Restore() {
      ResetState();
      SetOutputStreams(nullptr, nullptr);
    }
  } restore;
  if (!io.err) setbuf(MessageStream(), nullptr);
  return RunJob(argc, argv, io);
}

}  // namespace quilldot
