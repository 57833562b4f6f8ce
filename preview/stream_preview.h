// stream_preview.h - a whole printer stream decoded into preview pages.
//
// PreviewStream picks the format (given, or detected from the first
// commands, see stream_format.h), works out the geometry the stream leaves
// unsaid, decodes every page with the format's decoder and turns each into a
// PreviewPage at the printer's resolution.
//
// Geometry per format, when the options do not give it:
//  - serial: the bytes per band column are the count that makes the first
//    graphics command end where a command begins and with which the whole
//    stream decodes (the smallest such). In a stream that does not decode
//    to its end: the count under which the most graphics commands end at a
//    carriage return or a position (or at the end of a cut stream). The graphics mode byte fixes the
//    ratio of command units to dots (mode 2: 1:1, 3: 2:1 across, 0: 4:4,
//    1: 2:2, 7: 2:4, 5: 8:4, 4: 4:2, 8: 8:2, 6: 8:8); the units are 360 for
//    modes 2 and 3 and 1440 for the others, and the resolution follows
//    (mode 2: 360x360, mode 0: 360x360, mode 1: 720x720, ...). Given only
//    units or only a resolution, the other follows from the mode.
//  - pagelang: carried by every page.
//  - thermal: 200x200 dpi, positions in dots.
//  - dot24: 360 / h dots per inch across from the mode byte (40: 360,
//    39: 180, 33: 120, 38: 90, 32: 60); 360 dpi down when the bands come as
//    interlaced pass pairs (a feed of 1 unit followed by one of 23), else
//    180.
//  - quilldot: raster pages carry their resolution (the lines 1B 2E c v h:
//    3600 / h by 3600 / v; the unit command 1B 28 55 05 00 v v h of the
//    models from 4 on: 1440 / h by 1440 / v). Bands: the density byte gives the horizontal resolution
//    (00: 60, 01: 120, 27: 180, 21: 203, 03: 240, 28: 360); the bytes per
//    column are found as for serial bands; a feed of one row (1B 4A 01)
//    marks interleaved passes with pins two rows apart. Down: 144 (model 0)
//    or 360 (model 1) when interleaved, else 72 for 8-row bands and 180 for
//    taller ones (model 0 and 1), and the horizontal value for receipts.
// A resolution in the options replaces the one found in every format; for
// serial bands the command units follow from it.
//
// Page size: the extent of the dots, and at least what the stream says of
// the page: serial pages the page length and the line width the left margin
// tells (centred on 8.5 inches; a margin of 0 means the whole carriage);
// thermal pages the printing width (1D 57) and the rows fed; 24-pin pages
// their page length; receipts of quilldot their printing width; page-language
// pages their width and height.
//
// Pages: a page is kept when it ended before the first byte that could not
// be decoded (or the stream ended); the page that byte belongs to is not.
#ifndef QUILL_PREVIEW_STREAM_PREVIEW_H_
#define QUILL_PREVIEW_STREAM_PREVIEW_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "preview/bytes.h"
#include "preview/preview_page.h"
#include "preview/stream_format.h"

namespace quillpreview {

struct PreviewOptions {
  std::optional<StreamFormat> format;  // nullopt: detect it
  uint32_t x_res = 0, y_res = 0;       // dots per inch; 0: from the stream or the default
  uint32_t x_unit = 0, y_unit = 0;     // serial command units per inch; 0: see above
  uint32_t band_height = 0;            // serial lines per band; 0: from the stream
};

struct PreviewResult {
  StreamFormat format = StreamFormat::kSerial;
  std::string format_reason;       // how the format was chosen
  std::string geometry;            // the geometry used, as text ("units 360x360, ...")
  std::vector<PreviewPage> pages;  // the pages decoded, in stream order
  bool failed = false;             // a byte could not be decoded, or no format fits
  std::string error;               // with failed: what, naming the byte offset
  size_t error_offset = 0;         // with failed: that offset
  // Things a printer would get wrong that do not stop decoding (dots
  // printed twice, positions between dots), with their offsets.
  std::vector<std::string> warnings;
};

// Decodes `stream`. Never throws for malformed input; fills failed/error.
PreviewResult PreviewStream(const Bytes& stream, const PreviewOptions& options);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_STREAM_PREVIEW_H_
