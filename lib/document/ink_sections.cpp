#include "document/ink_sections.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<uint8_t, 256> MakeBitCounts() {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int n = 0;
    for (int b = 0; b < 8; ++b) n += (v >> b) & 1;
    t[v] = static_cast<uint8_t>(n);
  }
  return t;
}
constexpr std::array<uint8_t, 256> kBitCounts = MakeBitCounts();

// Mask of the pixels [from, to) within one byte (0 <= from < to <= 8).
uint8_t BitsOfByte(uint32_t from, uint32_t to) {
  return static_cast<uint8_t>((0xFFu >> from) & (0xFFu << (8 - to)));
}

}  // namespace

uint32_t CountInkBits(const uint8_t* row, uint32_t begin, uint32_t end) {
  if (begin >= end) return 0;
  uint32_t first_byte = begin / 8;
  const uint32_t last_byte = (end - 1) / 8;
  if (first_byte == last_byte) {
    return kBitCounts[row[first_byte] & BitsOfByte(begin % 8, (end - 1) % 8 + 1)];
  }
  uint32_t n = 0;
  if (begin % 8 != 0) {
    n += kBitCounts[row[first_byte] & BitsOfByte(begin % 8, 8)];
    ++first_byte;
  }
  const uint32_t whole_end = end / 8;  // bytes below it lie wholly in range
  for (uint32_t i = first_byte; i < whole_end; ++i) n += kBitCounts[row[i]];
  if (end % 8 != 0) n += kBitCounts[row[whole_end] & BitsOfByte(0, end % 8)];
  return n;
}

std::vector<uint32_t> CountRowInk(const RASTER_INFO& raster) {
  std::vector<uint32_t> rows(raster.height);
  const uint8_t* row = raster.img_p;
  for (uint32_t y = 0; y < raster.height; ++y, row += raster.pitch) {
    rows[y] = CountInkBits(row, 0, raster.width);
  }
  return rows;
}

InkTotals CountPlaneInk(const RASTER_INFO& raster, uint32_t split_x) {
  InkTotals t;
  const uint8_t* row = raster.img_p;
  for (uint32_t y = 0; y < raster.height; ++y, row += raster.pitch) {
    t.black += CountInkBits(row, 0, split_x);
    t.red += CountInkBits(row, split_x, raster.width);
  }
  return t;
}

ContentRange FindContentRange(const std::vector<uint32_t>& row_ink) {
  ContentRange r;
  r.bottom = 1;
  for (size_t y = row_ink.size(); y-- > 1;) {
    if (row_ink[y] != 0) {
      r.bottom = static_cast<uint32_t>(y + 1);
      break;
    }
  }
  r.top = r.bottom;
  for (size_t y = 0; y < row_ink.size(); ++y) {
    if (row_ink[y] != 0) {
      r.top = static_cast<uint32_t>(y);
      break;
    }
  }
  return r;
}

std::deque<Section> FindSections(const std::vector<uint32_t>& row_ink, ContentRange range) {
  std::deque<Section> sections;
  const uint32_t end = std::min<uint32_t>(range.bottom, static_cast<uint32_t>(row_ink.size()));
  uint32_t y = range.top;
  while (y < end) {
    if (row_ink[y] == 0) {
      ++y;
      continue;
    }
    const uint32_t first = y;
    while (y < end && row_ink[y] != 0) ++y;
    sections.emplace_back(first, y);
  }
  return sections;
}

void MergeSections(std::deque<Section>& sections, uint32_t band_height) {
  size_t i = 0;
  while (i + 1 < sections.size()) {
    if (sections[i + 1].second - sections[i].first <= band_height) {
      sections[i].second = sections[i + 1].second;
      sections.erase(sections.begin() + static_cast<std::ptrdiff_t>(i + 1));
    } else {
      ++i;
    }
  }
}
