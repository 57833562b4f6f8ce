#include "common/hosts_fixtures.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace hosts_test {

int MemoryReader::Callback(void* hdl, void* buf, unsigned int len) {
  auto* self = static_cast<MemoryReader*>(hdl);
  ++self->calls;
  size_t n = std::min<size_t>(len, self->Remaining());
  if (self->chunk_ != 0) n = std::min(n, self->chunk_);
  std::memcpy(buf, self->data_.data() + self->pos_, n);
  self->pos_ += n;
  return static_cast<int>(n);
}

namespace {
void PutLE16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
}  // namespace

StreamBuilder& StreamBuilder::Page(uint16_t x_res, uint16_t y_res, uint16_t width, uint16_t height) {
  Text("PAGE");
  PutLE16(bytes_, 1);  // page number, not used
  PutLE16(bytes_, x_res);
  PutLE16(bytes_, y_res);
  PutLE16(bytes_, width);
  PutLE16(bytes_, height);
  PutLE16(bytes_, 0);  // direction, not used
  return *this;
}

StreamBuilder& StreamBuilder::Block(uint16_t width_bytes, const std::vector<Bytes>& rows) {
  Text("BLK");
  PutLE16(bytes_, width_bytes);
  PutLE16(bytes_, static_cast<uint16_t>(rows.size()));
  for (const Bytes& row : rows) {
    if (row.size() != width_bytes) throw std::invalid_argument("row size");
    Raw(row);
  }
  return *this;
}

StreamBuilder& StreamBuilder::Scale(uint8_t factors, uint8_t method) {
  Text("SCL");
  bytes_.push_back(factors);
  bytes_.push_back(method);
  return *this;
}

StreamBuilder& StreamBuilder::Direction() { return Text("DIR"); }

StreamBuilder& StreamBuilder::Feed(uint8_t n) { return Raw({0x1B, 0x4A, n}); }

StreamBuilder& StreamBuilder::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

StreamBuilder& StreamBuilder::Text(const std::string& text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  return *this;
}

size_t Dots::Count() const { return static_cast<size_t>(std::count(ink.begin(), ink.end(), 1)); }

Dots TestPicture(uint32_t width, uint32_t height) {
  Dots d(width, height);
  for (uint32_t x = 0; x < width; ++x) d.Set(x, 0);                 // top border
  for (uint32_t y = 0; y < height; ++y) d.Set(0, y);                // left border
  for (uint32_t i = 0; i < std::min(width, height); ++i) d.Set(i, i);  // diagonal
  for (uint32_t y = height / 2; y < height * 3 / 4; ++y) {          // box, right half
    for (uint32_t x = width * 5 / 8; x < width * 7 / 8; ++x) d.Set(x, y);
  }
  d.Set(width - 1, height - 1);                                     // corner dot
  return d;
}

Bytes PackRows(const Dots& dots, uint32_t pitch) {
  if (pitch == 0) pitch = (dots.width + 7) / 8;
  Bytes out(static_cast<size_t>(pitch) * dots.height, 0);
  for (uint32_t y = 0; y < dots.height; ++y) {
    for (uint32_t x = 0; x < dots.width; ++x) {
      if (dots.At(x, y)) out[static_cast<size_t>(y) * pitch + x / 8] |= 0x80 >> (x % 8);
    }
  }
  return out;
}

Dots UnpackRows(const uint8_t* rows, uint32_t width, uint32_t height, uint32_t pitch) {
  Dots d(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      d.Set(x, y, (rows[static_cast<size_t>(y) * pitch + x / 8] & (0x80 >> (x % 8))) != 0);
    }
  }
  return d;
}

namespace {
bool DarkBgr(uint8_t b, uint8_t g, uint8_t r) {
  return 0.2126 * r + 0.7152 * g + 0.0722 * b + 0.5 < 128.0;
}
}  // namespace

Dots InkOf(const RASTER_INFO& raster) {
  Dots d(raster.width, raster.height);
  for (uint32_t y = 0; y < raster.height; ++y) {
    const uint8_t* row = raster.img_p + static_cast<ptrdiff_t>(y) * raster.pitch;
    for (uint32_t x = 0; x < raster.width; ++x) {
      bool ink = false;
      switch (raster.bpp) {
        case 1: ink = (row[x / 8] & (0x80 >> (x % 8))) != 0; break;
        case 8: {
          uint8_t c[4];
          std::memcpy(c, &raster.palette[row[x]], 4);
          ink = DarkBgr(c[0], c[1], c[2]);
          break;
        }
        case 24: ink = DarkBgr(row[3 * x], row[3 * x + 1], row[3 * x + 2]); break;
        case 32: ink = DarkBgr(row[4 * x], row[4 * x + 1], row[4 * x + 2]); break;
        default: throw std::invalid_argument("depth");
      }
      d.Set(x, y, ink);
    }
  }
  return d;
}

namespace {
void SetEntry(RGBQUAD* pal, unsigned i, uint8_t r, uint8_t g, uint8_t b) {
  pal[i].rgbRed = r;
  pal[i].rgbGreen = g;
  pal[i].rgbBlue = b;
  pal[i].rgbReserved = 0;
}
}  // namespace

FIBITMAP* MakeBitmap(const Dots& dots, Layout layout) {
  unsigned bpp = 0;
  switch (layout) {
    case Layout::kOneBitBlackOnWhite:
    case Layout::kOneBitWhiteOnBlack: bpp = 1; break;
    case Layout::kGrey8:
    case Layout::kPalette8: bpp = 8; break;
    case Layout::kRgb24: bpp = 24; break;
    case Layout::kRgba32: bpp = 32; break;
    case Layout::kPalette4: bpp = 4; break;
  }
  FIBITMAP* dib = FreeImage_Allocate(static_cast<int>(dots.width), static_cast<int>(dots.height),
                                     static_cast<int>(bpp));
  if (dib == nullptr) return nullptr;
  RGBQUAD* pal = FreeImage_GetPalette(dib);
  BYTE ink_index = 0;
  BYTE paper_index = 0;
  switch (layout) {
    case Layout::kOneBitBlackOnWhite:
      SetEntry(pal, 0, 255, 255, 255);
      SetEntry(pal, 1, 0, 0, 0);
      ink_index = 1;
      break;
    case Layout::kOneBitWhiteOnBlack:
      SetEntry(pal, 0, 0, 0, 0);
      SetEntry(pal, 1, 255, 255, 255);
      paper_index = 1;
      break;
    case Layout::kGrey8:
      for (unsigned i = 0; i < 256; ++i) SetEntry(pal, i, i, i, i);
      ink_index = 0;
      paper_index = 255;
      break;
    case Layout::kPalette8:
    case Layout::kPalette4: {
      const unsigned entries = layout == Layout::kPalette8 ? 256 : 16;
      for (unsigned i = 0; i < entries; ++i) SetEntry(pal, i, 200, 40, 40);  // unused reds
      ink_index = 7;
      paper_index = 3;
      SetEntry(pal, ink_index, 0, 0, 0);
      SetEntry(pal, paper_index, 255, 255, 255);
      break;
    }
    default: break;
  }
  for (uint32_t y = 0; y < dots.height; ++y) {
    const unsigned fy = dots.height - 1 - y;  // FreeImage rows are bottom-up
    BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(fy));
    for (uint32_t x = 0; x < dots.width; ++x) {
      const bool ink = dots.At(x, y);
      if (bpp <= 8) {
        BYTE index = ink ? ink_index : paper_index;
        FreeImage_SetPixelIndex(dib, x, fy, &index);
      } else {
        const BYTE v = ink ? 0 : 255;
        BYTE* px = line + x * (bpp / 8);
        px[FI_RGBA_BLUE] = px[FI_RGBA_GREEN] = px[FI_RGBA_RED] = v;
        if (bpp == 32) px[FI_RGBA_ALPHA] = 255;
      }
    }
  }
  return dib;
}

bool WriteImage(const Dots& dots, Layout layout, FREE_IMAGE_FORMAT format, const std::string& path) {
  FIBITMAP* dib = MakeBitmap(dots, layout);
  if (dib == nullptr) return false;
  const BOOL ok = FreeImage_Save(format, dib, path.c_str(), 0);
  FreeImage_Unload(dib);
  return ok != FALSE;
}

std::string ScratchDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::current_path() / "scratch" / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace hosts_test
