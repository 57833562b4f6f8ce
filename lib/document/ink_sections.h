// ink_sections.h - where the ink of a one-bit page is: ink per row, the
// content range and the vertical sections the page pipeline prints.
//
// Rows are one-bit lines, most significant bit first, a set bit is a dot;
// only the first `width` pixels of a row count (padding bits are ignored).
#ifndef QUILL_LIB_DOCUMENT_INK_SECTIONS_H_
#define QUILL_LIB_DOCUMENT_INK_SECTIONS_H_

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "quill/libquill.h"

// Set bits among the pixels [begin, end) of a one-bit row (counted through a
// 256-entry table of bit counts per byte). Requires begin <= end and the row
// to hold at least (end + 7) / 8 bytes.
uint32_t CountInkBits(const uint8_t* row, uint32_t begin, uint32_t end);

// Ink of every row of a one-bit raster (row y at img_p + y * pitch), one
// entry per row. Requires raster.bpp == 1 and a walkable raster.
std::vector<uint32_t> CountRowInk(const RASTER_INFO& raster);

// Ink totals of a two-plane raster: pixels below split_x are black, the
// rest red. Requires what CountRowInk requires and split_x <= width.
struct InkTotals {
  uint64_t black = 0;
  uint64_t red = 0;
};
InkTotals CountPlaneInk(const RASTER_INFO& raster, uint32_t split_x);

// Rows [top, bottom) hold the page's ink. `bottom` is one past the last row
// with ink, found scanning up from the last row without testing row 0 (so it
// is at least 1); `top` is the first row with ink, or `bottom` when there is
// none (a blank page gives top = bottom = 1).
struct ContentRange {
  uint32_t top = 0;
  uint32_t bottom = 0;
};
ContentRange FindContentRange(const std::vector<uint32_t>& row_ink);

// A vertical section: rows [first, second), end exclusive.
using Section = std::pair<uint32_t, uint32_t>;

// Every maximal run of rows with ink inside `range`, top to bottom.
std::deque<Section> FindSections(const std::vector<uint32_t>& row_ink, ContentRange range);

// Joins a section with the following ones as long as the joined span
// (next.second - current.first) is at most band_height rows; the blank rows
// between them become part of the section.
void MergeSections(std::deque<Section>& sections, uint32_t band_height);

#endif  // QUILL_LIB_DOCUMENT_INK_SECTIONS_H_
