// dot_stream_decoder.h - reads quilldot's printer stream back into dots.
//
// quillpreview's reader of every quilldot stream (bit-image bands, the
// interleaved passes, raster lines) and the oracle of quilldot's tests.
//
// DecodeDotStream splits the bytes quilldot writes into commands (every
// command it can send is known; anything else is a decoding error) and
// replays them on a simple print-head model, so a test can compare the dots
// that would land on paper with the raster page that went in.
//
// Head model (positions in raster dots and rows):
//   - ESC @ starts a new page (positions and colour back to 0); bytes before
//     the first ESC @ belong to the prologue (page -1). FF marks the page as
//     ejected and moves back to row 0.
//   - CR: column 0. ESC $ nL nH: column n. ESC J n: n rows down.
//     ESC ( v: signed relative move down; ESC ( V: absolute row.
//   - ESC * [m] nL nH: n columns of config.column_bytes bytes each; bit 7 of
//     a column's first byte is the top pin, and pins are config.pin_pitch
//     rows apart. The column moves on by n.
//   - ESC . c v h 1 nL nH: one raster line of n dots at the current column,
//     PackBits-compressed when c is 1. ESC i c t 1 nL nH mL mH: m lines of n
//     bytes in colour c, PackBits when t is 1.
//   - Colours: raster lines land in the plane of the selected colour: ESC r n
//     selects n, ESC ( r 2 0 1 n selects 16 + n, ESC i carries its own; 0
//     before any selection and for every bit image.
#ifndef QUILL_PREVIEW_DOT_STREAM_DECODER_H_
#define QUILL_PREVIEW_DOT_STREAM_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "preview/bytes.h"

namespace quillpreview {

// A page image: rows of 0/1 values, one per dot.
using DotRows = std::vector<std::vector<uint8_t>>;

// The dots of one colour on one page; grows as dots arrive.
class DotStreamPlane {
 public:
  // Sets the dot at (x, y); x and y must be >= 0. A dot set twice is
  // counted in DoublePrints (a head that prints a dot twice is a fault).
  void Set(int x, int y);
  bool Get(int x, int y) const;
  int Width() const { return width_; }    // one past the rightmost dot
  int Height() const { return static_cast<int>(rows_.size()); }
  int DoublePrints() const { return double_prints_; }
  size_t DotCount() const { return dots_; }

 private:
  DotRows rows_;
  int width_ = 0;
  int double_prints_ = 0;
  size_t dots_ = 0;
};

struct DotCommand {
  std::string name;  // "ESC @", "ESC J", "ESC *", "CR", "GS W", "ESC ( v", ...
  Bytes bytes;       // the whole command with its data
  int page = -1;     // page it belongs to; -1 before the first ESC @
};

struct DotDecodedPage {
  std::map<int, DotStreamPlane> planes;  // colour key -> dots
  bool form_feed = false;          // an FF ejected the page
  std::vector<size_t> commands;    // indexes into DotStream::commands

  // The dots of colour key `colour` (an empty plane when none arrived).
  const DotStreamPlane& Plane(int colour) const;
};

struct DotStreamConfig {
  int column_bytes = 1;       // bytes per ESC * column
  int pin_pitch = 1;          // rows between neighbouring pins
  bool density_byte = true;   // ESC * carries a density byte
};

struct DotStream {
  std::vector<DotCommand> commands;
  std::vector<DotDecodedPage> pages;
  std::string error;  // first decoding problem; empty when the stream parsed
  size_t error_offset = 0;  // with an error: the offset of the command it names

  // Command names of page `page` (-1: the prologue), in order.
  std::vector<std::string> Names(int page) const;
  // Bytes of the commands of page `page`, concatenated.
  Bytes PageBytes(int page) const;
  // Every command named `name`, in order.
  std::vector<const DotCommand*> Find(const std::string& name) const;
};

// Decodes a complete stream. Never throws; problems end decoding and are
// reported in DotStream::error.
DotStream DecodeDotStream(const Bytes& stream, const DotStreamConfig& config);

// Unpacks TIFF PackBits data until `expected` bytes came out. Returns false
// when the data is malformed, runs short, overshoots or has bytes left.
bool UnpackBits(const uint8_t* data, size_t len, size_t expected, Bytes* out);

// "" when plane holds exactly the dots of expected (rows of 0/1, all the
// same width; dots outside it count as differences); otherwise a
// description of the first difference.
std::string DiffDots(const DotStreamPlane& plane, const DotRows& expected);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_DOT_STREAM_DECODER_H_
