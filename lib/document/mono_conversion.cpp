#include "document/mono_conversion.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "quill/dither.h"
#include "support/log.h"

namespace {

struct ProfileCloser {
  void operator()(void* p) const {
    if (p != nullptr) cmsCloseProfile(p);
  }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
  void operator()(void* t) const {
    if (t != nullptr) cmsDeleteTransform(t);
  }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// True when the 24 bytes at p are all 255.
bool AllWhite24(const BYTE* p) {
  uint64_t a, b, c;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  std::memcpy(&c, p + 16, 8);
  return (a & b & c) == ~uint64_t{0};
}

FiBitmap GreyFromTrueColour(FIBITMAP* dib, const uint8_t lut[256]) {
  const unsigned width = FreeImage_GetWidth(dib);
  const unsigned height = FreeImage_GetHeight(dib);
  const unsigned step = FreeImage_GetBPP(dib) / 8;
  FiBitmap grey(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
  if (!grey) return grey;
  const GreyWeights weights(lut);
  for (unsigned y = 0; y < height; ++y) {
    GreyRow(FreeImage_GetScanLine(dib, static_cast<int>(y)), step, width, weights,
            FreeImage_GetScanLine(grey.get(), static_cast<int>(y)));
  }
  return grey;
}

}  // namespace

GreyWeights::GreyWeights(const uint8_t lut[256]) {
  for (int i = 0; i < 256; ++i) {
    red[i] = 0.2126F * lut[i];
    green[i] = 0.7152F * lut[i];
    blue[i] = 0.0722F * lut[i];
  }
  paper = static_cast<uint8_t>(red[255] + green[255] + blue[255] + 0.5F);
}

void GreyRow(const uint8_t* src, unsigned step, unsigned width, const GreyWeights& w, uint8_t* dst) {
  for (unsigned x = 0; x < width; ++x, src += step) {
    if (step == 3) {
      // White paper, eight pixels at a time.
      while (x + 8 <= width && AllWhite24(src)) {
        std::memset(dst + x, w.paper, 8);
        x += 8;
        src += 24;
      }
      if (x == width) break;
    }
    dst[x] = w.Grey(src[FI_RGBA_BLUE], src[FI_RGBA_GREEN], src[FI_RGBA_RED]);
  }
}

FiBitmap WrapRaster(const RASTER_INFO& raster) {
  if (raster.img_p == nullptr || raster.width > INT_MAX || raster.height > INT_MAX) return nullptr;
  FiBitmap dib(FreeImage_ConvertFromRawBitsEx(FALSE, raster.img_p, FIT_BITMAP,
                                              static_cast<int>(raster.width),
                                              static_cast<int>(raster.height), raster.pitch,
                                              raster.bpp, 0, 0, 0, FALSE));
  if (dib && raster.bpp <= 8) {
    RGBQUAD* pal = FreeImage_GetPalette(dib.get());
    const size_t entries = size_t{1} << raster.bpp;
    bool given = false;
    for (size_t i = 0; i < entries && !given; ++i) given = raster.palette[i] != 0;
    if (pal != nullptr && given) {
      std::memcpy(pal, raster.palette, entries * sizeof(RGBQUAD));
    } else if (pal != nullptr) {
      // An all-zero table is a palette nobody filled in (it would make every
      // pixel black): read the values as grey, or one-bit pixels as ink.
      quill_log::Debug("raster has no palette, reading its values as %s",
                       raster.bpp == 1 ? "ink" : "grey");
      for (size_t i = 0; i < entries; ++i) {
        const auto v = static_cast<BYTE>(raster.bpp == 1 ? 255 * (1 - i) : i * 255 / (entries - 1));
        pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = v;
        pal[i].rgbReserved = 0;
      }
    }
  }
  return dib;
}

void GammaTable(double gamma, uint8_t table[256]) {
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  FiBitmap ramp(FreeImage_Allocate(256, 1, 8));
  if (!ramp) return;
  BYTE* bits = FreeImage_GetScanLine(ramp.get(), 0);
  for (int i = 0; i < 256; ++i) bits[i] = static_cast<BYTE>(i);
  if (FreeImage_AdjustGamma(ramp.get(), gamma)) std::memcpy(table, bits, 256);
}

FiBitmap GreyWithGamma(FIBITMAP* dib, double gamma) {
  const bool use_gamma = gamma > 0 && gamma != 1.0;
  const unsigned bpp = FreeImage_GetBPP(dib);
  if (bpp == 24 || bpp == 32) {
    uint8_t lut[256];
    if (use_gamma) {
      GammaTable(gamma, lut);
    } else {
      for (int i = 0; i < 256; ++i) lut[i] = static_cast<uint8_t>(i);
    }
    return GreyFromTrueColour(dib, lut);
  }
  if (!use_gamma || bpp > 8) return FiBitmap(FreeImage_ConvertToGreyscale(dib));

  const FREE_IMAGE_COLOR_TYPE type = FreeImage_GetColorType(dib);
  if (type == FIC_PALETTE) {
    // The correction goes into the palette, which belongs to the wrapper.
    FreeImage_AdjustGamma(dib, gamma);
    return FiBitmap(FreeImage_ConvertToGreyscale(dib));
  }
  if (bpp == 8 && type == FIC_MINISBLACK) {
    FiBitmap grey(FreeImage_ConvertToGreyscale(dib));
    if (grey) FreeImage_AdjustGamma(grey.get(), gamma);
    return grey;
  }
  // Grey ramps in other orders: correct the index values of a copy.
  FiBitmap copy(FreeImage_Clone(dib));
  if (!copy) return copy;
  FreeImage_AdjustGamma(copy.get(), gamma);
  return FiBitmap(FreeImage_ConvertToGreyscale(copy.get()));
}

void cms_log(cmsContext /*context*/, cmsUInt32Number code, const char* text) {
  quill_log::Debug("[LCMS][%u]%s", code, text != nullptr ? text : "(null)");
}

FiBitmap TransformToProfile(FIBITMAP* grey, const std::string& icc_path) {
  cmsSetLogErrorHandler(cms_log);
  Profile output(cmsOpenProfileFromFile(icc_path.c_str(), "r"));
  if (!output) {
    quill_log::Warning("failed to load ICC profile");
    return nullptr;
  }
  const cmsUInt32Number cls = cmsGetDeviceClass(output.get());
  quill_log::Debug("using ICC[%c%c%c%c]: %s", static_cast<char>((cls >> 24) & 0xFF),
                   static_cast<char>((cls >> 16) & 0xFF), static_cast<char>((cls >> 8) & 0xFF),
                   static_cast<char>(cls & 0xFF), icc_path.c_str());
  TimingCheckpoint("doc_proc", __LINE__);

  const unsigned width = FreeImage_GetWidth(grey);
  const unsigned height = FreeImage_GetHeight(grey);
  FiBitmap result(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
  if (!result) return result;

  // The page's grey is read as grey of gamma 2.2 under D50, the usual
  // encoding of grey pixels, and mapped into the printer's device grey.
  Profile working;
  if (cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2)) {
    working.reset(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
  }
  Transform xform;
  if (working) {
    xform.reset(cmsCreateTransform(working.get(), TYPE_GRAY_8, output.get(), TYPE_GRAY_8,
                                   INTENT_PRESERVE_K_ONLY_PERCEPTUAL, 0));
    if (!xform) {
      xform.reset(cmsCreateTransform(working.get(), TYPE_GRAY_8, output.get(), TYPE_GRAY_8,
                                     INTENT_PERCEPTUAL, 0));
    }
  }
  if (!xform) {
    quill_log::Warning("failed to create transform");
    result.reset(FreeImage_Clone(grey));
  } else {
    cmsDoTransformLineStride(xform.get(), FreeImage_GetBits(grey), FreeImage_GetBits(result.get()),
                             width, height, FreeImage_GetPitch(grey),
                             FreeImage_GetPitch(result.get()), 0, 0);
  }
  TimingCheckpoint("doc_proc", __LINE__);
  quill_log::Debug("end cms");
  return result;
}

FiBitmap Halftone(FIBITMAP* grey, uint8_t threshold, uint8_t dither) {
  if (threshold >= 1 && threshold <= 254) return FiBitmap(FreeImage_Threshold(grey, threshold));
  switch (dither) {
    case 1:
      quill_log::Debug("dither: STUCKI_Sierra_Jarvis_bidir");
      return FiBitmap(STUCKI_Sierra_Jarvis_bidir(grey, 0));
    case 2:
      quill_log::Debug("dither: ets_dither");
      return FiBitmap(ets_dither(grey));
    case 3:
      quill_log::Debug("dither: ordered_dither_single");
      return FiBitmap(ordered_dither_single(grey));
    default:
      quill_log::Debug("dither: default");
      return FiBitmap(FreeImage_Dither(grey, FID_FS));
  }
}

void InvertPixels(FIBITMAP* dib) {
  if (FreeImage_GetBPP(dib) != 1 || FreeImage_GetColorType(dib) == FIC_PALETTE ||
      FreeImage_GetImageType(dib) != FIT_BITMAP || !FreeImage_HasPixels(dib)) {
    FreeImage_Invert(dib);
    return;
  }
  const unsigned line = FreeImage_GetLine(dib);
  const unsigned height = FreeImage_GetHeight(dib);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* bits = FreeImage_GetScanLine(dib, static_cast<int>(y));
    for (unsigned x = 0; x < line; ++x) bits[x] = static_cast<BYTE>(~bits[x]);
  }
}

bool IsRedPixel(uint8_t blue, uint8_t green, uint8_t red) {
  const int r = red, g = green, b = blue;
  const int mx = std::max(r, std::max(g, b));
  const int mn = std::min(r, std::min(g, b));
  if (mx == mn) return false;
  const float max = static_cast<float>(mx);
  const float diff = max - static_cast<float>(mn);
  const float s = diff / max;  // max > 0 since max > min >= 0
  const float v = static_cast<float>(mx / 255.0);
  float h;
  if (r >= std::max(g, b)) {
    h = static_cast<float>((g - b) * 60) / diff;
  } else if (g == mx) {
    h = static_cast<float>((b - r) * 60) / diff + 120;
  } else {
    h = static_cast<float>((r - g) * 60) / diff + 240;
  }
  if (h < 0) h += 360;
  const bool red_hue = (h >= 0 && h < 15) || (h > 330 && h < 360);
  return red_hue && v > 0.6 && s > 0.2;
}

void SeparatedGreyRow(const uint8_t* src, unsigned step, unsigned width, const GreyWeights& w,
                      uint8_t* dst) {
  const unsigned plane = width + (width & 1);
  uint8_t* black = dst;
  uint8_t* red = dst + plane;
  const uint8_t paper = w.paper;
  // Candidates and runs as in ConvertToRedBlack.
  int last_key = -1;
  bool last_red = false;
  for (unsigned x = 0; x < width; ++x, src += step) {
    if (step == 3) {
      while (x + 8 <= width && AllWhite24(src)) {
        std::memset(black + x, paper, 8);
        std::memset(red + x, paper, 8);
        x += 8;
        src += 24;
      }
      if (x == width) break;
    }
    const BYTE cb = src[0], cg = src[1], cr = src[2];
    const uint8_t grey = w.Grey(cb, cg, cr);
    bool is_red = false;
    if (!(cr < 153 || cr < cg || cr < cb || (cr == cg && cr == cb))) {
      const int key = cb | (cg << 8) | (cr << 16);
      if (key != last_key) {
        last_key = key;
        last_red = IsRedPixel(cb, cg, cr);
      }
      is_red = last_red;
    }
    black[x] = is_red ? paper : grey;
    red[x] = is_red ? grey : paper;
  }
  if (width & 1) {
    black[width] = paper;
    red[width] = paper;
  }
}

int ConvertToRedBlack(FIBITMAP* src, FIBITMAP*& dst) {
  dst = nullptr;
  if (src == nullptr) return 0;
  const unsigned width = FreeImage_GetWidth(src);
  const unsigned height = FreeImage_GetHeight(src);
  quill_log::Debug("extends width %u for dual colors", width);
  const unsigned plane = width + (width & 1);
  if (plane > INT_MAX / 2) return 0;
  FiBitmap out(FreeImage_Allocate(static_cast<int>(2 * plane), static_cast<int>(height), 24));
  if (!out) return 0;

  // Depths other than 8, 24 and 32 bits are read through a 24-bit copy.
  FIBITMAP* img = src;
  FiBitmap converted;
  unsigned bpp = FreeImage_GetBPP(src);
  if ((bpp != 8 && bpp != 24 && bpp != 32) || (bpp == 8 && FreeImage_GetPalette(src) == nullptr)) {
    converted.reset(FreeImage_ConvertTo24Bits(src));
    if (!converted) return 0;
    img = converted.get();
    bpp = 24;
  }
  const unsigned step = bpp / 8;
  const size_t plane_bytes = 3 * static_cast<size_t>(plane);

  // Palette pages: every index is classified once.
  const RGBQUAD* pal = bpp == 8 ? FreeImage_GetPalette(img) : nullptr;
  BYTE colours[256][3] = {};
  bool red_index[256] = {};
  if (pal != nullptr) {
    for (int i = 0; i < 256; ++i) {
      colours[i][0] = pal[i].rgbBlue;
      colours[i][1] = pal[i].rgbGreen;
      colours[i][2] = pal[i].rgbRed;
      red_index[i] = IsRedPixel(colours[i][0], colours[i][1], colours[i][2]);
    }
  }

  for (unsigned y = 0; y < height; ++y) {
    const BYTE* s = FreeImage_GetScanLine(img, static_cast<int>(y));
    BYTE* black = FreeImage_GetScanLine(out.get(), static_cast<int>(y));
    BYTE* red = black + plane_bytes;
    // Both planes start as the black plane holding every pixel and the red
    // plane white; red pixels then move across.
    std::memset(red, 255, plane_bytes);
    if (width & 1) std::memset(black + 3 * static_cast<size_t>(width), 255, 3);
    if (pal != nullptr) {
      for (unsigned x = 0; x < width; ++x) {
        const BYTE* c = colours[s[x]];
        BYTE* b = black + 3 * static_cast<size_t>(x);
        if (red_index[s[x]]) {
          std::memcpy(red + 3 * static_cast<size_t>(x), c, 3);
          std::memset(b, 255, 3);
        } else {
          std::memcpy(b, c, 3);
        }
      }
      continue;
    }
    if (step == 3) {
      std::memcpy(black, s, 3 * static_cast<size_t>(width));
    } else {
      for (unsigned x = 0; x < width; ++x) {
        std::memcpy(black + 3 * static_cast<size_t>(x), s + step * static_cast<size_t>(x), 3);
      }
    }
    // Only a colour whose red is its largest channel and at least 153, and
    // that is not grey, can be red (any other hue lies in 60..300 degrees,
    // a smaller value is not above 0.6), which rules out most pixels
    // without the HSV arithmetic.
    // Pages are mostly runs of one colour: a candidate colour is classified
    // once per run.
    int last_key = -1;
    bool last_red = false;
    for (unsigned x = 0; x < width; ++x, s += step) {
      if (step == 3) {
        // Paper: skip white eight pixels (24 bytes) at a time.
        while (x + 8 <= width && AllWhite24(s)) {
          x += 8;
          s += 24;
        }
        if (x == width) break;
      }
      const BYTE cb = s[0], cg = s[1], cr = s[2];
      if (cr < 153 || cr < cg || cr < cb || (cr == cg && cr == cb)) continue;
      const int key = cb | (cg << 8) | (cr << 16);
      if (key != last_key) {
        last_key = key;
        last_red = IsRedPixel(cb, cg, cr);
      }
      if (!last_red) continue;
      BYTE* b = black + 3 * static_cast<size_t>(x);
      std::memcpy(red + 3 * static_cast<size_t>(x), b, 3);
      std::memset(b, 255, 3);
    }
  }
  dst = out.release();
  return 0;
}
