#include "preview/dcraster_decoder.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace quillpreview {

namespace {

constexpr size_t kMaxDelivery = 32768;

struct FormatInfo {
  const char* name;
  int colours;
  bool object;
  bool interleaved;
  bool cmyk;
};

constexpr FormatInfo kFormatInfos[] = {
    {"K", 1, false, false, false},     {"K+O", 1, true, false, false},
    {"pRGB", 3, false, false, false},  {"iRGB", 3, false, true, false},
    {"pRGB+O", 3, true, false, false}, {"iRGB+O", 3, true, true, false},
    {"pCMYK", 4, false, false, true},
};

class Reader {
 public:
  explicit Reader(const DcrBytes& bytes) : bytes_(bytes) {}

  // Reads up to and including the next '\n'; false when there is none.
  bool Line(std::string* line) {
    for (size_t i = pos_; i < bytes_.size(); ++i) {
      if (bytes_[i] == '\n') {
        line->assign(bytes_.begin() + static_cast<long>(pos_), bytes_.begin() + static_cast<long>(i));
        pos_ = i + 1;
        return true;
      }
    }
    return false;
  }
  size_t pos() const { return pos_; }
  void Skip(size_t n) { pos_ += n; }

 private:
  const DcrBytes& bytes_;
  size_t pos_ = 0;
};

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

bool Inflate(const uint8_t* data, size_t size, DcrBytes* out, size_t* consumed, std::string* error) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return Fail(error, "inflateInit failed");
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = static_cast<uInt>(size);
  uint8_t buf[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out->insert(out->end(), buf, buf + (sizeof buf - zs.avail_out));
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  *consumed = zs.total_in;
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) return Fail(error, "zlib stream incomplete or corrupt (" + std::to_string(rc) + ")");
  return true;
}

uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool DecodeDcRaster(const DcrBytes& stream, DcrImage* image, std::string* error,
                    uint8_t blank_object_code) {
  *image = DcrImage{};
  Reader reader(stream);
  std::string line;

  if (!reader.Line(&line) || line != "DCRASTER v1.0") return Fail(error, "bad magic line");
  image->header.push_back(line);

  if (!reader.Line(&line)) return Fail(error, "missing size line");
  image->header.push_back(line);
  {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(line.c_str(), "ImageSize %d %d%c", &w, &h, &tail) != 2) {
      return Fail(error, "bad size line: " + line);
    }
    if (line != "ImageSize " + std::to_string(w) + " " + std::to_string(h)) {
      return Fail(error, "size line not in canonical form: " + line);
    }
    image->width = w;
    image->height = h;
  }

  if (!reader.Line(&line) || line.rfind("ImageFormat ", 0) != 0) return Fail(error, "missing format line");
  image->header.push_back(line);
  const FormatInfo* info = nullptr;
  for (const FormatInfo& f : kFormatInfos) {
    if (line == std::string("ImageFormat ") + f.name) info = &f;
  }
  if (info == nullptr) return Fail(error, "unknown format: " + line);
  image->format = info->name;
  image->colours = info->colours;
  image->has_object = info->object;

  if (!reader.Line(&line)) return Fail(error, "header ends early");
  if (line == "WhiteIs000") {
    image->white_is_0 = true;
    image->header.push_back(line);
    if (!reader.Line(&line)) return Fail(error, "header ends early");
  }
  if (line != "Deflate") return Fail(error, "expected Deflate, got: " + line);
  image->header.push_back(line);
  if (!reader.Line(&line) || line != "ImageBegin") return Fail(error, "expected ImageBegin");
  image->header.push_back(line);

  size_t consumed = 0;
  if (!Inflate(stream.data() + reader.pos(), stream.size() - reader.pos(), &image->tokens, &consumed,
               error)) {
    return false;
  }
  image->zlib_size = consumed;
  reader.Skip(consumed);
  static const char kEnd[] = "ImageEnd\n";
  if (stream.size() - reader.pos() != sizeof kEnd - 1 ||
      std::memcmp(stream.data() + reader.pos(), kEnd, sizeof kEnd - 1) != 0) {
    return Fail(error, "stream does not end with exactly ImageEnd");
  }

  // Inversion: grey and RGB colour bytes are complemented when white is 0,
  // CMYK ones when it is not; the object plane never.
  const bool invert_colours = info->cmyk ? !image->white_is_0 : image->white_is_0;
  const uint8_t colour_mask = invert_colours ? 0xFF : 0x00;
  const uint8_t colour_blank = info->cmyk ? 0x00 : 0xFF;
  const int channels = image->Channels();
  const size_t w = static_cast<size_t>(image->width);
  image->planes.assign(static_cast<size_t>(channels),
                       DcrBytes(w * static_cast<size_t>(image->height), 0));

  const DcrBytes& t = image->tokens;
  size_t p = 0;
  for (int y = 0; y < image->height; ++y) {
    std::vector<DcrToken> row;
    size_t x = 0;
    while (x < w) {
      std::ostringstream where;
      where << " at row " << y << " pixel " << x;
      if (t.size() - p < 4) return Fail(error, "token head cut off" + where.str());
      DcrToken tok;
      tok.count = LE16(&t[p]);
      tok.type = LE16(&t[p + 2]);
      p += 4;
      if (tok.count == 0 || tok.count % 4 != 0) return Fail(error, "count not a positive multiple of 4" + where.str());
      if (x + tok.count > w) return Fail(error, "token runs past the row" + where.str());
      const size_t n = tok.count;
      const size_t base = static_cast<size_t>(y) * w + x;
      switch (tok.type) {
        case 0: {
          const size_t len = n * static_cast<size_t>(channels);
          if (t.size() - p < len) return Fail(error, "literal cut off" + where.str());
          tok.literal.assign(t.begin() + static_cast<long>(p), t.begin() + static_cast<long>(p + len));
          const uint8_t* lit = &t[p];
          if (info->interleaved) {
            for (size_t i = 0; i < n; ++i) {
              for (int c = 0; c < 3; ++c) image->planes[c][base + i] = lit[i * 3 + c] ^ colour_mask;
            }
            if (info->object) {
              for (size_t i = 0; i < n; ++i) image->planes[3][base + i] = lit[3 * n + i];
            }
          } else {
            for (int c = 0; c < channels; ++c) {
              const uint8_t mask = c < info->colours ? colour_mask : 0x00;
              for (size_t i = 0; i < n; ++i) image->planes[c][base + i] = lit[c * n + i] ^ mask;
            }
          }
          p += len;
          break;
        }
        case 1:
          for (int c = 0; c < channels; ++c) {
            const uint8_t v = c < info->colours ? colour_blank : blank_object_code;
            std::memset(&image->planes[c][base], v, n);
          }
          break;
        case 2: {
          if (t.size() - p < 4) return Fail(error, "colour run cut off" + where.str());
          for (int i = 0; i < 4; ++i) tok.value[i] = t[p + i];
          for (int c = channels; c < 4; ++c) {
            if (tok.value[c] != 0) return Fail(error, "unused colour-run byte not 0" + where.str());
          }
          for (int c = 0; c < channels; ++c) {
            const uint8_t mask = c < info->colours ? colour_mask : 0x00;
            std::memset(&image->planes[c][base], tok.value[c] ^ mask, n);
          }
          p += 4;
          break;
        }
        default:
          return Fail(error, "unknown token type " + std::to_string(tok.type) + where.str());
      }
      x += n;
      row.push_back(std::move(tok));
    }
    image->rows.push_back(std::move(row));
  }
  if (p != t.size()) return Fail(error, "bytes after the last row's tokens");
  return true;
}

bool CheckDcRasterCalls(const std::vector<DcrBytes>& calls, std::string* error) {
  auto text = [](const DcrBytes& b) { return std::string(b.begin(), b.end()); };
  size_t i = 0;
  auto expect_line = [&](const std::string& want_prefix, bool exact) {
    if (i >= calls.size()) return false;
    const std::string got = text(calls[i]);
    const bool ok = exact ? got == want_prefix
                          : got.rfind(want_prefix, 0) == 0 && !got.empty() && got.back() == '\n' &&
                                got.find('\n') == got.size() - 1;
    if (ok) ++i;
    return ok;
  };
  if (!expect_line("DCRASTER v1.0\n", true)) return Fail(error, "magic line is not one call");
  if (!expect_line("ImageSize ", false)) return Fail(error, "size line is not one call");
  if (!expect_line("ImageFormat ", false)) return Fail(error, "format line is not one call");
  expect_line("WhiteIs000\n", true);
  if (!expect_line("Deflate\n", true)) return Fail(error, "Deflate line is not one call");
  if (!expect_line("ImageBegin\n", true)) return Fail(error, "ImageBegin line is not one call");
  if (calls.empty() || text(calls.back()) != "ImageEnd\n") return Fail(error, "ImageEnd is not one call");
  for (; i + 1 < calls.size(); ++i) {
    if (calls[i].empty()) return Fail(error, "empty delivery");
    if (calls[i].size() > kMaxDelivery) {
      return Fail(error, "delivery of " + std::to_string(calls[i].size()) + " bytes");
    }
  }
  return true;
}

namespace {
DcrCollector* g_current = nullptr;
}  // namespace

void DcrCollector::Callback(void* context, int size, unsigned char* data) {
  static_cast<DcrCollector*>(context)->calls_.emplace_back(data, data + size);
}

void DcrCollector::GlobalCallback(int size, unsigned char* data) {
  if (g_current != nullptr) g_current->calls_.emplace_back(data, data + size);
}

void DcrCollector::SetCurrent(DcrCollector* collector) { g_current = collector; }

DcrBytes DcrCollector::All() const {
  DcrBytes all;
  for (const DcrBytes& c : calls_) all.insert(all.end(), c.begin(), c.end());
  return all;
}

}  // namespace quillpreview
