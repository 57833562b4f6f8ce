// dot_stream_decoder.cpp - reads quilldot's printer stream back into dots.
#include "preview/dot_stream_decoder.h"

#include <algorithm>
#include <cstdio>

namespace quillpreview {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr uint8_t GS = 0x1D;
constexpr uint8_t FS = 0x1C;

// Unpacks PackBits from data[0..avail) until `expected` bytes came out;
// *consumed receives the input bytes used. False when malformed.
bool UnpackPrefix(const uint8_t* data, size_t avail, size_t expected, Bytes* out,
                  size_t* consumed) {
  out->clear();
  size_t i = 0;
  while (out->size() < expected) {
    if (i >= avail) return false;
    const int8_t count = static_cast<int8_t>(data[i++]);
    if (count >= 0) {
      const size_t n = static_cast<size_t>(count) + 1;
      if (i + n > avail) return false;
      out->insert(out->end(), data + i, data + i + n);
      i += n;
    } else if (count != -128) {
      if (i >= avail) return false;
      out->insert(out->end(), static_cast<size_t>(1 - count), data[i++]);
    }
  }
  *consumed = i;
  return out->size() == expected;
}

std::string Hex2(uint8_t b) {
  char text[4];
  snprintf(text, sizeof text, "%02X", b);
  return text;
}

class Decoder {
 public:
  Decoder(const Bytes& s, const DotStreamConfig& c) : s_(s), config_(c) {}

  DotStream Run() {
    while (pos_ < s_.size() && out_.error.empty()) Step();
    return out_;
  }

 private:
  size_t Left() const { return s_.size() - pos_; }
  uint8_t At(size_t k) const { return s_[pos_ + k]; }
  unsigned LE16(size_t k) const { return At(k) | (At(k + 1) << 8); }

  void Fail(const std::string& why) {
    if (!out_.error.empty()) return;
    out_.error = why + " at byte " + std::to_string(pos_);
    out_.error_offset = pos_;
  }

  // Records a command of n bytes starting at pos_ and moves past it.
  bool Take(const std::string& name, size_t n) {
    if (Left() < n) {
      Fail("truncated " + name);
      return false;
    }
    DotCommand cmd;
    cmd.name = name;
    cmd.bytes.assign(s_.begin() + static_cast<long>(pos_), s_.begin() + static_cast<long>(pos_ + n));
    cmd.page = page_;
    if (page_ >= 0) out_.pages[static_cast<size_t>(page_)].commands.push_back(out_.commands.size());
    out_.commands.push_back(std::move(cmd));
    pos_ += n;
    return true;
  }

  DotStreamPlane& Plane(int colour) {
    if (page_ < 0) {
      Fail("dots before the first ESC @");
      static DotStreamPlane sink;
      return sink;
    }
    return out_.pages[static_cast<size_t>(page_)].planes[colour];
  }

  void NewPage() {
    out_.pages.emplace_back();
    page_ = static_cast<int>(out_.pages.size()) - 1;
    x_ = y_ = 0;
    colour_ = 0;
  }

  // A raster line of `bytes` bytes (1 bit per dot, MSB first) at (x_, row).
  void PutLine(const Bytes& line, int colour, int row, unsigned dots) {
    DotStreamPlane& plane = Plane(colour);
    for (unsigned i = 0; i < dots && i / 8 < line.size(); ++i)
      if (line[i / 8] & (0x80 >> (i % 8))) plane.Set(x_ + static_cast<int>(i), row);
  }

  void Step() {
    const uint8_t b = At(0);
    switch (b) {
      case 0x0D: Take("CR", 1); x_ = 0; return;
      case 0x0A: Take("LF", 1); y_ += line_spacing_; return;
      case 0x0C:
        Take("FF", 1);
        if (page_ >= 0) out_.pages[static_cast<size_t>(page_)].form_feed = true;
        y_ = 0;
        x_ = 0;
        return;
      case ESC: return StepEsc();
      case GS: return StepGs();
      case FS:
        if (Left() >= 2 && At(1) == 'p') {
          Take("FS p", 4);
          return;
        }
        break;
      default: break;
    }
    Fail("unknown byte " + Hex2(b));
  }

  void StepGs() {
    if (Left() < 2) return Fail("truncated GS");
    switch (At(1)) {
      case 'W': Take("GS W", 4); return;
      case 'L': Take("GS L", 4); return;
      case 'V': Take("GS V", 4); return;
      case 0x0C: Take("GS FF", 2); return;
      default: Fail("unknown GS " + Hex2(At(1)));
    }
  }

  void StepEsc() {
    if (Left() < 2) return Fail("truncated ESC");
    switch (At(1)) {
      case '@':
        NewPage();
        Take("ESC @", 2);
        return;
      case '{': Take("ESC {", 3); return;
      case '3':
        if (Take("ESC 3", 3)) line_spacing_ = s_[pos_ - 1];
        return;
      case 'U': Take("ESC U", 3); return;
      case 'a': Take("ESC a", 3); return;
      case 'p': Take("ESC p", 5); return;
      case 'r':
        if (Take("ESC r", 3)) colour_ = s_[pos_ - 1];
        return;
      case 'J':
        if (Take("ESC J", 3)) y_ += s_[pos_ - 1];
        return;
      case '$':
        if (Left() >= 4) x_ = static_cast<int>(LE16(2));
        Take("ESC $", 4);
        return;
      case '*': return BitImage();
      case '.': return RasterGraphics();
      case 'i': return RasterLine();
      case '(': return Extended();
      case GS: return Bracket();
      default: Fail("unknown ESC " + Hex2(At(1)));
    }
  }

  // 1B 1D 1E ... 1B 1D 1F
  void Bracket() {
    if (Left() < 3 || At(2) != 0x1E) return Fail("unknown ESC GS");
    for (size_t k = 3; k + 2 < Left(); ++k) {
      if (At(k) == ESC && At(k + 1) == GS && At(k + 2) == 0x1F) {
        Take("ESC GS RS", k + 3);
        return;
      }
    }
    Fail("unterminated ESC GS RS block");
  }

  void Extended() {
    if (Left() < 5) return Fail("truncated ESC (");
    const uint8_t kind = At(2);
    const unsigned n = LE16(3);
    if (Left() < 5 + n) return Fail("truncated ESC (");
    const std::string name = std::string("ESC ( ") + static_cast<char>(kind);
    if (kind == 'v' && n == 2) {
      y_ += static_cast<int16_t>(LE16(5));
    } else if (kind == 'V' && n == 2) {
      y_ = static_cast<int>(LE16(5));
    } else if (kind == 'r' && n == 2) {
      colour_ = 16 + At(6);
    }
    Take(name, 5 + n);
  }

  void BitImage() {
    const size_t head = config_.density_byte ? 5 : 4;
    if (Left() < head) return Fail("truncated ESC *");
    const unsigned columns = LE16(head - 2);
    const size_t cb = static_cast<size_t>(config_.column_bytes);
    const size_t total = head + columns * cb;
    if (Left() < total) return Fail("truncated ESC * data");
    const size_t data = pos_ + head;
    const int x0 = x_;
    const int y0 = y_;
    if (!Take("ESC *", total)) return;
    DotStreamPlane& plane = Plane(0);
    for (unsigned c = 0; c < columns; ++c) {
      for (size_t k = 0; k < cb; ++k) {
        const uint8_t v = s_[data + c * cb + k];
        for (int bit = 0; bit < 8; ++bit)
          if (v & (0x80 >> bit))
            plane.Set(x0 + static_cast<int>(c),
                      y0 + (static_cast<int>(k) * 8 + bit) * config_.pin_pitch);
      }
    }
    x_ = x0 + static_cast<int>(columns);
  }

  // ESC . c v h m nL nH data
  void RasterGraphics() {
    if (Left() < 8) return Fail("truncated ESC .");
    const uint8_t type = At(2);
    const unsigned rows = At(5);
    const unsigned dots = LE16(6);
    const size_t row_bytes = (dots + 7) / 8;
    const size_t expected = row_bytes * rows;
    Bytes raw;
    size_t used = 0;
    if (type == 1) {
      if (!UnpackPrefix(s_.data() + pos_ + 8, Left() - 8, expected, &raw, &used))
        return Fail("bad PackBits in ESC .");
    } else if (type == 0) {
      if (Left() < 8 + expected) return Fail("truncated ESC . data");
      raw.assign(s_.begin() + static_cast<long>(pos_ + 8),
                 s_.begin() + static_cast<long>(pos_ + 8 + expected));
      used = expected;
    } else {
      return Fail("unknown ESC . compression");
    }
    const int colour = colour_;
    if (!Take("ESC .", 8 + used)) return;
    for (unsigned r = 0; r < rows; ++r) {
      Bytes line(raw.begin() + static_cast<long>(r * row_bytes),
                 raw.begin() + static_cast<long>((r + 1) * row_bytes));
      PutLine(line, colour, y_ + static_cast<int>(r), dots);
    }
    x_ += static_cast<int>(dots);
  }

  // ESC i c t b nL nH mL mH data
  void RasterLine() {
    if (Left() < 9) return Fail("truncated ESC i");
    const uint8_t colour = At(2);
    const uint8_t type = At(3);
    const size_t row_bytes = LE16(5);
    const unsigned rows = LE16(7);
    const size_t expected = row_bytes * rows;
    Bytes raw;
    size_t used = 0;
    if (At(4) != 1) return Fail("ESC i with more than one bit per dot");
    if (type == 1) {
      if (!UnpackPrefix(s_.data() + pos_ + 9, Left() - 9, expected, &raw, &used))
        return Fail("bad PackBits in ESC i");
    } else if (type == 0) {
      if (Left() < 9 + expected) return Fail("truncated ESC i data");
      raw.assign(s_.begin() + static_cast<long>(pos_ + 9),
                 s_.begin() + static_cast<long>(pos_ + 9 + expected));
      used = expected;
    } else {
      return Fail("unknown ESC i compression");
    }
    if (!Take("ESC i", 9 + used)) return;
    for (unsigned r = 0; r < rows; ++r) {
      Bytes line(raw.begin() + static_cast<long>(r * row_bytes),
                 raw.begin() + static_cast<long>((r + 1) * row_bytes));
      PutLine(line, colour, y_ + static_cast<int>(r), static_cast<unsigned>(row_bytes * 8));
    }
    x_ += static_cast<int>(row_bytes * 8);
  }

  const Bytes& s_;
  const DotStreamConfig config_;
  DotStream out_;
  size_t pos_ = 0;
  int page_ = -1;
  int x_ = 0;
  int y_ = 0;
  int colour_ = 0;
  int line_spacing_ = 0;
};

}  // namespace

void DotStreamPlane::Set(int x, int y) {
  if (y >= Height()) rows_.resize(static_cast<size_t>(y) + 1);
  std::vector<uint8_t>& row = rows_[static_cast<size_t>(y)];
  if (x >= static_cast<int>(row.size())) row.resize(static_cast<size_t>(x) + 1, 0);
  if (row[static_cast<size_t>(x)]) {
    ++double_prints_;
    return;
  }
  row[static_cast<size_t>(x)] = 1;
  ++dots_;
  if (x + 1 > width_) width_ = x + 1;
}

bool DotStreamPlane::Get(int x, int y) const {
  if (y < 0 || y >= Height() || x < 0) return false;
  const std::vector<uint8_t>& row = rows_[static_cast<size_t>(y)];
  return x < static_cast<int>(row.size()) && row[static_cast<size_t>(x)];
}

const DotStreamPlane& DotDecodedPage::Plane(int colour) const {
  static const DotStreamPlane kEmpty;
  const auto it = planes.find(colour);
  return it == planes.end() ? kEmpty : it->second;
}

std::vector<std::string> DotStream::Names(int page) const {
  std::vector<std::string> names;
  for (const DotCommand& c : commands)
    if (c.page == page) names.push_back(c.name);
  return names;
}

Bytes DotStream::PageBytes(int page) const {
  Bytes out;
  for (const DotCommand& c : commands)
    if (c.page == page) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
  return out;
}

std::vector<const DotCommand*> DotStream::Find(const std::string& name) const {
  std::vector<const DotCommand*> found;
  for (const DotCommand& c : commands)
    if (c.name == name) found.push_back(&c);
  return found;
}

DotStream DecodeDotStream(const Bytes& stream, const DotStreamConfig& config) {
  return Decoder(stream, config).Run();
}

bool UnpackBits(const uint8_t* data, size_t len, size_t expected, Bytes* out) {
  size_t used = 0;
  return UnpackPrefix(data, len, expected, out, &used) && used == len;
}

std::string DiffDots(const DotStreamPlane& plane, const DotRows& expected) {
  const int height = static_cast<int>(expected.size());
  const int width = height ? static_cast<int>(expected[0].size()) : 0;
  for (int y = 0; y < std::max(height, plane.Height()); ++y) {
    for (int x = 0; x < std::max(width, plane.Width()); ++x) {
      const bool want = y < height && x < width && expected[static_cast<size_t>(y)][static_cast<size_t>(x)];
      if (plane.Get(x, y) != want)
        return "dot (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
               (want ? "missing" : "extra");
    }
  }
  if (plane.DoublePrints()) return std::to_string(plane.DoublePrints()) + " dots printed twice";
  return "";
}

}  // namespace quillpreview
