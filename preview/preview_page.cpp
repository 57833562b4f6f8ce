#include "preview/preview_page.h"

#include <FreeImage.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace quillpreview {

namespace {

struct BitmapDeleter {
  void operator()(FIBITMAP* bitmap) const {
    if (bitmap != nullptr) FreeImage_Unload(bitmap);
  }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

std::string Percent(double part, double whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

// Only black ink on the page (no other plane, or other planes without ink).
bool BlackOnly(const PreviewPage& page) {
  for (size_t p = 0; p < page.planes.size(); ++p) {
    if (page.planes[p].colour == kBlackInk) continue;
    for (uint8_t v : page.planes[p].ink) {
      if (v != 0) return false;
    }
  }
  return true;
}

unsigned DotsPerMetre(uint32_t dpi) { return static_cast<unsigned>(std::lround(dpi / 0.0254)); }

}  // namespace

InkPlane& PreviewPage::AddPlane(const std::string& name, std::array<uint8_t, 3> colour) {
  InkPlane plane;
  plane.name = name;
  plane.colour = colour;
  plane.ink.assign(static_cast<size_t>(width) * height, 0);
  planes.push_back(std::move(plane));
  return planes.back();
}

uint64_t PreviewPage::InkedPixels() const {
  uint64_t n = 0;
  const size_t pixels = static_cast<size_t>(width) * height;
  for (size_t i = 0; i < pixels; ++i) {
    for (const InkPlane& p : planes) {
      if (p.ink[i] != 0) {
        ++n;
        break;
      }
    }
  }
  return n;
}

double PreviewPage::InkSum(size_t plane) const {
  uint64_t sum = 0;
  for (uint8_t v : planes[plane].ink) sum += v;
  return static_cast<double>(sum) / 255.0;
}

std::string SummaryLine(const PreviewPage& page, size_t number, const std::string& format) {
  const double area = static_cast<double>(page.width) * page.height;
  std::string line = "page " + std::to_string(number) + ": " + format + " " +
                     std::to_string(page.width) + "x" + std::to_string(page.height) + " at " +
                     std::to_string(page.x_res) + "x" + std::to_string(page.y_res) + " dpi, " +
                     std::to_string(page.InkedPixels()) + (page.dots ? " dots" : " pixels inked");
  for (size_t p = 0; p < page.planes.size(); ++p) {
    const double sum = page.InkSum(p);
    line += ", " + page.planes[p].name + " ";
    if (page.dots) {
      line += std::to_string(static_cast<uint64_t>(std::llround(sum))) + " (" + Percent(sum, area) + ")";
    } else {
      line += Percent(sum, area);
    }
  }
  return line;
}

std::vector<uint8_t> Composite(const PreviewPage& page) {
  const size_t pixels = static_cast<size_t>(page.width) * page.height;
  std::vector<uint8_t> rgb(pixels * 3);
  for (size_t i = 0; i < pixels; ++i) {
    double light[3] = {1.0, 1.0, 1.0};
    for (const InkPlane& p : page.planes) {
      const uint8_t v = p.ink[i];
      if (v == 0) continue;
      const double amount = v / 255.0;
      for (int c = 0; c < 3; ++c) light[c] *= 1.0 - amount * (1.0 - p.colour[c] / 255.0);
    }
    for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = static_cast<uint8_t>(std::lround(255.0 * light[c]));
  }
  return rgb;
}

bool WritePng(const PreviewPage& page, const std::string& path, std::string* error) {
  const bool black_only = BlackOnly(page);
  const int bpp = black_only ? (page.dots ? 1 : 8) : 24;
  Bitmap bitmap(FreeImage_Allocate(static_cast<int>(page.width), static_cast<int>(page.height), bpp));
  if (!bitmap) {
    *error = "cannot make a " + std::to_string(page.width) + "x" + std::to_string(page.height) +
             " picture";
    return false;
  }
  FIBITMAP* b = bitmap.get();
  if (bpp <= 8) {
    RGBQUAD* palette = FreeImage_GetPalette(b);
    const unsigned entries = bpp == 1 ? 2 : 256;
    for (unsigned i = 0; i < entries; ++i) {
      const BYTE v = static_cast<BYTE>(bpp == 1 ? i * 255 : i);
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = v;
      palette[i].rgbReserved = 0;
    }
  }
  const std::vector<uint8_t> rgb = black_only ? std::vector<uint8_t>() : Composite(page);
  for (uint32_t y = 0; y < page.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(b, static_cast<int>(page.height - 1 - y));  // bottom-up
    for (uint32_t x = 0; x < page.width; ++x) {
      if (black_only) {
        // The darkest black plane decides (a page has one in practice).
        uint8_t ink = 0;
        for (size_t p = 0; p < page.planes.size(); ++p) {
          if (page.planes[p].colour == kBlackInk && page.Ink(p, x, y) > ink) ink = page.Ink(p, x, y);
        }
        if (bpp == 1) {
          if (ink == 0) line[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        } else {
          line[x] = static_cast<BYTE>(255 - ink);
        }
      } else {
        const uint8_t* px = &rgb[(static_cast<size_t>(y) * page.width + x) * 3];
        line[x * 3 + FI_RGBA_RED] = px[0];
        line[x * 3 + FI_RGBA_GREEN] = px[1];
        line[x * 3 + FI_RGBA_BLUE] = px[2];
      }
    }
  }
  FreeImage_SetDotsPerMeterX(b, DotsPerMetre(page.x_res));
  FreeImage_SetDotsPerMeterY(b, DotsPerMetre(page.y_res));
  if (!FreeImage_Save(FIF_PNG, b, path.c_str(), PNG_DEFAULT)) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace quillpreview
