// bit_image_decoder.h - reads the command streams of the thermal (ESC/POS)
// and 24-pin (ESC/P) page processors back into dots.
//
// quillpreview's reader of those two streams, and the oracle of the thermal
// and 24-pin tests.
//
// ParseBitImageStream splits a byte stream into commands and keeps every
// bit image with the head position it was printed at; RebuildDots lays the
// bit images onto a page of dots, one plane per ribbon colour, so a test can
// compare the printed dots with the one-bit page that went in.
//
// Head model:
//   - ESC * m nL nH: n columns of 3 bytes (24-dot modes, m >= 32) or 1 byte
//     (8-dot modes, m < 32); the top pin is bit 7 of a column's first byte.
//     The image starts at the current column and moves the column on by n.
//   - ESC $ nL nH: the current column becomes n * x_res / x_unit; CR: 0.
//   - ESC J n: the paper moves n feed units.
//   - ESC r n: the ribbon colour of the following images.
//   - A page ends at a form feed, and at an ESC @ or an ESC ( U (the 24-pin
//     page start) once the page has printed or fed anything; positions start
//     again at 0 on the next page.
// Vertical geometry (DotGeometry): one feed unit is one row and pins are one
// row apart (thermal, and 24-pin below 360 dpi), or, interlaced (24-pin at
// 360 dpi), one feed unit is two rows, pins are two rows apart and each band
// of 48 rows is two passes 24 units apart from the next band: a pass at the
// band's origin holds the even rows, a pass one unit lower the odd rows. The
// band grid starts at the page's first bit image; an image off that grid is
// reported as an error.
#ifndef QUILL_PREVIEW_BIT_IMAGE_DECODER_H_
#define QUILL_PREVIEW_BIT_IMAGE_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "preview/bytes.h"

namespace quillpreview {

// One ESC * bit image with the head position it was printed at.
struct BitImage {
  uint32_t page = 0;          // page index within the stream
  uint32_t feed_units = 0;    // ESC J units fed on this page before the image
  bool from_position = false; // the image's column counts from an ESC $ position
  uint32_t position = 0;      // that ESC $ value, in command units
  uint32_t offset_columns = 0;  // columns printed since that ESC $ (or the last CR)
  uint8_t color = 0;          // ESC r colour; 0 = black
  uint8_t mode = 0;           // ESC * m
  uint32_t columns = 0;       // n
  uint16_t column_bytes = 0;  // 3 for 24-dot modes, 1 for 8-dot modes
  Bytes data;                 // columns * column_bytes bytes
  bool positioned = false;    // directly preceded by its own ESC $
};

// A stream extension record 1B 1D 1E ... 1B 1D 1F (label commands, time
// stamp, band hint), with the bytes between the two brackets.
struct ExtensionRecord {
  uint32_t page = 0;
  Bytes payload;
};

struct BitImageStream {
  std::vector<BitImage> images;
  std::vector<uint32_t> feeds;                 // every ESC J n, in order
  std::vector<uint32_t> page_feed_units;       // ESC J units of each page
  std::vector<ExtensionRecord> extensions;
  std::vector<uint32_t> print_widths;          // GS W values
  std::vector<uint32_t> left_margins;          // GS L values
  std::vector<uint32_t> page_lengths;          // ESC ( C values
  std::vector<uint32_t> units;                 // ESC ( U values
  std::vector<uint8_t> color_selects;          // ESC r values, in order
  std::vector<uint8_t> directions;             // ESC U values
  uint32_t pages = 0;                          // pages seen (0 for an empty stream)
  uint32_t initializations = 0;                // ESC @ count
  uint32_t carriage_returns = 0;
  uint32_t form_feeds = 0;
  std::string error;                           // empty when every byte was understood
  size_t error_offset = 0;                     // with an error: the offset it names
  uint32_t ended_pages = 0;                    // pages closed by FF or ESC @ before the
                                               // end (or the error) of the stream
};

// Parses `bytes`. On an unknown or truncated command the parse stops and
// `error` names the offset.
BitImageStream ParseBitImageStream(const Bytes& bytes);

struct DotGeometry {
  uint32_t x_unit = 200;   // ESC $ units per inch
  uint32_t x_res = 200;    // columns per inch
  bool interlaced = false; // 24-pin at 360 dpi (see the head model above)
};

// Dots of one page, one plane per colour; 1 = dot.
struct DotPage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<std::vector<uint8_t>> planes;  // [colour][row * width + column]
  uint64_t outside = 0;                      // dots that fell outside width x height
  std::string error;                         // empty when the geometry was consistent

  bool Dot(uint32_t color, uint32_t x, uint32_t y) const {
    return color < planes.size() && planes[color][static_cast<size_t>(y) * width + x] != 0;
  }
  uint64_t CountDots(uint32_t color) const;
};

// Lays the images of page `page` onto a page of `width` x `height` dots
// with `colors` planes.
DotPage RebuildDots(const BitImageStream& stream, const DotGeometry& geometry, uint32_t page,
                    uint32_t width, uint32_t height, uint32_t colors = 1);

// A one-bit page as the page processors take it: rows of (width + 7) / 8
// bytes, MSB first, set bit = dot.
struct BitPage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bits;

  BitPage() = default;
  BitPage(uint32_t w, uint32_t h) : width(w), height(h), bits(static_cast<size_t>(Pitch()) * h) {}
  uint32_t Pitch() const { return (width + 7) / 8; }
  const uint8_t* Row(uint32_t y) const { return bits.data() + static_cast<size_t>(y) * Pitch(); }
  bool Get(uint32_t x, uint32_t y) const {
    return (Row(y)[x / 8] & (0x80u >> (x % 8))) != 0;
  }
  void Set(uint32_t x, uint32_t y, bool on = true) {
    uint8_t& b = bits[static_cast<size_t>(y) * Pitch() + x / 8];
    const uint8_t m = static_cast<uint8_t>(0x80u >> (x % 8));
    b = on ? static_cast<uint8_t>(b | m) : static_cast<uint8_t>(b & ~m);
  }
};

// Empty when plane `color` of `dots` equals columns [x0, x0 + dots.width)
// of `page` placed from row `top` down (page columns beyond its width count
// as blank, plane rows outside the page must be blank) and no dot fell
// outside the plane; otherwise a description of the first differences.
std::string CompareDots(const DotPage& dots, uint32_t color, const BitPage& page,
                        uint32_t top = 0, uint32_t x0 = 0);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_BIT_IMAGE_DECODER_H_
