#include "preview/stream_format.h"

#include <cstdio>
#include <initializer_list>

namespace quillpreview {

namespace {

constexpr struct {
  StreamFormat format;
  const char* name;
} kNames[] = {
    {StreamFormat::kSerial, "serial"},   {StreamFormat::kPageLang, "pagelang"},
    {StreamFormat::kThermal, "thermal"}, {StreamFormat::kDot24, "dot24"},
    {StreamFormat::kQuilldot, "quilldot"},
};

class Scanner {
 public:
  explicit Scanner(const Bytes& b) : b_(b) {}

  bool AtEnd() const { return pos_ >= b_.size(); }
  size_t pos() const { return pos_; }
  bool Match(std::initializer_list<int> prefix) const {
    if (b_.size() - pos_ < prefix.size()) return false;
    size_t i = pos_;
    for (int v : prefix) {
      if (v >= 0 && b_[i] != v) return false;  // -1 stands for any byte
      ++i;
    }
    return true;
  }
  bool Take(std::initializer_list<int> prefix) {
    if (!Match(prefix)) return false;
    pos_ += prefix.size();
    return true;
  }
  // A 1B 1D 1E ... 1B 1D 1F record.
  bool TakeRecord() {
    if (!Match({0x1B, 0x1D, 0x1E})) return false;
    for (size_t i = pos_ + 3; i + 3 <= b_.size(); ++i) {
      if (b_[i] == 0x1B && b_[i + 1] == 0x1D && b_[i + 2] == 0x1F) {
        pos_ = i + 3;
        return true;
      }
    }
    return false;
  }
  std::string Next(size_t n) const {
    std::string out;
    char hex[4];
    for (size_t i = pos_; i < b_.size() && i < pos_ + n; ++i) {
      std::snprintf(hex, sizeof hex, i == pos_ ? "%02X" : " %02X", b_[i]);
      out += hex;
    }
    return out;
  }

 private:
  const Bytes& b_;
  size_t pos_ = 0;
};

Detection Found(StreamFormat format, const std::string& reason) {
  Detection d;
  d.format = format;
  d.reason = reason;
  return d;
}

Detection Unknown(const Scanner& s, const std::string& what) {
  Detection d;
  d.offset = s.pos();
  d.reason = what + " at byte " + std::to_string(s.pos()) +
             (s.AtEnd() ? " (end of stream)" : " (" + s.Next(6) + ")");
  return d;
}

}  // namespace

const char* FormatName(StreamFormat format) {
  for (const auto& n : kNames) {
    if (n.format == format) return n.name;
  }
  return "?";
}

std::optional<StreamFormat> FormatFromName(const std::string& name) {
  for (const auto& n : kNames) {
    if (name == n.name) return n.format;
  }
  return std::nullopt;
}

Detection DetectFormat(const Bytes& stream) {
  Scanner s(stream);
  if (s.Match({0x1B, 0x45})) return Found(StreamFormat::kPageLang, "starts with the page-language reset 1B 45");

  // quilldot's job start (drawer, black mark, logo) and its printer prefix.
  if (s.Match({0x1B, 0x70, 0x00, 0xFF, 0xFF}) || s.Match({0x1D, 0x0C}) ||
      s.Match({0x1B, 0x61, 0x31, 0x1C, 0x70, -1, 0x00, 0x1B, 0x61, 0x30}) ||
      s.Match({0x1B, 0x7B, 0x41})) {
    return Found(StreamFormat::kQuilldot, "starts with a quilldot job-start command");
  }
  if (!s.Take({0x1B, 0x40})) return Unknown(s, "no printer reset 1B 40 or 1B 45");

  if (s.Match({0x1B, 0x33})) return Found(StreamFormat::kQuilldot, "line spacing 1B 33 after the reset");
  if (s.Match({0x1B, 0x1D, 0x1E, 0x06})) return Found(StreamFormat::kQuilldot, "the 24-pin bracket after the reset");
  if (s.Match({0x1B, 0x28, 0x47})) return Found(StreamFormat::kQuilldot, "the raster set-up 1B 28 47 after the reset");
  if (s.Match({0x1D, 0x57}) || s.Match({0x1D, 0x4C})) {
    return Found(StreamFormat::kQuilldot, "receipt width or margin right after the reset");
  }
  if (s.Match({0x1B, 0x1D, 0x1E, 0x04, 0x31})) {
    return Found(StreamFormat::kQuilldot, "the receipt page record right after the reset");
  }

  // A library document: its records, then the first page.
  while (s.TakeRecord() || s.Take({0x1B, 0x26, 0x6C, 0x53, -1}) || s.Take({0x1B, 0x78, -1})) {
  }
  if (s.AtEnd()) return Found(StreamFormat::kSerial, "a document without pages");
  if (s.Match({0x1B, 0x40})) return Found(StreamFormat::kThermal, "a page that opens with its own reset 1B 40");
  if (s.Match({0x1B, 0x28, 0x43}) || s.Match({0x1B, 0x26, 0x6C, 0x4C})) {
    return Found(StreamFormat::kSerial, "a page that opens with page length or page flag");
  }
  if (s.Match({0x1B, 0x28, 0x55})) return Found(StreamFormat::kDot24, "a page that opens with the unit command 1B 28 55");
  if (s.Match({0x1B, 0x2A}) || s.Match({0x1B, 0x4A}) || s.Match({0x1B, 0x72}) || s.Match({0x1B, 0x24}) ||
      s.Match({0x1B, 0x55}) || s.Match({0x0D}) || s.Match({0x0C})) {
    return Found(StreamFormat::kDot24, "a page that opens without page commands");
  }
  return Unknown(s, "no page command of a known printer");
}

}  // namespace quillpreview
