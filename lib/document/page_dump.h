// page_dump.h - image dumps of pages and intermediate images for diagnosis.
#ifndef QUILL_LIB_DOCUMENT_PAGE_DUMP_H_
#define QUILL_LIB_DOCUMENT_PAGE_DUMP_H_

#include <cstdint>
#include <string>

#include <FreeImage.h>

#include "quill/libquill.h"

// Formats the caller's dump-name format with the page count. Only the first
// integer conversion (%u, %d, %i, %x, %X or %o, with optional flags, a width
// and precision of at most two digits, and an optional length modifier hh,
// h, l, ll, z, j or t, which does not narrow the count) receives `count`;
// "%%" gives '%'; every other '%' sequence is copied literally. The result
// is cut to at most 1023 bytes.
std::string FormatDumpName(const std::string& format, uint32_t count);

// The dump path of a formatted name: the name itself when absolute, else
// "/tmp/" + name.
std::string DumpPath(const std::string& name);

// Writes `raster` to `path` in the format of the path's extension (PNG with
// best speed, TIFF with deflate), one-bit rasters with 0 white and 1 black,
// the resolution stored in dots per metre. Nothing is written when the
// raster cannot be wrapped; a failing save is not reported.
void DumpRasterToFile(const RASTER_INFO* raster, const std::string& path);

// Saves a copy of `dib`, flipped to top-down, as "/tmp/<tag>.tif". The
// caller's bitmap is unchanged.
void save_temp_image(FIBITMAP* dib, const char* tag);

#endif  // QUILL_LIB_DOCUMENT_PAGE_DUMP_H_
