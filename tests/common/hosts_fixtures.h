// hosts_fixtures.h - fixtures of the host-entry tests: an in-memory read
// callback, a builder for marked-up print-data streams, one-bit dot
// pictures and image files written from them.
#ifndef QUILL_TESTS_COMMON_HOSTS_FIXTURES_H_
#define QUILL_TESTS_COMMON_HOSTS_FIXTURES_H_

#include <cstdint>
#include <string>
#include <vector>

#include <FreeImage.h>

#include "common/recording_writer.h"
#include "quill/libquill.h"

namespace hosts_test {

using quill_test::Bytes;

// A read callback over a byte vector. Every call delivers at most `chunk`
// bytes (0: as many as asked for) and 0 at the end; `calls` counts calls.
class MemoryReader {
 public:
  explicit MemoryReader(Bytes data, size_t chunk = 0) : data_(std::move(data)), chunk_(chunk) {}
  static int Callback(void* hdl, void* buf, unsigned int len);
  void* Handle() { return this; }
  size_t Remaining() const { return data_.size() - pos_; }
  int calls = 0;

 private:
  Bytes data_;
  size_t pos_ = 0;
  size_t chunk_;
};

// Builds a print-data stream: markup commands and plain bytes in order.
class StreamBuilder {
 public:
  StreamBuilder& Page(uint16_t x_res, uint16_t y_res, uint16_t width, uint16_t height);
  // "BLK" + head + rows; every row must hold width_bytes bytes.
  StreamBuilder& Block(uint16_t width_bytes, const std::vector<Bytes>& rows);
  StreamBuilder& Scale(uint8_t factors, uint8_t method);
  StreamBuilder& Direction();
  StreamBuilder& Feed(uint8_t n);
  StreamBuilder& Raw(const Bytes& bytes);
  StreamBuilder& Text(const std::string& text);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// A picture of dots: true is ink.
struct Dots {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> ink;  // row-major, 0 or 1

  Dots() = default;
  Dots(uint32_t w, uint32_t h) : width(w), height(h), ink(static_cast<size_t>(w) * h, 0) {}
  bool At(uint32_t x, uint32_t y) const { return ink[static_cast<size_t>(y) * width + x] != 0; }
  void Set(uint32_t x, uint32_t y, bool v = true) { ink[static_cast<size_t>(y) * width + x] = v; }
  size_t Count() const;
  bool operator==(const Dots& o) const {
    return width == o.width && height == o.height && ink == o.ink;
  }
};

// A test picture with structure in both directions (borders, a diagonal,
// a filled box, an isolated dot) that shows flips, turns and inversions.
Dots TestPicture(uint32_t width, uint32_t height);

// One-bit rows of `dots` (set bit = ink, MSB first) with the given pitch
// (0: the tightest).
Bytes PackRows(const Dots& dots, uint32_t pitch = 0);
// The dots of packed rows.
Dots UnpackRows(const uint8_t* rows, uint32_t width, uint32_t height, uint32_t pitch);

// The dots of a raster as the page pipeline prints it: one bit = set bit;
// deeper pixels through their colour (palette entry or B, G, R), ink when
// its grey value is below the middle.
Dots InkOf(const RASTER_INFO& raster);

// How an image file stores the picture.
enum class Layout {
  kOneBitBlackOnWhite,   // 1 bit, index 0 white, 1 black
  kOneBitWhiteOnBlack,   // 1 bit, index 0 black, 1 white
  kGrey8,                // 8-bit grey ramp, values 0 and 255
  kPalette8,             // 8-bit palette, ink and paper at odd indices
  kRgb24,                // 24-bit
  kRgba32,               // 32-bit, opaque
  kPalette4,             // 4-bit palette, as kPalette8
};

// A bitmap of `dots` in the layout (owned by the caller, FreeImage_Unload).
FIBITMAP* MakeBitmap(const Dots& dots, Layout layout);
// Writes `dots` to `path` in `format`; false when FreeImage refused.
bool WriteImage(const Dots& dots, Layout layout, FREE_IMAGE_FORMAT format, const std::string& path);

// A fresh scratch directory under the test's working directory.
std::string ScratchDir(const std::string& name);

}  // namespace hosts_test

#endif  // QUILL_TESTS_COMMON_HOSTS_FIXTURES_H_
