#include "preview/stream_preview.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

#include "preview/band_decoder.h"
#include "preview/bit_image_decoder.h"
#include "preview/dcraster_decoder.h"
#include "preview/dot_stream_decoder.h"
#include "preview/ink2_stream.h"

namespace quillpreview {

namespace {

uint32_t LE16(const Bytes& b, size_t at) { return b[at] | (static_cast<uint32_t>(b[at + 1]) << 8); }

std::string Hex(uint8_t v) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

void Fail(PreviewResult* r, size_t offset, const std::string& what) {
  r->failed = true;
  r->error_offset = offset;
  r->error = what;
}

// A page never has a side of 0 pixels: an empty page still makes a picture.
void SizePage(PreviewPage* page, uint32_t width, uint32_t height, uint32_t x_res, uint32_t y_res) {
  page->width = std::max<uint32_t>(width, 1);
  page->height = std::max<uint32_t>(height, 1);
  page->x_res = x_res;
  page->y_res = y_res;
}

// Bytes per column for which the graphics command at `offset` (n columns)
// ends where the next command can begin: at the end of the stream or at one
// of `next` bytes.
std::vector<uint32_t> ColumnByteCandidates(const Bytes& s, size_t offset, uint32_t columns,
                                           std::initializer_list<uint8_t> next, uint32_t max) {
  std::vector<uint32_t> out;
  for (uint32_t bpc = 1; bpc <= max; ++bpc) {
    const size_t end = offset + 5 + static_cast<size_t>(columns) * bpc;
    if (end > s.size()) {
      out.push_back(bpc);  // the stream is cut inside this command: any larger count reads the same
      break;
    }
    if (end == s.size() || std::find(next.begin(), next.end(), s[end]) != next.end()) out.push_back(bpc);
  }
  return out;
}

// ---------------------------------------------------------------- serial

struct Ratio {
  uint32_t x, y;  // command units per dot
};

// The ratio of command units to dots the graphics mode byte stands for.
Ratio RatioOfMode(uint32_t mode) {
  switch (mode) {
    case 2: return {1, 1};
    case 3: return {2, 1};
    case 7: return {2, 4};
    case 5: return {8, 4};
    case 0: return {4, 4};
    case 6: return {8, 8};
    case 4: return {4, 2};
    case 8: return {8, 2};
    default: return {2, 2};  // mode 1: neither ratio is 1, 4 or 8
  }
}

void PreviewSerial(const Bytes& s, const PreviewOptions& o, PreviewResult* r) {
  // The commands before the first graphics command read the same whatever
  // the band geometry, so a first pass finds it.
  BandGeometry probe;
  probe.band_height = 8;
  probe.stop_at_unknown = true;
  const DecodedBands first = DecodeBands(s, probe);
  const DecodedCommand* graphics = nullptr;
  for (const DecodedCommand& c : first.commands) {
    if (c.kind == BandCmd::kGraphics) {
      graphics = &c;
      break;
    }
  }
  const uint32_t mode = graphics != nullptr ? graphics->value : 2;
  const Ratio ratio = RatioOfMode(mode);

  BandGeometry g;
  const uint32_t default_unit = (mode == 2 || mode == 3) ? 360 : 1440;
  g.x_unit = o.x_unit != 0 ? o.x_unit : (o.x_res != 0 ? o.x_res * ratio.x : default_unit);
  g.y_unit = o.y_unit != 0 ? o.y_unit : (o.y_res != 0 ? o.y_res * ratio.y : default_unit);
  g.x_res = o.x_res != 0 ? o.x_res : std::max<uint32_t>(g.x_unit / ratio.x, 1);
  g.y_res = o.y_res != 0 ? o.y_res : std::max<uint32_t>(g.y_unit / ratio.y, 1);
  g.stop_at_unknown = true;

  std::vector<uint32_t> candidates;
  if (o.band_height != 0) {
    candidates.push_back((o.band_height + 7) / 8);
  } else if (graphics != nullptr) {
    candidates = ColumnByteCandidates(s, graphics->offset, graphics->columns, {0x0D, 0x1B, 0x0C}, 255);
  }
  if (candidates.empty()) candidates.push_back(1);

  DecodedBands best;
  std::tuple<bool, size_t, bool> best_score{false, 0, false};
  uint32_t best_bpc = 0;
  for (uint32_t bpc : candidates) {
    BandGeometry trial = g;
    trial.bytes_per_column = bpc;
    trial.band_height = o.band_height != 0 ? o.band_height : 8 * bpc;
    DecodedBands d = DecodeBands(s, trial);
    const bool clean = d.commands.empty() || d.commands.back().kind != BandCmd::kUnknown;
    const bool cut = !clean && d.commands.back().what == "truncated graphics data";
    // A band's graphics end where the next command begins: a carriage
    // return or the next segment's position. With a wrong count the stream
    // falls apart within a few commands, so the count under which the most
    // graphics commands end so (or run into the end of a cut stream) wins;
    // a stream that decodes to its end is best, and of two equal ones the
    // one that reads sense up to where the stream is cut.
    size_t fitting = cut ? 1 : 0;
    for (const DecodedCommand& c : d.commands) {
      if (c.kind != BandCmd::kGraphics) continue;
      const size_t end = c.offset + 5 + size_t{c.columns} * bpc;
      if (end == s.size() || (end < s.size() && (s[end] == 0x0D || s[end] == 0x1B))) ++fitting;
    }
    const std::tuple<bool, size_t, bool> score{clean, fitting, cut};
    if (best_bpc == 0 || score > best_score) {
      best = std::move(d);
      best_score = score;
      best_bpc = bpc;
    }
    if (clean) break;
  }
  g.bytes_per_column = best_bpc;
  g.band_height = o.band_height != 0 ? o.band_height : 8 * best_bpc;
  r->geometry = "units " + std::to_string(g.x_unit) + "x" + std::to_string(g.y_unit) +
                ", resolution " + std::to_string(g.x_res) + "x" + std::to_string(g.y_res) +
                ", " + std::to_string(g.band_height) + "-line bands (" +
                std::to_string(best_bpc) + " bytes per column)";

  size_t complete = best.pages.size();
  if (!best.commands.empty() && best.commands.back().kind == BandCmd::kUnknown) {
    const DecodedCommand& bad = best.commands.back();
    Fail(r, bad.offset, bad.what + " at byte " + std::to_string(bad.offset));
    if (bad.page >= 0) complete = static_cast<size_t>(bad.page);
  }
  for (const std::string& p : best.problems) {
    if (!r->failed || p.rfind("at " + std::to_string(r->error_offset) + ":", 0) != 0) r->warnings.push_back(p);
  }
  if (!best.double_dots.empty()) {
    const DoubleDot& d = best.double_dots.front();
    r->warnings.push_back(std::to_string(best.double_dots.size()) +
                          " dots printed more than once, the first on page " +
                          std::to_string(d.page + 1) + " at row " + std::to_string(d.row) +
                          " column " + std::to_string(d.col));
  }

  bool two_colours = false;
  std::vector<uint32_t> page_length(best.pages.size(), 0);
  std::vector<std::optional<uint32_t>> margin(best.pages.size());
  for (const DecodedCommand& c : best.commands) {
    if (c.kind == BandCmd::kColour) two_colours = true;
    if (c.page < 0 || static_cast<size_t>(c.page) >= best.pages.size()) continue;
    if (c.kind == BandCmd::kPageLength) page_length[c.page] = c.value;
    if (c.kind == BandCmd::kLeftMargin) margin[c.page] = c.value;
  }
  for (size_t p = 0; p < complete; ++p) {
    const DecodedPage& dp = best.pages[p];
    uint32_t width = std::max(dp.planes[0].Width(), dp.planes[1].Width());
    uint32_t height = std::max(dp.planes[0].Rows(), dp.planes[1].Rows());
    // The margin centres the lines on a carriage of 8.5 inches (0: lines
    // at least that wide), so it tells the width of the page's lines.
    const uint64_t carriage = uint64_t{g.x_unit} * 85 / 10;
    if (margin[p] && 2 * uint64_t{*margin[p]} < carriage) {
      width = std::max<uint32_t>(width, static_cast<uint32_t>((carriage - 2 * uint64_t{*margin[p]}) * g.x_res / g.x_unit));
    }
    height = std::max<uint32_t>(height, static_cast<uint32_t>(uint64_t{page_length[p]} * g.y_res / g.y_unit));
    height = std::max<uint32_t>(height, static_cast<uint32_t>(dp.fed_units * g.y_res / g.y_unit));
    PreviewPage page;
    SizePage(&page, width, height, g.x_res, g.y_res);
    const size_t colours = two_colours ? 2 : 1;
    for (size_t c = 0; c < colours; ++c) {
      page.AddPlane(c == 0 ? "black" : "red", c == 0 ? kBlackInk : kRedInk);
      const DotPlane& dots = dp.planes[c];
      for (uint32_t y = 0; y < dots.Rows(); ++y) {
        for (uint32_t x = 0; x < dots.Width(); ++x) {
          if (dots.Dot(y, x)) page.SetDot(c, x, y);
        }
      }
    }
    r->pages.push_back(std::move(page));
  }
}

// -------------------------------------------------------------- pagelang

void PreviewPageLang(const Bytes& s, PreviewResult* r) {
  static const Bytes kExit = {0x1B, 0x25, 0x2D, 0x31, 0x32, 0x33, 0x34, 0x35, 0x58};
  r->geometry = "resolution of every page from its page commands";
  size_t pos = 0;
  while (pos < s.size()) {
    if (s.size() - pos >= 2 && s[pos] == 0x1B && s[pos + 1] == 0x45) {
      pos += 2;
      continue;
    }
    if (s.size() - pos >= kExit.size() && std::equal(kExit.begin(), kExit.end(), s.begin() + static_cast<long>(pos))) {
      pos += kExit.size();
      continue;
    }
    if (s.size() - pos >= 4 && s[pos] == 0x1B && s[pos + 1] == 0x26 && s[pos + 2] == 0x6C &&
        s[pos + 3] == 0x4C) {
      Ink2Page page;
      DcrImage image;
      std::string error;
      size_t error_offset = pos;
      const size_t start = pos;
      if (!ParseAndDecodePage(s, &pos, &page, &image, &error, &error_offset)) {
        if (error.find(" at byte ") == std::string::npos) {
          error = "page " + std::to_string(r->pages.size() + 1) + " starting at byte " +
                  std::to_string(start) + ": " + error;
        }
        return Fail(r, error_offset, error);
      }
      PreviewPage out;
      out.dots = false;
      const uint32_t width = std::min<uint32_t>(page.width, static_cast<uint32_t>(image.width));
      SizePage(&out, width, static_cast<uint32_t>(image.height), page.x_res, page.y_res);
      if (image.colours == 1) {
        out.AddPlane("black", kBlackInk);
      } else {
        out.AddPlane("cyan", kCyanInk);
        out.AddPlane("magenta", kMagentaInk);
        out.AddPlane("yellow", kYellowInk);
        if (image.colours == 4) out.AddPlane("black", kBlackInk);
      }
      // The object holds ink amounts: the encoder's input, 0 for white.
      for (size_t p = 0; p < out.planes.size(); ++p) {
        for (uint32_t y = 0; y < static_cast<uint32_t>(image.height) && y < out.height; ++y) {
          for (uint32_t x = 0; x < width; ++x) {
            out.planes[p].ink[static_cast<size_t>(y) * out.width + x] =
                image.At(static_cast<int>(p), static_cast<int>(x), static_cast<int>(y));
          }
        }
      }
      r->pages.push_back(std::move(out));
      continue;
    }
    return Fail(r, pos, "unknown byte " + Hex(s[pos]) + " at byte " + std::to_string(pos));
  }
}

// ------------------------------------------------------- thermal, dot24

void PreviewBitImages(const Bytes& s, const PreviewOptions& o, bool dot24, PreviewResult* r) {
  const BitImageStream stream = ParseBitImageStream(s);
  uint32_t pages = stream.pages;
  if (!stream.error.empty()) {
    Fail(r, stream.error_offset, stream.error);
    pages = std::min(pages, stream.ended_pages);
  }

  DotGeometry g;
  bool interlaced = false;
  uint32_t y_res = 0;
  if (dot24) {
    uint32_t x_res = 180;
    if (!stream.images.empty()) {
      switch (stream.images.front().mode) {
        case 40: x_res = 360; break;
        case 33: x_res = 120; break;
        case 38: x_res = 90; break;
        case 32: x_res = 60; break;
        case 0: x_res = 60; break;
        default: x_res = 180; break;
      }
    }
    for (size_t i = 0; i + 1 < stream.feeds.size(); ++i) {
      if (stream.feeds[i] == 1 && stream.feeds[i + 1] == 23) interlaced = true;
    }
    g.x_unit = 360;
    g.x_res = o.x_res != 0 ? o.x_res : x_res;
    g.interlaced = interlaced;
    y_res = o.y_res != 0 ? o.y_res : (interlaced ? 360 : 180);
  } else {
    g.x_res = g.x_unit = o.x_res != 0 ? o.x_res : 200;  // positions are dots
    y_res = o.y_res != 0 ? o.y_res : 200;
  }
  r->geometry = "resolution " + std::to_string(g.x_res) + "x" + std::to_string(y_res) +
                (interlaced ? ", interlaced passes" : "");
  bool second_colour = false;
  for (uint8_t c : stream.color_selects) second_colour = second_colour || c == 1;
  const uint32_t colours = second_colour ? 2 : 1;
  uint32_t print_width = 0;
  for (uint32_t w : stream.print_widths) print_width = std::max(print_width, w);

  for (uint32_t p = 0; p < pages; ++p) {
    // Bounds that hold every image of the page.
    uint64_t right = print_width, bottom = 0;
    for (const BitImage& img : stream.images) {
      if (img.page != p) continue;
      uint64_t col0 = img.offset_columns;
      if (img.from_position && g.x_unit != 0) col0 += uint64_t{img.position} * g.x_res / g.x_unit;
      right = std::max<uint64_t>(right, col0 + img.columns);
      const uint64_t pins = img.column_bytes * 8u;
      bottom = std::max<uint64_t>(bottom, interlaced ? 2 * (uint64_t{img.feed_units} + pins) + 2
                                                     : uint64_t{img.feed_units} + pins);
    }
    uint64_t fed = p < stream.page_feed_units.size()
                       ? uint64_t{stream.page_feed_units[p]} * (interlaced ? 2 : 1)
                       : 0;
    // A 24-pin page names its length (1/360 inch) once, at its start.
    if (dot24 && stream.page_lengths.size() == stream.pages) {
      fed = std::max<uint64_t>(fed, uint64_t{stream.page_lengths[p]} * y_res / 360);
    }
    const DotPage dots = RebuildDots(stream, g, p, static_cast<uint32_t>(right),
                                     static_cast<uint32_t>(std::max(bottom, fed)), colours);
    if (!dots.error.empty()) r->warnings.push_back("page " + std::to_string(p + 1) + ": " + dots.error);
    uint32_t ink_right = 0, ink_bottom = 0;
    for (uint32_t c = 0; c < colours; ++c) {
      for (uint32_t y = 0; y < dots.height; ++y) {
        for (uint32_t x = 0; x < dots.width; ++x) {
          if (dots.Dot(c, x, y)) {
            ink_right = std::max(ink_right, x + 1);
            ink_bottom = std::max(ink_bottom, y + 1);
          }
        }
      }
    }
    PreviewPage page;
    SizePage(&page, std::max(ink_right, print_width), std::max<uint32_t>(ink_bottom, static_cast<uint32_t>(fed)),
             g.x_res, y_res);
    for (uint32_t c = 0; c < colours; ++c) {
      page.AddPlane(c == 0 ? "black" : "red", c == 0 ? kBlackInk : kRedInk);
      for (uint32_t y = 0; y < std::min(dots.height, page.height); ++y) {
        for (uint32_t x = 0; x < std::min(dots.width, page.width); ++x) {
          if (dots.Dot(c, x, y)) page.SetDot(c, x, y);
        }
      }
    }
    r->pages.push_back(std::move(page));
  }
}

// -------------------------------------------------------------- quilldot

enum class DotFamily { kBands0, kBands1, kReceipt, kRaster };

// The page set-up after the first reset says which family of printers the
// job was made for.
DotFamily FamilyOf(const Bytes& s) {
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] != 0x1B || s[i + 1] != 0x40) continue;
    const size_t n = i + 2;
    auto at = [&](std::initializer_list<uint8_t> prefix) {
      return s.size() - n >= prefix.size() && std::equal(prefix.begin(), prefix.end(), s.begin() + static_cast<long>(n));
    };
    if (at({0x1B, 0x33})) return DotFamily::kBands0;
    if (at({0x1B, 0x1D, 0x1E, 0x06})) return DotFamily::kBands1;
    if (at({0x1B, 0x28, 0x47})) return DotFamily::kRaster;
    return DotFamily::kReceipt;
  }
  return DotFamily::kBands0;
}

struct DotInk {
  const char* name;
  std::array<uint8_t, 3> colour;
};

// Colour numbers of quilldot's planes (black, magenta, cyan, yellow and the
// light inks selected as 16 + n).
DotInk InkOfColour(int key) {
  switch (key) {
    case 0: return {"black", kBlackInk};
    case 1: return {"magenta", kMagentaInk};
    case 2: return {"cyan", kCyanInk};
    case 4: return {"yellow", kYellowInk};
    case 17: return {"light magenta", kLightMagentaInk};
    case 18: return {"light cyan", kLightCyanInk};
    default: return {"colour", {128, 128, 128}};
  }
}

uint32_t DensityResolution(uint8_t density) {
  switch (density) {
    case 0x00: return 60;
    case 0x01: return 120;
    case 0x27: return 180;
    case 0x21: return 203;
    case 0x03: return 240;
    case 0x28: return 360;
    default: return 0;
  }
}

void PreviewQuilldot(const Bytes& s, const PreviewOptions& o, PreviewResult* r) {
  const DotFamily family = FamilyOf(s);
  DotStreamConfig config{1, 1, true};
  DotStream stream;
  uint32_t x_res = 0, y_res = 0;
  if (family == DotFamily::kRaster) {
    stream = DecodeDotStream(s, config);
    // The unit command of the page set-up: 1B 28 55 01 00 u (1/3600 inch
    // down) for models up to 3, 1B 28 55 05 00 v v h A0 05 (1/1440 inch)
    // above; the lines of models up to 3 name their steps in 1/3600 inch.
    for (const DotCommand& c : stream.commands) {
      if (c.name == "ESC ( U" && c.bytes.size() == 6 && c.bytes[5] != 0 && y_res == 0) {
        y_res = 3600u / c.bytes[5];
      } else if (c.name == "ESC ( U" && c.bytes.size() == 10 && c.bytes[5] != 0 && c.bytes[7] != 0 && y_res == 0) {
        y_res = 1440u / c.bytes[5];
        x_res = 1440u / c.bytes[7];
      } else if (c.name == "ESC ." && c.bytes.size() >= 5 && c.bytes[3] != 0 && c.bytes[4] != 0) {
        y_res = 3600u / c.bytes[3];
        x_res = 3600u / c.bytes[4];
        break;
      }
    }
    r->geometry = "raster lines";
  } else {
    // The first bit image: its density byte and the bytes per column that
    // let the stream go on after it.
    size_t first = s.size();
    const DotStream probe = DecodeDotStream(s, config);
    size_t offset = 0;
    for (const DotCommand& c : probe.commands) {
      if (c.name == "ESC *") {
        first = offset;
        break;
      }
      offset += c.bytes.size();
    }
    if (first == s.size() && !probe.error.empty() && probe.error_offset + 1 < s.size() &&
        s[probe.error_offset] == 0x1B && s[probe.error_offset + 1] == 0x2A) {
      first = probe.error_offset;  // the first image did not fit one byte per column
    }
    std::vector<uint32_t> candidates;
    if (first + 5 <= s.size()) {
      x_res = DensityResolution(s[first + 2]);
      candidates = ColumnByteCandidates(s, first, LE16(s, first + 3), {0x0D, 0x1B, 0x0A, 0x1D, 0x0C}, 16);
    }
    if (candidates.empty()) candidates.push_back(1);
    bool chosen = false;
    for (uint32_t cb : candidates) {
      DotStream trial = DecodeDotStream(s, {static_cast<int>(cb), 1, true});
      // The count with which the stream goes on longest (see serial bands).
      if (!chosen || trial.error.empty() || trial.commands.size() > stream.commands.size()) {
        stream = std::move(trial);
        config.column_bytes = static_cast<int>(cb);
        chosen = true;
      }
      if (stream.error.empty()) break;
    }
    bool interleaved = false;
    for (const DotCommand* c : stream.Find("ESC J")) interleaved = interleaved || c->bytes[2] == 1;
    if (interleaved) {
      config.pin_pitch = 2;
      stream = DecodeDotStream(s, config);
    }
    const uint32_t band_rows = static_cast<uint32_t>(config.column_bytes) * 8 * config.pin_pitch;
    switch (family) {
      case DotFamily::kBands0: y_res = interleaved ? 144 : (band_rows <= 8 ? 72 : 180); break;
      case DotFamily::kBands1: y_res = interleaved ? 360 : 180; break;
      default: y_res = x_res; break;
    }
    r->geometry = std::to_string(band_rows) + "-row bands" + (interleaved ? " in two interleaved passes" : "");
  }
  if (o.x_res != 0) x_res = o.x_res;
  if (o.y_res != 0) y_res = o.y_res;
  if (x_res == 0) x_res = y_res != 0 ? y_res : 180;
  if (y_res == 0) y_res = x_res;
  r->geometry += ", resolution " + std::to_string(x_res) + "x" + std::to_string(y_res);

  size_t pages = stream.pages.size();
  if (!stream.error.empty()) {
    Fail(r, stream.error_offset, stream.error);
    const int bad_page = stream.commands.empty() ? -1 : stream.commands.back().page;
    // The error lies in the page the last command went to (or after it).
    pages = bad_page < 0 ? 0 : static_cast<size_t>(bad_page);
  } else if (pages > 0) {
    // The reset that ends every job opens a page of its own.
    const DotDecodedPage& last = stream.pages.back();
    if (last.commands.size() == 1 && stream.commands[last.commands[0]].name == "ESC @") --pages;
  }
  for (size_t p = 0; p < pages; ++p) {
    const DotDecodedPage& dp = stream.pages[p];
    uint32_t width = 0, height = 0;
    for (const auto& [key, plane] : dp.planes) {
      width = std::max<uint32_t>(width, static_cast<uint32_t>(plane.Width()));
      height = std::max<uint32_t>(height, static_cast<uint32_t>(plane.Height()));
      if (plane.DoublePrints() != 0) {
        r->warnings.push_back("page " + std::to_string(p + 1) + ": " + std::to_string(plane.DoublePrints()) +
                              " dots printed twice");
      }
    }
    for (size_t i : dp.commands) {
      const DotCommand& c = stream.commands[i];
      if (c.name == "GS W") width = std::max(width, LE16(c.bytes, 2));
    }
    PreviewPage page;
    SizePage(&page, width, height, x_res, y_res);
    std::vector<int> keys;
    for (const auto& entry : dp.planes) keys.push_back(entry.first);
    if (keys.empty()) keys.push_back(0);
    for (size_t k = 0; k < keys.size(); ++k) {
      const DotInk ink = InkOfColour(keys[k]);
      page.AddPlane(ink.name, ink.colour);
      const DotStreamPlane& plane = dp.Plane(keys[k]);
      for (int y = 0; y < plane.Height(); ++y) {
        for (int x = 0; x < plane.Width(); ++x) {
          if (plane.Get(x, y)) page.SetDot(k, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
        }
      }
    }
    r->pages.push_back(std::move(page));
  }
}

}  // namespace

PreviewResult PreviewStream(const Bytes& stream, const PreviewOptions& options) {
  PreviewResult r;
  if (options.format) {
    r.format = *options.format;
    r.format_reason = "named";
  } else {
    const Detection d = DetectFormat(stream);
    if (!d.format) {
      Fail(&r, d.offset, "cannot tell the printer stream's format: " + d.reason);
      return r;
    }
    r.format = *d.format;
    r.format_reason = d.reason;
  }
  switch (r.format) {
    case StreamFormat::kSerial: PreviewSerial(stream, options, &r); break;
    case StreamFormat::kPageLang: PreviewPageLang(stream, &r); break;
    case StreamFormat::kThermal: PreviewBitImages(stream, options, false, &r); break;
    case StreamFormat::kDot24: PreviewBitImages(stream, options, true, &r); break;
    case StreamFormat::kQuilldot: PreviewQuilldot(stream, options, &r); break;
  }
  return r;
}

}  // namespace quillpreview
