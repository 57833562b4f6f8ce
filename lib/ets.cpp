// ets.cpp - even-toned screening: Floyd-Steinberg error diffusion biased by
// the distance to the nearest printed dot and modulated by a blue-noise
// matrix, for several planes with coupling and any number of levels.
//
// All per-pixel arithmetic is integer; sums that could leave 32 bits for
// extreme parameters are formed in 64 bits before they are clamped or
// shifted, which gives the 32-bit results wherever those are defined.
#include "ets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fi_bitmap.h"
#include "log.h"
#include "quill/dither.h"

namespace {

// Number of halvings to reach 1 (integer part of log2; 0 for v <= 1).
int Log2(int v) {
  int n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

// Distance scale for an aspect ratio; false when the ratio has none.
bool DistScaleForAspect(int ax, int ay, double* out) {
  struct Entry {
    int x, y;
    double scale;
  };
  static const Entry kTable[] = {
      {1, 1, 0.95}, {1, 2, 1.8},  {1, 3, 2.4},   {1, 4, 3.6},  {2, 1, 1.8},   {2, 3, 1.35},
      {3, 1, 2.4},  {3, 2, 1.35}, {3, 4, 0.675}, {4, 1, 3.6},  {4, 3, 0.675},
  };
  for (const Entry& e : kTable) {
    if (e.x == ax && e.y == ay) {
      *out = e.scale;
      return true;
    }
  }
  return false;
}

// Noise shift for the ink amount nl = (levels - 1) * lut[i] when no
// per-plane noise table is given: stronger noise (smaller shift) around
// quarter, half and full coverage and in a few bands where the plain
// diffusion forms textures.
int NoiseShift(int nl, int levels, int rs_base) {
  if (nl != 0 && ((nl >= 5761 && nl <= 8255) || (nl >= 10369 && nl <= 11519))) return rs_base - 1;
  if (nl != 0 && nl >= 20545 && nl <= 23103) {
    return (nl >= 21185 && nl <= 22463) ? rs_base - 2 : rs_base - 1;
  }
  if (nl == (levels - 1) * 65536) return rs_base;
  int l;
  if (nl <= 49152) {
    l = nl < 24576 ? std::abs(nl + 16384 - 32768) : std::abs(nl - 32768);
  } else {
    const int m = (nl + 16384) & ~0x7FFF;
    l = std::abs(nl - m);
  }
  if (l > 4095) return rs_base;
  if (l >= 2048) return rs_base - 1;
  if (l >= 1024) return rs_base - 2;
  return rs_base - 3;
}

void WriteInt32(FILE* f, int32_t v) { fwrite(&v, sizeof v, 1, f); }

void WriteDump(const ETS_Params* params) {
  FILE* f = params->dump_file;
  for (int32_t v : {0x70644245, 0x4D4D4949, 150, 255, 1}) WriteInt32(f, v);
  if (params->dump_level >= ETS_DUMP_PARAMS) fwrite(params, sizeof *params, 1, f);
  if (params->dump_level >= ETS_DUMP_LUTS) {
    for (int p = 0; p < params->n_planes; ++p) {
      for (int i = 0; i < 256; ++i) {
        // Without luts, the 8.24 form of the linear ramp the planes use.
        WriteInt32(f, params->luts != nullptr ? params->luts[p][i] : i * 65793 + (i >> 7));
      }
    }
  }
}

// Builds plane p; false on allocation failure (the caller frees the rest).
bool MakePlane(const ETS_Params* params, int p, double distscale, ETS_PlaneCtx* pc) {
  const int width = params->width;
  const int levels = params->levels;
  pc->width = width;
  pc->err_line = static_cast<int*>(calloc(width, sizeof(int)));
  pc->r_line = static_cast<int*>(calloc(width, sizeof(int)));
  pc->a_line = static_cast<int*>(calloc(width, sizeof(int)));
  pc->b_line = static_cast<int*>(calloc(width, sizeof(int)));
  pc->lut = static_cast<int*>(calloc(256, sizeof(int)));
  pc->dist_lut = static_cast<int*>(calloc(256, sizeof(int)));
  pc->rs_lut = static_cast<signed char*>(calloc(256, 1));
  if (!pc->err_line || !pc->r_line || !pc->a_line || !pc->b_line || !pc->lut || !pc->dist_lut ||
      !pc->rs_lut) {
    return false;
  }
  pc->c1 = Log2(levels) + Log2(params->aspect_x) + Log2(params->aspect_y) + 6 -
           (params->c1_scale != nullptr ? params->c1_scale[p] : 0);
  const int n1 = params->n_planes - 1;
  pc->tm_offset = n1 <= 1 ? 256 : 256 / (Log2(n1) + 1);
  const int rs_base = (levels > 1 ? 19 + Log2(levels) : 19) - params->rand_scale;
  const double dist_num = static_cast<double>(1LL << (32 - pc->c1)) * distscale;
  for (int i = 0; i < 256; ++i) {
    const int nli = params->luts != nullptr ? params->luts[p][i] >> 8 : (i * 65793 + (i >> 7)) >> 8;
    pc->lut[i] = params->polarity == ETS_BLACK_IS_ONE ? nli : 65536 - nli;
    const int nl = (levels - 1) * pc->lut[i];
    if (nl == 0 || nl >= 65536 / (levels - 1)) {
      pc->dist_lut[i] = 0;
    } else {
      const double d = dist_num / nl;
      pc->dist_lut[i] = d < static_cast<double>(1 << 30) ? static_cast<int>(d) : 1 << 30;
    }
    int rs;
    if (params->rand_scale_luts != nullptr) {
      const int v = params->rand_scale_luts[p][i];
      const int z = v + (v >> 1);
      rs = rs_base + 16 - (z < 2 ? 0 : Log2(z));
    } else {
      rs = NoiseShift(nl, levels, rs_base);
    }
    // Shift counts outside 0..31 have no meaning for 32-bit noise.
    pc->rs_lut[i] = static_cast<signed char>(rs < 0 ? 0 : rs > 31 ? 31 : rs);
  }
  for (int x = 0; x < width; ++x) {
    pc->a_line[x] = 1;
    pc->b_line[x] = 1;
    pc->err_line[x] = -((rand() % 32768) * 64) >> 8;
  }
  return true;
}

// Running values of one plane along the current line.
struct PlaneRun {
  int a, b, r;
  int e_1_0;   // error of the pixel to the left
  int e_m1_1;  // error above-left
  int e_0_1;   // error above
};

}  // namespace

extern "C" ETS_Ctx* ets_new(const ETS_Params* params) {
  if (params == nullptr) {
    quill_log::Error("ets_new: no parameters");
    return nullptr;
  }
  if (params->width <= 0 || params->n_planes <= 0 || params->levels < 2 || params->levels > 256 ||
      params->aspect_x <= 0 || params->aspect_y <= 0) {
    quill_log::Error("ets_new: unusable parameters width=%d planes=%d levels=%d aspect=%d:%d",
                     params->width, params->n_planes, params->levels, params->aspect_x, params->aspect_y);
    return nullptr;
  }
  double distscale = params->distscale;
  if (distscale == 0 && !DistScaleForAspect(params->aspect_x, params->aspect_y, &distscale)) {
    quill_log::Error("aspect ratio of %d:%d not supported", params->aspect_x, params->aspect_y);
    return nullptr;
  }
  for (int p = 0; p < params->n_planes; ++p) {
    const int c1 = Log2(params->levels) + Log2(params->aspect_x) + Log2(params->aspect_y) + 6 -
                   (params->c1_scale != nullptr ? params->c1_scale[p] : 0);
    if (c1 < 0 || c1 > 16) {
      quill_log::Error("ets_new: distance scale exponent %d of plane %d out of range", c1, p);
      return nullptr;
    }
  }

  ETS_Ctx* ctx = static_cast<ETS_Ctx*>(calloc(1, sizeof(ETS_Ctx)));
  if (ctx == nullptr) return nullptr;
  if (params->dump_file != nullptr) WriteDump(params);
  ctx->width = params->width;
  ctx->n_planes = params->n_planes;
  ctx->levels = params->levels;
  ctx->aspect_x = params->aspect_x;
  ctx->aspect_y = params->aspect_y;
  ctx->ets_style = params->ets_style;
  ctx->r_style = params->r_style;
  ctx->dump_file = params->dump_file;
  ctx->dump_level = params->dump_level;
  ctx->ehi = static_cast<int>(39321.6 / (params->levels - 1));
  ctx->elo = -ctx->ehi;
  ctx->seed1 = 0x5324879fu;
  ctx->seed2 = 0xb78d0945u;
  ctx->y = 0;
  ctx->tmwid = 256;
  ctx->tmheight = 256;
  ctx->tmmat = quill_dither::ets_noise_matrix;
  ctx->c_line = static_cast<int*>(calloc(params->width, sizeof(int)));
  ctx->strengths = static_cast<int*>(calloc(params->n_planes, sizeof(int)));
  ctx->plane_ctx = static_cast<ETS_PlaneCtx**>(calloc(params->n_planes, sizeof(ETS_PlaneCtx*)));
  if (ctx->c_line == nullptr || ctx->strengths == nullptr || ctx->plane_ctx == nullptr) {
    ets_free(ctx);
    return nullptr;
  }
  if (params->strengths != nullptr) {
    std::memcpy(ctx->strengths, params->strengths, sizeof(int) * params->n_planes);
  }
  for (int p = 0; p < params->n_planes; ++p) {
    ctx->plane_ctx[p] = static_cast<ETS_PlaneCtx*>(calloc(1, sizeof(ETS_PlaneCtx)));
    if (ctx->plane_ctx[p] == nullptr || !MakePlane(params, p, distscale, ctx->plane_ctx[p])) {
      ets_free(ctx);
      return nullptr;
    }
  }
  return ctx;
}

namespace {

// Smooths the coupling line from right to left.
void SmoothCoupling(ETS_Ctx* etc) {
  int* c_line = etc->c_line;
  int k = 0;
  for (int x = etc->width - 1; x >= 0; --x) {
    const int s = k + c_line[x];
    c_line[x] = (s >> 1) - (s >> 5);
    k = s >> 1;
  }
}

// Carries the distance state of every plane to the next line, right to
// left.
void PrepareDistances(ETS_Ctx* etc) {
  const int ax2 = etc->aspect_x * etc->aspect_x;
  const int ay2 = etc->aspect_y * etc->aspect_y;
  for (int p = 0; p < etc->n_planes; ++p) {
    ETS_PlaneCtx* pc = etc->plane_ctx[p];
    int* __restrict r_line = pc->r_line;
    int* __restrict a_line = pc->a_line;
    int* __restrict b_line = pc->b_line;
    const int rlimit = 1 << (pc->c1 + 14);
    int rv = 0;
    int av = ay2;
    int bv = ax2;
    for (int x = pc->width - 1; x >= 0; --x) {
      const int rl = r_line[x];
      const int al = a_line[x];
      const int bl = b_line[x];
      // All ones when the distance grows from the right-hand neighbour;
      // masks instead of branches, which mispredict on dot patterns.
      const int grow = -static_cast<int>(rv + av + bv < rl + bl);
      rv = ((rv + av) & grow) | (rl & ~grow);
      av = ((av + 2 * ay2) & grow) | (al & ~grow);
      bv = (bv & grow) | (bl & ~grow);
      rv = rv > rlimit ? rlimit : rv;
      a_line[x] = av;
      b_line[x] = bv + 2 * ax2;
      r_line[x] = rv + bv;
    }
  }
}

// The pixel pass for one plane, with everything the general pass reads
// through the context held in locals. Same results as ets_line_general.
// With a coupling strength of 0 the coupling line stays 0 for ever (it
// starts at 0 and only ever receives halved sums of itself), so it is
// neither read nor written.
//
// kTwoLevels: levels == 2, where the level computation reduces to one
// comparison: ((X * 256 + 2^23) >> 24) >= 1 exactly when X >= 2^15.
// kCoupled: the plane's coupling strength is not 0.
template <int kRStyle, bool kTwoLevels, bool kCoupled>
void LineOnePlane(ETS_Ctx* etc, uchar* __restrict dest, const ETS_SrcPixel* __restrict src) {
  ETS_PlaneCtx* pc = etc->plane_ctx[0];
  const int width = etc->width;
  const int levels = etc->levels;
  const int ax2 = etc->aspect_x * etc->aspect_x;
  const int ay2 = etc->aspect_y * etc->aspect_y;
  const int64_t dith_mul = static_cast<int64_t>(levels - 1) * 256;
  const int imo_mul = (1 << 30) / (levels - 1);
  const signed char* __restrict tmline = etc->tmmat + (etc->y % etc->tmheight) * etc->tmwid;
  const int tmmask = etc->tmwid - 1;
  const int tm_offset = pc->tm_offset;
  const int ets_style = etc->ets_style;
  const int elo = etc->elo;
  const int ehi = etc->ehi;
  const int strength = etc->strengths[0];
  constexpr bool coupled = kCoupled;
  int* __restrict c_line = etc->c_line;
  int* __restrict err_line = pc->err_line;
  int* __restrict r_line = pc->r_line;
  int* __restrict a_line = pc->a_line;
  int* __restrict b_line = pc->b_line;
  const int* __restrict lut = pc->lut;
  const int* __restrict dist_lut = pc->dist_lut;
  const signed char* __restrict rs_lut = pc->rs_lut;
  const int c1 = pc->c1;
  const int rlimit = 1 << (c1 + 14);
  uint32_t seed1 = etc->seed1;
  uint32_t seed2 = etc->seed2;

  int a = ay2, b = ax2, r = 0;
  int e_1_0 = 0, e_m1_1 = 0, e_0_1 = err_line[0];
  int coupling = 0;
  for (int x = 0; x < width; ++x) {
    int cval = 0;
    if constexpr (coupled) cval = coupling + c_line[x];
    const int s = src[x];
    const int e0 = lut[s];
    const int rl = r_line[x];
    if (r + a < rl) {
      r += a;
      a += 2 * ay2;
    } else {
      r = rl;
      a = a_line[x];
      b = b_line[x];
    }
    const int e_1_1 = x + 1 < width ? err_line[x + 1] : 0;
    int stored = 0;
    int out = 0;
    if (e0 != 0) {
      const int expected_r = dist_lut[s];
      const int o = (7 * e_1_0 + 3 * e_1_1 + 5 * e_0_1 + e_m1_1) >> 4;
      int64_t err = o;
      if (expected_r != 0) {
        const int ets_bias = ((r < rlimit ? r : rlimit) << (16 - c1)) - expected_r;
        switch (ets_style) {
          case 0:
            break;
          case 1:
            err = o + (ets_bias > 0 ? ets_bias >> 3 : ets_bias);
            break;
          case 2:
            err = o + ets_bias;
            break;
          case 3:
            err = o + (ets_bias >> 3);
            break;
          default:
            err = o + ets_bias / (ets_style - 3);
            break;
        }
      }
      const int rs = rs_lut[s];
      if (kRStyle == 1) {
        const int tm = tmline[(x + tm_offset) & tmmask];
        const int sh = 24 - rs;
        err += sh >= 0 ? static_cast<int64_t>(tm) * (int64_t{1} << sh) : tm >> -sh;
      } else if (kRStyle == 2) {
        uint32_t next = seed1 + seed2;
        if (next < seed1) ++next;
        seed2 = seed1;
        seed1 = next;
        err += static_cast<int32_t>((0x80000000u >> rs) - (next >> rs));
      }
      const int64_t clamped = err < elo ? elo : err > ehi ? ehi : err;
      // v < 0 and v == 0 leave the same error (e0 + o) and coupling.
      int v;
      int achieved;
      if constexpr (kTwoLevels) {
        v = clamped + cval + e0 >= 0x8000 ? 1 : 0;
        achieved = e0 - (v << 16);
      } else {
        v = static_cast<int>(((clamped + cval + e0) * dith_mul + 0x800000) >> 24);
        v = v < 0 ? 0 : v > levels - 1 ? levels - 1 : v;
        achieved = e0 - static_cast<int>((static_cast<int64_t>(imo_mul) * v) >> 14);
      }
      if constexpr (coupled) cval += static_cast<int>((static_cast<int64_t>(achieved) * strength) >> 8);
      stored = o + achieved;
      out = v;
      const bool dot = v > 0;
      r = dot ? 0 : r;
      a = dot ? ay2 : a;
      b = dot ? ax2 : b;
    }
    dest[x] = static_cast<uchar>(out);
    a_line[x] = a;
    b_line[x] = b;
    r_line[x] = r;
    err_line[x] = stored;
    e_1_0 = stored;
    e_m1_1 = e_0_1;
    e_0_1 = e_1_1;
    if constexpr (coupled) {
      coupling = cval >> 1;
      c_line[x] = coupling;
    }
  }
  if constexpr (coupled) SmoothCoupling(etc);
  etc->seed1 = seed1;
  etc->seed2 = seed2;
}

// The image driver's case (one plane, two levels, no coupling, ets_style 1,
// noise from the matrix), with everything that does not depend on the
// pixel just decided computed for the whole line first, so that the serial
// loop keeps only the error and distance chains.
//
// The decision of the plain form is
//   dot = clamp(o + bias + noise, elo, ehi) + e0 >= 2^15,  o = Z >> 4,
//   Z = 7 * left + 3 * above_right + 5 * above + above_left.
// With T = 2^15 - e0: when T <= elo every value passes, when T > ehi none
// does, otherwise (the clamp being monotonic) dot = o + bias + noise >= T,
// and since floor(Z / 16) >= K exactly when Z >= 16 K for integers,
//   dot = Z + 16 * bias >= 16 * (T - noise).
// The right-hand side (or a bound that always or never passes, and never
// for pixels without ink) is precomputed per pixel.
void LineDriverCase(ETS_Ctx* etc, uchar* __restrict dest, const ETS_SrcPixel* __restrict src) {
  ETS_PlaneCtx* pc = etc->plane_ctx[0];
  const int width = etc->width;
  const int ax2 = etc->aspect_x * etc->aspect_x;
  const int ay2 = etc->aspect_y * etc->aspect_y;
  const signed char* __restrict tmline = etc->tmmat + (etc->y % etc->tmheight) * etc->tmwid;
  const int tmmask = etc->tmwid - 1;
  const int tm_offset = pc->tm_offset;
  const int64_t elo = etc->elo;
  const int64_t ehi = etc->ehi;
  int* __restrict err_line = pc->err_line;
  int* __restrict r_line = pc->r_line;
  int* __restrict a_line = pc->a_line;
  int* __restrict b_line = pc->b_line;
  const int* __restrict lut = pc->lut;
  const int* __restrict dist_lut = pc->dist_lut;
  const signed char* __restrict rs_lut = pc->rs_lut;
  const int c1 = pc->c1;
  const int rlimit = 1 << (c1 + 14);
  constexpr int64_t kAlways = -(int64_t{1} << 60);
  constexpr int64_t kNever = int64_t{1} << 60;

  // Per input byte: 16 T, or a bound that always or never passes (never for
  // bytes without ink); and the noise shift. A bound that always or never
  // passes stays so after the noise (at most 2^35) is taken off it.
  int64_t base16[256];
  int noise_shift[256];
  for (int v = 0; v < 256; ++v) {
    const int e0 = lut[v];
    const int64_t t = 0x8000 - e0;
    base16[v] = e0 == 0 ? kNever : t <= elo ? kAlways : t > ehi ? kNever : 16 * t;
    noise_shift[v] = 24 - rs_lut[v];
  }
  // Per-line scratch, kept per thread so that no line allocates.
  struct Scratch {
    std::vector<int> ink, expected, above;
    std::vector<int64_t> bound;
  };
  thread_local Scratch scratch;
  if (scratch.ink.size() < static_cast<size_t>(width)) {
    scratch.ink.resize(width);
    scratch.expected.resize(width);
    scratch.above.resize(width);
    scratch.bound.resize(width);
  }
  int* __restrict ink = scratch.ink.data();
  int* __restrict expected = scratch.expected.data();
  int* __restrict above = scratch.above.data();
  int64_t* __restrict bound = scratch.bound.data();
  for (int x = 0; x < width; ++x) {
    const int v = src[x];
    ink[x] = lut[v];
    expected[x] = dist_lut[v];
    const int64_t tm = tmline[(x + tm_offset) & tmmask];
    const int sh = noise_shift[v];
    const int64_t noise = sh >= 0 ? tm * (int64_t{1} << sh) : tm >> -sh;
    bound[x] = base16[v] - 16 * noise;
  }
  // 3 x above-right + 5 x above + above-left, from the line above.
  if (width == 1) {
    above[0] = 5 * err_line[0];
  } else {
    above[0] = 3 * err_line[1] + 5 * err_line[0];
    for (int x = 1; x < width - 1; ++x) above[x] = 3 * err_line[x + 1] + 5 * err_line[x] + err_line[x - 1];
    above[width - 1] = 5 * err_line[width - 1] + err_line[width - 2];
  }

  int a = ay2, b = ax2, r = 0;
  int e_1_0 = 0;
  for (int x = 0; x < width; ++x) {
    const int rl = r_line[x];
    const int grow = -static_cast<int>(r + a < rl);
    r = ((r + a) & grow) | (rl & ~grow);
    a = ((a + 2 * ay2) & grow) | (a_line[x] & ~grow);
    b = (b & grow) | (b_line[x] & ~grow);
    const int e0 = ink[x];
    const int z = 7 * e_1_0 + above[x];
    const int expected_r = expected[x];
    int bias = 0;
    if (expected_r != 0) {
      const int ets_bias = ((r < rlimit ? r : rlimit) << (16 - c1)) - expected_r;
      bias = ets_bias > 0 ? ets_bias >> 3 : ets_bias;
    }
    const int dot = z + 16 * static_cast<int64_t>(bias) >= bound[x];
    const int has_ink = -static_cast<int>(e0 != 0);
    const int stored = ((z >> 4) + e0 - (dot << 16)) & has_ink;
    const int keep = dot - 1;  // all ones when no dot
    r &= keep;
    a = (a & keep) | (ay2 & ~keep);
    b = (b & keep) | (ax2 & ~keep);
    dest[x] = static_cast<uchar>(dot);
    a_line[x] = a;
    b_line[x] = b;
    r_line[x] = r;
    err_line[x] = stored;
    e_1_0 = stored;
  }
}

}  // namespace

void ets_line_general(ETS_Ctx* etc, uchar** dest, const ETS_SrcPixel* const* src) {
  const int width = etc->width;
  const int n_planes = etc->n_planes;
  const int levels = etc->levels;
  const int ax2 = etc->aspect_x * etc->aspect_x;
  const int ay2 = etc->aspect_y * etc->aspect_y;
  const int64_t dith_mul = static_cast<int64_t>(levels - 1) * 256;
  const int imo_mul = (1 << 30) / (levels - 1);
  const signed char* tmline = etc->tmmat + (etc->y % etc->tmheight) * etc->tmwid;
  const int tmmask = etc->tmwid - 1;
  const int ets_style = etc->ets_style;
  const int r_style = etc->r_style;
  const int elo = etc->elo;
  const int ehi = etc->ehi;
  int* c_line = etc->c_line;
  uint32_t seed1 = etc->seed1;
  uint32_t seed2 = etc->seed2;

  std::vector<PlaneRun> run(n_planes);
  for (int p = 0; p < n_planes; ++p) {
    run[p] = PlaneRun{ay2, ax2, 0, 0, 0, etc->plane_ctx[p]->err_line[0]};
  }
  int coupling = 0;
  for (int x = 0; x < width; ++x) {
    int cval = coupling + c_line[x];
    for (int p = 0; p < n_planes; ++p) {
      ETS_PlaneCtx* pc = etc->plane_ctx[p];
      PlaneRun& pr = run[p];
      const int s = src[p][x];
      const int e0 = pc->lut[s];
      const int expected_r = pc->dist_lut[s];
      const int rs = pc->rs_lut[s];
      if (pr.r + pr.a < pc->r_line[x]) {
        pr.r += pr.a;
        pr.a += 2 * ay2;
      } else {
        pr.r = pc->r_line[x];
        pr.a = pc->a_line[x];
        pr.b = pc->b_line[x];
      }
      const int e_1_1 = x + 1 < width ? pc->err_line[x + 1] : 0;
      int stored;
      if (e0 == 0) {
        dest[p][x] = 0;
        stored = 0;
      } else {
        const int o = (7 * pr.e_1_0 + 3 * e_1_1 + 5 * pr.e_0_1 + pr.e_m1_1) >> 4;
        int64_t err = o;
        if (expected_r != 0) {
          const int rlimit = 1 << (pc->c1 + 14);
          const int ets_bias = ((pr.r < rlimit ? pr.r : rlimit) << (16 - pc->c1)) - expected_r;
          switch (ets_style) {
            case 0:
              break;
            case 1:
              err = o + (ets_bias > 0 ? ets_bias >> 3 : ets_bias);
              break;
            case 2:
              err = o + ets_bias;
              break;
            case 3:
              err = o + (ets_bias >> 3);
              break;
            default:
              err = o + ets_bias / (ets_style - 3);
              break;
          }
        }
        if (r_style == 1) {
          const int tm = tmline[(x + pc->tm_offset) & tmmask];
          const int sh = 24 - rs;
          err += sh >= 0 ? static_cast<int64_t>(tm) * (int64_t{1} << sh) : tm >> -sh;
        } else if (r_style == 2) {
          uint32_t next = seed1 + seed2;
          if (next < seed1) ++next;
          seed2 = seed1;
          seed1 = next;
          err += static_cast<int32_t>((0x80000000u >> rs) - (next >> rs));
        }
        const int64_t clamped = err < elo ? elo : err > ehi ? ehi : err;
        int v = static_cast<int>(((clamped + cval + e0) * dith_mul + 0x800000) >> 24);
        if (v < 0) {
          dest[p][x] = 0;
          stored = e0 + o;
          cval += static_cast<int>((static_cast<int64_t>(e0) * etc->strengths[p]) >> 8);
        } else {
          if (v > levels - 1) v = levels - 1;
          dest[p][x] = static_cast<uchar>(v);
          const int achieved = e0 - static_cast<int>((static_cast<int64_t>(imo_mul) * v) >> 14);
          cval += static_cast<int>((static_cast<int64_t>(achieved) * etc->strengths[p]) >> 8);
          stored = o + achieved;
          if (v > 0) {
            pr.r = 0;
            pr.a = ay2;
            pr.b = ax2;
          }
        }
      }
      pc->a_line[x] = pr.a;
      pc->b_line[x] = pr.b;
      pc->r_line[x] = pr.r;
      pc->err_line[x] = stored;
      pr.e_1_0 = stored;
      pr.e_m1_1 = pr.e_0_1;
      pr.e_0_1 = e_1_1;
    }
    coupling = cval >> 1;
    c_line[x] = coupling;
  }

  SmoothCoupling(etc);
  PrepareDistances(etc);
  etc->seed1 = seed1;
  etc->seed2 = seed2;
  etc->y++;
}

extern "C" void ets_line(ETS_Ctx* etc, uchar** dest, const ETS_SrcPixel* const* src) {
  if (etc == nullptr || dest == nullptr || src == nullptr) return;
  if (etc->n_planes != 1) {
    ets_line_general(etc, dest, src);
    return;
  }
  const bool two = etc->levels == 2;
  const bool coupled = etc->strengths[0] != 0;
  uchar* d = dest[0];
  const ETS_SrcPixel* sp = src[0];
  if (etc->r_style == 1 && two && !coupled && etc->ets_style == 1) {
    LineDriverCase(etc, d, sp);
  } else if (etc->r_style == 1 && two && !coupled) {
    LineOnePlane<1, true, false>(etc, d, sp);
  } else if (etc->r_style == 1) {
    if (coupled) {
      LineOnePlane<1, false, true>(etc, d, sp);
    } else {
      LineOnePlane<1, false, false>(etc, d, sp);
    }
  } else if (etc->r_style == 2) {
    if (coupled) {
      LineOnePlane<2, false, true>(etc, d, sp);
    } else {
      LineOnePlane<2, false, false>(etc, d, sp);
    }
  } else {
    if (coupled) {
      LineOnePlane<0, false, true>(etc, d, sp);
    } else {
      LineOnePlane<0, false, false>(etc, d, sp);
    }
  }
  PrepareDistances(etc);
  etc->y++;
}

extern "C" void ets_free(ETS_Ctx* ctx) {
  if (ctx == nullptr) return;
  if (ctx->dump_file != nullptr) fclose(ctx->dump_file);
  if (ctx->plane_ctx != nullptr) {
    for (int p = 0; p < ctx->n_planes; ++p) {
      ETS_PlaneCtx* pc = ctx->plane_ctx[p];
      if (pc == nullptr) continue;
      free(pc->err_line);
      free(pc->r_line);
      free(pc->a_line);
      free(pc->b_line);
      free(pc->lut);
      free(pc->dist_lut);
      free(pc->rs_lut);
      free(pc);
    }
  }
  free(ctx->plane_ctx);
  free(ctx->strengths);
  free(ctx->c_line);
  free(ctx);
}

extern "C" void* ets_malloc_aligned(int size, int align) {
  if (size < 0) return nullptr;
  char* raw = static_cast<char*>(malloc(static_cast<size_t>(size) + 20));
  if (raw == nullptr) return nullptr;
  const uintptr_t base = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (base + 4 + 15) & ~uintptr_t{15};
  const int32_t offset = static_cast<int32_t>(aligned - base);  // 4..19
  char* p = raw + offset;
  std::memcpy(p - 4, &offset, sizeof offset);
  return p;
}

extern "C" void ets_free_aligned(void* p) {
  if (p == nullptr) return;
  int32_t offset;
  std::memcpy(&offset, static_cast<char*>(p) - 4, sizeof offset);
  free(static_cast<char*>(p) - offset);
}

namespace {

// Coupling strengths of the image driver by number of planes.
void DriverStrengths(int planes, std::vector<int>& s) {
  static const int k4[] = {13, 51, 51, 128};
  static const int k8[] = {128, 51, 51, 13, 13, 13, 13, 13};
  s.assign(planes, 0);
  if (planes == 4) {
    s.assign(k4, k4 + 4);
  } else if (planes >= 6 && planes <= 8) {
    s.assign(k8, k8 + planes);
  }
}

// Aligned byte line released with ets_free_aligned.
struct AlignedFree {
  void operator()(uchar* p) const { ets_free_aligned(p); }
};
using AlignedLine = std::unique_ptr<uchar, AlignedFree>;

struct CtxFree {
  void operator()(ETS_Ctx* c) const { ets_free(c); }
};

}  // namespace

extern "C" int ETS_dither_main(const uint8_t* pin, uint8_t* pout, int width, int height, uint8_t channel,
                               int src_pitch, int dst_pitch) {
  const int planes = channel;
  const int levels = 2;
  if (width <= 0 || height <= 0) return 0;
  if (planes == 0 || pin == nullptr || pout == nullptr) return -1;

  std::vector<int> lut(256);
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<int>(i / 255.0 * 16777216.0);
  std::vector<int*> luts(planes, lut.data());
  std::vector<int> strengths;
  DriverStrengths(planes, strengths);
  std::vector<int> c1_scale(planes, 1);

  ETS_Params params;
  std::memset(&params, 0, sizeof params);
  params.width = width;
  params.n_planes = planes;
  params.levels = levels;
  params.luts = luts.data();
  params.distscale = 0;
  params.aspect_x = 1;
  params.aspect_y = 1;
  params.strengths = strengths.data();
  params.rand_scale = 0;
  params.c1_scale = c1_scale.data();
  params.ets_style = 1;
  params.r_style = 1;
  params.dump_file = nullptr;
  params.dump_level = ETS_DUMP_ALL;
  params.rand_scale_luts = nullptr;
  params.polarity = ETS_BLACK_IS_ZERO;

  std::unique_ptr<ETS_Ctx, CtxFree> ctx(ets_new(&params));
  if (!ctx) return -1;
  quill_log::Debug("xs=%d ys=%d byte_count=%d planes=%d levels=%d polarity=%d", width, height, 1, planes,
                   levels, 0);

  std::vector<std::vector<uchar>> in(planes, std::vector<uchar>(width));
  std::vector<AlignedLine> out;
  std::vector<const ETS_SrcPixel*> src(planes);
  std::vector<uchar*> dst(planes);
  for (int j = 0; j < planes; ++j) {
    out.emplace_back(static_cast<uchar*>(ets_malloc_aligned(width + 16, 16)));
    if (!out.back()) return -1;
    dst[j] = out.back().get();
    src[j] = in[j].data();
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = pin + static_cast<ptrdiff_t>(y) * src_pitch;
    if (planes == 1) {
      src[0] = row;  // one plane: the row is the plane line
    } else {
      for (int x = 0; x < width; ++x) {
        for (int j = 0; j < planes; ++j) in[j][x] = row[x * planes + j];
      }
    }
    ets_line(ctx.get(), dst.data(), src.data());
    for (int j = 0; j < planes; ++j) {
      uchar* d = dst[j];
      for (int x = 0; x < width; ++x) d[x] = static_cast<uchar>(~(d[x] * 255 / (levels - 1)));
    }
    uint8_t* orow = pout + static_cast<ptrdiff_t>(y) * dst_pitch;
    if (planes == 1) {
      write_pam_line_1bit(dst.data(), width, orow, planes, nullptr);
    } else {
      write_pam_line(dst.data(), width, orow, planes, nullptr);
    }
  }
  return 0;
}

extern "C" FIBITMAP* ets_dither(FIBITMAP* src_dib) {
  if (src_dib == nullptr) return nullptr;
  const int width = static_cast<int>(FreeImage_GetWidth(src_dib));
  const int height = static_cast<int>(FreeImage_GetHeight(src_dib));
  FiBitmap grey(FreeImage_ConvertToGreyscale(src_dib));
  if (!grey) return nullptr;
  FiBitmap result(FreeImage_Allocate(width, height, 1));
  if (!result) return nullptr;
  RGBQUAD* pal = FreeImage_GetPalette(result.get());
  pal[0] = RGBQUAD{0, 0, 0, 0};
  pal[1] = RGBQUAD{255, 255, 255, 0};
  if (ETS_dither_main(FreeImage_GetBits(grey.get()), FreeImage_GetBits(result.get()), width, height, 1,
                      static_cast<int>(FreeImage_GetPitch(grey.get())),
                      static_cast<int>(FreeImage_GetPitch(result.get()))) != 0) {
    return nullptr;
  }
  return result.release();
}
