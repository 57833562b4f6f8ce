#include "page_canvas.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace quill_host {
namespace {

bool IsLuminance(uint32_t space) { return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW; }

bool IsOneColour(uint32_t space) { return IsLuminance(space) || IsInkValued(space); }

// trunc(res x points / 72) in single precision, as a non-negative count;
// -1 when the value is not a finite number below 2^32.
int64_t DotsFromPoints(unsigned res, float points) {
  float dots = static_cast<float>(res) * points / 72.0f;
  if (!std::isfinite(dots)) return -1;
  if (dots <= 0.0f) return 0;
  if (dots >= 4294967296.0f) return -1;
  return static_cast<int64_t>(dots);
}

// As DotsFromPoints, but signed: an edge may lie off the sheet.
int64_t SignedDotsFromPoints(unsigned res, float points) {
  float dots = static_cast<float>(res) * points / 72.0f;
  if (!std::isfinite(dots)) return 0;
  if (dots >= 4294967296.0f) return std::numeric_limits<uint32_t>::max();
  if (dots <= -4294967296.0f) return -static_cast<int64_t>(std::numeric_limits<uint32_t>::max());
  return static_cast<int64_t>(dots);
}

constexpr uint32_t PaletteEntry(uint8_t blue, uint8_t green, uint8_t red) {
  return static_cast<uint32_t>(blue) | static_cast<uint32_t>(green) << 8 |
         static_cast<uint32_t>(red) << 16;
}

}  // namespace

bool IsInkValued(uint32_t space) {
  return space == CUPS_CSPACE_K || space == CUPS_CSPACE_WHITE || space == CUPS_CSPACE_GOLD ||
         space == CUPS_CSPACE_SILVER || space == CUPS_CSPACE_DEVICE1;
}

PixelLayout LayoutOf(const cups_page_header2_t& header) {
  const unsigned bpp = header.cupsBitsPerPixel;
  const unsigned bpc = header.cupsBitsPerColor;
  const uint32_t space = StoredValue(header.cupsColorSpace);
  if (bpp == 1 && bpc == 1 && IsOneColour(space)) return PixelLayout::kOneBit;
  if (bpp == 8 && bpc == 8 && IsOneColour(space)) return PixelLayout::kGrey8;
  if (bpp >= 24 && bpp % 8 == 0 && bpc == 8 &&
      StoredValue(header.cupsColorOrder) == CUPS_ORDER_CHUNKED) {
    return PixelLayout::kChunky;
  }
  return PixelLayout::kUnsupported;
}

PageGeometry ComputeGeometry(const cups_page_header2_t& header) {
  PageGeometry geo;
  const unsigned xres = header.HWResolution[0];
  const unsigned yres = header.HWResolution[1];
  // Version-1 style headers leave the float sizes at 0; their integer
  // PageSize and ImagingBoundingBox describe the sheet instead.
  const bool float_sizes = header.cupsPageSize[0] > 0.0f && header.cupsPageSize[1] > 0.0f;
  float page_w = header.cupsPageSize[0];
  float page_h = header.cupsPageSize[1];
  float box[4];
  for (int i = 0; i < 4; ++i) box[i] = header.cupsImagingBBox[i];
  if (!float_sizes) {
    page_w = static_cast<float>(header.PageSize[0]);
    page_h = static_cast<float>(header.PageSize[1]);
    for (int i = 0; i < 4; ++i) box[i] = static_cast<float>(header.ImagingBoundingBox[i]);
  }
  geo.bits_per_pixel = header.cupsBitsPerPixel;
  geo.bytes_per_pixel = header.cupsBitsPerPixel / 8;

  const int64_t width = DotsFromPoints(xres, page_w);
  const int64_t height = DotsFromPoints(yres, page_h);
  if (width < 0 || height < 0) return geo;  // size 0: no canvas
  geo.width = static_cast<uint32_t>(width);
  geo.height = static_cast<uint32_t>(height);
  geo.pitch = geo.bits_per_pixel == 1 ? (uint64_t{geo.width} + 7) / 8
                                      : uint64_t{geo.width} * geo.bytes_per_pixel;
  if (geo.pitch > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    geo.pitch = 0;
  }
  geo.size = geo.pitch * geo.height;  // both below 2^32: no overflow in 64 bits

  // PostScript boxes count from the bottom of the sheet: the raster's first
  // row is the box's top edge, page height minus top below the sheet's top.
  // A box without height (all zero when the rasterizer set none) puts the
  // raster at its bottom-edge value, i.e. the top-left corner for a zero box.
  geo.x_off = SignedDotsFromPoints(xres, box[0]);
  geo.y_off = box[3] > box[1] ? SignedDotsFromPoints(yres, page_h - box[3])
                              : SignedDotsFromPoints(yres, box[1]);
  return geo;
}

std::string PageBoundsProblem(const cups_page_header2_t& header, const PageGeometry& geo) {
  const unsigned xres = header.HWResolution[0];
  const unsigned yres = header.HWResolution[1];
  char text[256];
  auto problem = [&](const char* format, auto... args) {
    std::snprintf(text, sizeof text, format, args...);
    return std::string(text);
  };
  if (xres > QUILL_MAX_RESOLUTION || yres > QUILL_MAX_RESOLUTION) {
    return problem("the resolution %ux%u dpi is above %d dpi", xres, yres, QUILL_MAX_RESOLUTION);
  }
  const uint32_t max_w = quill_max_side_pixels(xres);
  const uint32_t max_h = quill_max_side_pixels(yres);
  if (geo.width > max_w || geo.height > max_h) {
    return problem("the sheet of %ux%u pixels at %ux%u dpi has a side longer than %d mm",
                   geo.width, geo.height, xres, yres, QUILL_MAX_SIDE_MM);
  }
  if (header.cupsWidth > max_w || header.cupsHeight > max_h) {
    return problem("the raster of %ux%u pixels at %ux%u dpi has a side longer than %d mm",
                   header.cupsWidth, header.cupsHeight, xres, yres, QUILL_MAX_SIDE_MM);
  }
  const uint64_t max_row_bytes = (uint64_t{max_w} * header.cupsBitsPerPixel + 7) / 8;
  if (header.cupsBytesPerLine > max_row_bytes) {
    return problem("raster rows of %u bytes are longer than %llu", header.cupsBytesPerLine,
                   static_cast<unsigned long long>(max_row_bytes));
  }
  if (uint64_t{geo.width} * geo.height > uint64_t{QUILL_MAX_PAGE_PIXELS} ||
      geo.size > kMaxCanvasBytes) {
    return problem("the sheet of %ux%u pixels needs %llu bytes, more than the %llu of the "
                   "largest page",
                   geo.width, geo.height, static_cast<unsigned long long>(geo.size),
                   static_cast<unsigned long long>(kMaxCanvasBytes));
  }
  if (header.NumCopies > kMaxCopies) {
    return problem("%u copies are more than %u", header.NumCopies, kMaxCopies);
  }
  return std::string();
}

void CanvasDeleter::operator()(uint8_t* p) const {
  if (p != nullptr) munmap(p, length);
}

CanvasBuffer AllocateCanvas(uint64_t size) {
  if (size == 0 || size > kMaxCanvasBytes) return nullptr;
  constexpr size_t kPage = 4096;
  constexpr size_t kHuge = size_t{1} << 21;
  const size_t length = (static_cast<size_t>(size) + kPage - 1) & ~(kPage - 1);
  const bool huge = length >= kHuge;
  // A huge-page canvas maps 2 MiB more and trims the ends to a 2 MiB start.
  const size_t mapped = huge ? length + kHuge : length;
  void* m = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  auto* base = static_cast<uint8_t*>(m);
  uint8_t* start = base;
  if (huge) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(base);
    start = base + (((at + kHuge - 1) & ~uintptr_t{kHuge - 1}) - at);
    if (start > base) munmap(base, static_cast<size_t>(start - base));
    uint8_t* end = start + length;
    if (end < base + mapped) munmap(end, static_cast<size_t>(base + mapped - end));
    madvise(start, length, MADV_HUGEPAGE);  // a hint: without it, 4 KiB pages
  }
  return CanvasBuffer(start, CanvasDeleter{length});
}

void FillWhite(const PageGeometry& geo, PixelLayout layout, uint8_t* canvas) {
  const uint8_t white = layout == PixelLayout::kOneBit ? 0x00 : 0xFF;
  std::memset(canvas, white, static_cast<size_t>(geo.size));
}

void FillWhiteRows(const PageGeometry& geo, PixelLayout layout, uint32_t first, uint32_t end,
                   uint8_t* canvas) {
  const uint8_t white = layout == PixelLayout::kOneBit ? 0x00 : 0xFF;
  std::memset(canvas + static_cast<size_t>(first) * geo.pitch, white,
              static_cast<size_t>(end - first) * geo.pitch);
}

int64_t CanvasRowOf(const PageGeometry& geo, uint32_t row) {
  const int64_t y = geo.y_off + row;
  return y < 0 || y >= static_cast<int64_t>(geo.height) ? -1 : y;
}

void PlaceRow(const cups_page_header2_t& header, PixelLayout layout, const PageGeometry& geo,
              uint32_t row, const uint8_t* line, uint8_t* canvas) {
  const int64_t y = geo.y_off + row;
  if (y < 0 || y >= static_cast<int64_t>(geo.height)) return;
  uint8_t* dst = canvas + static_cast<size_t>(y) * geo.pitch;

  // Source pixels [first, last) land inside the canvas and lie inside the
  // line (cupsWidth x depth can wrap in a corrupt header that libcups
  // accepts, leaving a line shorter than cupsWidth pixels).
  const uint64_t line_bits = uint64_t{header.cupsBytesPerLine} * 8;
  const int64_t src_width = static_cast<int64_t>(
      std::min<uint64_t>(header.cupsWidth, line_bits / std::max(1u, geo.bits_per_pixel)));
  const int64_t first = geo.x_off < 0 ? -geo.x_off : 0;
  const int64_t last = std::min<int64_t>(src_width, static_cast<int64_t>(geo.width) - geo.x_off);
  if (first >= last) return;

  switch (layout) {
    case PixelLayout::kOneBit: {
      // A set source bit is ink for K-like spaces and paper for W and SW.
      const bool invert = !IsInkValued(StoredValue(header.cupsColorSpace));
      for (int64_t x = first; x < last; ++x) {
        bool bit = (line[x / 8] >> (7 - x % 8)) & 1;
        if (bit == invert) continue;  // paper: the canvas is already 0
        const int64_t dx = geo.x_off + x;
        dst[dx / 8] |= static_cast<uint8_t>(0x80u >> (dx % 8));
      }
      break;
    }
    case PixelLayout::kGrey8: {
      const bool invert = IsInkValued(StoredValue(header.cupsColorSpace));
      uint8_t* out = dst + (geo.x_off + first);
      const uint8_t* in = line + first;
      const size_t n = static_cast<size_t>(last - first);
      if (invert) {
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(255 - in[i]);
      } else {
        std::memcpy(out, in, n);
      }
      break;
    }
    case PixelLayout::kChunky: {
      const size_t bpp = geo.bytes_per_pixel;
      const uint8_t* in = line + static_cast<size_t>(first) * bpp;
      uint8_t* out = dst + static_cast<size_t>(geo.x_off + first) * bpp;
      int64_t x = first;
      if (bpp == 3) {
        // White stays white with its bytes reversed: eight white pixels
        // (24 bytes of 255) are copied as they are.
        constexpr uint64_t kWhite = ~uint64_t{0};
        for (; x + 8 <= last; x += 8, in += 24, out += 24) {
          uint64_t w[3];
          std::memcpy(w, in, sizeof w);
          if ((w[0] & w[1] & w[2]) == kWhite) {
            std::memcpy(out, w, sizeof w);
            continue;
          }
          for (int i = 0; i < 8; ++i) {
            out[3 * i] = in[3 * i + 2];
            out[3 * i + 1] = in[3 * i + 1];
            out[3 * i + 2] = in[3 * i];
          }
        }
      }
      for (; x < last; ++x, in += bpp, out += bpp) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
      break;
    }
    case PixelLayout::kUnsupported:
      break;
  }
}

void FillPalette(PixelLayout layout, uint32_t palette[256]) {
  std::memset(palette, 0, 256 * sizeof(uint32_t));
  if (layout == PixelLayout::kGrey8) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint8_t g = static_cast<uint8_t>(i);
      palette[i] = PaletteEntry(g, g, g);
    }
  } else if (layout == PixelLayout::kOneBit) {
    palette[0] = PaletteEntry(255, 255, 255);
    palette[1] = PaletteEntry(0, 0, 0);
  }
}

}  // namespace quill_host
