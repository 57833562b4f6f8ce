// page_canvas.h - the white page on which quillfilter places each raster
// page before handing it to the library.
//
// The canvas covers the whole sheet (cupsPageSize at the page's resolution);
// the raster covers only the imaging box, which lands at (x_off, y_off) with
// row 0 at the top of the sheet. Rows and pixels of the raster that fall
// outside the canvas are dropped, never written.
//
// Canvas formats, one per supported raster layout:
//   - one bit per pixel: a set bit is ink, most significant bit first (what
//     the library takes for one-bit pages); white is 0;
//   - eight bits per pixel: grey, 0 black and 255 white, with a grey-ramp
//     palette;
//   - 24 bits per pixel and more (8 bits per colour, chunked): the pixel's
//     first three bytes in reverse order, so RGB becomes blue, green, red in
//     memory; further bytes of a pixel stay 255. White is 255.
#ifndef QUILL_HOST_PAGE_CANVAS_H_
#define QUILL_HOST_PAGE_CANVAS_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <cups/raster.h>

#include "quill/libquill.h"

namespace quill_host {

enum class PixelLayout {
  kUnsupported,  // anything else: the page is skipped
  kOneBit,       // one colour, one bit per pixel
  kGrey8,        // one colour, eight bits per pixel
  kChunky,       // 8 bits per colour, chunked, 24 bits per pixel or more
};

// How the raster's pixels are stored, from the header's depth, colour order
// and colour space.
PixelLayout LayoutOf(const cups_page_header2_t& header);

// The stored 32-bit value of an enum-typed page header field (colour
// space, colour order, duplex ...). A header comes from the raster stream
// as it is, so such a field may hold any value, and loading one outside
// the enum's range as the enum is undefined behaviour: the bits are copied
// out instead.
template <typename Enum>
uint32_t StoredValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(uint32_t), "a 32-bit header field");
  uint32_t value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// True for one-colour spaces in which a high value means ink (K and the
// special inks); false for the luminance spaces W and SW and for values
// that name no colour space. `space` is a stored header value.
bool IsInkValued(uint32_t space);

// Where and how big the canvas of one page is.
struct PageGeometry {
  uint32_t width = 0;            // pixels per canvas row (page_width)
  uint32_t height = 0;           // canvas rows (page_height)
  uint32_t bits_per_pixel = 0;   // canvas depth, the raster's cupsBitsPerPixel
  uint32_t bytes_per_pixel = 0;  // bits_per_pixel / 8; 0 for one-bit canvases
  uint64_t pitch = 0;            // bytes per canvas row (page_pitch)
  uint64_t size = 0;             // pitch * height, computed without overflow
  int64_t x_off = 0;             // canvas pixel of the raster's first column
  int64_t y_off = 0;             // canvas row of the raster's first row
};

// Computes the geometry of `header`'s page. Sizes are taken in single
// precision and truncated toward zero: width = HWResolution[0] x
// cupsPageSize[0] / 72, height likewise. x_off comes from the left edge of
// cupsImagingBBox and y_off from its top edge (PostScript boxes count from
// the bottom of the sheet, so y_off = HWResolution[1] x (page height - box
// top) / 72); a box without height gives y_off from its bottom value (0 for
// a zero box: the raster starts at the top-left corner). Headers without
// float page sizes (version-1 style) use the integer PageSize and
// ImagingBoundingBox instead.
// Requires: LayoutOf(header) != kUnsupported and both resolutions non-zero.
// Sizes that do not fit the canvas's 32-bit width/height or int32 pitch give
// a geometry with size 0.
PageGeometry ComputeGeometry(const cups_page_header2_t& header);

// Unmaps canvas memory; `length` is the mapping's size in bytes.
struct CanvasDeleter {
  size_t length = 0;
  void operator()(uint8_t* p) const;
};
// The canvas memory: fresh zero-filled anonymous pages of its own mapping,
// released by CanvasDeleter when the owner goes.
using CanvasBuffer = std::unique_ptr<uint8_t[], CanvasDeleter>;

// Largest canvas the filter allocates: the library's page bound (1 GiB,
// QUILL_MAX_PAGE_BYTES in libquill.h), four times the largest sheet these
// printers take; a larger one would be refused by the library anyway.
constexpr uint64_t kMaxCanvasBytes = QUILL_MAX_PAGE_BYTES;

// Largest number of copies of one page: CUPS's default MaxCopies. The
// scheduler never asks for more; a raster that does is corrupt or hostile.
constexpr uint32_t kMaxCopies = 9999;

// Checks a page against the bounds of what any supported printer prints
// (the library's bounds, libquill.h): resolutions up to QUILL_MAX_RESOLUTION,
// a sheet (geo) and a raster (cupsWidth x cupsHeight) whose sides are at
// most QUILL_MAX_SIDE_MM long at their resolution, a canvas of at most
// QUILL_MAX_PAGE_PIXELS pixels and kMaxCanvasBytes bytes, raster rows of
// no more bytes than cupsWidth pixels of that side need, and at most
// kMaxCopies copies. Returns "" when the page is within them, otherwise the
// reason as one line without a line end. All products in 64 bits.
// Requires: geo = ComputeGeometry(header).
std::string PageBoundsProblem(const cups_page_header2_t& header, const PageGeometry& geo);

// Allocates `size` zeroed bytes; null when size is 0, above kMaxCanvasBytes
// or memory is short. A canvas of 2 MiB or more starts on a 2 MiB boundary
// and asks the kernel for transparent huge pages: the canvas is written
// whole once per page, and one fault per 2 MiB instead of one per 4 KiB
// takes most of the system time the first touch costs (the pages are
// zeroed by the kernel either way).
CanvasBuffer AllocateCanvas(uint64_t size);

// Fills the whole canvas with white for its layout.
void FillWhite(const PageGeometry& geo, PixelLayout layout, uint8_t* canvas);

// Fills canvas rows [first, end) with white for its layout.
// Requires: first <= end <= geo.height.
void FillWhiteRows(const PageGeometry& geo, PixelLayout layout, uint32_t first, uint32_t end,
                   uint8_t* canvas);

// The canvas row raster row `row` lands on, or -1 when it falls outside.
int64_t CanvasRowOf(const PageGeometry& geo, uint32_t row);

// Places one raster row (cupsWidth pixels in the header's layout) on canvas
// row `y_off + row`. Rows and pixels outside the canvas are dropped, and
// no pixel beyond the line's cupsBytesPerLine bytes is read.
// Requires: `line` holds header.cupsBytesPerLine bytes and `canvas`
// geo.size bytes.
void PlaceRow(const cups_page_header2_t& header, PixelLayout layout, const PageGeometry& geo,
              uint32_t row, const uint8_t* line, uint8_t* canvas);

// The colour table that goes with the canvas into RASTER_INFO.palette: a grey
// ramp for eight bits (entry i = grey i), white then black for one bit, all
// zero for deeper canvases.
void FillPalette(PixelLayout layout, uint32_t palette[256]);

}  // namespace quill_host

#endif  // QUILL_HOST_PAGE_CANVAS_H_
