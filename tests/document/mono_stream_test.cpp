// The row-by-row mono conversion against its plain form: the whole-page
// steps it fuses (ConvertToRedBlack, GreyWithGamma, ets_dither, inversion,
// FreeImage_ConvertToRawBits), run one after another on the same page. Both
// start the screen from the same generator state; every byte of every row,
// padding included, must agree.
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "document/mono_conversion.h"
#include "document/mono_stream.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

struct Page {
  std::vector<uint8_t> pixels;
  RASTER_INFO info{};
};

// White paper with blocks of random colours (reds, pinks and greys among
// them), noise, and whole white rows, so that white runs of every length
// and red candidates that pass and fail all occur.
Page MakePage(uint32_t width, uint32_t height, uint8_t bpp, unsigned seed) {
  Page p;
  const uint32_t step = bpp / 8;
  const uint32_t pitch = (width * step + 3) & ~3u;
  p.pixels.assign(static_cast<size_t>(pitch) * height, 0xFF);
  p.info.width = width;
  p.info.height = height;
  p.info.pitch = static_cast<int32_t>(pitch);
  p.info.x_res = p.info.y_res = 360;
  p.info.bpp = bpp;
  p.info.img_p = p.pixels.data();
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < height; ++y) {
    if (rng() % 5 == 0) continue;  // a white row
    uint32_t x = rng() % 40;
    while (x < width) {
      const uint32_t len = 1 + rng() % 60;
      const uint32_t kind = rng() % 6;
      uint8_t r = static_cast<uint8_t>(rng()), g = static_cast<uint8_t>(rng()), b = static_cast<uint8_t>(rng());
      if (kind == 0) g = b = 0, r = static_cast<uint8_t>(150 + rng() % 106);  // red or dark red
      if (kind == 1) r = 255, g = b = static_cast<uint8_t>(180 + rng() % 60);  // pinks
      if (kind == 2) g = b = r;                                                 // grey
      for (uint32_t i = x; i < x + len && i < width; ++i) {
        uint8_t* px = p.pixels.data() + static_cast<size_t>(y) * pitch + i * step;
        const bool noise = kind == 3;
        px[0] = noise ? static_cast<uint8_t>(rng()) : b;
        px[1] = noise ? static_cast<uint8_t>(rng()) : g;
        px[2] = noise ? static_cast<uint8_t>(rng()) : r;
      }
      x += len + rng() % 90;
    }
  }
  return p;
}

// The plain form: whole-page steps in the order ConvertColorToMono takes.
std::vector<uint8_t> PlainMono(const RASTER_INFO& page, double gamma, bool red_black, int32_t* pitch) {
  FiBitmap wrapped = WrapRaster(page);
  FiBitmap planes;
  FIBITMAP* image = wrapped.get();
  if (red_black) {
    FIBITMAP* separated = nullptr;
    ConvertToRedBlack(wrapped.get(), separated);
    planes.reset(separated);
    image = separated;
  }
  FiBitmap grey = GreyWithGamma(image, gamma);
  std::srand(1);
  FiBitmap mono(ets_dither(grey.get()));
  InvertPixels(mono.get());
  *pitch = static_cast<int32_t>(FreeImage_GetPitch(mono.get()));
  const uint32_t width = FreeImage_GetWidth(mono.get());
  std::vector<uint8_t> bits(static_cast<size_t>(*pitch) * page.height, 0);
  FreeImage_ConvertToRawBits(bits.data(), mono.get(), *pitch, 1, 0, 0, 0, FALSE);
  if (width % 8 != 0) {
    const auto keep = static_cast<uint8_t>(0xFF << (8 - width % 8));
    for (uint32_t y = 0; y < page.height; ++y) bits[static_cast<size_t>(y) * *pitch + width / 8] &= keep;
  }
  return bits;
}

TEST(StreamToMono, EqualsTheWholePageStepsForEveryDepthGammaAndWidth) {
  struct Case {
    uint32_t width, height;
    uint8_t bpp;
    double gamma;
    bool red_black;
  };
  const Case cases[] = {
      {640, 300, 24, 2.2, false}, {641, 77, 24, 0, false},  {333, 120, 32, 1.8, false},
      {9, 40, 24, 1.0, false},    {1, 5, 24, 2.2, false},   {640, 300, 24, 2.2, true},
      {641, 90, 24, 0.5, true},   {333, 120, 32, 2.2, true}, {7, 33, 32, 0, true},
      {2000, 64, 24, 2.2, true},
  };
  unsigned seed = 1;
  for (const Case& c : cases) {
    const Page page = MakePage(c.width, c.height, c.bpp, seed++);
    int32_t plain_pitch = 0;
    const std::vector<uint8_t> plain = PlainMono(page.info, c.gamma, c.red_black, &plain_pitch);
    std::srand(1);
    int32_t pitch = 0;
    uint8_t* streamed = StreamToMono(page.info, c.gamma, c.red_black, &pitch);
    ASSERT_NE(streamed, nullptr);
    EXPECT_EQ(pitch, plain_pitch) << c.width;
    if (pitch == plain_pitch) {
      EXPECT_EQ(std::memcmp(streamed, plain.data(), plain.size()), 0)
          << c.width << "x" << c.height << " bpp " << int{c.bpp} << " gamma " << c.gamma << " red/black "
          << c.red_black;
    }
    std::free(streamed);
  }
}

}  // namespace
