// band_test_util.h - pages of one-bit lines for the band generator tests.
#ifndef QUILL_TESTS_BANDS_BAND_TEST_UTIL_H_
#define QUILL_TESTS_BANDS_BAND_TEST_UTIL_H_

#include <cstdint>
#include <random>
#include <vector>

#include "common/recording_writer.h"
#include "preview/band_decoder.h"

namespace quill_test {

// The band decoder is quillpreview's; the band tests name its types as
// their own.
using quillpreview::BandCmd;
using quillpreview::BandGeometry;
using quillpreview::DecodeBands;
using quillpreview::DecodedBands;
using quillpreview::DecodedCommand;
using quillpreview::DoubleDot;
using quillpreview::DotPlane;

// Lines of `width` pixels, (width + 7) / 8 bytes each, MSB first.
struct TestPage {
  uint32_t width = 0;
  std::vector<Bytes> lines;

  TestPage(uint32_t w, uint32_t height) : width(w), lines(height, Bytes((w + 7) / 8, 0)) {}

  void Set(uint32_t row, uint32_t col) {
    lines[row][col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
  }
  bool Dot(uint32_t row, uint32_t col) const {
    return (lines[row][col / 8] & (0x80 >> (col % 8))) != 0;
  }
  // Sets each dot with probability `density`.
  void Randomize(std::mt19937& rng, double density) {
    std::bernoulli_distribution dot(density);
    for (uint32_t r = 0; r < lines.size(); ++r) {
      for (uint32_t c = 0; c < width; ++c) {
        if (dot(rng)) Set(r, c);
      }
    }
  }
  // Fills columns [c0, c1) of rows [r0, r1) with dots.
  void Fill(uint32_t r0, uint32_t r1, uint32_t c0, uint32_t c1) {
    for (uint32_t r = r0; r < r1; ++r) {
      for (uint32_t c = c0; c < c1; ++c) Set(r, c);
    }
  }
  uint64_t Count() const {
    uint64_t n = 0;
    for (const Bytes& l : lines) {
      for (uint8_t b : l) n += static_cast<uint64_t>(__builtin_popcount(b));
    }
    return n;
  }
};

// Rows [first, first + count) of `page`, columns [c0, c0 + width), must
// equal rows [row0, ...) of `plane`, and the plane holds nothing else.
// Returns a description of the first difference, or "" when equal.
inline std::string CompareDots(const TestPage& page, uint32_t c0, uint32_t width,
                               const DotPlane& plane) {
  uint64_t expected = 0;
  for (uint32_t r = 0; r < page.lines.size(); ++r) {
    for (uint32_t c = 0; c < width; ++c) {
      const bool want = page.Dot(r, c0 + c);
      expected += want;
      if (want != plane.Dot(r, c)) {
        return "row " + std::to_string(r) + " column " + std::to_string(c) +
               (want ? " lost" : " added");
      }
    }
  }
  if (expected != plane.Count()) {
    return "plane holds " + std::to_string(plane.Count()) + " dots, page " +
           std::to_string(expected);
  }
  return "";
}

}  // namespace quill_test

#endif  // QUILL_TESTS_BANDS_BAND_TEST_UTIL_H_
