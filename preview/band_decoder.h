// band_decoder.h - turns a serial-printer band command stream back into dots.
//
// quillpreview's reader of the serial inkjet streams (one and two colours),
// and the oracle of the band generators' tests: it plays the stream the way
// the printer would and records, per page and per colour, which raster dots
// the head printed, so a test can compare them with the lines it fed in.
//
// Understood commands (n, nL nH little-endian):
//   1B 2A m nL nH + n * bytes_per_column data bytes   band graphics at the
//       current column and row; the head then stands after the last column
//   1B 24 nL nH        horizontal position, in 1/x_unit inch from the margin
//   0D                 carriage return: back to column 0
//   1B 4A n            feed n/y_unit inch
//   1B 72 c            colour for the following graphics (0 black, 1 red)
//   1B 55 d            print direction
//   1B 28 43 02 00 nL nH  page length     1B 26 6C 4C f   page flag
//   1B 26 61 4C nL nH  left margin        0C              form feed
// Skipped but logged (kSkipped): 1B 40, 1B 45, 1B 78 n (print quality, sent
// by quillfilter's document start), 1B 1D 1E ... 1B 1D 1F records,
// other 1B 28 X nL nH + n bytes, 1B 26 6C 53 d, 1B 25 ... 58 (UEL), 1D 57 nL nH,
// 1D 4C nL nH. Any other byte is logged as kUnknown and reported as a
// problem; decoding goes on with the next byte.
//
// Geometry: column = position units * x_res / x_unit, band top row = fed
// units * y_res / y_unit (both counted from the page start and the left
// margin); a position or feed that falls between raster dots is reported as
// a problem and truncated. Line k of a band (k < band_height) is bit
// 7 - k % 8 of byte k / 8 of each column; a set bit below the band is a
// problem.
//
// Pages: a form feed ends the page; a page-flag or page-length command on a
// page that already fed or printed starts a new one. Pages are created only
// by page content, so commands around the job (1B 40 ...) make none.
#ifndef QUILL_PREVIEW_BAND_DECODER_H_
#define QUILL_PREVIEW_BAND_DECODER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillpreview {

struct BandGeometry {
  uint32_t x_unit = 360;  // horizontal command units per inch
  uint32_t y_unit = 360;  // vertical command units per inch
  uint32_t x_res = 360;   // raster dots per inch, horizontal
  uint32_t y_res = 360;   // raster dots per inch, vertical
  uint32_t band_height = 24;       // lines per band (graphics command)
  uint32_t bytes_per_column = 0;   // 0: (band_height + 7) / 8
  bool stop_at_unknown = false;    // end decoding at the first kUnknown command
};

// The dots of one colour on one page, row by row.
class DotPlane {
 public:
  // Sets a dot; returns false when it was already set.
  bool Set(uint32_t row, uint32_t col);
  bool Dot(uint32_t row, uint32_t col) const;
  // Rows up to and including the lowest row with a dot.
  uint32_t Rows() const;
  // Columns up to and including the rightmost column with a dot.
  uint32_t Width() const { return width_; }
  uint64_t Count() const { return count_; }
  // Row `row` as a line of `width` pixels in the layout OutputLine takes:
  // (width + 7) / 8 bytes, MSB first, set bit = dot; dots at or beyond
  // `width` are left out.
  std::vector<uint8_t> Line(uint32_t row, uint32_t width) const;

 private:
  std::vector<std::vector<uint8_t>> rows_;  // packed bits, grown on demand
  uint32_t width_ = 0;
  uint64_t count_ = 0;
};

enum class BandCmd {
  kGraphics,        // value = mode, columns, start_column, top_row
  kPosition,        // value = units, start_column = column
  kCarriageReturn,
  kFeed,            // value = units
  kColour,          // value = colour
  kDirection,       // value = d
  kPageLength,      // value = units
  kPageFlag,        // value = f
  kLeftMargin,      // value = units
  kFormFeed,
  kSkipped,         // a known command of no interest here; bytes kept
  kUnknown,         // a byte that starts no known command
};

struct DecodedCommand {
  BandCmd kind;
  size_t offset = 0;          // of the first byte in the stream
  int page = -1;              // page index, -1 outside any page
  uint32_t value = 0;         // see BandCmd
  uint32_t columns = 0;       // graphics: column count
  uint32_t start_column = 0;  // graphics, position: raster column
  uint32_t top_row = 0;       // graphics: raster row of the band's line 0
  uint8_t colour = 0;         // graphics: colour printed
  std::vector<uint8_t> bytes; // kSkipped, kUnknown: the bytes
  std::string what;           // kUnknown: what is wrong ("unknown byte 07",
                              // "truncated graphics data")
};

struct DoubleDot {
  int page;
  uint8_t colour;
  uint32_t row;
  uint32_t col;
};

struct DecodedPage {
  std::array<DotPlane, 2> planes;  // colour 0 (black), colour 1 (red)
  uint64_t fed_units = 0;          // vertical units fed on the page
};

struct DecodedBands {
  std::vector<DecodedPage> pages;
  std::vector<DecodedCommand> commands;  // every command, in stream order
  std::vector<DoubleDot> double_dots;    // dots printed more than once
  std::vector<std::string> problems;     // anything a printer would choke on

  // Compact text of the commands for readable expectations, e.g.
  // "PL(100) FLAG(0) LM(120) GFX(m3,n10,x0,y0) CR FEED(24) FF" (x, y: raster
  // column and row of the first dot position), POS(units), COL(c), DIR(d);
  // skipped commands appear as SKIP(hex), unknown bytes as ?(hex).
  std::string Summary() const;
  // The commands of one kind, in order.
  std::vector<DecodedCommand> Of(BandCmd kind) const;
};

// Decodes `len` bytes at `data` (may be null when len is 0).
DecodedBands DecodeBands(const uint8_t* data, size_t len, const BandGeometry& geometry);
DecodedBands DecodeBands(const std::vector<uint8_t>& data, const BandGeometry& geometry);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_BAND_DECODER_H_
