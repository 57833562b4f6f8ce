#include "preview/bit_image_decoder.h"

#include <cstdio>

namespace quillpreview {

namespace {

uint32_t LE16(const Bytes& b, size_t at) { return b[at] | (static_cast<uint32_t>(b[at + 1]) << 8); }

class Parser {
 public:
  explicit Parser(const Bytes& bytes) : b_(bytes) {}

  BitImageStream Run() {
    while (pos_ < b_.size() && out_.error.empty()) Step();
    return std::move(out_);
  }

 private:
  bool Need(size_t n) {
    if (pos_ + n <= b_.size()) return true;
    Fail("truncated command");
    return false;
  }

  void Fail(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s at offset %zu", what, pos_);
    out_.error = text;
    out_.error_offset = pos_;
  }

  // Makes sure the current page is counted; called by everything that
  // prints or moves paper.
  void Touch() {
    if (!page_open_) {
      page_open_ = true;
      out_.pages = page_ + 1;
      if (out_.page_feed_units.size() <= page_) out_.page_feed_units.resize(page_ + 1, 0);
    }
  }

  void EndPage() {
    if (!page_open_) return;
    page_open_ = false;
    page_printed_ = false;
    ++page_;
    out_.ended_pages = page_;
    feed_units_ = 0;
    column_ = 0;
    anchored_ = false;
  }

  void Step() {
    const uint8_t c = b_[pos_];
    switch (c) {
      case 0x00: ++pos_; return;
      case 0x0D:
        ++out_.carriage_returns;
        column_ = 0;
        anchored_ = false;
        ++pos_;
        return;
      case 0x0C:
        Touch();
        ++out_.form_feeds;
        EndPage();
        ++pos_;
        return;
      case 0x1D: return Gs();
      case 0x1B: return Esc();
      default: Fail("unexpected byte");
    }
  }

  void Gs() {
    if (!Need(4)) return;
    const uint8_t op = b_[pos_ + 1];
    if (op == 0x57) {
      out_.print_widths.push_back(LE16(b_, pos_ + 2));
    } else if (op == 0x4C) {
      out_.left_margins.push_back(LE16(b_, pos_ + 2));
    } else {
      return Fail("unknown GS command");
    }
    pos_ += 4;
  }

  void Esc() {
    if (!Need(2)) return;
    const uint8_t op = b_[pos_ + 1];
    switch (op) {
      case 0x40:  // ESC @
        if (page_open_ && (page_printed_ || feed_units_ != 0)) EndPage();
        page_printed_ = false;
        ++out_.initializations;
        color_ = 0;
        column_ = 0;
        anchored_ = false;
        pos_ += 2;
        return;
      case 0x2A: return BitImageCmd();
      case 0x24:  // ESC $
        if (!Need(4)) return;
        pending_position_ = true;
        anchored_ = true;
        position_ = LE16(b_, pos_ + 2);
        column_ = 0;
        pos_ += 4;
        return;
      case 0x4A:  // ESC J
        if (!Need(3)) return;
        Touch();
        out_.feeds.push_back(b_[pos_ + 2]);
        feed_units_ += b_[pos_ + 2];
        out_.page_feed_units[page_] = feed_units_;
        pos_ += 3;
        return;
      case 0x72:  // ESC r
        if (!Need(3)) return;
        color_ = b_[pos_ + 2];
        out_.color_selects.push_back(color_);
        pos_ += 3;
        return;
      case 0x55:  // ESC U
        if (!Need(3)) return;
        out_.directions.push_back(b_[pos_ + 2]);
        pos_ += 3;
        return;
      case 0x28: return Paren();
      case 0x26: return Ampersand();
      case 0x1D: return Extension();
      default: Fail("unknown ESC command");
    }
  }

  void BitImageCmd() {
    if (!Need(5)) return;
    BitImage img;
    img.mode = b_[pos_ + 2];
    img.columns = LE16(b_, pos_ + 3);
    img.column_bytes = img.mode >= 32 ? 3 : 1;
    const size_t len = static_cast<size_t>(img.columns) * img.column_bytes;
    if (!Need(5 + len)) return;
    Touch();
    img.page = page_;
    img.feed_units = feed_units_;
    img.color = color_;
    img.positioned = pending_position_;
    img.from_position = anchored_;
    img.position = position_;
    img.offset_columns = column_;
    img.data.assign(b_.begin() + static_cast<long>(pos_ + 5),
                    b_.begin() + static_cast<long>(pos_ + 5 + len));
    pending_position_ = false;
    page_printed_ = true;
    column_ += img.columns;
    out_.images.push_back(std::move(img));
    pos_ += 5 + len;
  }

  void Paren() {
    if (!Need(5)) return;
    const uint8_t op = b_[pos_ + 2];
    const uint32_t n = LE16(b_, pos_ + 3);
    if (!Need(5 + n)) return;
    if (op == 0x55 && n == 1) {
      // A 24-pin page fed to its bottom ends without a form feed; its
      // successor opens with the unit command.
      if (page_open_ && (page_printed_ || feed_units_ != 0)) EndPage();
      out_.units.push_back(b_[pos_ + 5]);
    } else if (op == 0x43 && n == 2) {
      out_.page_lengths.push_back(LE16(b_, pos_ + 5));
    } else {
      return Fail("unknown ESC ( command");
    }
    pos_ += 5 + n;
  }

  // Page commands of the inkjet family that document processors may send
  // around pages (duplex, page flag, margin).
  void Ampersand() {
    if (!Need(5)) return;
    const uint8_t a = b_[pos_ + 2];
    const uint8_t b = b_[pos_ + 3];
    if (a == 0x6C && (b == 0x4C || b == 0x53)) {
      pos_ += 5;
    } else if (a == 0x61 && b == 0x4C) {
      if (!Need(6)) return;
      pos_ += 6;
    } else {
      Fail("unknown ESC & command");
    }
  }

  void Extension() {
    if (!Need(3) || b_[pos_ + 2] != 0x1E) return Fail("unknown ESC GS command");
    for (size_t end = pos_ + 3; end + 2 < b_.size(); ++end) {
      if (b_[end] == 0x1B && b_[end + 1] == 0x1D && b_[end + 2] == 0x1F) {
        ExtensionRecord rec;
        rec.page = page_;
        rec.payload.assign(b_.begin() + static_cast<long>(pos_ + 3),
                           b_.begin() + static_cast<long>(end));
        out_.extensions.push_back(std::move(rec));
        pos_ = end + 3;
        return;
      }
    }
    Fail("unterminated extension record");
  }

  const Bytes& b_;
  size_t pos_ = 0;
  BitImageStream out_;
  uint32_t page_ = 0;
  bool page_open_ = false;
  bool page_printed_ = false;
  uint32_t feed_units_ = 0;
  uint32_t column_ = 0;         // columns printed since the last CR or ESC $
  uint8_t color_ = 0;
  bool pending_position_ = false;
  bool anchored_ = false;       // column_ counts from position_, not from the left edge
  uint32_t position_ = 0;       // last ESC $ value
};

}  // namespace

BitImageStream ParseBitImageStream(const Bytes& bytes) { return Parser(bytes).Run(); }

uint64_t DotPage::CountDots(uint32_t color) const {
  if (color >= planes.size()) return 0;
  uint64_t n = 0;
  for (uint8_t d : planes[color]) n += d;
  return n;
}

DotPage RebuildDots(const BitImageStream& stream, const DotGeometry& geometry, uint32_t page,
                    uint32_t width, uint32_t height, uint32_t colors) {
  constexpr uint32_t kBandUnits = 24;  // feed units from one interlaced band to the next
  DotPage out;
  out.width = width;
  out.height = height;
  out.planes.assign(colors, std::vector<uint8_t>(static_cast<size_t>(width) * height, 0));

  bool have_origin = false;
  uint32_t origin = 0;
  for (const BitImage& img : stream.images) {
    if (img.page != page) continue;
    char text[128];
    if (img.color >= colors) {
      std::snprintf(text, sizeof text, "image in colour %u, only %u planes", img.color, colors);
      out.error = text;
      return out;
    }
    uint32_t col0 = img.offset_columns;
    if (img.from_position) {
      const uint64_t scaled = static_cast<uint64_t>(img.position) * geometry.x_res;
      if (geometry.x_unit == 0 || scaled % geometry.x_unit != 0) {
        std::snprintf(text, sizeof text, "position %u is not on a column", img.position);
        out.error = text;
        return out;
      }
      col0 += static_cast<uint32_t>(scaled / geometry.x_unit);
    }
    uint32_t row0 = img.feed_units;
    uint32_t pitch = 1;
    if (geometry.interlaced) {
      if (!have_origin) {
        have_origin = true;
        origin = img.feed_units;
      }
      const uint32_t d = img.feed_units - origin;
      if (img.feed_units < origin || d % kBandUnits > 1) {
        std::snprintf(text, sizeof text, "pass at %u units is off the band grid from %u",
                      img.feed_units, origin);
        out.error = text;
        return out;
      }
      row0 = 2 * origin + 2 * kBandUnits * (d / kBandUnits) + d % kBandUnits;
      pitch = 2;
    }
    const uint32_t pins = img.column_bytes * 8u;
    std::vector<uint8_t>& plane = out.planes[img.color];
    for (uint32_t c = 0; c < img.columns; ++c) {
      const uint8_t* column = img.data.data() + static_cast<size_t>(c) * img.column_bytes;
      for (uint32_t pin = 0; pin < pins; ++pin) {
        if ((column[pin / 8] & (0x80u >> (pin % 8))) == 0) continue;
        const uint64_t x = static_cast<uint64_t>(col0) + c;
        const uint64_t y = static_cast<uint64_t>(row0) + static_cast<uint64_t>(pin) * pitch;
        if (x >= width || y >= height) {
          ++out.outside;
          continue;
        }
        plane[static_cast<size_t>(y) * width + static_cast<size_t>(x)] = 1;
      }
    }
  }
  return out;
}

std::string CompareDots(const DotPage& dots, uint32_t color, const BitPage& page, uint32_t top,
                        uint32_t x0) {
  std::string report;
  if (!dots.error.empty()) report += "decoder: " + dots.error + "\n";
  if (dots.outside != 0) report += std::to_string(dots.outside) + " dots outside the page\n";
  if (color >= dots.planes.size()) return report + "no such colour plane\n";
  int shown = 0;
  uint64_t differences = 0;
  for (uint32_t y = 0; y < dots.height; ++y) {
    for (uint32_t x = 0; x < dots.width; ++x) {
      const bool inside = y >= top && y - top < page.height && x0 + x < page.width;
      const bool want = inside && page.Get(x0 + x, y - top);
      const bool got = dots.Dot(color, x, y);
      if (want == got) continue;
      ++differences;
      if (shown++ < 8) {
        report += "  (" + std::to_string(x) + "," + std::to_string(y) + "): printed " +
                  (got ? "dot" : "blank") + ", page " + (want ? "dot" : "blank") + "\n";
      }
    }
  }
  if (differences != 0) {
    report += std::to_string(differences) + " differing dots in colour " + std::to_string(color) +
              "\n";
  }
  return report;
}

}  // namespace quillpreview
