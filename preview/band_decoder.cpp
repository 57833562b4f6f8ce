#include "preview/band_decoder.h"

#include <cstdio>

namespace quillpreview {

bool DotPlane::Set(uint32_t row, uint32_t col) {
  if (row >= rows_.size()) rows_.resize(size_t{row} + 1);
  std::vector<uint8_t>& bits = rows_[row];
  if (col / 8 >= bits.size()) bits.resize(col / 8 + 1, 0);
  const uint8_t mask = static_cast<uint8_t>(0x80 >> (col % 8));
  if (bits[col / 8] & mask) return false;
  bits[col / 8] |= mask;
  if (col + 1 > width_) width_ = col + 1;
  ++count_;
  return true;
}

bool DotPlane::Dot(uint32_t row, uint32_t col) const {
  if (row >= rows_.size() || col / 8 >= rows_[row].size()) return false;
  return (rows_[row][col / 8] & (0x80 >> (col % 8))) != 0;
}

uint32_t DotPlane::Rows() const {
  for (size_t r = rows_.size(); r > 0; --r) {
    for (uint8_t b : rows_[r - 1]) {
      if (b != 0) return static_cast<uint32_t>(r);
    }
  }
  return 0;
}

std::vector<uint8_t> DotPlane::Line(uint32_t row, uint32_t width) const {
  std::vector<uint8_t> line((size_t{width} + 7) / 8, 0);
  if (row >= rows_.size()) return line;
  const std::vector<uint8_t>& bits = rows_[row];
  for (size_t i = 0; i < line.size() && i < bits.size(); ++i) line[i] = bits[i];
  if (width % 8 != 0 && !line.empty()) line.back() &= static_cast<uint8_t>(0xFF00 >> (width % 8));
  return line;
}

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += buf;
  }
  return out;
}

// Plays the stream on a model printer.
class Decoder {
 public:
  Decoder(const uint8_t* data, size_t len, const BandGeometry& g)
      : p_(data), len_(len), g_(g),
        bytes_per_column_(g.bytes_per_column != 0 ? g.bytes_per_column : (g.band_height + 7) / 8) {}

  DecodedBands Run() {
    while (pos_ < len_) {
      Step();
      if (g_.stop_at_unknown && out_.commands.back().kind == BandCmd::kUnknown) break;
    }
    return std::move(out_);
  }

 private:
  size_t Left() const { return len_ - pos_; }
  uint8_t At(size_t i) const { return p_[pos_ + i]; }
  uint32_t LE16(size_t i) const { return At(i) | (uint32_t{At(i + 1)} << 8); }

  bool Match(std::initializer_list<uint8_t> prefix) const {
    if (Left() < prefix.size()) return false;
    size_t i = 0;
    for (uint8_t b : prefix) {
      if (At(i++) != b) return false;
    }
    return true;
  }

  void Problem(const std::string& what) {
    out_.problems.push_back("at " + std::to_string(pos_) + ": " + what);
  }

  // The page that takes content, opened on demand.
  DecodedPage& Page() {
    if (!page_open_) {
      out_.pages.emplace_back();
      page_open_ = true;
      page_used_ = false;
      x_col_ = 0;
      y_units_ = 0;
    }
    return out_.pages.back();
  }
  int PageIndex() const { return page_open_ ? static_cast<int>(out_.pages.size()) - 1 : -1; }

  DecodedCommand& Log(BandCmd kind, size_t length) {
    DecodedCommand c;
    c.kind = kind;
    c.offset = pos_;
    c.page = PageIndex();
    if (kind == BandCmd::kSkipped || kind == BandCmd::kUnknown) {
      c.bytes.assign(p_ + pos_, p_ + pos_ + length);
    }
    out_.commands.push_back(std::move(c));
    return out_.commands.back();
  }

  // A page-opening command on a page that already moved paper or printed
  // belongs to the next page.
  void PageOpening() {
    if (page_open_ && page_used_) page_open_ = false;
    Page();
  }

  void Skip(size_t length) {
    Log(BandCmd::kSkipped, length);
    pos_ += length;
  }

  void Truncated(const char* what) {
    const std::string text = std::string("truncated ") + what;
    Problem(text);
    Log(BandCmd::kUnknown, Left()).what = text;
    pos_ = len_;
  }

  void Graphics() {
    if (Left() < 5) return Truncated("graphics header");
    const uint32_t mode = At(2);
    const uint32_t n = LE16(3);
    const size_t data_len = size_t{n} * bytes_per_column_;
    if (Left() - 5 < data_len) return Truncated("graphics data");
    DecodedPage& page = Page();
    page_used_ = true;
    const uint32_t top = Row();
    DecodedCommand& c = Log(BandCmd::kGraphics, 0);
    c.value = mode;
    c.columns = n;
    c.start_column = x_col_;
    c.top_row = top;
    c.colour = colour_;
    const uint8_t* data = p_ + pos_ + 5;
    for (uint32_t j = 0; j < n; ++j) {
      const uint8_t* column = data + size_t{j} * bytes_per_column_;
      for (uint32_t k = 0; k < bytes_per_column_ * 8; ++k) {
        if ((column[k / 8] & (0x80 >> (k % 8))) == 0) continue;
        if (k >= g_.band_height) {
          Problem("dot below the band in column " + std::to_string(j));
          continue;
        }
        if (colour_ > 1) continue;  // reported at the colour command
        if (!page.planes[colour_].Set(top + k, x_col_ + j)) {
          out_.double_dots.push_back({PageIndex(), colour_, top + k, x_col_ + j});
        }
      }
    }
    x_col_ += n;
    pos_ += 5 + data_len;
  }

  uint32_t Row() {
    const uint64_t scaled = y_units_ * g_.y_res;
    if (g_.y_unit == 0) return 0;
    if (scaled % g_.y_unit != 0) Problem("band starts between raster rows");
    return static_cast<uint32_t>(scaled / g_.y_unit);
  }

  void Position() {
    if (Left() < 4) return Truncated("position");
    Page();
    const uint32_t units = LE16(2);
    const uint64_t scaled = uint64_t{units} * g_.x_res;
    if (g_.x_unit != 0 && scaled % g_.x_unit != 0) Problem("position between raster columns");
    x_col_ = g_.x_unit == 0 ? 0 : static_cast<uint32_t>(scaled / g_.x_unit);
    DecodedCommand& c = Log(BandCmd::kPosition, 0);
    c.value = units;
    c.start_column = x_col_;
    pos_ += 4;
  }

  void Feed() {
    if (Left() < 3) return Truncated("feed");
    DecodedPage& page = Page();
    page_used_ = true;
    const uint32_t n = At(2);
    y_units_ += n;
    page.fed_units += n;
    Log(BandCmd::kFeed, 0).value = n;
    pos_ += 3;
  }

  // 1B 1D 1E ... 1B 1D 1F.
  void Record() {
    for (size_t i = 3; i + 3 <= Left(); ++i) {
      if (At(i) == 0x1B && At(i + 1) == 0x1D && At(i + 2) == 0x1F) return Skip(i + 3);
    }
    Truncated("1B 1D 1E record");
  }

  // 1B 25 ... up to and including 58 ('X'), the universal exit.
  void UniversalExit() {
    for (size_t i = 2; i < Left(); ++i) {
      if (At(i) == 0x58) return Skip(i + 1);
    }
    Truncated("1B 25 sequence");
  }

  void Step() {
    const uint8_t b = At(0);
    if (b == 0x0D) {
      Page();
      x_col_ = 0;
      Log(BandCmd::kCarriageReturn, 0);
      ++pos_;
      return;
    }
    if (b == 0x0C) {
      Page();
      Log(BandCmd::kFormFeed, 0);
      page_open_ = false;
      ++pos_;
      return;
    }
    if (Match({0x1B, 0x2A})) return Graphics();
    if (Match({0x1B, 0x24})) return Position();
    if (Match({0x1B, 0x4A})) return Feed();
    if (Match({0x1B, 0x72})) {
      if (Left() < 3) return Truncated("colour");
      Page();
      colour_ = At(2);
      if (colour_ > 1) Problem("unknown colour " + std::to_string(colour_));
      Log(BandCmd::kColour, 0).value = colour_;
      pos_ += 3;
      return;
    }
    if (Match({0x1B, 0x55})) {
      if (Left() < 3) return Truncated("direction");
      Page();
      Log(BandCmd::kDirection, 0).value = At(2);
      pos_ += 3;
      return;
    }
    if (Match({0x1B, 0x28, 0x43, 0x02, 0x00})) {
      if (Left() < 7) return Truncated("page length");
      PageOpening();
      Log(BandCmd::kPageLength, 0).value = LE16(5);
      pos_ += 7;
      return;
    }
    if (Match({0x1B, 0x26, 0x6C, 0x4C})) {
      if (Left() < 5) return Truncated("page flag");
      PageOpening();
      Log(BandCmd::kPageFlag, 0).value = At(4);
      pos_ += 5;
      return;
    }
    if (Match({0x1B, 0x26, 0x61, 0x4C})) {
      if (Left() < 6) return Truncated("left margin");
      Page();
      Log(BandCmd::kLeftMargin, 0).value = LE16(4);
      pos_ += 6;
      return;
    }
    if (Match({0x1B, 0x40}) || Match({0x1B, 0x45})) return Skip(2);
    if (Match({0x1B, 0x78})) {
      if (Left() < 3) return Truncated("print quality");
      return Skip(3);
    }
    if (Match({0x1B, 0x1D, 0x1E})) return Record();
    if (Match({0x1B, 0x28})) {
      if (Left() < 5) return Truncated("1B 28 sequence");
      const size_t n = LE16(3);
      if (Left() < 5 + n) return Truncated("1B 28 sequence");
      return Skip(5 + n);
    }
    if (Match({0x1B, 0x26, 0x6C, 0x53})) {
      if (Left() < 5) return Truncated("duplex");
      return Skip(5);
    }
    if (Match({0x1B, 0x25})) return UniversalExit();
    if (Match({0x1D, 0x57}) || Match({0x1D, 0x4C})) {
      if (Left() < 4) return Truncated("1D sequence");
      return Skip(4);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "unknown byte %02X", b);
    Problem(buf);
    Log(BandCmd::kUnknown, 1).what = buf;
    ++pos_;
  }

  const uint8_t* p_;
  size_t len_;
  BandGeometry g_;
  uint32_t bytes_per_column_;
  size_t pos_ = 0;
  DecodedBands out_;
  bool page_open_ = false;
  bool page_used_ = false;  // the open page fed or printed
  uint32_t x_col_ = 0;      // raster column of the head
  uint64_t y_units_ = 0;    // vertical units fed on the page
  uint8_t colour_ = 0;
};

}  // namespace

std::string DecodedBands::Summary() const {
  std::string out;
  auto add = [&out](const std::string& s) {
    if (!out.empty()) out += ' ';
    out += s;
  };
  for (const DecodedCommand& c : commands) {
    const std::string v = std::to_string(c.value);
    switch (c.kind) {
      case BandCmd::kGraphics:
        add("GFX(m" + v + ",n" + std::to_string(c.columns) + ",x" + std::to_string(c.start_column) +
            ",y" + std::to_string(c.top_row) + ")");
        break;
      case BandCmd::kPosition: add("POS(" + v + ")"); break;
      case BandCmd::kCarriageReturn: add("CR"); break;
      case BandCmd::kFeed: add("FEED(" + v + ")"); break;
      case BandCmd::kColour: add("COL(" + v + ")"); break;
      case BandCmd::kDirection: add("DIR(" + v + ")"); break;
      case BandCmd::kPageLength: add("PL(" + v + ")"); break;
      case BandCmd::kPageFlag: add("FLAG(" + v + ")"); break;
      case BandCmd::kLeftMargin: add("LM(" + v + ")"); break;
      case BandCmd::kFormFeed: add("FF"); break;
      case BandCmd::kSkipped: add("SKIP(" + Hex(c.bytes) + ")"); break;
      case BandCmd::kUnknown: add("?(" + Hex(c.bytes) + ")"); break;
    }
  }
  return out;
}

std::vector<DecodedCommand> DecodedBands::Of(BandCmd kind) const {
  std::vector<DecodedCommand> out;
  for (const DecodedCommand& c : commands) {
    if (c.kind == kind) out.push_back(c);
  }
  return out;
}

DecodedBands DecodeBands(const uint8_t* data, size_t len, const BandGeometry& geometry) {
  return Decoder(data, len, geometry).Run();
}

DecodedBands DecodeBands(const std::vector<uint8_t>& data, const BandGeometry& geometry) {
  return DecodeBands(data.data(), data.size(), geometry);
}

}  // namespace quillpreview
