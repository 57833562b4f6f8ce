// dot_page.h - page geometry, header checks and the page and job commands.
#ifndef QUILL_DOTFILTER_DOT_PAGE_H_
#define QUILL_DOTFILTER_DOT_PAGE_H_

#include <cstdint>
#include <string>

#include <cups/ppd.h>

#include "dot_state.h"

namespace quilldot {

// How a page of a model is printed.
struct PageGeometry {
  int dot_bytes;    // bytes per band column; 0 selects raster mode
  int dot_columns;  // chunk width of model 10, else 0
  int interleaved;  // two passes of alternate rows
  int num_planes;   // colour planes of a raster row
};

// The geometry StartPage sets up for header on printer model `model`.
PageGeometry GetPageGeometry(int model, const CUPS_PAGE_HEADER& header);

// Bounds of a page any printer quilldot drives can print. No such printer
// takes a sheet with a side over 2 m or prints finer than 2880 dpi (the
// finest of them print 720 dpi, the widest forms are 14.875 inch); a page
// store of 1 GiB is fifty times the largest page they print, and CUPS never
// asks for more than 9999 copies (its default MaxCopies). quillfilter and
// libquillcore use the same figures.
constexpr unsigned kMaxResolution = 2880;             // dpi, each direction
constexpr unsigned kMaxSideMm = 2000;                 // longest side of a sheet
constexpr uint64_t kMaxPageBytes = uint64_t{1} << 30;  // cupsHeight x cupsBytesPerLine
constexpr unsigned kMaxCopies = 9999;

// Checks that header describes a page within the bounds above and fits the
// buffers and commands quilldot builds from it: resolutions up to
// kMaxResolution, sides (cupsWidth, cupsHeight) up to kMaxSideMm at their
// resolution (at kMaxResolution for a zero one, which bands allow), at most
// kMaxPageBytes of rows and kMaxCopies copies; bands need a row large enough
// for the pixels they read and feeds that fit ESC J; raster lines need
// non-zero resolutions and lines the commands can carry; every page needs a
// width and row size within sane limits. Products in 64 bits.
// Returns true when the page can be printed; otherwise false with the
// reason (one line, no newline) in *why.
bool CheckPageHeader(int model, const CUPS_PAGE_HEADER& header, std::string* why);

// Writes the page set-up commands and prepares the page buffers; returns
// true. ppd may be nullptr. On allocation failure writes "ERROR: Unable to
// allocate memory!", flushes and returns false: the page cannot be printed
// (its set-up commands are out; the caller ends the job with EndDoc, so the
// printer still gets its job end and reset, and a host process lives on).
// Requires CheckPageHeader to accept header.
bool StartPage(const ppd_file_t* ppd, const CUPS_PAGE_HEADER* header);

// Prints the rows still held, writes the page-end commands (form feed,
// cutter, receipt page end), flushes and releases the page buffers.
void EndPage(const CUPS_PAGE_HEADER* header);

// Writes the job-end commands: cutter, drawer, black mark, the 24-pin job
// bracket. header may be nullptr.
void EndDoc(const CUPS_PAGE_HEADER* header);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_PAGE_H_
