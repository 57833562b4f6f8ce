// trad_test_util.h - pages and drivers shared by the thermal and 24-pin
// tests: random one-bit pages with realistic runs and gaps, a page driver
// that calls a page processor the way the document processors do, and the
// plain (bit by bit) forms of the band packing used as reference models.
#ifndef QUILL_TESTS_COMMON_TRAD_TEST_UTIL_H_
#define QUILL_TESTS_COMMON_TRAD_TEST_UTIL_H_

#include <cstdint>
#include <random>
#include <vector>

#include "bands/page_process_ink1.h"
#include "common/recording_writer.h"
#include "preview/bit_image_decoder.h"

namespace trad_test {

using quillpreview::BitPage;
using quill_test::Bytes;

// A page of runs: every row gets a few horizontal runs of dots of random
// length at random places, some rows stay blank, and some columns stretches
// stay blank across the page so positioned output has gaps to skip.
inline BitPage RandomPage(uint32_t width, uint32_t height, uint32_t seed, double fill = 0.3) {
  BitPage page(width, height);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<uint32_t> col(0, width == 0 ? 0 : width - 1);
  std::uniform_int_distribution<uint32_t> run_len(1, 40);
  for (uint32_t y = 0; y < height; ++y) {
    if (unit(rng) > fill * 2.5) continue;
    const int runs = 1 + static_cast<int>(rng() % 4);
    for (int r = 0; r < runs; ++r) {
      const uint32_t x0 = col(rng);
      const uint32_t len = run_len(rng);
      for (uint32_t x = x0; x < width && x < x0 + len; ++x) {
        // Single dots and short blank stretches inside runs.
        if (unit(rng) < 0.85) page.Set(x, y);
      }
    }
  }
  return page;
}

// Runs page rows [top, page.height) through `proc` as the document
// processors do: StartPage, a feed to the first row, every row with
// AutoFeed, FlushLines(flush_feed), EndPage.
inline void DrivePage(PageProcessInk1& proc, const BitPage& page, uint32_t top, bool flush_feed) {
  proc.StartPage();
  proc.OutputFeedGfx(top);
  for (uint32_t y = top; y < page.height; ++y) proc.OutputLine(page.Row(y), true);
  proc.FlushLines(flush_feed);
  proc.EndPage();
}

// Band buffer of rows [y0, y0 + rows) of `page` (column-major, top row in
// bit 7 of each column's first byte), built bit by bit; rows past the page
// stay blank. Columns [x0, x0 + width).
inline Bytes PackBand(const BitPage& page, uint32_t y0, uint32_t rows, uint32_t x0 = 0,
                      uint32_t width = ~0u) {
  if (width == ~0u) width = page.width;
  const uint32_t bytes = (rows + 7) / 8;
  Bytes band(static_cast<size_t>(width) * bytes, 0);
  for (uint32_t c = 0; c < width; ++c) {
    for (uint32_t k = 0; k < rows && y0 + k < page.height; ++k) {
      if (x0 + c < page.width && page.Get(x0 + c, y0 + k)) {
        band[static_cast<size_t>(c) * bytes + k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
      }
    }
  }
  return band;
}

// Columns up to the last one with a nonzero byte, column by column.
inline uint32_t PlainContentWidth(const Bytes& band, uint32_t bytes) {
  const uint32_t columns = static_cast<uint32_t>(band.size() / bytes);
  for (uint32_t c = columns; c > 0; --c) {
    for (uint32_t i = 0; i < bytes; ++i) {
      if (band[static_cast<size_t>(c - 1) * bytes + i] != 0) return c;
    }
  }
  return 0;
}

inline bool PlainColumnInked(const Bytes& band, uint32_t bytes, uint32_t c) {
  for (uint32_t i = 0; i < bytes; ++i) {
    if (band[static_cast<size_t>(c) * bytes + i] != 0) return true;
  }
  return false;
}

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// Feed commands of OutputFeed(units): 1B 4A n, at most 255 a command.
inline Bytes FeedBytes(uint32_t units) {
  Bytes out;
  if (units == 0) return {0x1B, 0x4A, 0x00};
  while (units > 0) {
    const uint32_t step = units > 255 ? 255 : units;
    Append(out, {0x1B, 0x4A, static_cast<uint8_t>(step)});
    units -= step;
  }
  return out;
}

// 1B 2A m nL nH.
inline Bytes BitImageHeader(uint8_t mode, uint32_t columns) {
  return {0x1B, 0x2A, mode, static_cast<uint8_t>(columns & 0xFF),
          static_cast<uint8_t>((columns >> 8) & 0xFF)};
}

// 1B 24 nL nH.
inline Bytes Position(uint32_t units) {
  return {0x1B, 0x24, static_cast<uint8_t>(units & 0xFF), static_cast<uint8_t>(units >> 8)};
}

// The data bytes of columns [first, first + count).
inline Bytes Columns(const Bytes& band, uint32_t bytes, uint32_t first, uint32_t count) {
  return Bytes(band.begin() + static_cast<long>(first) * bytes,
               band.begin() + static_cast<long>(first + count) * bytes);
}

}  // namespace trad_test

#endif  // QUILL_TESTS_COMMON_TRAD_TEST_UTIL_H_
