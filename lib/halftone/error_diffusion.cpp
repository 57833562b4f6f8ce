// error_diffusion.cpp - adaptive-threshold error diffusion (Stucki, Sierra,
// Jarvis-Judice-Ninke kernels, serpentine and one-directional), a
// Floyd-Steinberg-style variant and a random-pattern dither.
//
// The kernel functions are deterministic: their generator restarts at 0 on
// every call. The hot loops work line by line: everything that depends only
// on the source (local thresholds) or on finished error lines (the kernel's
// two upper rows) is computed for the whole line first, leaving a short
// serial loop for the part that depends on the pixel just decided. The
// results are bit for bit those of the pixel-by-pixel form, which the tests
// keep as their oracle. The serpentine function decides into the one-bit
// result directly (a later decision replacing an earlier one), which gives
// the bits of a two-level 8-bit intermediate thresholded at 128; it writes
// no diagnostic side file.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

// The 32-bit linear congruential generator of the kernel functions; one
// random threshold (63..191) per call.
class ThresholdGenerator {
 public:
  int Next() {
    seed_ = seed_ * 1103515245u + 12345u;
    const int32_t s = static_cast<int32_t>(seed_);
    return static_cast<int>(static_cast<uint32_t>(s >> 12) % 129u) + 63;
  }

 private:
  uint32_t seed_ = 0;
};

// Error value stored for a pixel decided by a one-dimensional pass.
inline int EdgeError(int v, bool white) { return v + (127 - v) / 2 - (white ? 255 : 0); }

// The 8-bit grey pixels a halftoner works on: the input itself, or a grey
// copy of it (owned here) when the input is of another depth.
class GreySource {
 public:
  // Prepares `dib`; false when it cannot be read as 8-bit grey.
  bool Open(FIBITMAP* dib) {
    if (dib == nullptr || !FreeImage_HasPixels(dib)) return false;
    FIBITMAP* work = dib;
    if (FreeImage_GetImageType(dib) != FIT_BITMAP || FreeImage_GetBPP(dib) != 8) {
      copy_.reset(FreeImage_ConvertToGreyscale(dib));
      if (!copy_) return false;
      work = copy_.get();
    }
    if (FreeImage_GetColorType(work) == FIC_MINISWHITE) FreeImage_Invert(work);
    width_ = static_cast<int>(FreeImage_GetWidth(work));
    height_ = static_cast<int>(FreeImage_GetHeight(work));
    rows_.resize(height_);
    for (int y = 0; y < height_; ++y) rows_[y] = FreeImage_GetScanLine(work, y);
    return width_ > 0 && height_ > 0;
  }
  int width() const { return width_; }
  int height() const { return height_; }
  const uint8_t* row(int y) const { return rows_[y]; }

 private:
  FiBitmap copy_;
  int width_ = 0;
  int height_ = 0;
  std::vector<const uint8_t*> rows_;
};

// A new one-bit bitmap, all black, palette 0 black / 1 white.
FIBITMAP* NewMonoBitmap(int width, int height) {
  FIBITMAP* dib = FreeImage_Allocate(width, height, 1);
  if (dib == nullptr) return nullptr;
  RGBQUAD* pal = FreeImage_GetPalette(dib);
  pal[0] = RGBQUAD{0, 0, 0, 0};
  pal[1] = RGBQUAD{255, 255, 255, 0};
  std::memset(FreeImage_GetBits(dib), 0,
              static_cast<size_t>(FreeImage_GetPitch(dib)) * static_cast<size_t>(height));
  return dib;
}

// Decisions written into the one-bit result. Bits are only ever set, so a
// pixel decided twice is white when either decision made it white.
class MonoOut {
 public:
  explicit MonoOut(FIBITMAP* dib) : bits_(FreeImage_GetBits(dib)), pitch_(FreeImage_GetPitch(dib)) {}
  uint8_t* row(int y) const { return bits_ + static_cast<size_t>(pitch_) * y; }
  void Set(int x, int y, bool white) const {
    if (white) row(y)[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
  static void SetInRow(uint8_t* r, int x, bool white) {
    if (white) r[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
  }
  static void SetInRowBranchless(uint8_t* r, int x, int white) {
    r[x >> 3] |= static_cast<uint8_t>(white << (7 - (x & 7)));
  }
  bool IsWhite(int x, int y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }

 private:
  uint8_t* bits_;
  unsigned pitch_;
};

// Decisions written into the one-bit result where a later decision replaces
// an earlier one (the serpentine function). This gives the bits of an 8-bit
// two-level intermediate thresholded at 128, without the intermediate.
class MonoAssignOut {
 public:
  explicit MonoAssignOut(FIBITMAP* dib) : bits_(FreeImage_GetBits(dib)), pitch_(FreeImage_GetPitch(dib)) {}
  uint8_t* row(int y) const { return bits_ + static_cast<size_t>(pitch_) * y; }
  void Set(int x, int y, bool white) const { SetInRow(row(y), x, white); }
  static void SetInRow(uint8_t* r, int x, bool white) {
    const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
    r[x >> 3] = static_cast<uint8_t>(white ? (r[x >> 3] | bit) : (r[x >> 3] & ~bit));
  }
  // Only for pixels not decided before (still 0).
  static void SetInRowBranchless(uint8_t* r, int x, int white) {
    r[x >> 3] |= static_cast<uint8_t>(white << (7 - (x & 7)));
  }
  bool IsWhite(int x, int y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }

 private:
  uint8_t* bits_;
  unsigned pitch_;
};

// Vertical one-dimensional diffusion of one column with random thresholds.
template <class Out>
void DiffuseColumn(const GreySource& src, const Out& out, int x, ThresholdGenerator& gen) {
  if (x < 0 || x >= src.width()) return;
  int acc = 0;
  for (int y = 0; y < src.height(); ++y) {
    acc += src.row(y)[x];
    const bool white = acc > gen.Next();
    if (white) acc -= 255;
    out.Set(x, y, white);
  }
}

// One-dimensional diffusion along scan line y, left to right, with random
// thresholds (fixed_threshold < 0) or a fixed one; stores edge error values.
template <class Out>
void DiffuseLine(const GreySource& src, const Out& out, int y, int fixed_threshold,
                 ThresholdGenerator& gen, int* err) {
  const uint8_t* s = src.row(y);
  uint8_t* o = out.row(y);
  int acc = 0;
  for (int x = 0; x < src.width(); ++x) {
    const int v = s[x];
    acc += v;
    const int t = fixed_threshold >= 0 ? fixed_threshold : gen.Next();
    const bool white = acc > t;
    if (white) acc -= 255;
    Out::SetInRow(o, x, white);
    err[x] = EdgeError(v, white);
  }
}

// The local threshold is trunc((double)n * 0.8 - d) for n = N >> 4 in
// 0..255 and an integer d. n * 0.8 is either an exact integer (n a multiple
// of 5) or at least 0.19 away from one, so subtracting d rounds across no
// integer, and the truncation is floor(n * 0.8) - d when n * 0.8 >= d and
// ceil(n * 0.8) - d otherwise: integer arithmetic with the same results.
struct ScaledTable {
  int floor_v[256];
  int ceil_v[256];
  ScaledTable() {
    for (int n = 0; n < 256; ++n) {
      const double q = static_cast<double>(n) * 0.8;
      floor_v[n] = static_cast<int>(std::floor(q));
      ceil_v[n] = static_cast<int>(std::ceil(q));
    }
  }
};
const ScaledTable& Scaled() {
  static const ScaledTable table;
  return table;
}

// Local thresholds of scan line y for columns [x0, x1): the weighted 3 x 3
// neighbourhood (the current line stands in for a missing next one) less
// the edge term D. `reduce_d` takes D's low 8 bits first (Floyd-Steinberg
// variant).
void LocalThresholds(const GreySource& src, int y, int x0, int x1, bool reduce_d,
                     std::vector<int>& colsum, std::vector<int>& thr) {
  const uint8_t* __restrict up = src.row(y - 1);
  const uint8_t* __restrict cur = src.row(y);
  const uint8_t* __restrict down = y + 1 < src.height() ? src.row(y + 1) : cur;
  const int w = src.width();
  int* __restrict cs = colsum.data();
  int* __restrict t = thr.data();
  for (int x = 0; x < w; ++x) cs[x] = up[x] + 2 * cur[x] + down[x];
  const ScaledTable& scaled = Scaled();
  for (int x = x0; x < x1; ++x) {
    const int n = (cs[x - 1] + 2 * cs[x] + cs[x + 1]) >> 4;
    int d = (2 * cur[x] - cur[x - 1] - up[x]) / 2;
    if (reduce_d) d &= 0xFF;
    const int fl = scaled.floor_v[n];
    t[x] = ((fl >= d ? fl : scaled.ceil_v[n]) - d) & 0xFF;
  }
}

struct Kernel {
  int above2[5];  // line y - 2 at x-2..x+2
  int above1[5];  // line y - 1 at x-2..x+2
  int behind1;    // current line, one pixel behind
  int behind2;    // current line, two pixels behind
  int divisor;
};

constexpr Kernel kKernels[3] = {
    {{1, 2, 4, 2, 1}, {2, 4, 8, 4, 2}, 8, 4, 42},  // Stucki
    {{0, 2, 3, 2, 0}, {2, 4, 5, 4, 2}, 5, 3, 32},  // Sierra
    {{1, 3, 5, 3, 1}, {3, 5, 7, 5, 3}, 7, 5, 48},  // Jarvis-Judice-Ninke
};

// The serial part of one kernel line over columns 2..W-3 in scan
// direction: the error of the two pixels behind is carried in registers and
// the decisions are written without branches.
template <class Out, int kFunction, bool kRtl>
void KernelRow(const uint8_t* __restrict s, uint8_t* __restrict o, const int* __restrict thr,
               const int* __restrict upper, int* __restrict cerr, int w) {
  constexpr Kernel k = kKernels[kFunction];
  constexpr int dir = kRtl ? -1 : 1;
  const int first = kRtl ? w - 3 : 2;
  const int end = kRtl ? 1 : w - 2;
  int behind1 = cerr[first - dir];
  int behind2 = cerr[first - 2 * dir];
  for (int x = first; x != end; x += dir) {
    const int e = (upper[x] + k.behind1 * behind1 + k.behind2 * behind2) / k.divisor;
    const int ve = s[x] + e;
    const int white = thr[x] < ve;
    const int err = ve - (255 & -white);
    cerr[x] = err;
    behind2 = behind1;
    behind1 = err;
    Out::SetInRowBranchless(o, x, white);
  }
}

// The shared body of the two kernel functions: edge columns, lines 0 and 1,
// then the kernel pass over lines 2..H-1 (odd lines right to left when
// `serpentine`). The kernel is a template argument so that its divisor is a
// constant (a multiplication instead of a division in the serial loop).
template <class Out, int kFunction>
void KernelDiffusion(const GreySource& src, const Out& out, bool serpentine) {
  constexpr Kernel k = kKernels[kFunction];
  const int w = src.width();
  const int h = src.height();
  ThresholdGenerator gen;
  std::vector<int> buf0(w, 0), buf1(w, 0), buf2(w, 0);
  int* lerr = buf0.data();   // line y - 2
  int* lerr1 = buf1.data();  // line y - 1
  int* cerr = buf2.data();   // current line

  for (int x : {0, 1, w - 1, w - 2}) DiffuseColumn(src, out, x, gen);
  DiffuseLine(src, out, 0, -1, gen, lerr);
  if (h >= 2) DiffuseLine(src, out, 1, 34, gen, lerr1);

  std::vector<int> colsum(w), thr(w), upper(w);
  const int edge_cols[4] = {0, 1, w - 2, w - 1};
  auto store_edge = [&](int x, int y, const uint8_t* s) {
    if (x >= 0 && x < w) cerr[x] = EdgeError(s[x], out.IsWhite(x, y));
  };
  for (int y = 2; y < h; ++y) {
    const uint8_t* s = src.row(y);
    uint8_t* o = out.row(y);
    const bool rtl = serpentine && (y & 1);
    if (rtl) {
      store_edge(w - 1, y, s);
      store_edge(w - 2, y, s);
    } else {
      store_edge(0, y, s);
      store_edge(1, y, s);
    }
    if (w > 4) {
      LocalThresholds(src, y, 2, w - 2, false, colsum, thr);
      const int* __restrict l2 = lerr;
      const int* __restrict l1 = lerr1;
      int* __restrict up = upper.data();
      for (int x = 2; x < w - 2; ++x) {
        up[x] = k.above2[0] * l2[x - 2] + k.above2[1] * l2[x - 1] + k.above2[2] * l2[x] +
                k.above2[3] * l2[x + 1] + k.above2[4] * l2[x + 2] + k.above1[0] * l1[x - 2] +
                k.above1[1] * l1[x - 1] + k.above1[2] * l1[x] + k.above1[3] * l1[x + 1] +
                k.above1[4] * l1[x + 2];
      }
      if (rtl) {
        KernelRow<Out, kFunction, true>(s, o, thr.data(), up, cerr, w);
      } else {
        KernelRow<Out, kFunction, false>(s, o, thr.data(), up, cerr, w);
      }
    }
    for (int x : edge_cols) store_edge(x, y, s);
    int* oldest = lerr;
    lerr = lerr1;
    lerr1 = cerr;
    cerr = oldest;
  }
}

template <class Out>
void KernelDiffusion(const GreySource& src, const Out& out, int function, bool serpentine) {
  switch (function) {
    case 0:
      KernelDiffusion<Out, 0>(src, out, serpentine);
      break;
    case 1:
      KernelDiffusion<Out, 1>(src, out, serpentine);
      break;
    default:
      KernelDiffusion<Out, 2>(src, out, serpentine);
      break;
  }
}

FIBITMAP* KernelToMono(FIBITMAP* dib, int function) {
  if (function < 0 || function > 2) return nullptr;
  GreySource src;
  if (!src.Open(dib)) return nullptr;
  FIBITMAP* result = NewMonoBitmap(src.width(), src.height());
  if (result == nullptr) return nullptr;
  KernelDiffusion(src, MonoOut(result), function, false);
  return result;
}

}  // namespace

extern "C" FIBITMAP* STUCKI_Sierra_Jarvis_bidir(FIBITMAP* dib, int function) {
  if (function < 0 || function > 2) return nullptr;
  GreySource src;
  if (!src.Open(dib)) return nullptr;
  FIBITMAP* result = NewMonoBitmap(src.width(), src.height());
  if (result == nullptr) return nullptr;
  KernelDiffusion(src, MonoAssignOut(result), function, true);
  return result;
}

extern "C" FIBITMAP* STUCKI_Sierra_Jarvis(FIBITMAP* dib, int function) {
  return KernelToMono(dib, function);
}

extern "C" FIBITMAP* FloydSteinberg(FIBITMAP* dib) {
  GreySource src;
  if (!src.Open(dib)) return nullptr;
  const int w = src.width();
  const int h = src.height();
  FIBITMAP* result = NewMonoBitmap(w, h);
  if (result == nullptr) return nullptr;
  const MonoOut out(result);
  ThresholdGenerator gen;
  std::vector<int> buf0(w, 0), buf1(w, 0);
  int* lerr = buf0.data();
  int* cerr = buf1.data();

  for (int x : {0, 1, 2, w - 1}) DiffuseColumn(src, out, x, gen);
  DiffuseLine(src, out, 0, -1, gen, lerr);

  std::vector<int> colsum(w), thr(w), upper(w);
  for (int y = 1; y < h; ++y) {
    const uint8_t* s = src.row(y);
    uint8_t* o = out.row(y);
    for (int x = 0; x < 3 && x < w; ++x) cerr[x] = EdgeError(s[x], out.IsWhite(x, y));
    if (w > 4) {
      const bool last = y == h - 1;
      if (last) {
        std::fill(thr.begin() + 3, thr.begin() + (w - 1), 127);
      } else {
        LocalThresholds(src, y, 3, w - 1, true, colsum, thr);
      }
      for (int x = 3; x < w - 1; ++x) {
        upper[x] = lerr[x - 3] + lerr[x - 2] + 2 * lerr[x - 1] + 4 * lerr[x];
      }
      int behind = cerr[2];
      const int* __restrict up = upper.data();
      const int* __restrict t = thr.data();
      int* __restrict ce = cerr;
      for (int x = 3; x < w - 1; ++x) {
        const int e = (up[x] + 8 * behind) / 16;
        const int ve = s[x] + e;
        const int white = ve > t[x];
        behind = ve - (255 & -white);
        ce[x] = behind;
        MonoOut::SetInRowBranchless(o, x, white);
      }
    }
    cerr[w - 1] = EdgeError(s[w - 1], out.IsWhite(w - 1, y));
    std::swap(lerr, cerr);
  }
  return result;
}

namespace {

// Luma level 0..63 of an RGB colour.
inline int LumaLevel(BYTE r, BYTE g, BYTE b) {
  const float luma = 0.299f * r + 0.587f * g + 0.114f * b;
  return static_cast<int>(luma) >> 2;
}

// Level 0..63 of pixel x of a scan line of the given depth.
int PixelLevel(const BYTE* line, int x, unsigned bpp, const RGBQUAD* pal, bool is565) {
  switch (bpp) {
    case 4: {
      const int idx = (x & 1) ? (line[x >> 1] & 0x0F) : (line[x >> 1] >> 4);
      return pal != nullptr ? LumaLevel(pal[idx].rgbRed, pal[idx].rgbGreen, pal[idx].rgbBlue) : idx << 2;
    }
    case 8:
      return line[x] >> 2;
    case 16: {
      const unsigned p = line[2 * x] | (line[2 * x + 1] << 8);
      BYTE r, g, b;
      if (is565) {
        r = static_cast<BYTE>(((p >> 11) & 0x1F) * 255 / 31);
        g = static_cast<BYTE>(((p >> 5) & 0x3F) * 255 / 63);
      } else {
        r = static_cast<BYTE>(((p >> 10) & 0x1F) * 255 / 31);
        g = static_cast<BYTE>(((p >> 5) & 0x1F) * 255 / 31);
      }
      b = static_cast<BYTE>((p & 0x1F) * 255 / 31);
      return LumaLevel(r, g, b);
    }
    case 24:
    case 32: {
      const BYTE* px = line + x * (bpp / 8);
      return LumaLevel(px[FI_RGBA_RED], px[FI_RGBA_GREEN], px[FI_RGBA_BLUE]);
    }
    default:
      return 0;
  }
}

}  // namespace

// The patterns count inked cells: pattern n has n of its 64 cells set, and a
// set cell is a black result. A pixel of level L (0 black .. 63 white) takes
// the pattern with (63 - L) * 64 / 63 cells (rounded), so white stays white
// and black stays black.
extern "C" FIBITMAP* my_dither(FIBITMAP* dib) {
  if (dib == nullptr) return nullptr;
  srand(static_cast<unsigned>(time(nullptr)));
  uint8_t patterns[65][8];
  for (int k = 0; k <= 64; ++k) {
    std::memset(patterns[k], 0, 8);
    for (int set = 0; set < k; ++set) {
      int cell;
      do {
        cell = rand() % 64;
      } while (patterns[k][cell >> 3] & (0x80 >> (cell & 7)));
      patterns[k][cell >> 3] |= static_cast<uint8_t>(0x80 >> (cell & 7));
    }
  }
  const unsigned bpp = FreeImage_GetBPP(dib);
  if (bpp == 1) return FreeImage_Clone(dib);
  const int w = static_cast<int>(FreeImage_GetWidth(dib));
  const int h = static_cast<int>(FreeImage_GetHeight(dib));
  FIBITMAP* result = NewMonoBitmap(w, h);
  if (result == nullptr) return nullptr;
  const RGBQUAD* pal = FreeImage_GetPalette(dib);
  const bool is565 = bpp == 16 && FreeImage_GetGreenMask(dib) == FI16_565_GREEN_MASK;
  const MonoOut out(result);
  for (int y = 0; y < h; ++y) {
    const BYTE* line = FreeImage_GetScanLine(dib, y);
    uint8_t* o = out.row(y);
    for (int x = 0; x < w; ++x) {
      const int level = PixelLevel(line, x, bpp, pal, is565);
      const int inked = ((63 - level) * 64 + 31) / 63;
      const bool cell_set = (patterns[inked][y & 7] >> (7 - (x & 7))) & 1;
      MonoOut::SetInRow(o, x, !cell_set);
    }
  }
  return result;
}
