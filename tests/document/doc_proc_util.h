// doc_proc_util.h - pages, jobs and decoding for the document-processor
// tests.
#ifndef QUILL_TESTS_DOCUMENT_DOC_PROC_UTIL_H_
#define QUILL_TESTS_DOCUMENT_DOC_PROC_UTIL_H_

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/recording_writer.h"
#include "preview/band_decoder.h"
#include "quill/libquill.h"

namespace doc_proc_test {

// A one-bit page (set bit = ink) whose pixel buffer ends in `guard_rows`
// rows of solid ink: a pass that reads past the last row prints them, which
// the decoded output shows as dots below the page.
class OneBitPage {
 public:
  OneBitPage(uint32_t width, uint32_t height, uint32_t guard_rows = 4)
      : width_(width), height_(height), pitch_((width + 7) / 8),
        pixels_(size_t{pitch_} * (height + guard_rows), 0) {
    std::memset(pixels_.data() + size_t{pitch_} * height, 0xFF, size_t{pitch_} * guard_rows);
  }

  void Set(uint32_t row, uint32_t col) {
    pixels_[size_t{row} * pitch_ + col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
  }
  bool Get(uint32_t row, uint32_t col) const {
    return (pixels_[size_t{row} * pitch_ + col / 8] & (0x80 >> (col % 8))) != 0;
  }
  void FillRows(uint32_t first, uint32_t end) {
    for (uint32_t r = first; r < end; ++r)
      for (uint32_t c = 0; c < width_; ++c) Set(r, c);
  }
  // Random dots with the given density in rows [first, end).
  void Scatter(uint32_t first, uint32_t end, double density, uint32_t seed) {
    std::mt19937 gen(seed);
    std::bernoulli_distribution dot(density);
    for (uint32_t r = first; r < end; ++r)
      for (uint32_t c = 0; c < width_; ++c)
        if (dot(gen)) Set(r, c);
  }
  uint64_t Count() const {
    uint64_t n = 0;
    for (uint32_t r = 0; r < height_; ++r)
      for (uint32_t c = 0; c < width_; ++c) n += Get(r, c);
    return n;
  }

  RASTER_INFO Raster(uint16_t res = 360) {
    RASTER_INFO ri{};
    ri.img_p = pixels_.data();
    ri.width = width_;
    ri.height = height_;
    ri.pitch = static_cast<int32_t>(pitch_);
    ri.x_res = res;
    ri.y_res = res;
    ri.bpp = 1;
    return ri;
  }
  const std::vector<uint8_t>& Pixels() const { return pixels_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

 private:
  uint32_t width_, height_, pitch_;
  std::vector<uint8_t> pixels_;
};

// A 24-bit page (blue, green, red), white unless painted.
class ColourPage {
 public:
  ColourPage(uint32_t width, uint32_t height, uint8_t bpp = 24)
      : width_(width), height_(height), step_(bpp / 8),
        pitch_((width * step_ + 3) / 4 * 4), bpp_(bpp),
        pixels_(size_t{pitch_} * height, 255) {}

  void Paint(uint32_t row, uint32_t col, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = &pixels_[size_t{row} * pitch_ + size_t{col} * step_];
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void Rect(uint32_t r0, uint32_t c0, uint32_t r1, uint32_t c1, uint8_t r, uint8_t g, uint8_t b) {
    for (uint32_t y = r0; y < r1; ++y)
      for (uint32_t x = c0; x < c1; ++x) Paint(y, x, r, g, b);
  }
  const uint8_t* At(uint32_t row, uint32_t col) const {
    return &pixels_[size_t{row} * pitch_ + size_t{col} * step_];
  }
  RASTER_INFO Raster(uint16_t res = 360) {
    RASTER_INFO ri{};
    ri.img_p = pixels_.data();
    ri.width = width_;
    ri.height = height_;
    ri.pitch = static_cast<int32_t>(pitch_);
    ri.x_res = res;
    ri.y_res = res;
    ri.bpp = bpp_;
    return ri;
  }
  std::vector<uint8_t>& Pixels() { return pixels_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

 private:
  uint32_t width_, height_, step_, pitch_;
  uint8_t bpp_;
  std::vector<uint8_t> pixels_;
};

// Conversion parameters of a 360 x 360 unit job writing into `writer`.
inline CONV_PARAM2 JobParam(quill_test::RecordingWriter& writer, const char* options,
                            uint16_t shingling = SHINGLING_NONE, uint16_t pins = 24,
                            uint32_t page_length = 0) {
  CONV_PARAM2 cp{};
  cp.shingling = shingling;
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = pins;
  cp.wr_cb = quill_test::RecordingWriter::Callback;
  cp.wr_hdl = writer.Handle();
  cp.page_length = page_length;
  cp.options = options;
  return cp;
}

inline quillpreview::DecodedBands Decode(const quill_test::RecordingWriter& writer,
                                       uint32_t band_height, uint32_t res = 360) {
  quillpreview::BandGeometry g;
  g.x_res = res;
  g.y_res = res;
  g.band_height = band_height;
  return quillpreview::DecodeBands(writer.All(), g);
}

// Differences between decoded dots and the expected page (rows below the
// page included), as text; empty when they match.
template <typename Page>
std::string CompareDots(const quillpreview::DotPlane& plane, const Page& page) {
  std::string out;
  int shown = 0;
  auto note = [&](const std::string& s) {
    if (shown++ < 8) out += s + "; ";
  };
  for (uint32_t r = 0; r < page.height(); ++r)
    for (uint32_t c = 0; c < page.width(); ++c)
      if (plane.Dot(r, c) != page.Get(r, c))
        note((plane.Dot(r, c) ? "extra dot at " : "missing dot at ") + std::to_string(r) + "," +
             std::to_string(c));
  for (uint32_t r = page.height(); r < plane.Rows(); ++r)
    for (uint32_t c = 0; c < plane.Width(); ++c)
      if (plane.Dot(r, c)) note("dot below the page at " + std::to_string(r) + "," + std::to_string(c));
  for (uint32_t r = 0; r < plane.Rows(); ++r)
    for (uint32_t c = page.width(); c < plane.Width(); ++c)
      if (plane.Dot(r, c)) note("dot right of the page at " + std::to_string(r) + "," + std::to_string(c));
  return out;
}

}  // namespace doc_proc_test

#endif  // QUILL_TESTS_DOCUMENT_DOC_PROC_UTIL_H_
