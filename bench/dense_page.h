// dense_page.h - a deterministic photo-like page with no white paper, the
// worst case for the halftoners and the page pipeline: every pixel carries
// ink, so nothing can be skipped as paper.
//
// The page is smooth colour ramps and soft round highlights (the "photo"),
// overlaid with fine ripples a few pixels wide and per-pixel grain (the
// "detail"). Integer arithmetic only, so every compiler and machine makes the
// same bytes: bench_dither screens the grey form in-process, and
// bench/run-peers.sh writes the colour form into a PDF (make_dense_page.cpp)
// and renders it through the real CUPS chain.
//
// Header-only, no dependencies beyond <cstdint>.
#ifndef QUILL_BENCH_DENSE_PAGE_H_
#define QUILL_BENCH_DENSE_PAGE_H_

#include <cstdint>

namespace quill_bench {

// US Letter at 360 x 360 dpi: the page size the filter benchmarks use.
constexpr int kDenseWidth = 3060;
constexpr int kDenseHeight = 3960;

// Lightest and darkest value of any sample: no pixel is paper white, and
// none is solid black either, as in a photograph.
constexpr int kDenseLightest = 236;
constexpr int kDenseDarkest = 6;

struct DenseRgb {
  uint8_t r, g, b;
};

namespace dense_detail {

// Integer hash of a pixel position (a few rounds of multiply-xorshift): the
// grain. Returns a value uniformly spread over 32 bits.
constexpr uint32_t Hash(uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Triangle wave of period `period` (> 0), values -amp..amp.
constexpr int Tri(int64_t t, int period, int amp) {
  int64_t p = t % period;
  if (p < 0) p += period;
  const int64_t half = period / 2;
  const int64_t up = p < half ? p : period - p;  // 0..half
  return static_cast<int>((up * 2 * amp) / half - amp);
}

// A soft round highlight of radius r at (cx, cy): `amp` in the centre
// falling quadratically to 0 at the rim.
constexpr int Bump(int64_t x, int64_t y, int64_t cx, int64_t cy, int64_t r, int amp) {
  const int64_t d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
  const int64_t r2 = r * r;
  return d2 >= r2 ? 0 : static_cast<int>(amp * (r2 - d2) / r2);
}

constexpr uint8_t Clamp(int v) {
  return static_cast<uint8_t>(v < kDenseDarkest ? kDenseDarkest
                                                : (v > kDenseLightest ? kDenseLightest : v));
}

}  // namespace dense_detail

// The colour of pixel (x, y) of a w x h page (x to the right, y downwards,
// 0 <= x < w, 0 <= y < h, w and h > 0). Same arguments, same colour.
constexpr DenseRgb DensePixel(int x, int y, int w, int h) {
  using namespace dense_detail;
  const int64_t X = x, Y = y, W = w, H = h;
  // The photo: three ramps crossing the sheet ...
  int r = static_cast<int>(40 + 170 * X / W);
  int g = static_cast<int>(40 + 170 * Y / H);
  int b = static_cast<int>(210 - 170 * (X + Y) / (W + H));
  // ... darkened towards the lower edge and lit by three soft highlights.
  const int shade = static_cast<int>(-50 * Y * Y / (H * H));
  const int lit = Bump(X, Y, W / 4, H / 3, W / 3, 60) + Bump(X, Y, 3 * W / 4, 2 * H / 3, W / 4, 45) -
                  Bump(X, Y, W / 2, H / 2, W / 6, 70);
  // The detail: diagonal ripples 9 pixels apart whose strength grows across
  // the page, a finer cross-grain, and per-pixel grain of +-24.
  const int ripple = Tri(3 * X + 2 * Y, 27, static_cast<int>(4 + 22 * X / W)) + Tri(X - 3 * Y, 13, 8);
  const uint32_t n = Hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
  const int grain_r = static_cast<int>(n & 63u) - 32;
  const int grain_g = static_cast<int>((n >> 8) & 63u) - 32;
  const int grain_b = static_cast<int>((n >> 16) & 63u) - 32;
  const int common = shade + lit + ripple;
  r += common + grain_r * 3 / 4;
  g += common + grain_g * 3 / 4;
  b += common + grain_b * 3 / 4;
  return DenseRgb{Clamp(r), Clamp(g), Clamp(b)};
}

// The grey form of DensePixel, 0 black .. 255 white: the usual luminance
// weights in 1/256 (77 + 150 + 29 = 256), truncated.
constexpr uint8_t DenseGrey(int x, int y, int w, int h) {
  const DenseRgb p = DensePixel(x, y, w, h);
  return static_cast<uint8_t>((77 * p.r + 150 * p.g + 29 * p.b) >> 8);
}

}  // namespace quill_bench

#endif  // QUILL_BENCH_DENSE_PAGE_H_
