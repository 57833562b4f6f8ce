#include "bands/page_process_ink2.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "raster/dcraster.h"
#include "support/log.h"

namespace {

using Command = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Page commands, one function per command.

// 1B 26 6C 4C f: f = 00 for the last page of the document, else 01.
Command PageFlagCommand(bool last_page) {
  return {0x1B, 0x26, 0x6C, 0x4C, static_cast<uint8_t>(last_page ? 0x00 : 0x01)};
}

// 1B 26 6C 53 d: d = 02 long-edge (horizontal), 01 short-edge (vertical),
// 00 simplex.
Command DuplexCommand(uint8_t duplex) {
  const uint8_t d = duplex == DUPLEX_HORIZONTAL ? 0x02 : duplex == DUPLEX_VERTICAL ? 0x01 : 0x00;
  return {0x1B, 0x26, 0x6C, 0x53, d};
}

// 1B 2A 74 52 xL xH yL yH
Command ResolutionCommand(uint16_t x_res, uint16_t y_res) {
  Command c = {0x1B, 0x2A, 0x74, 0x52};
  PutLE16(c, x_res);
  PutLE16(c, y_res);
  return c;
}

// 1B 2A 72 53 nL nH: low 16 bits of the width.
Command WidthCommand(uint32_t width) {
  Command c = {0x1B, 0x2A, 0x72, 0x53};
  PutLE16(c, width & 0xFFFF);
  return c;
}

// 1B 2A 72 54 nL nH: low 16 bits of the height.
Command HeightCommand(uint32_t height) {
  Command c = {0x1B, 0x2A, 0x72, 0x54};
  PutLE16(c, height & 0xFFFF);
  return c;
}

// 1B 2A 62 4D 02: token-deflate raster objects.
Command CompressionCommand() { return {0x1B, 0x2A, 0x62, 0x4D, 0x02}; }

// 1B 2A 74 72 q
Command QualityCommand(uint8_t quality) { return {0x1B, 0x2A, 0x74, 0x72, quality}; }

// 1B 26 62 4D g: 01 grey, 00 colour.
Command GreyModeCommand(bool grey) {
  return {0x1B, 0x26, 0x62, 0x4D, static_cast<uint8_t>(grey ? 0x01 : 0x00)};
}

// 1B 26 6C 58 c nL nH: c = 01 collated.
Command CopiesCommand(bool collate, uint16_t copies) {
  Command c = {0x1B, 0x26, 0x6C, 0x58, static_cast<uint8_t>(collate ? 0x01 : 0x00)};
  PutLE16(c, copies);
  return c;
}

// 1B 2A 62 57 + 32-bit length of the data that follows the commands.
Command DataLengthCommand(uint32_t length) {
  Command c = {0x1B, 0x2A, 0x62, 0x57};
  PutLE32(c, length);
  return c;
}

// 1B 0C
Command EndOfPageCommand() { return {0x1B, 0x0C}; }

// "RasterObject.Data#<len>=<len bytes>;" appended to `out`.
void AppendDataBlock(std::string& out, const char* data, size_t len) {
  out += "RasterObject.Data#";
  out += std::to_string(len);
  out += '=';
  out.append(data, len);
  out += ';';
}

// ---------------------------------------------------------------------------
// Raster reading

// Bytes B, G, R of a palette entry as they lie in memory.
struct PaletteColour {
  uint8_t r, g, b;
};

PaletteColour PaletteEntry(const RASTER_INFO& raster, unsigned index) {
  const auto* e = reinterpret_cast<const uint8_t*>(&raster.palette[index]);
  return {e[2], e[1], e[0]};
}

// Calls sink(x, r, g, b) for every pixel of output row y, where the page is
// read turned by 180 degrees when `turn` is set. Depths 24 and 32 are pixels
// B, G, R (and a fourth byte); 8 and 4 are palette indices (the high nibble
// first); other depths carry no colour, and the row stays white.
template <typename Sink>
void ForEachPixel(const RASTER_INFO& raster, uint32_t y, bool turn, Sink&& sink) {
  const uint32_t width = raster.width;
  const uint32_t src_y = turn ? raster.height - 1 - y : y;
  const uint8_t* row = raster.img_p + static_cast<ptrdiff_t>(src_y) * raster.pitch;
  const auto out_x = [&](uint32_t sx) { return turn ? width - 1 - sx : sx; };
  switch (raster.bpp) {
    case 24:
    case 32: {
      const uint32_t step = raster.bpp / 8;
      for (uint32_t sx = 0; sx < width; ++sx) {
        const uint8_t* p = row + static_cast<size_t>(sx) * step;
        sink(out_x(sx), p[2], p[1], p[0]);
      }
      break;
    }
    case 8:
      for (uint32_t sx = 0; sx < width; ++sx) {
        const PaletteColour c = PaletteEntry(raster, row[sx]);
        sink(out_x(sx), c.r, c.g, c.b);
      }
      break;
    case 4:
      for (uint32_t sx = 0; sx < width; ++sx) {
        const uint8_t byte = row[sx / 2];
        const PaletteColour c = PaletteEntry(raster, sx % 2 == 0 ? byte >> 4 : byte & 0x0F);
        sink(out_x(sx), c.r, c.g, c.b);
      }
      break;
    default:
      break;
  }
}

}  // namespace

bool Ink2RasterReadable(const RASTER_INFO& raster) {
  if (raster.img_p == nullptr) {
    quill_log::Warning("raster has no pixels");
    return false;
  }
  const uint64_t row_bytes = (static_cast<uint64_t>(raster.width) * raster.bpp + 7) / 8;
  if (static_cast<uint64_t>(std::llabs(raster.pitch)) < row_bytes) {
    quill_log::Warning("raster pitch is too small: %d for %u pixels of %u bits", raster.pitch,
                       raster.width, raster.bpp);
    return false;
  }
  return true;
}

namespace {

struct EncoderDeleter {
  void operator()(DCRASTER_t* dcr) const { dcraster_delete(dcr); }
};
using Encoder = std::unique_ptr<DCRASTER_t, EncoderDeleter>;

// Encoder dimensions as the C interface takes them; out-of-range values
// become -1, which creation refuses.
int EncoderSize(uint64_t v) { return v > static_cast<uint64_t>(INT_MAX) ? -1 : static_cast<int>(v); }

}  // namespace

bool Ink2IsRed(uint8_t r, uint8_t g, uint8_t b) {
  const int max = std::max({r, g, b});
  const int min = std::min({r, g, b});
  const int diff = max - min;
  if (diff == 0) return false;
  // When green or blue is the largest component the hue lies between 60
  // and 300 degrees, and the value test needs max >= 153 (153 / 255 as a
  // float is just above 0.6): both settle most pixels before the
  // floating-point work, with the same result. What is left is the hue of
  // the red branch.
  if (r != max || max < 153) return false;
  float hue = static_cast<float>((g - b) * 60) / static_cast<float>(diff);
  if (hue < 0) hue += 360;
  const bool red_hue = (hue >= 0 && hue < 15) || (hue > 330 && hue < 360);
  const float value = static_cast<float>(max / 255.0);
  const float saturation = static_cast<float>(diff) / static_cast<float>(max);
  return red_hue && static_cast<double>(value) > 0.6 && static_cast<double>(saturation) > 0.2;
}

namespace {

// Red/black mode on a page of 24 or 32 bits, in place: every pixel that is
// not red gets B = G = R = its luma.
void KeepOnlyRedInPlace(const RASTER_INFO& raster) {
  const uint32_t step = raster.bpp / 8;
  for (uint32_t y = 0; y < raster.height; ++y) {
    uint8_t* p = raster.img_p + static_cast<ptrdiff_t>(y) * raster.pitch;
    for (uint32_t x = 0; x < raster.width; ++x, p += step) {
      if (!Ink2IsRed(p[2], p[1], p[0])) p[0] = p[1] = p[2] = Ink2Luma(p[2], p[1], p[0]);
    }
  }
}

}  // namespace

PageProcessInk2* PageProcessInk2::m_This = nullptr;

PageProcessInk2::PageProcessInk2(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes,
                                 uint32_t Width, uint32_t Height, write_callback WriteCallback,
                                 void* WriteHandle)
    : PageProcessBase(XUnit, YUnit, XRes, YRes, WriteCallback, WriteHandle),
      m_Width(Width),
      m_Height(Height) {
  m_This = this;
}

PageProcessInk2::~PageProcessInk2() {
  if (m_This == this) m_This = nullptr;
}

void PageProcessInk2::StartPage() {}

void PageProcessInk2::EndPage() {
  const Command c = EndOfPageCommand();
  Write(c.data(), c.size());
}

int PageProcessInk2::SendPage(const uint8_t* header, uint32_t header_len, const uint8_t* body,
                              uint32_t body_len, const uint8_t* footer, uint32_t footer_len) {
  if (m_IsLastPage) {
    quill_log::Debug("last page");
  } else {
    quill_log::Debug("middle page");
  }
  const Command commands[] = {
      PageFlagCommand(m_IsLastPage),
      DuplexCommand(m_Duplex),
      ResolutionCommand(m_XRes, m_YRes),
      WidthCommand(m_Width),
      HeightCommand(m_Height),
      CompressionCommand(),
      QualityCommand(m_Quality),
      GreyModeCommand(m_UseGrey),
      CopiesCommand(m_Collate, m_Copies),
      DataLengthCommand(header_len + body_len + footer_len),
  };
  for (const Command& c : commands) Write(c.data(), c.size());
  if (header_len != 0) Write(header, header_len);
  if (body_len != 0) Write(body, body_len);
  if (footer_len != 0) Write(footer, footer_len);
  return -1;
}

int PageProcessInk2::SendPage(const RASTER_INFO* raster) {
  if (raster == nullptr) {
    quill_log::Warning("raster has no pixels");
    return -1;
  }
  if (raster->width != 0 && raster->height != 0 && !Ink2RasterReadable(*raster)) return -1;

  // A fresh object: whatever an earlier page left behind is dropped (a
  // rewind alone would let a longer leftover trail the new object).
  m_CompressBuffer.str(std::string());
  m_CompressBuffer.clear();
  // Red/black rewrites the page itself when its pixels are B, G, R triples;
  // palette pages are converted row by row below instead, since their
  // bytes are no colours to rewrite.
  const bool direct_colour = raster->bpp == 24 || raster->bpp == 32;
  if (!m_UseGrey && m_RedBlack && raster->height != 0 && direct_colour) {
    KeepOnlyRedInPlace(*raster);
  }
  // Rows are encoded 4-pixel aligned; the padding stays 0, white in both
  // modes.
  const uint64_t w4 = (static_cast<uint64_t>(raster->width) + 3) / 4 * 4;
  Encoder dcr(dcraster_create_with_context(
      EncoderSize(w4), EncoderSize(raster->height),
      m_UseGrey ? DCRASTER_COLORSPACE_grayscale : DCRASTER_COLORSPACE_rgb,
      DCRASTER_COMPRESSIONFORMAT_tokenDeflate, DCRASTER_OBJECTTYPE_disable, 0, CompressCallback,
      this));
  if (!dcr) {
    quill_log::Warning("failed to create dcraster");
    return 0;
  }
  if (!m_UseGrey) dcr->deflateEffort = 1;

  SendPage(nullptr, 0, nullptr, 0, nullptr, 0);

  const size_t width = static_cast<size_t>(w4);
  if (m_UseGrey) {
    std::vector<uint8_t> k(width);
    for (uint32_t y = 0; y < raster->height; ++y) {
      std::memset(k.data(), 0, width);
      ForEachPixel(*raster, y, m_Turn180, [&](uint32_t x, uint8_t r, uint8_t g, uint8_t b) {
        k[x] = static_cast<uint8_t>(255 - Ink2Luma(r, g, b));
      });
      dcraster_grayscale_add(dcr.get(), k.data(), nullptr);
    }
  } else {
    std::vector<uint8_t> planes(3 * width);
    uint8_t* pr = planes.data();
    uint8_t* pg = pr + width;
    uint8_t* pb = pg + width;
    const bool red_black = m_RedBlack && !direct_colour;
    for (uint32_t y = 0; y < raster->height; ++y) {
      std::memset(planes.data(), 0, planes.size());
      ForEachPixel(*raster, y, m_Turn180, [&](uint32_t x, uint8_t r, uint8_t g, uint8_t b) {
        if (red_black && !Ink2IsRed(r, g, b)) r = g = b = Ink2Luma(r, g, b);
        pr[x] = static_cast<uint8_t>(255 - r);
        pg[x] = static_cast<uint8_t>(255 - g);
        pb[x] = static_cast<uint8_t>(255 - b);
      });
      dcraster_rgb_add(dcr.get(), pr, pg, pb, nullptr);
    }
  }
  dcr.reset();  // completes the object
  DoBufferedOutput(false);
  return 0;
}

void PageProcessInk2::CompressCallback(void* context, int size, unsigned char* data) {
  if (size <= 0 || context == nullptr) return;
  static_cast<PageProcessInk2*>(context)->m_CompressBuffer.write(reinterpret_cast<const char*>(data),
                                                                 size);
}

void PageProcessInk2::CompressCallback(int size, unsigned char* data) {
  CompressCallback(m_This, size, data);
}

void PageProcessInk2::DoBufferedOutput(bool no_flush) {
  const std::string buffer = m_CompressBuffer.str();
  size_t pos = 0;
  std::string blocks;
  while (buffer.size() - pos >= kBlockSize) {
    AppendDataBlock(blocks, buffer.data() + pos, kBlockSize);
    pos += kBlockSize;
  }
  if (!blocks.empty()) Write(blocks.data(), blocks.size());
  if (no_flush) {
    if (pos != 0) {
      m_CompressBuffer.str(buffer.substr(pos));
      m_CompressBuffer.seekp(0, std::ios_base::end);  // later output continues the object
    }
    return;
  }
  std::string last;
  AppendDataBlock(last, buffer.data() + pos, buffer.size() - pos);
  Write(last.data(), last.size());
  m_CompressBuffer.str(std::string());
  m_CompressBuffer.clear();
}
