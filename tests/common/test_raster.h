// test_raster.h - page rasters for the page-language tests.
#ifndef QUILL_TESTS_COMMON_TEST_RASTER_H_
#define QUILL_TESTS_COMMON_TEST_RASTER_H_

#include <cstdint>
#include <random>
#include <vector>

#include "quill/libquill.h"

namespace ink2_test {

// A raster that owns its pixels (white at first), rows padded to 4 bytes.
struct TestRaster {
  std::vector<uint8_t> pixels;
  RASTER_INFO info{};

  TestRaster(uint32_t width, uint32_t height, uint8_t bpp, uint16_t res = 300) {
    const uint32_t pitch = (width * bpp + 31) / 32 * 4;
    pixels.assign(static_cast<size_t>(pitch) * height, bpp >= 24 ? 0xFF : 0x00);
    info.img_p = pixels.data();
    info.width = width;
    info.height = height;
    info.pitch = static_cast<int32_t>(pitch);
    info.x_res = res;
    info.y_res = res;
    info.bpp = bpp;
  }

  // Copies own their pixels: the copy's record points at the copy.
  TestRaster(const TestRaster& other) : pixels(other.pixels), info(other.info) {
    info.img_p = pixels.data();
  }
  TestRaster& operator=(const TestRaster&) = delete;

  uint8_t* Row(uint32_t y) { return pixels.data() + static_cast<size_t>(y) * info.pitch; }

  // For 24 and 32 bits: pixel bytes B, G, R.
  void SetRgb(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = Row(y) + static_cast<size_t>(x) * (info.bpp / 8);
    p[0] = b;
    p[1] = g;
    p[2] = r;
  }
  void GetRgb(uint32_t x, uint32_t y, uint8_t* r, uint8_t* g, uint8_t* b) {
    const uint8_t* p = Row(y) + static_cast<size_t>(x) * (info.bpp / 8);
    *b = p[0];
    *g = p[1];
    *r = p[2];
  }
  // Palette entry i as bytes B, G, R, 0.
  void SetPalette(unsigned i, uint8_t r, uint8_t g, uint8_t b) {
    auto* e = reinterpret_cast<uint8_t*>(&info.palette[i]);
    e[0] = b;
    e[1] = g;
    e[2] = r;
    e[3] = 0;
  }

  // Random colours in blocks and noise, so rows hold runs and literals.
  void FillRandom(unsigned seed) {
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < info.height; ++y) {
      uint32_t x = 0;
      while (x < info.width) {
        const uint32_t len = rng() % 50 + 1;
        const uint8_t r = static_cast<uint8_t>(rng()), g = static_cast<uint8_t>(rng()),
                      b = static_cast<uint8_t>(rng());
        const bool noise = rng() % 3 == 0;
        for (uint32_t i = x; i < x + len && i < info.width; ++i) {
          if (noise) {
            SetRgb(i, y, static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
          } else {
            SetRgb(i, y, r, g, b);
          }
        }
        x += len;
      }
    }
  }
};

// The luma of the page language, plain arithmetic.
inline uint8_t RefLuma(int r, int g, int b) {
  return static_cast<uint8_t>((r * 313524 + g * 615514 + b * 119538) >> 20);
}

}  // namespace ink2_test

#endif  // QUILL_TESTS_COMMON_TEST_RASTER_H_
