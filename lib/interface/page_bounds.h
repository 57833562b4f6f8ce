// page_bounds.h - the size bounds the exported page functions enforce before
// any work or allocation is done for a page (QUILL_MAX_* in libquill.h).
#ifndef QUILL_LIB_INTERFACE_PAGE_BOUNDS_H_
#define QUILL_LIB_INTERFACE_PAGE_BOUNDS_H_

#include <cstdint>

#include "quill/libquill.h"

namespace quill_bounds {

// Null when a page of `width` x `height` pixels, `row_bytes` bytes from row
// to row, at x_res x y_res dpi lies within the bounds; otherwise the reason
// (static text). A zero resolution skips the side test of its direction
// (the page operations refuse it themselves). Products in 64 bits.
const char* PageProblem(uint32_t width, uint32_t height, uint64_t row_bytes, uint32_t x_res,
                        uint32_t y_res);

// PageProblem for a raster (row bytes |pitch|); on a problem writes the
// warning "raster refused: <reason> (<w>x<h> pixels, pitch <p>, <x>x<y> dpi)"
// and returns false.
bool RasterWithinBounds(const RASTER_INFO& raster);

}  // namespace quill_bounds

#endif  // QUILL_LIB_INTERFACE_PAGE_BOUNDS_H_
