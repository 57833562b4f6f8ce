#include "document/trad_page.h"

#include <algorithm>
#include <vector>

#include "support/log.h"

namespace trad_page {

ContentRange MeasureContent(const RASTER_INFO& mono) {
  const std::vector<uint32_t> row_ink = CountRowInk(mono);
  uint64_t total = 0;
  for (uint32_t n : row_ink) total += n;
  quill_log::Debug("ink covering ratio: %.2f%%",
                   static_cast<double>(total) * 100.0 / mono.width / mono.height);
  const ContentRange range = FindContentRange(row_ink);
  quill_log::Debug("content vertical range: %u-%u", range.top, range.bottom);
  return range;
}

void CheckShingling(uint16_t mode) {
  quill_log::Debug("shingling: %u", mode);
  // A host may ask for any mode; printing nothing would lose the page, so
  // the page goes out unshingled.
  if (mode != SHINGLING_NONE) quill_log::Warning("unsupported shingling");
}

void PrintRows(PageProcessInk1& pp, const RASTER_INFO& mono, ContentRange range,
               bool unidirectional, bool flush_feed, CancelPoll* cancel) {
  pp.StartPage();
  pp.OutputFeedGfx(range.top);
  if (unidirectional) pp.OutputDirection(1);
  quill_log::Debug("<0>%u-%u[%u]", range.top, range.bottom, range.bottom - range.top);
  const uint8_t* row = mono.img_p + static_cast<int64_t>(range.top) * mono.pitch;
  for (uint32_t y = range.top; y < range.bottom; ++y, row += mono.pitch) {
    if (cancel != nullptr && cancel->Stop()) break;
    pp.OutputLine(row, true);
  }
  pp.FlushLines(flush_feed);
  pp.EndPage();
}

void SwapPlanes(RASTER_INFO& mono) {
  const uint32_t half = mono.width / 2;
  if (half == 0) return;
  const uint32_t bytes = (mono.width + 7) / 8;
  std::vector<uint8_t> out(bytes);
  if (half % 8 == 0) {
    // Planes on byte boundaries: exchange whole bytes.
    const uint32_t half_bytes = half / 8;
    uint8_t* row = mono.img_p;
    for (uint32_t y = 0; y < mono.height; ++y, row += mono.pitch) {
      std::copy(row + half_bytes, row + 2 * half_bytes, out.begin());
      std::copy(row, row + half_bytes, out.begin() + half_bytes);
      std::copy(out.begin(), out.begin() + 2 * half_bytes, row);
    }
    return;
  }
  auto bit = [](const uint8_t* row, uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1u; };
  uint8_t* row = mono.img_p;
  for (uint32_t y = 0; y < mono.height; ++y, row += mono.pitch) {
    std::fill(out.begin(), out.end(), 0);
    for (uint32_t x = 0; x < 2 * half; ++x) {
      const uint32_t from = x < half ? x + half : x - half;
      if (bit(row, from) != 0) out[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
    }
    std::copy(out.begin(), out.end(), row);
  }
}

}  // namespace trad_page
