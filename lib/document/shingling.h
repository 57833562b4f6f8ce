// shingling.h - the order in which a one-bit page reaches the band
// generator: whole sections (mode 0), or interleaved head passes that each
// print part of the dots of the rows they cover (modes 1 to 5).
//
// Paper position is tracked by the feeds alone: lines sent with AutoFeed
// advance the head by the lines of each band; masked passes are flushed
// without feeding and followed by explicit feeds.
//
// What every mode guarantees (for band heights large enough for the mode,
// see RunShingling): no pass reads a row outside the raster; every dot of the
// content rows is printed, exactly once in modes 0, 1, 2, 3 and 5, exactly
// twice in mode 4 (its four phases use two complementary patterns).
#ifndef QUILL_LIB_DOCUMENT_SHINGLING_H_
#define QUILL_LIB_DOCUMENT_SHINGLING_H_

#include <array>
#include <cstdint>
#include <deque>

#include "bands/page_process_ink1.h"
#include "document/ink_sections.h"
#include "quill/libquill.h"
#include "support/cancel.h"

// Checkerboard masks of the half-band modes: row r of a pass with parity
// `odd` keeps the pixels of byte [2 * odd + r % 2].
inline constexpr std::array<uint8_t, 4> kHalfBandMasks = {0xAA, 0x55, 0x55, 0xAA};
// Masks of mode 4: row r in phase p keeps byte [4 * p + r % 4]; phases 0 and
// 2, and 1 and 3, use the same pattern.
inline constexpr std::array<uint8_t, 16> kQuarterBandMasks = {
    0xAA, 0x55, 0xAA, 0x55, 0x55, 0xAA, 0x55, 0xAA,
    0xAA, 0x55, 0xAA, 0x55, 0x55, 0xAA, 0x55, 0xAA};
// Diagonal masks of mode 5: for one row position the four phases' bytes are
// disjoint and together keep every pixel.
inline constexpr std::array<uint8_t, 16> kDiagonalMasks = {
    0x88, 0x44, 0x22, 0x11, 0x44, 0x22, 0x11, 0x88,
    0x22, 0x11, 0x88, 0x44, 0x11, 0x88, 0x44, 0x22};

// What the page pipeline tells the shingling step about the job.
struct ShinglingJob {
  uint16_t mode = SHINGLING_NONE;  // CONV_PARAM2.shingling
  uint32_t band_height = 0;        // raster rows per head pass (>= 1)
  bool prefer_unidir = false;      // ask for unidirectional printing
  bool band_hint = false;          // write a band hint before sections and passes
  write_callback wr_cb = nullptr;  // receives the band hints (the job's callback)
  void* wr_hdl = nullptr;          // first argument of wr_cb
  CancelPoll* cancel = nullptr;    // counts every line sent; may be null
};

// Writes the band hint through job.wr_cb in four calls: 1B 1D 1E 13 01; the
// height in vertical command units (rows * pp.m_YUnit / pp.m_YRes) as a
// 16-bit little-endian number; `mask`; 1B 1D 1F.
void WriteBandHint(const ShinglingJob& job, const PageProcessInk1& pp, uint32_t rows, uint8_t mask);

// Sends one page through `pp`: StartPage, the lines, feeds and flushes of
// the mode, EndPage. `page` is the one-bit page (row y at img_p + y * pitch,
// at least (width + 7) / 8 bytes a row, rows [0, height)); `range` and
// `sections` come from FindContentRange and MergeSections.
// Requires job.band_height >= 1. A mode outside 0..5 prints as mode 0 with a
// warning; a band too short for the mode's division (below 2 rows for modes
// 1 to 3, below 4 for modes 4 and 5) prints as mode 0.
// When job.cancel asks to stop, no further line, flush, feed, direction or
// hint is sent; EndPage still is, so the sheet is ejected.
void RunShingling(PageProcessInk1& pp, const RASTER_INFO& page, ContentRange range,
                  const std::deque<Section>& sections, const ShinglingJob& job);

#endif  // QUILL_LIB_DOCUMENT_SHINGLING_H_
