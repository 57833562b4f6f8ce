// stream_format.h - the printer streams quillpreview reads, and how it tells
// them apart from their first commands.
#ifndef QUILL_PREVIEW_STREAM_FORMAT_H_
#define QUILL_PREVIEW_STREAM_FORMAT_H_

#include <cstddef>
#include <optional>
#include <string>

#include "preview/bytes.h"

namespace quillpreview {

enum class StreamFormat {
  kSerial,    // serial inkjet bands, one or two colours (Ink1, Ink3)
  kPageLang,  // page language with token-deflate raster objects (Ink2)
  kThermal,   // the library's thermal receipt and label pages
  kDot24,     // the library's 24-pin pages, 180 dpi or 360 dpi interlaced
  kQuilldot,  // anything quilldot writes: bands, interleaved bands, raster lines
};

// "serial", "pagelang", "thermal", "dot24", "quilldot".
const char* FormatName(StreamFormat format);
// The format of a name as FormatName gives it; nullopt for any other text.
std::optional<StreamFormat> FormatFromName(const std::string& name);

struct Detection {
  std::optional<StreamFormat> format;  // nullopt: not recognised
  std::string reason;  // the evidence, or why nothing was recognised
  size_t offset = 0;   // unrecognised: the byte the decision stopped at
};

// Decides the format from the commands a stream starts with:
//  - 1B 45 (the page-language reset) first: pagelang.
//  - quilldot's job-start commands before the first reset (drawer pulse
//    1B 70, black mark 1D 0C, stored logo 1B 61 31, the 1B 7B 41 prefix),
//    or, right after the first reset 1B 40, one of its page set-ups (line
//    spacing 1B 33, the bracket 1B 1D 1E 06 .., the raster set-up 1B 28 47,
//    receipt width or margin 1D 57 / 1D 4C, the receipt record
//    1B 1D 1E 04 31 ..): quilldot.
//  - Otherwise a library document: after 1B 40 and its document records
//    (1B 1D 1E .. 1B 1D 1F, duplex 1B 26 6C 53 n, quality 1B 78 n) the first
//    page decides: a second 1B 40 is a thermal page, a page length
//    1B 28 43 or page flag 1B 26 6C 4C a serial page, the unit command
//    1B 28 55 a 24-pin page. A page that opens with graphics, a feed or any
//    head command right away is a 24-pin page without page length, the
//    only page processor that starts a page silently. A document without a
//    page is taken as serial (there is nothing to show either way).
// Anything else is not recognised; the caller names the format instead.
Detection DetectFormat(const Bytes& stream);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_STREAM_FORMAT_H_
