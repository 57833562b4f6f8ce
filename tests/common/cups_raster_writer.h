// cups_raster_writer.h - CUPS raster streams written (and read back) by the
// tests themselves.
//
// Tests describe pages as a page header plus the pixel rows of its imaging
// area and write them with libcupsimage (cupsRasterWriteHeader2 and
// cupsRasterWritePixels), so a filter under test reads exactly what CUPS
// would hand it.
#ifndef QUILL_TESTS_COMMON_CUPS_RASTER_WRITER_H_
#define QUILL_TESTS_COMMON_CUPS_RASTER_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace quill_test {

// One raster page: its header and cupsHeight rows of cupsBytesPerLine bytes.
struct RasterPage {
  cups_page_header2_t header;
  std::vector<uint8_t> pixels;  // row after row, top row first

  // Row `y` of the pixels. Requires: y < header.cupsHeight.
  uint8_t* Row(uint32_t y) { return pixels.data() + size_t{y} * header.cupsBytesPerLine; }
  const uint8_t* Row(uint32_t y) const {
    return pixels.data() + size_t{y} * header.cupsBytesPerLine;
  }
};

// Description of a page for MakePage. The imaging box defaults to the whole
// sheet; sizes are in points (1/72 inch) as in CUPS headers.
struct RasterPageSpec {
  float page_width_pt = 612.0f;   // cupsPageSize[0], PageSize[0]
  float page_height_pt = 792.0f;  // cupsPageSize[1], PageSize[1]
  // Imaging box: left, bottom, right, top in points from the bottom-left
  // corner of the sheet; a box with top <= bottom means the whole sheet.
  float box[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  unsigned x_res = 72;               // HWResolution[0]
  unsigned y_res = 72;               // HWResolution[1]
  unsigned bits_per_pixel = 24;      // 1, 8 (one colour) or 24, 32 (chunked)
  cups_cspace_t color_space = CUPS_CSPACE_RGB;  // for 24: RGB; for 1 and 8: W or K
  unsigned row_count = 0;            // cupsRowCount
  unsigned num_copies = 1;           // NumCopies
  bool duplex = false;               // Duplex
  // When non-zero, overrides the width/height in pixels that the box and
  // resolution give.
  unsigned width_px = 0;
  unsigned height_px = 0;
};

// A page of `spec` whose pixels are all `fill` (255: white for additive
// spaces). cupsWidth and cupsHeight are the imaging box at the page's
// resolution (truncated) unless width_px/height_px override them; cupsBytesPerLine,
// cupsBitsPerColor, cupsNumColors, ImagingBoundingBox and cupsImagingBBox
// are filled consistently, the colour order is chunked.
RasterPage MakePage(const RasterPageSpec& spec, uint8_t fill = 0xFF);

// Writes the pages as one CUPS raster stream (synchronised version-2 format)
// to the open descriptor `fd`, which stays open. Returns false when libcups
// refuses a header or the pixels.
bool WriteRaster(int fd, const std::vector<RasterPage>& pages);

// The same into a new file at `path`. Returns false on any failure.
bool WriteRasterFile(const std::string& path, const std::vector<RasterPage>& pages);

// Reads every page of the CUPS raster stream in the file at `path` (any
// format libcups reads) into `pages`. Returns false when the file cannot be
// opened or a page ends before all its rows were read; the pages read up to
// then are kept.
bool ReadRasterFile(const std::string& path, std::vector<RasterPage>* pages);

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_CUPS_RASTER_WRITER_H_
