// Colour to one bit (gamma, ICC, threshold, halftoners) and the red/black
// separation.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lcms2.h>

#include "common/log_capture.h"
#include "doc_proc_util.h"
#include "document/document_process_ink1.h"
#include "document/mono_conversion.h"
#include "support/fi_bitmap.h"

namespace {

using doc_proc_test::ColourPage;
using quill_test::LogCapture;
using quill_test::RecordingWriter;

// ---------------------------------------------------------------------------
// Grey and gamma

// The plain form: gamma on a copy of the colour image, then FreeImage's own
// grey conversion.
FiBitmap ReferenceGrey(FIBITMAP* dib, double gamma) {
  FiBitmap copy(FreeImage_Clone(dib));
  if (gamma > 0 && gamma != 1.0) FreeImage_AdjustGamma(copy.get(), gamma);
  return FiBitmap(FreeImage_ConvertToGreyscale(copy.get()));
}

bool SamePixels(FIBITMAP* a, FIBITMAP* b) {
  if (FreeImage_GetWidth(a) != FreeImage_GetWidth(b) || FreeImage_GetHeight(a) != FreeImage_GetHeight(b) ||
      FreeImage_GetBPP(a) != FreeImage_GetBPP(b))
    return false;
  const unsigned line = FreeImage_GetLine(a);
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y)
    if (std::memcmp(FreeImage_GetScanLine(a, static_cast<int>(y)), FreeImage_GetScanLine(b, static_cast<int>(y)), line) != 0)
      return false;
  return true;
}

RASTER_INFO RandomRaster(std::vector<uint8_t>& store, uint32_t w, uint32_t h, uint8_t bpp, uint32_t seed) {
  RASTER_INFO ri{};
  ri.width = w;
  ri.height = h;
  ri.bpp = bpp;
  ri.pitch = static_cast<int32_t>((w * bpp / 8 + 3) / 4 * 4);
  ri.x_res = ri.y_res = 360;
  store.resize(size_t(ri.pitch) * h);
  std::mt19937 gen(seed);
  for (auto& b : store) b = static_cast<uint8_t>(gen());
  ri.img_p = store.data();
  return ri;
}

TEST(GreyWithGamma, TrueColourMatchesGammaThenGreyByteForByte) {
  for (uint8_t bpp : {uint8_t{24}, uint8_t{32}}) {
    for (double gamma : {1.0, 2.2, 0.45, 0.0}) {
      std::vector<uint8_t> store;
      RASTER_INFO ri = RandomRaster(store, 301, 211, bpp, 17);
      // White paper in runs of several lengths and places, besides the noise.
      for (uint32_t y = 0; y < 211; ++y) {
        uint8_t* row = &store[size_t{y} * static_cast<size_t>(ri.pitch)];
        const size_t px = bpp / 8;
        if (y % 3 == 0) std::memset(row, 255, 301 * px);
        if (y % 3 == 1) std::memset(row + (y % 17) * px, 255, (7 + y % 23) * px);
      }
      const std::vector<uint8_t> orig = store;
      FiBitmap wrapped = WrapRaster(ri);
      FiBitmap expected = ReferenceGrey(wrapped.get(), gamma);
      FiBitmap grey = GreyWithGamma(wrapped.get(), gamma);
      ASSERT_TRUE(grey);
      EXPECT_EQ(FreeImage_GetColorType(grey.get()), FIC_MINISBLACK);
      EXPECT_TRUE(SamePixels(grey.get(), expected.get())) << int(bpp) << " gamma " << gamma;
      EXPECT_EQ(store, orig) << "the caller's pixels are never corrected";
    }
  }
}

TEST(GreyWithGamma, EightBitPagesOfEveryPaletteKindMatchTheReference) {
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<uint8_t> store;
    RASTER_INFO ri = RandomRaster(store, 77, 31, 8, 5);
    std::mt19937 gen(kind);
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t v = kind == 0 ? i : kind == 1 ? 255 - i : static_cast<uint32_t>(gen()) & 0xFFFFFF;
      ri.palette[i] = kind == 2 ? v : (v | v << 8 | v << 16);
    }
    const std::vector<uint8_t> orig = store;
    FiBitmap wrapped = WrapRaster(ri);
    FiBitmap expected = ReferenceGrey(wrapped.get(), 2.2);
    FiBitmap grey = GreyWithGamma(wrapped.get(), 2.2);
    ASSERT_TRUE(grey);
    EXPECT_TRUE(SamePixels(grey.get(), expected.get())) << "palette kind " << kind;
    EXPECT_EQ(store, orig);
  }
}

// ---------------------------------------------------------------------------
// The one-bit result of the document processor

struct Mono {
  bool ok = false;
  RASTER_INFO ri{};
  std::vector<uint8_t> pixels;
};

Mono ToMono(RASTER_INFO src, const std::string& options) {
  RecordingWriter writer;
  CONV_PARAM2 cp = doc_proc_test::JobParam(writer, options.c_str());
  DocumentProcessInk1 doc(&cp);
  Mono m;
  m.ok = doc.ConvertColorToMono(&src, &m.ri);
  if (m.ok) {
    m.pixels.assign(m.ri.img_p, m.ri.img_p + size_t(m.ri.pitch) * m.ri.height);
    std::free(m.ri.img_p);
    m.ri.img_p = m.pixels.data();
  }
  return m;
}

bool Ink(const Mono& m, uint32_t r, uint32_t c) {
  return (m.pixels[size_t(r) * m.ri.pitch + c / 8] >> (7 - c % 8)) & 1;
}

// A horizontal grey ramp, 0 at the left, 255 at the right.
ColourPage Ramp(uint32_t w = 256, uint32_t h = 20) {
  ColourPage p(w, h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const auto v = static_cast<uint8_t>(x * 255 / (w - 1));
      p.Paint(y, x, v, v, v);
    }
  return p;
}

TEST(ConvertColorToMono, OneBitPagesAreNotConverted) {
  doc_proc_test::OneBitPage page(8, 8);
  Mono m = ToMono(page.Raster(), "");
  EXPECT_FALSE(m.ok);
}

TEST(ConvertColorToMono, ThresholdBypassesEveryDitherMethod) {
  ColourPage page = Ramp();
  std::vector<std::vector<uint8_t>> results;
  for (const char* dither : {"0", "1", "2", "3", "4"}) {
    Mono m = ToMono(page.Raster(), std::string("threshold=128:dither=") + dither);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.ri.bpp, 1);
    EXPECT_EQ(m.ri.width, 256u);
    // Ink (a set bit) exactly where the grey is below 128.
    for (uint32_t x = 0; x < 256; ++x) ASSERT_EQ(Ink(m, 5, x), x * 255 / 255 < 128) << x;
    results.push_back(m.pixels);
  }
  for (const auto& r : results) EXPECT_EQ(r, results[0]);
}

TEST(ConvertColorToMono, ThresholdsOutsideOneTo254SelectTheDither) {
  ColourPage page = Ramp(200, 40);
  LogCapture log;
  Mono fs0 = ToMono(page.Raster(), "threshold=0:dither=0");
  Mono fs255 = ToMono(page.Raster(), "threshold=255:dither=4");
  ASSERT_TRUE(fs0.ok && fs255.ok);
  EXPECT_EQ(log.Count(spdlog::level::debug, "dither: default"), 2);
  EXPECT_EQ(fs0.pixels, fs255.pixels) << "dither=4 is Floyd-Steinberg like dither=0";
  // A halftone, not a threshold: both ink and paper in the middle grey.
  int ink = 0;
  for (uint32_t y = 0; y < 40; ++y) ink += Ink(fs0, y, 100);
  EXPECT_GT(ink, 5);
  EXPECT_LT(ink, 35);
}

TEST(ConvertColorToMono, EachDitherChoiceNamesItsMethodAndGivesInkForBlack) {
  for (auto [dither, name] : std::vector<std::pair<const char*, const char*>>{
           {"1", "dither: STUCKI_Sierra_Jarvis_bidir"},
           {"2", "dither: ets_dither"},
           {"3", "dither: ordered_dither_single"},
           {"0", "dither: default"}}) {
    ColourPage page(64, 32);
    page.Rect(0, 0, 32, 32, 0, 0, 0);  // left half black, right half white
    LogCapture log;
    Mono m = ToMono(page.Raster(), std::string("dither=") + dither);
    ASSERT_TRUE(m.ok) << dither;
    EXPECT_TRUE(log.Contains(name)) << dither;
    EXPECT_TRUE(log.Contains("invert palette after halftoning")) << dither;
    uint32_t left = 0, right = 0;
    for (uint32_t y = 0; y < 32; ++y)
      for (uint32_t x = 0; x < 64; ++x) (x < 32 ? left : right) += Ink(m, y, x);
    EXPECT_GT(left, 32u * 32 * 9 / 10) << dither;
    EXPECT_LT(right, 32u * 32 / 20) << dither;
  }
}

TEST(ConvertColorToMono, BitsAfterTheLastPixelAreClear) {
  ColourPage page(13, 4);
  page.Rect(0, 0, 4, 13, 0, 0, 0);
  Mono m = ToMono(page.Raster(), "threshold=128");
  ASSERT_TRUE(m.ok);
  for (uint32_t y = 0; y < 4; ++y) {
    EXPECT_EQ(m.pixels[size_t(y) * m.ri.pitch], 0xFF);
    EXPECT_EQ(m.pixels[size_t(y) * m.ri.pitch + 1], 0xF8);
  }
}

TEST(ConvertColorToMono, GammaLightensWithoutTouchingTheCallersPixels) {
  ColourPage page = Ramp();
  const std::vector<uint8_t> orig = page.Pixels();
  Mono plain = ToMono(page.Raster(), "threshold=128");
  Mono light = ToMono(page.Raster(), "threshold=128:gamma=2.2");
  Mono again = ToMono(page.Raster(), "threshold=128:gamma=2.2");
  EXPECT_EQ(page.Pixels(), orig);
  EXPECT_EQ(light.pixels, again.pixels);
  // Gamma 2.2 maps grey 128 to 190: the ramp's ink stops earlier.
  uint8_t table[256];
  GammaTable(2.2, table);
  for (uint32_t x = 0; x < 256; ++x) ASSERT_EQ(Ink(light, 0, x), table[x] < 128) << x;
  EXPECT_TRUE(Ink(plain, 0, 100));
  EXPECT_FALSE(Ink(light, 0, 100));
}

TEST(ConvertColorToMono, EightBitPageWithoutAPaletteIsReadAsGrey) {
  // As the CUPS filter hands grey pages over: the palette left all zero.
  std::vector<uint8_t> store(256 * 4);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 256; ++x) store[y * 256 + x] = static_cast<uint8_t>(x);
  RASTER_INFO ri{};
  ri.img_p = store.data();
  ri.width = 256;
  ri.height = 4;
  ri.pitch = 256;
  ri.bpp = 8;
  ri.x_res = ri.y_res = 360;
  LogCapture log;
  for (const char* options : {"threshold=128", "threshold=128:dither=2", "dither=2"}) {
    Mono m = ToMono(ri, options);
    ASSERT_TRUE(m.ok);
    EXPECT_TRUE(Ink(m, 1, 0)) << options;
    EXPECT_FALSE(Ink(m, 1, 255)) << options;
    if (std::string(options).find("threshold") != std::string::npos) {
      for (uint32_t x = 0; x < 256; ++x) ASSERT_EQ(Ink(m, 1, x), x < 128) << options << " " << x;
    }
  }
  EXPECT_TRUE(log.Contains("raster has no palette, reading its values as grey"));
}

// ---------------------------------------------------------------------------
// Colour management

class IccTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quill-icc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const std::string& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }
  // A grey printer profile whose device grey is linear light: mid greys of
  // the page (gamma 2.2) come out much darker.
  std::string LinearGreyPrinterProfile() {
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), linear);
    cmsFreeToneCurve(linear);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    return Save(p, "linear-grey.icc");
  }
  std::string Save(cmsHPROFILE p, const char* name) {
    std::string path = dir_ + "/" + name;
    EXPECT_TRUE(cmsSaveProfileToFile(p, path.c_str()));
    cmsCloseProfile(p);
    files_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(IccTest, TransformMapsGreyIntoTheProfilesDeviceGrey) {
  const std::string icc = LinearGreyPrinterProfile();
  FiBitmap grey(FreeImage_Allocate(256, 1, 8));
  for (int i = 0; i < 256; ++i) FreeImage_GetScanLine(grey.get(), 0)[i] = static_cast<BYTE>(i);
  FiBitmap out = TransformToProfile(grey.get(), icc);
  ASSERT_TRUE(out);
  const BYTE* v = FreeImage_GetScanLine(out.get(), 0);
  for (int i = 0; i < 256; ++i) {
    const double expected = 255.0 * std::pow(i / 255.0, 2.2);
    EXPECT_NEAR(v[i], expected, 2.5) << i;
  }
}

TEST_F(IccTest, ProfileDarkensAPageThatWouldOtherwiseStayWhite) {
  const std::string icc = LinearGreyPrinterProfile();
  ColourPage page(40, 10);
  page.Rect(0, 0, 10, 40, 150, 150, 150);
  LogCapture log;
  Mono plain = ToMono(page.Raster(), "threshold=128");
  Mono managed = ToMono(page.Raster(), "threshold=128:icc=" + icc);
  EXPECT_FALSE(Ink(plain, 3, 3));
  EXPECT_TRUE(Ink(managed, 3, 3));
  EXPECT_TRUE(log.Contains("using ICC[prtr]: " + icc));
  EXPECT_EQ(log.Count(spdlog::level::debug, "end cms"), 1);
  EXPECT_FALSE(log.Contains("failed to create transform"));
}

TEST_F(IccTest, MissingProfileDegradesWithItsWarning) {
  ColourPage page(40, 10);
  page.Rect(0, 0, 10, 40, 150, 150, 150);
  LogCapture log;
  Mono plain = ToMono(page.Raster(), "threshold=128");
  Mono missing = ToMono(page.Raster(), "threshold=128:icc=" + dir_ + "/none.icc");
  ASSERT_TRUE(missing.ok);
  EXPECT_EQ(missing.pixels, plain.pixels);
  EXPECT_EQ(log.Count(spdlog::level::warn, "failed to load ICC profile"), 1);
  EXPECT_TRUE(log.Contains("[LCMS]["));
}

TEST_F(IccTest, ColourProfileCannotTakeGreyAndIsSkipped) {
  const std::string srgb = Save(cmsCreate_sRGBProfile(), "srgb.icc");
  ColourPage page(40, 10);
  page.Rect(0, 0, 10, 40, 150, 150, 150);
  LogCapture log;
  Mono plain = ToMono(page.Raster(), "threshold=128");
  Mono skipped = ToMono(page.Raster(), "threshold=128:icc=" + srgb);
  ASSERT_TRUE(skipped.ok);
  EXPECT_EQ(skipped.pixels, plain.pixels);
  EXPECT_EQ(log.Count(spdlog::level::warn, "failed to create transform"), 1);
}

TEST_F(IccTest, EightBitPagesAreNeverColourManaged) {
  const std::string icc = LinearGreyPrinterProfile();
  std::vector<uint8_t> store(40 * 10, 150);
  RASTER_INFO ri{};
  ri.img_p = store.data();
  ri.width = 40;
  ri.height = 10;
  ri.pitch = 40;
  ri.bpp = 8;
  ri.x_res = ri.y_res = 360;
  for (uint32_t i = 0; i < 256; ++i) ri.palette[i] = i | i << 8 | i << 16;
  LogCapture log;
  Mono m = ToMono(ri, "threshold=128:icc=" + icc);
  ASSERT_TRUE(m.ok);
  EXPECT_FALSE(Ink(m, 2, 2));
  EXPECT_EQ(log.Count(spdlog::level::warn, "color depth of source is not enough to do transform"), 1);
  EXPECT_FALSE(log.Contains("using ICC"));
  Mono without = ToMono(ri, "threshold=128");
  EXPECT_EQ(log.Count(spdlog::level::warn, "color depth of source is not enough to do transform"), 2);
}

TEST(DumpMono, LevelTwoSavesTheImageBeforeAndAfter) {
  std::remove("/tmp/ConvertColorToMono-1.tif");
  std::remove("/tmp/ConvertColorToMono-2.tif");
  setenv("DUMP_MONO", "2", 1);
  ColourPage page(16, 8);
  Mono m = ToMono(page.Raster(), "threshold=128");
  unsetenv("DUMP_MONO");
  EXPECT_TRUE(std::ifstream("/tmp/ConvertColorToMono-1.tif").good());
  EXPECT_TRUE(std::ifstream("/tmp/ConvertColorToMono-2.tif").good());
  std::remove("/tmp/ConvertColorToMono-1.tif");
  std::remove("/tmp/ConvertColorToMono-2.tif");
}

TEST(InvertPixels, OneBitImagesAsFreeImageInvertsThem) {
  std::mt19937 gen(17);
  for (unsigned width : {1u, 7u, 8u, 9u, 33u, 64u}) {
    for (int palette = 0; palette < 3; ++palette) {  // black first, white first, colours
      FiBitmap mine(FreeImage_Allocate(static_cast<int>(width), 5, 1));
      RGBQUAD* pal = FreeImage_GetPalette(mine.get());
      const uint8_t first = palette == 1 ? 255 : 0;
      pal[0].rgbRed = pal[0].rgbGreen = pal[0].rgbBlue = first;
      pal[1].rgbRed = pal[1].rgbGreen = pal[1].rgbBlue = static_cast<uint8_t>(255 - first);
      if (palette == 2) pal[1].rgbGreen = 0;
      for (unsigned y = 0; y < 5; ++y) {
        BYTE* bits = FreeImage_GetScanLine(mine.get(), static_cast<int>(y));
        for (unsigned x = 0; x < FreeImage_GetPitch(mine.get()); ++x) bits[x] = static_cast<BYTE>(gen());
      }
      FiBitmap theirs(FreeImage_Clone(mine.get()));
      InvertPixels(mine.get());
      FreeImage_Invert(theirs.get());
      EXPECT_EQ(std::memcmp(FreeImage_GetBits(mine.get()), FreeImage_GetBits(theirs.get()),
                            size_t{FreeImage_GetPitch(mine.get())} * 5), 0)
          << width << "/" << palette;
      EXPECT_EQ(std::memcmp(FreeImage_GetPalette(mine.get()), FreeImage_GetPalette(theirs.get()),
                            2 * sizeof(RGBQUAD)), 0)
          << width << "/" << palette;
    }
  }
}

// ---------------------------------------------------------------------------
// Red and black

TEST(RedBlack, ClassifiesByHueValueAndSaturation) {
  // (blue, green, red)
  EXPECT_TRUE(IsRedPixel(0, 0, 255));        // pure red
  EXPECT_FALSE(IsRedPixel(0, 0, 120));       // dark red: value 0.47
  EXPECT_FALSE(IsRedPixel(210, 210, 255));   // pale pink: saturation 0.18
  EXPECT_FALSE(IsRedPixel(0, 50, 200));      // hue exactly 15
  EXPECT_TRUE(IsRedPixel(0, 60, 255));       // hue 14.1
  EXPECT_TRUE(IsRedPixel(85, 0, 255));       // hue 340
  EXPECT_FALSE(IsRedPixel(100, 0, 200));     // hue exactly 330
  EXPECT_FALSE(IsRedPixel(128, 128, 128));   // grey
  EXPECT_FALSE(IsRedPixel(0, 0, 0));
  EXPECT_FALSE(IsRedPixel(0, 255, 0));
}

// The classification written out step by step: single-precision maximum,
// minimum and difference, S = diff / max, V = max / 255 divided in double and
// stored in single precision, the hue from integer products over the float
// difference; red for a hue in [0, 15) or (330, 360), V > 0.6, S > 0.2.
bool ReferenceRed(uint8_t blue, uint8_t green, uint8_t red) {
  const int R = red, G = green, B = blue;
  const float mx = static_cast<float>(std::max({R, G, B}));
  const float mn = static_cast<float>(std::min({R, G, B}));
  const float diff = mx - mn;
  const float s = mx > 0 ? diff / mx : 0.0F;
  const float v = static_cast<float>(mx / 255.0);
  if (diff == 0) return false;
  float h;
  if (R >= std::max(G, B)) {
    h = static_cast<float>((G - B) * 60) / diff;
  } else if (G >= std::max(R, B)) {
    h = static_cast<float>((B - R) * 60) / diff + 120;
  } else {
    h = static_cast<float>((R - G) * 60) / diff + 240;
  }
  if (h < 0) h += 360;
  return ((h >= 0 && h < 15) || (h > 330 && h < 360)) && v > 0.6 && s > 0.2;
}

TEST(RedBlack, EveryColourClassifiedAsWrittenAndOnlyBrightRedDominantCandidates) {
  // The separation skips the hue arithmetic for colours whose red is not the
  // largest channel, or below 153, or grey: none of them may be red.
  int wrong = 0, outside = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        const bool red = IsRedPixel(static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r));
        wrong += red != ReferenceRed(static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r));
        outside += red && (r < 153 || r < g || r < b || (r == g && r == b));
      }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(outside, 0);
}

TEST(RedBlack, ValueAndSaturationLimitsCompareSinglePrecisionAgainstTheDecimals) {
  // V = 153 / 255 is 0.6 in double, 0.60000002 once stored in single
  // precision, which is above 0.6; 152 / 255 is below.
  EXPECT_TRUE(IsRedPixel(0, 0, 153));
  EXPECT_FALSE(IsRedPixel(0, 0, 152));
  // S = 51 / 255 is 0.2 stored as 0.20000000298 in single precision: above
  // 0.2; 50 / 255 is not.
  EXPECT_TRUE(IsRedPixel(204, 204, 255));
  EXPECT_FALSE(IsRedPixel(205, 205, 255));
}

// The separation in its plain per-pixel form.
std::vector<uint8_t> ReferenceSeparation(FIBITMAP* src) {
  const unsigned w = FreeImage_GetWidth(src), h = FreeImage_GetHeight(src);
  const unsigned bpp = FreeImage_GetBPP(src);
  const unsigned plane = (w + 1) / 2 * 2;
  std::vector<uint8_t> out(size_t{6} * plane * h, 255);
  const RGBQUAD* pal = FreeImage_GetPalette(src);
  for (unsigned y = 0; y < h; ++y) {
    const BYTE* s = FreeImage_GetScanLine(src, static_cast<int>(y));
    for (unsigned x = 0; x < w; ++x) {
      uint8_t px[3];
      if (bpp == 8) {
        px[0] = pal[s[x]].rgbBlue;
        px[1] = pal[s[x]].rgbGreen;
        px[2] = pal[s[x]].rgbRed;
      } else {
        std::memcpy(px, s + x * (bpp / 8), 3);
      }
      const bool red = ReferenceRed(px[0], px[1], px[2]);
      uint8_t* dst = &out[size_t{6} * plane * y + 3 * (red ? plane + x : x)];
      std::memcpy(dst, px, 3);
    }
  }
  return out;
}

TEST(RedBlack, SeparationMatchesThePlainPerPixelForm) {
  for (uint8_t bpp : {uint8_t{8}, uint8_t{24}, uint8_t{32}}) {
    for (uint32_t w : {1u, 6u, 37u}) {
      std::vector<uint8_t> store;
      RASTER_INFO ri = RandomRaster(store, w, 23, bpp, 5 + w);
      // Runs of one colour and colours near the limits, besides the noise.
      for (size_t i = 0; i + 12 < store.size(); i += 29) {
        const uint8_t near[] = {0, 0, 153, 0, 0, 152, 204, 204, 255, 0, 50, 200};
        std::memcpy(&store[i], near, sizeof near);
      }
      if (bpp == 8) {
        std::mt19937 gen(w);
        for (int i = 0; i < 256; ++i) ri.palette[i] = gen() & 0xFFFFFF;
        ri.palette[7] = 0x0000FF;  // pure blue
        ri.palette[9] = 0xFF0000;  // pure red
      }
      FiBitmap wrapped = WrapRaster(ri);
      ASSERT_TRUE(wrapped);
      FIBITMAP* out = nullptr;
      ConvertToRedBlack(wrapped.get(), out);
      FiBitmap planes(out);
      ASSERT_TRUE(planes);
      const std::vector<uint8_t> expected = ReferenceSeparation(wrapped.get());
      const unsigned row_bytes = 3 * FreeImage_GetWidth(out);
      ASSERT_EQ(size_t{row_bytes} * 23, expected.size());
      for (unsigned y = 0; y < 23; ++y) {
        EXPECT_EQ(std::memcmp(FreeImage_GetScanLine(out, static_cast<int>(y)), &expected[size_t{row_bytes} * y], row_bytes), 0)
            << "bpp " << int{bpp} << " width " << w << " row " << y;
      }
    }
  }
}

TEST(RedBlack, OddWidthSevenGivesSixteenWithWhitePadding) {
  ColourPage page(7, 3);
  page.Paint(0, 0, 255, 0, 0);      // red
  page.Paint(0, 1, 0, 0, 0);        // black
  page.Paint(1, 6, 120, 0, 0);      // dark red: black plane
  page.Paint(2, 3, 255, 210, 210);  // pale pink: black plane
  RASTER_INFO ri = page.Raster();
  FiBitmap wrapped = WrapRaster(ri);
  FIBITMAP* out = nullptr;
  EXPECT_EQ(ConvertToRedBlack(wrapped.get(), out), 0);
  FiBitmap planes(out);
  ASSERT_TRUE(planes);
  ASSERT_EQ(FreeImage_GetWidth(out), 16u);
  ASSERT_EQ(FreeImage_GetHeight(out), 3u);
  ASSERT_EQ(FreeImage_GetBPP(out), 24u);
  auto px = [&](uint32_t y, uint32_t x) {
    const BYTE* p = FreeImage_GetScanLine(out, static_cast<int>(y)) + 3 * x;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];  // 0xRRGGBB
  };
  EXPECT_EQ(px(0, 8), 0xFF0000u);
  EXPECT_EQ(px(0, 0), 0xFFFFFFu);
  EXPECT_EQ(px(0, 1), 0x000000u);
  EXPECT_EQ(px(0, 9), 0xFFFFFFu);
  EXPECT_EQ(px(1, 6), 0x780000u);
  EXPECT_EQ(px(1, 14), 0xFFFFFFu);
  EXPECT_EQ(px(2, 3), 0xFFD2D2u);
  for (uint32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(px(y, 7), 0xFFFFFFu);
    EXPECT_EQ(px(y, 15), 0xFFFFFFu);
  }
}

TEST(RedBlack, PalettePagesUseTheirPaletteColours) {
  std::vector<uint8_t> store = {0, 1, 2, 0};
  RASTER_INFO ri{};
  ri.img_p = store.data();
  ri.width = 3;
  ri.height = 1;
  ri.pitch = 4;
  ri.bpp = 8;
  ri.palette[0] = 0xFFFFFF;  // white
  ri.palette[1] = 0xFF0000;  // red (bytes B G R: 00 00 FF)
  ri.palette[2] = 0x000000;  // black
  FiBitmap wrapped = WrapRaster(ri);
  FIBITMAP* out = nullptr;
  ConvertToRedBlack(wrapped.get(), out);
  FiBitmap planes(out);
  ASSERT_EQ(FreeImage_GetWidth(out), 8u);
  const BYTE* row = FreeImage_GetScanLine(out, 0);
  EXPECT_EQ(row[3 * 5 + 2], 0xFF);  // red plane, x = 1
  EXPECT_EQ(row[3 * 5 + 1], 0x00);
  EXPECT_EQ(row[3 * 1 + 1], 0xFF);  // black plane white there
  EXPECT_EQ(row[3 * 2 + 0], 0x00);  // black pixel stays in the black plane
  EXPECT_EQ(row[3 * 6 + 0], 0xFF);
}

}  // namespace
