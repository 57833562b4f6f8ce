// ets.cpp - even-toned screening: Floyd-Steinberg error diffusion biased by
// the distance to the nearest printed dot and modulated by a blue-noise
// matrix, for several planes with coupling and any number of levels.
//
// All per-pixel arithmetic is integer; sums that could leave 32 bits for
// extreme parameters are formed in 64 bits before they are clamped or
// shifted, which gives the 32-bit results wherever those are defined.
#include "halftone/ets.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "quill/dither.h"
#include "support/fi_bitmap.h"
#include "support/log.h"

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

// The noise of the matrix value tm at shift rs: tm << (24 - rs), or
// tm >> (rs - 24) for shifts beyond 24, formed in 64 bits. A left shift
// beyond 40 decides exactly as 40: the biased error (below 2^31 in size) is
// then clamped to the same end of elo..ehi.
inline int64_t MatrixNoise(int tm, int rs) {
  const int sh = 24 - rs;
  if (sh >= 0) return tm * (int64_t{1} << (sh < 40 ? sh : 40));
  return tm >> (-sh < 31 ? -sh : 31);
}

// The diffused error o biased by the distance term in the way ets_style
// selects: 0 none, 1 full when negative and an eighth when positive, 2 full,
// 3 an eighth, n > 3 divided by n - 3.
inline int64_t BiasedError(int o, int ets_bias, int ets_style) {
  switch (ets_style) {
    case 0:
      return o;
    case 1:
      return o + (ets_bias > 0 ? ets_bias >> 3 : ets_bias);
    case 2:
      return o + ets_bias;
    case 3:
      return o + (ets_bias >> 3);
    default:
      return o + ets_bias / (ets_style - 3);
  }
}

// The generator's noise at shift rs: (2^31 >> rs) - (next >> rs) as a
// 32-bit value. Shifts of 32 or more leave nothing of either term (0);
// negative ones, which have no meaning, count as 0.
inline int32_t GeneratorNoise(uint32_t next, int rs) {
  if (rs >= 32) return 0;
  const int s = rs < 0 ? 0 : rs;
  return static_cast<int32_t>((0x80000000u >> s) - (next >> s));
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
  const int64_t rs_base = (levels > 1 ? 19 + Log2(levels) : 19) - int64_t{params->rand_scale};
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
    int64_t rs;
    if (params->rand_scale_luts != nullptr) {
      const int64_t v = params->rand_scale_luts[p][i];
      const int64_t z = v + (v >> 1);
      rs = rs_base + 16 - (z < 2 ? 0 : Log2(static_cast<int>(z < INT32_MAX ? z : INT32_MAX)));
    } else {
      rs = NoiseShift(nl, levels, static_cast<int>(rs_base < -1000 ? -1000 : rs_base > 1000 ? 1000 : rs_base));
    }
    // A signed byte holds every shift that means anything (see MatrixNoise
    // and GeneratorNoise).
    pc->rs_lut[i] = static_cast<signed char>(rs < -128 ? -128 : rs > 127 ? 127 : rs);
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
  double distscale = params->distscale;
  if (distscale == 0 && !DistScaleForAspect(params->aspect_x, params->aspect_y, &distscale)) {
    quill_log::Error("aspect ratio of %d:%d not supported", params->aspect_x, params->aspect_y);
    return nullptr;
  }
  // Levels must fit the output bytes and leave a step (levels - 1 divides);
  // the distance state grows by 2 * aspect^2 per line, which must stay far
  // from overflowing over any page.
  constexpr int kMaxAspect = 64;
  if (params->width <= 0 || params->n_planes <= 0 || params->levels < 2 || params->levels > 256 ||
      params->aspect_x <= 0 || params->aspect_y <= 0 || params->aspect_x > kMaxAspect ||
      params->aspect_y > kMaxAspect) {
    quill_log::Error("ets_new: unusable parameters width=%d planes=%d levels=%d aspect=%d:%d",
                     params->width, params->n_planes, params->levels, params->aspect_x, params->aspect_y);
    return nullptr;
  }
  for (int p = 0; p < params->n_planes; ++p) {
    // The distance cap 2^(c1 + 14) and the shift by 16 - c1 are defined
    // for c1 in -14..16.
    const int64_t c1 = int64_t{Log2(params->levels)} + Log2(params->aspect_x) + Log2(params->aspect_y) + 6 -
                       (params->c1_scale != nullptr ? params->c1_scale[p] : 0);
    if (c1 < -14 || c1 > 16) {
      quill_log::Error("ets_new: distance scale exponent %lld of plane %d out of range",
                       static_cast<long long>(c1), p);
      return nullptr;
    }
  }

  ETS_Ctx* ctx = static_cast<ETS_Ctx*>(calloc(1, sizeof(ETS_Ctx)));
  // Without a context the dump stream stays the caller's: not closed here.
  auto out_of_memory = [&ctx]() -> ETS_Ctx* {
    quill_log::Error("ets_new: out of memory");
    if (ctx != nullptr) {
      ctx->dump_file = nullptr;
      ets_free(ctx);
    }
    return nullptr;
  };
  if (ctx == nullptr) return out_of_memory();
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
    return out_of_memory();
  }
  if (params->strengths != nullptr) {
    std::memcpy(ctx->strengths, params->strengths, sizeof(int) * params->n_planes);
  }
  for (int p = 0; p < params->n_planes; ++p) {
    ctx->plane_ctx[p] = static_cast<ETS_PlaneCtx*>(calloc(1, sizeof(ETS_PlaneCtx)));
    if (ctx->plane_ctx[p] == nullptr || !MakePlane(params, p, distscale, ctx->plane_ctx[p])) {
      return out_of_memory();
    }
  }
  return ctx;
}

namespace {

// Branch-free selections for the serial loops of the distance pass and the
// image driver's case. Their conditions alternate without a pattern, so
// branches would mispredict about every other pixel, and gcc turns several
// selections on one condition into a branch. Each helper keeps its in/out
// arguments when the condition holds and otherwise replaces them by the
// values given with them.
#if defined(__GNUC__) && defined(__x86_64__)
// x, y, z stay when s < k, else they become x2, y2, z2.
inline void KeepIfLess(int s, int k, int& x, int x2, int& y, int y2, int& z, int z2) {
  asm("cmpl %[k], %[s]\n\t"
      "cmovge %[x2], %[x]\n\t"
      "cmovge %[y2], %[y]\n\t"
      "cmovge %[z2], %[z]"
      : [x] "+&r"(x), [y] "+&r"(y), [z] "+&r"(z)
      : [s] "r"(s), [k] "rm"(k), [x2] "rm"(x2), [y2] "rm"(y2), [z2] "rm"(z2)
      : "cc");
}
// r, a, b, bias, z stay when flag is 0, else they become the second values.
inline void TakeIfSet(int flag, int& r, int r2, int& a, int a2, int& b, int b2, int& bias, int bias2,
                      int& z, int z2) {
  asm("testl %[f], %[f]\n\t"
      "cmovne %[r2], %[r]\n\t"
      "cmovne %[a2], %[a]\n\t"
      "cmovne %[b2], %[b]\n\t"
      "cmovne %[bias2], %[bias]\n\t"
      "cmovne %[z2], %[z]"
      : [r] "+&r"(r), [a] "+&r"(a), [b] "+&r"(b), [bias] "+&r"(bias), [z] "+&r"(z)
      : [f] "r"(flag), [r2] "rm"(r2), [a2] "rm"(a2), [b2] "rm"(b2), [bias2] "rm"(bias2), [z2] "rm"(z2)
      : "cc");
}
// Returns w >= bound (0 or 1); when it is 1, r, a, b, err become r2, a2,
// b2, err2.
inline int DotIfReached(int64_t w, int64_t bound, int& r, int r2, int& a, int a2, int& b, int b2, int& err,
                        int err2) {
  int dot = 0;
  asm("cmpq %[bound], %[w]\n\t"
      "setge %b[dot]\n\t"
      "cmovge %[r2], %[r]\n\t"
      "cmovge %[a2], %[a]\n\t"
      "cmovge %[b2], %[b]\n\t"
      "cmovge %[err2], %[err]"
      : [dot] "+&q"(dot), [r] "+&r"(r), [a] "+&r"(a), [b] "+&r"(b), [err] "+&r"(err)
      : [w] "r"(w), [bound] "rm"(bound), [r2] "rm"(r2), [a2] "rm"(a2), [b2] "rm"(b2), [err2] "rm"(err2)
      : "cc");
  return dot;
}
// x, y, z stay when x < k as unsigned 32-bit values, else they become
// k, y2, z2.
inline void KeepIfBelow(int& x, int k, int& y, int y2, int& z, int z2) {
  asm("cmpl %[k], %[x]\n\t"
      "cmovael %[k], %[x]\n\t"
      "cmovael %[y2], %[y]\n\t"
      "cmovael %[z2], %[z]"
      : [x] "+r"(x), [y] "+r"(y), [z] "+r"(z)
      : [k] "rm"(k), [y2] "rm"(y2), [z2] "rm"(z2)
      : "cc");
}
// r, a, b, bias stay when flag is 0, else they become the second values.
inline void TakeIfSet4(int flag, int& r, int r2, int& a, int a2, int& b, int b2, int& bias, int bias2) {
  asm("testl %[f], %[f]\n\t"
      "cmovne %[r2], %[r]\n\t"
      "cmovne %[a2], %[a]\n\t"
      "cmovne %[b2], %[b]\n\t"
      "cmovne %[bias2], %[bias]"
      : [r] "+&r"(r), [a] "+&r"(a), [b] "+&r"(b), [bias] "+&r"(bias)
      : [f] "r"(flag), [r2] "rm"(r2), [a2] "rm"(a2), [b2] "rm"(b2), [bias2] "rm"(bias2)
      : "cc");
}
// Returns w >= bound (0 or 1), 32-bit; when it is 1, c becomes c2.
inline int DotIfReached1(int w, int bound, int& c, int c2) {
  int dot = 0;
  asm("cmpl %[bound], %[w]\n\t"
      "setge %b[dot]\n\t"
      "cmovge %[c2], %[c]"
      : [dot] "+&q"(dot), [c] "+&r"(c)
      : [w] "r"(w), [bound] "rm"(bound), [c2] "rm"(c2)
      : "cc");
  return dot;
}
#else
inline void KeepIfLess(int s, int k, int& x, int x2, int& y, int y2, int& z, int z2) {
  if (!(s < k)) {
    x = x2;
    y = y2;
    z = z2;
  }
}
inline void TakeIfSet(int flag, int& r, int r2, int& a, int a2, int& b, int b2, int& bias, int bias2,
                      int& z, int z2) {
  if (flag != 0) {
    r = r2;
    a = a2;
    b = b2;
    bias = bias2;
    z = z2;
  }
}
inline int DotIfReached(int64_t w, int64_t bound, int& r, int r2, int& a, int a2, int& b, int b2, int& err,
                        int err2) {
  if (w < bound) return 0;
  r = r2;
  a = a2;
  b = b2;
  err = err2;
  return 1;
}
inline void KeepIfBelow(int& x, int k, int& y, int y2, int& z, int z2) {
  if (!(static_cast<unsigned>(x) < static_cast<unsigned>(k))) {
    x = k;
    y = y2;
    z = z2;
  }
}
inline void TakeIfSet4(int flag, int& r, int r2, int& a, int a2, int& b, int b2, int& bias, int bias2) {
  if (flag != 0) {
    r = r2;
    a = a2;
    b = b2;
    bias = bias2;
  }
}
inline int DotIfReached1(int w, int bound, int& c, int c2) {
  if (w < bound) return 0;
  c = c2;
  return 1;
}
#endif

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

// One step of the right-to-left distance pass at column x: the distance
// grows from the right-hand neighbour, or restarts from this column's own
// state; either way capped at rlimit (taking the cap before the choice
// gives the same value and a shorter chain).
inline void PrepareColumn(int x, int ax2, int ay2, int rlimit, int& rv, int& av, int& bv,
                          int* __restrict r_line, int* __restrict a_line, int* __restrict b_line) {
  const int rl = r_line[x];
  const int al = a_line[x];
  const int bl = b_line[x];
  const int grown = rv + av;
  int rn = grown > rlimit ? rlimit : grown;
  int an = av + 2 * ay2;
  int bn = bv;
  KeepIfLess(grown + bv, rl + bl, rn, rl > rlimit ? rlimit : rl, an, al, bn, bl);
  rv = rn;
  av = an;
  bv = bn;
  a_line[x] = av;
  b_line[x] = bv + 2 * ax2;
  r_line[x] = rv + bv;
}

// PrepareColumn over columns hi, hi - 1, ..., lo (hi >= lo) when no
// column's r + b exceeds rlimit: then neither the grown distance it keeps
// (below r + b - bv) nor the restart value can reach the cap, and the step
// carries u = r + b, which is also what r_line receives, so the chain from
// column to column is one addition, one comparison and one selection.
inline void PrepareColumnsUncapped(int hi, int lo, int ax2, int ay2, int& rv, int& av, int& bv,
                                   int* __restrict r_line, int* __restrict a_line, int* __restrict b_line) {
  int u = rv + bv, a = av, b = bv;
  for (int x = hi; x >= lo; --x) {
    const int restart = r_line[x] + b_line[x];
    int un = u + a;
    int an = a + 2 * ay2;
    int bn = b;
    KeepIfLess(un, restart, un, restart, an, a_line[x], bn, b_line[x]);
    u = un;
    a = an;
    b = bn;
    a_line[x] = a;
    b_line[x] = b + 2 * ax2;
    r_line[x] = u;
  }
  rv = u - b;
  av = a;
  bv = b;
}

// Four columns as one vector (GCC/Clang vector extensions: the compiler
// picks the instructions the target has; 16 bytes is SSE2 on x86-64).
typedef int Vec4 __attribute__((vector_size(16)));
inline Vec4 Load4(const int* p) {
  Vec4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store4(int* p, Vec4 v) { std::memcpy(p, &v, sizeof v); }
inline Vec4 Min4(Vec4 v, int cap) { return v > cap ? Vec4{} + cap : v; }
// True when every lane of a comparison result is set (lanes are 0 or -1),
// and when any lane is.
#if defined(__SSE2__)
inline bool All4(Vec4 m) { return _mm_movemask_epi8(reinterpret_cast<__m128i>(m)) == 0xFFFF; }
inline bool Any4(Vec4 m) { return _mm_movemask_epi8(reinterpret_cast<__m128i>(m)) != 0; }
#else
inline bool All4(Vec4 m) { return (m[0] & m[1] & m[2] & m[3]) != 0; }
inline bool Any4(Vec4 m) { return (m[0] | m[1] | m[2] | m[3]) != 0; }
#endif
// The lanes moved down by one (lane i takes lane i + 1; the last keeps its own).
// GCC and clang spell the lane shuffle differently (the sanitizer and fuzz
// builds use clang).
inline Vec4 Next4(Vec4 v) {
#if defined(__clang__)
  return __builtin_shufflevector(v, v, 1, 2, 3, 3);
#else
  return __builtin_shuffle(v, Vec4{1, 2, 3, 3});
#endif
}
// Lanes 1, 2, 3 of v, then lane 0 of w.
#if defined(__SSE2__)
inline Vec4 ShiftIn4(Vec4 v, Vec4 w) {
  return reinterpret_cast<Vec4>(_mm_or_si128(_mm_srli_si128(reinterpret_cast<__m128i>(v), 4),
                                             _mm_slli_si128(reinterpret_cast<__m128i>(w), 12)));
}
#elif defined(__clang__)
inline Vec4 ShiftIn4(Vec4 v, Vec4 w) { return __builtin_shufflevector(v, w, 1, 2, 3, 4); }
#else
inline Vec4 ShiftIn4(Vec4 v, Vec4 w) { return __builtin_shuffle(v, w, Vec4{1, 2, 3, 4}); }
#endif
constexpr Vec4 kLane = {0, 1, 2, 3};
constexpr int kBlock = 4;  // columns per vector
// Closed forms of a growing distance stay far inside 32 bits below these.
constexpr int kSmallIncrement = 1 << 24;
constexpr int kSmallDistance = 1 << 30;

// Four columns [lo, lo + 4) of the distance pass at once when every one of
// them makes the same choice, which is the rule on paper away from dots and
// edges; returns 1 when all four restarted (the first case below), 2 when
// all grew, 0 (nothing done) otherwise. Entering from the right with the
// running state (rv, av, bv):
//  - if column lo + 3 restarts from its own state, each next column does so
//    too exactly when min(r[i + 1], rlimit) + a[i + 1] + b[i + 1] (the
//    neighbour's own state grown by one column) is not below r[i] + b[i];
//    then every column keeps a, gets b + 2 ax2 and min(r, rlimit) + b;
//  - if it grows, the state k columns further on has the closed form
//    r = min(rv + k av + k (k - 1) ay2, rlimit), a = av + 2 k ay2, and all
//    four grow when each grown distance plus bv stays below r + b there.
// The comparisons are the plain pass's own 32-bit sums, in its order.
inline int PrepareBlock(int lo, int ax2, int ay2, int rlimit, int& rv, int& av, int& bv,
                         int* __restrict r_line, int* __restrict a_line, int* __restrict b_line) {
  const Vec4 r = Load4(r_line + lo);
  const Vec4 b = Load4(b_line + lo);
  if (!(rv + av + bv < r[3] + b[3])) {
    const Vec4 a = Load4(a_line + lo);
    // The last lane compares with itself, which always holds (a > 0).
    const Vec4 same = !(Min4(Next4(r), rlimit) + Next4(a) + Next4(b) < r + b);
    if (!All4(same)) return 0;
    Store4(r_line + lo, Min4(r, rlimit) + b);
    Store4(b_line + lo, b + 2 * ax2);
    rv = r[0] > rlimit ? rlimit : r[0];
    av = a[0];
    bv = b[0];
    return 1;
  }
  if (av >= kSmallIncrement || ay2 >= kSmallIncrement) return 0;
  const Vec4 k = (kBlock - 1) - kLane;  // columns from the top of the block
  const Vec4 u = rv + k * av + k * (k - 1) * ay2;
  const Vec4 grown = Min4(u, rlimit) + av + 2 * k * ay2;
  if (!All4(grown + bv < r + b)) return 0;
  Store4(a_line + lo, av + 2 * (k + 1) * ay2);
  Store4(b_line + lo, Vec4{} + (bv + 2 * ax2));
  Store4(r_line + lo, Min4(grown, rlimit) + bv);
  rv = grown[0] > rlimit ? rlimit : grown[0];
  av += 2 * kBlock * ay2;
  return 2;
}

// Restart blocks one after the other, right to left from column x, until
// a block does not restart whole (PrepareBlock's first case with the sums
// of each block kept in a vector, which also gives the test across the
// block boundary); returns the new x. Entering with the running state
// (rv, av, bv), which the blocks done replace.
inline int PrepareRestarts(int x, int ax2, int rlimit, int& rv, int& av, int& bv, int* __restrict r_line,
                           int* __restrict a_line, int* __restrict b_line) {
  Vec4 s_prev = Vec4{} + (rv + av + bv);  // lane 0: the state entering the block
  const int x0 = x;
  while (x >= kBlock - 1) {
    const int lo = x - (kBlock - 1);
    const Vec4 r = Load4(r_line + lo);
    const Vec4 a = Load4(a_line + lo);
    const Vec4 b = Load4(b_line + lo);
    const Vec4 mr = Min4(r, rlimit);
    const Vec4 sums = mr + a + b;  // what each column offers its left neighbour
    const Vec4 next = ShiftIn4(sums, s_prev);
    if (Any4(next < r + b)) break;
    Store4(r_line + lo, mr + b);
    Store4(b_line + lo, b + 2 * ax2);
    s_prev = sums;
    x -= kBlock;
  }
  if (x != x0) {
    // The state column x + 1 leaves, from what it now holds: b grew by
    // 2 ax2, r became min(r, rlimit) + b, a stayed.
    bv = b_line[x + 1] - 2 * ax2;
    rv = r_line[x + 1] - bv;
    av = a_line[x + 1];
  }
  return x;
}

// Carries the distance state of every plane to the next line, right to
// left: whole blocks where PrepareBlock applies, column by column elsewhere.
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
    int x = pc->width - 1;
    // Far from the cap (every column's r + b at most rlimit, the rule
    // wherever dots are near), the column steps take the shorter form. The
    // values are not negative, so the OR of a line bounds its largest value.
    // Worked out when the first column goes one by one (lines of paper
    // mostly go in blocks and need it not), over the columns not done yet.
    int uncapped = -1;  // not known yet
    auto line_uncapped = [&]() {
      const int n = x + 1;
      Vec4 or_r{}, or_b{};
      int i = 0;
      for (; i + kBlock <= n; i += kBlock) {
        or_r |= Load4(r_line + i);
        or_b |= Load4(b_line + i);
      }
      unsigned r_bits = static_cast<unsigned>(or_r[0] | or_r[1] | or_r[2] | or_r[3]);
      unsigned b_bits = static_cast<unsigned>(or_b[0] | or_b[1] | or_b[2] | or_b[3]);
      for (; i < n; ++i) {
        r_bits |= static_cast<unsigned>(r_line[i]);
        b_bits |= static_cast<unsigned>(b_line[i]);
      }
      return uint64_t{r_bits} + b_bits <= static_cast<uint64_t>(rlimit) ? 1 : 0;
    };
    auto columns = [&](int lo) {  // columns x down to lo, one by one
      if (uncapped < 0) uncapped = line_uncapped();
      if (uncapped) {
        PrepareColumnsUncapped(x, lo, ax2, ay2, rv, av, bv, r_line, a_line, b_line);
        x = lo - 1;
      } else {
        for (; x >= lo; --x) PrepareColumn(x, ax2, ay2, rlimit, rv, av, bv, r_line, a_line, b_line);
      }
    };
    // Where blocks keep failing (near dots), fewer are tried: after n
    // failures in a row the next 4 << min(n, 4) columns go one by one.
    int failures = 0;
    while (x >= kBlock - 1) {
      const int block = PrepareBlock(x - (kBlock - 1), ax2, ay2, rlimit, rv, av, bv, r_line, a_line, b_line);
      if (block != 0) {
        x -= kBlock;
        failures = 0;
        if (block == 1) x = PrepareRestarts(x, ax2, rlimit, rv, av, bv, r_line, a_line, b_line);
        continue;
      }
      columns(std::max(0, x - ((kBlock << std::min(failures, 4)) - 1)));
      ++failures;
    }
    if (x >= 0) columns(0);
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
        err = BiasedError(o, ets_bias, ets_style);
      }
      const int rs = rs_lut[s];
      if (kRStyle == 1) {
        err += MatrixNoise(tmline[(x + tm_offset) & tmmask], rs);
      } else if (kRStyle == 2) {
        uint32_t next = seed1 + seed2;
        if (next < seed1) ++next;
        seed2 = seed1;
        seed1 = next;
        err += GeneratorNoise(next, rs);
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

// The left-to-right distance scan over columns [x0, x1) of paper (no ink:
// level 0, stored error 0), from the running state (r, a, b) of the column
// before x0, exactly as the per-pixel form: the distance grows from the left
// (r + a, a + 2 ay2) while that stays below the column's own, else restarts
// from the column's state. Four columns go at once where all of them make
// the same choice (see PrepareBlock): each restarts from its own state, so
// nothing changes, when r[i] + a[i] is not below r[i + 1]; all grow when
// the closed form r + (k + 1) a + k (k + 1) ay2 stays below each column's r.
void PaperRun(int x0, int x1, int ay2, int& r, int& a, int& b, int* __restrict r_line,
              int* __restrict a_line, int* __restrict b_line, int* __restrict err_line,
              uchar* __restrict dest) {
  std::memset(dest + x0, 0, static_cast<size_t>(x1 - x0));
  std::memset(err_line + x0, 0, sizeof(int) * static_cast<size_t>(x1 - x0));
  int x = x0;
  int failures = 0;
  while (x + kBlock <= x1) {
    const Vec4 rl = Load4(r_line + x);
    if (!(r + a < rl[0])) {
      const Vec4 al = Load4(a_line + x);
      if (All4(!(rl + al < Next4(rl)))) {
        // Column x restarts, and so does each next one while its own
        // distance is not above the grown distance of its left neighbour:
        // a stretch that changes nothing, read eight columns at a time.
        int i = x + kBlock - 1;
        while (i + 2 * kBlock < x1) {
          const Vec4 r0 = Load4(r_line + i), r1 = Load4(r_line + i + kBlock);
          const Vec4 a0 = Load4(a_line + i), a1 = Load4(a_line + i + kBlock);
          const Vec4 n0 = Load4(r_line + i + 1), n1 = Load4(r_line + i + kBlock + 1);
          if (Any4((r0 + a0 < n0) | (r1 + a1 < n1))) break;
          i += 2 * kBlock;
        }
        // Column i restarts; the stretch goes on to i + 1 when that one does.
        while (i + 1 < x1 && !(r_line[i] + a_line[i] < r_line[i + 1])) ++i;
        r = r_line[i];
        a = a_line[i];
        b = b_line[i];
        x = i + 1;
        failures = 0;
        continue;
      }
    } else if (a < kSmallIncrement && ay2 < kSmallIncrement && r < kSmallDistance) {
      const Vec4 k = kLane;
      const Vec4 grown = r + (k + 1) * a + k * (k + 1) * ay2;
      if (All4(grown < rl)) {
        Store4(r_line + x, grown);
        Store4(a_line + x, a + 2 * (k + 1) * ay2);
        Store4(b_line + x, Vec4{} + b);
        r = grown[kBlock - 1];
        a += 2 * kBlock * ay2;
        x += kBlock;
        failures = 0;
        continue;
      }
    }
    const int end = std::min(x1, x + (kBlock << std::min(failures, 4)));
    for (; x < end; ++x) {
      const int rl1 = r_line[x];
      int rn = r + a, an = a + 2 * ay2, bn = b;
      KeepIfLess(rn, rl1, rn, rl1, an, a_line[x], bn, b_line[x]);
      r = rn;
      a = an;
      b = bn;
      r_line[x] = r;
      a_line[x] = a;
      b_line[x] = b;
    }
    ++failures;
  }
  for (; x < x1; ++x) {
    const int rl1 = r_line[x];
    int rn = r + a, an = a + 2 * ay2, bn = b;
    KeepIfLess(rn, rl1, rn, rl1, an, a_line[x], bn, b_line[x]);
    r = rn;
    a = an;
    b = bn;
    r_line[x] = r;
    a_line[x] = a;
    b_line[x] = b;
  }
}

// The distance bias of ets_style 1 for distance r (0 without an expected
// distance). min(r, rlimit) * 2^(16 - c1) is at most 2^30.
inline int Bias(int r, int expected, int rlimit, int rmul) {
  const int t = (r < rlimit ? r : rlimit) * rmul - expected;
  const int t8 = t >> 3;
  const int bias = t8 < t ? t8 : t;  // t > 0: t / 8 (shift), else t
  return expected != 0 ? bias : 0;
}

// The image driver's case: one plane, two levels, no coupling, ets_style 1,
// noise from the matrix.
//
// The decision of the plain form is
//   dot = clamp(o + bias + noise, elo, ehi) + e0 >= 2^15.
// With T = 2^15 - e0: when T <= elo every value passes, when T > ehi none
// does, otherwise (the clamp being monotonic) dot = o + bias >= T - noise.
// The right-hand side (or a bound that always or never passes, and never
// for pixels without ink) is computed for the whole line first.
//
// The serial loop is short because both outcomes of a pixel are prepared
// before its left neighbour is decided. After a dot the distance state is
// reset (r 0, a ay2, b ax2, the values a line starts with), so the state
// the next pixel sees then, and its bias, depend on that pixel's column
// alone; the other outcome carries the state on from the left. Likewise Z
// of the next pixel is 7 * stored + (above terms), and a dot takes 65536
// off stored. The decision then only selects between prepared values, and
// the selections are free of branches (see KeepIfLess).
struct DriverByte {
  int64_t base;     // T, or a bound that always or never passes
  int ink;          // e0
  int expected;     // expected_r
  int noise_shift;  // 24 - rs
  int bias_reset;   // the bias at distance ay2
};

// The short route of the image driver's case (see LineDriverCase) for a
// segment in which every pixel has ink and an expected distance, no
// column's distance r or increment a exceeds the cap, every noise shift
// 24 - rs lies in 0..16 (so the noise is at most 2^23 in size) and
// 2 ay2 x 2^(16 - c1) is at most 2^29. There:
//  - the distance a pixel sees is never above its column's own (it keeps
//    the grown distance only below that, and a dot leaves 0), so the cap
//    never applies;
//  - o is z >> 4 of a 32-bit z (below 2^27 in size) and the bias lies in
//    -2^30..2^27, so o + bias stays inside 32 bits, and the decision
//    o + bias >= T - noise (see LineDriverCase) is taken in 32 bits, with
//    kAlways32 and kNever32 for bounds that always or never pass: less
//    the noise they stay below -2^30 - 2^27 and above 2^28;
//  - z of the next pixel, 7 * stored + above terms, is 7 o + c with
//    c = 7 e0 + above terms, less 7 x 65536 after a dot (wrapping 32-bit
//    arithmetic, as the plain form's sums).
// The values that do not depend on the decisions on the left are prepared
// for a chunk of the line at a time (eight pixels at once where the
// processor has AVX2), the serial loop runs over the chunk, and a vector
// pass puts its results into the lines.
constexpr int kAlways32 = INT32_MIN + (1 << 24);
constexpr int kNever32 = INT32_MAX - (1 << 24);
constexpr int kFastChunk = 256;  // pixels prepared at a time
// Slots per array of a chunk: a cache line more than the pixels, so that
// the arrays do not lie at the same offsets in 4 KiB pages, where the
// loop's stores would be taken for stores to its next loads.
constexpr int kFastSlots = kFastChunk + 16;
constexpr int kFastDotZ = 7 * 65536;

// Per input byte; ok is 0 for bytes the route does not take.
struct FastTables {
  int ink[256];       // e0
  int expected[256];  // expected_r
  int mul[256];       // 2^(24 - rs), the noise per unit of the matrix
  // e0 | (24 - rs) << 17 in the low half and expected_r in the high half,
  // for one gather of both.
  uint64_t packed[256];
  unsigned char ok[256];
};

// The line a segment belongs to (pointers owned by the context).
struct FastLine {
  const ETS_SrcPixel* src;
  const signed char* tm_row;  // the noise matrix row of the line
  int tm_offset;
  int* err_line;
  int* r_line;
  int* a_line;
  int* b_line;
  uchar* dest;
  int width;
  int ax2, ay2;
  int rshift;    // 16 - c1
  int elo, ehi;  // clamp range of the biased error
};

// One chunk's values, indexed by column - chunk start: what the serial
// loop reads (prepared) and what it leaves (copied to the lines after it),
// so that the loop addresses everything from one base.
struct FastChunk {
  int bound[kFastSlots];       // o + bias must reach this for a dot
  int bias_reset[kFastSlots];  // the bias after a dot on the left
  int rr[kFastSlots];          // the distance state after a dot on the left
  int ar[kFastSlots];
  int br[kFastSlots];
  int expected[kFastSlots];
  int ink[kFastSlots];
  int c_keep[kFastSlots];  // c without a dot (see above)
  int c_dot[kFastSlots];   // c after a dot
  int rl[kFastSlots];      // the column's own distance state
  int al[kFastSlots];
  int bl[kFastSlots];
  int r_out[kFastSlots];  // the state the pixel saw
  int a_out[kFastSlots];
  int b_out[kFastSlots];
  int kept[kFastSlots];     // the stored error without a dot (o + e0)
  int dot[kFastSlots];      // 1 for a dot, else 0
};

// Fills the tables; false when some noise shift is outside 0..16 (the
// route is then not taken).
bool FastTablesFor(const ETS_PlaneCtx* pc, FastTables& t) {
  for (int v = 0; v < 256; ++v) {
    const int shift = 24 - pc->rs_lut[v];
    if (shift < 0 || shift > 16) return false;
    t.ink[v] = pc->lut[v];
    t.expected[v] = pc->dist_lut[v];
    t.mul[v] = 1 << shift;
    t.packed[v] = static_cast<uint32_t>(pc->lut[v] | shift << 17) |
                  uint64_t{static_cast<uint32_t>(pc->dist_lut[v])} << 32;
    t.ok[v] = pc->lut[v] != 0 && pc->dist_lut[v] != 0;
  }
  return true;
}

// The bias of ets_style 1 at distance r (within the cap) for expected
// distance e (not 0).
inline int FastBias(int r, int e, int rshift) {
  const int t = (r << rshift) - e;
  const int t8 = t >> 3;
  return t8 < t ? t8 : t;
}

// Column x's values into chunk slot i; tm_ext holds the matrix row and its
// first 8 values again after it.
inline void FastPrepareOne(const FastLine& l, const FastTables& t, const signed char* tm_ext, int x, int i,
                           FastChunk& c) {
  const int s = l.src[x];
  const int ink = t.ink[s];
  const int e = t.expected[s];
  const int tb = 0x8000 - ink;
  const int base = tb <= l.elo ? kAlways32 : tb > l.ehi ? kNever32 : tb;
  c.bound[i] = base - tm_ext[(x + l.tm_offset) & 255] * t.mul[s];
  const int rl = l.r_line[x];
  const int grow = -static_cast<int>(l.ay2 < rl);  // masks: the choice follows the dots above
  const int rr = (grow & l.ay2) | (~grow & rl);
  c.rr[i] = rr << l.rshift;
  c.ar[i] = ((grow & (3 * l.ay2)) | (~grow & l.a_line[x])) << l.rshift;
  c.br[i] = (grow & l.ax2) | (~grow & l.b_line[x]);
  c.rl[i] = rl << l.rshift;
  c.al[i] = l.a_line[x] << l.rshift;
  c.bl[i] = l.b_line[x];
  c.bias_reset[i] = FastBias(rr, e, l.rshift);
  c.expected[i] = e;
  c.ink[i] = ink;
  const int* err = l.err_line;
  const int w = l.width;
  const int n = x + 1;  // the next column's terms of the line above
  const int above = n >= w ? 0 : (n + 1 < w ? 3 * err[n + 1] : 0) + 5 * err[n] + err[n - 1];
  const uint32_t keep = 7u * static_cast<uint32_t>(ink) + static_cast<uint32_t>(above);
  c.c_keep[i] = static_cast<int>(keep);
  c.c_dot[i] = static_cast<int>(keep - static_cast<uint32_t>(kFastDotZ));
}

#if defined(__x86_64__) && defined(__GNUC__)
#define QUILL_ETS_AVX2 1
// Columns x0 .. x0 + 8k - 1 of a chunk (slots from i0), eight at a time,
// as FastPrepareOne; x0 + 8k + 2 <= width (the terms of the line above
// read two columns on).
__attribute__((target("avx2"))) void FastPrepareAvx2(const FastLine& l, const FastTables& t,
                                                      const signed char* tm_ext, int x0, int i0, int k,
                                                      FastChunk& c) {
  const __m256i ay2 = _mm256_set1_epi32(l.ay2);
  const __m256i ay2x3 = _mm256_set1_epi32(3 * l.ay2);
  const __m256i ax2 = _mm256_set1_epi32(l.ax2);
  const __m256i elo = _mm256_set1_epi32(l.elo);
  const __m256i ehi = _mm256_set1_epi32(l.ehi);
  const __m256i always = _mm256_set1_epi32(kAlways32);
  const __m256i never = _mm256_set1_epi32(kNever32);
  const __m256i half = _mm256_set1_epi32(0x8000);
  const __m256i dotz = _mm256_set1_epi32(kFastDotZ);
  const __m128i rshift = _mm_cvtsi32_si128(l.rshift);
  for (int j = 0; j < k; ++j) {
    const int x = x0 + 8 * j;
    const int i = i0 + 8 * j;
    int64_t src8, tm8;
    std::memcpy(&src8, l.src + x, 8);
    std::memcpy(&tm8, tm_ext + ((x + l.tm_offset) & 255), 8);
    const __m256i s = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(src8));
    const __m256i tm = _mm256_cvtepi8_epi32(_mm_cvtsi64_si128(tm8));
    // Both halves of the packed entries, then the low halves (lanes in the
    // order 0 1 4 5 2 3 6 7 after the shuffle, put right by the permute)
    // and the high halves apart.
    const long long* packed = reinterpret_cast<const long long*>(t.packed);
    const __m256 g0 = _mm256_castsi256_ps(_mm256_i32gather_epi64(packed, _mm256_castsi256_si128(s), 8));
    const __m256 g1 = _mm256_castsi256_ps(_mm256_i32gather_epi64(packed, _mm256_extracti128_si256(s, 1), 8));
    const __m256i lo = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(g0, g1, 0x88)), 0xD8);
    const __m256i e = _mm256_permute4x64_epi64(_mm256_castps_si256(_mm256_shuffle_ps(g0, g1, 0xDD)), 0xD8);
    const __m256i ink = _mm256_and_si256(lo, _mm256_set1_epi32(0x1FFFF));
    const __m256i mul = _mm256_sllv_epi32(_mm256_set1_epi32(1), _mm256_srli_epi32(lo, 17));
    // base: T when elo < T <= ehi, always when T <= elo, never above ehi.
    const __m256i tb = _mm256_sub_epi32(half, ink);
    __m256i base = _mm256_blendv_epi8(tb, never, _mm256_cmpgt_epi32(tb, ehi));
    base = _mm256_blendv_epi8(base, always, _mm256_cmpgt_epi32(_mm256_add_epi32(elo, _mm256_set1_epi32(1)), tb));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.bound + i),
                        _mm256_sub_epi32(base, _mm256_mullo_epi32(tm, mul)));
    const __m256i rl = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.r_line + x));
    const __m256i al = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.a_line + x));
    const __m256i bl = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.b_line + x));
    const __m256i grow = _mm256_cmpgt_epi32(rl, ay2);
    const __m256i rr = _mm256_blendv_epi8(rl, ay2, grow);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.rr + i), _mm256_sll_epi32(rr, rshift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.ar + i),
                        _mm256_sll_epi32(_mm256_blendv_epi8(al, ay2x3, grow), rshift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.br + i), _mm256_blendv_epi8(bl, ax2, grow));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.rl + i), _mm256_sll_epi32(rl, rshift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.al + i), _mm256_sll_epi32(al, rshift));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.bl + i), bl);
    const __m256i tt = _mm256_sub_epi32(_mm256_sll_epi32(rr, rshift), e);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.bias_reset + i),
                        _mm256_min_epi32(tt, _mm256_srai_epi32(tt, 3)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.expected + i), e);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.ink + i), ink);
    const __m256i e0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.err_line + x));
    const __m256i e1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.err_line + x + 1));
    const __m256i e2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l.err_line + x + 2));
    // 3 e2 + 5 e1 + e0 + 7 ink
    const __m256i above = _mm256_add_epi32(_mm256_add_epi32(_mm256_add_epi32(e2, _mm256_slli_epi32(e2, 1)),
                                                            _mm256_add_epi32(e1, _mm256_slli_epi32(e1, 2))),
                                           e0);
    const __m256i keep = _mm256_add_epi32(above, _mm256_sub_epi32(_mm256_slli_epi32(ink, 3), ink));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.c_keep + i), keep);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(c.c_dot + i), _mm256_sub_epi32(keep, dotz));
  }
}
#endif

void FastPrepare(const FastLine& l, const FastTables& t, const signed char* tm_ext, int x0, int x1,
                 FastChunk& c) {
  int x = x0;
#if defined(QUILL_ETS_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    const int k = std::max(0, std::min(x1, l.width - 2) - x0) / 8;
    if (k > 0) FastPrepareAvx2(l, t, tm_ext, x0, 0, k, c);
    x = x0 + 8 * k;
  }
#endif
  for (; x < x1; ++x) FastPrepareOne(l, t, tm_ext, x, x - x0, c);
}

// The serial loop over the first n columns of a prepared chunk, from the
// carried state (the state the last pixel saw, whether it printed, z of
// the first pixel); leaves the state for the next. Distances r and their
// increments a are kept times 2^(16 - c1), the factor of the bias, which
// saves a shift on the serial chain; the sum r + a is compared unsigned
// (below 2^32: r at most 2^30, a below 2^31, see FastSegment). kDriver:
// aspect 1:1 and c1 6 as constants.
template <bool kDriver>
void FastLoop(const FastLine& l, FastChunk& c, int n, int& dprev, int& rp, int& ap, int& bp, int& z) {
  const int rshift = kDriver ? 10 : l.rshift;
  const int step = (kDriver ? 2 : 2 * l.ay2) << rshift;
  int d = dprev, r0 = rp, a0 = ap, b0 = bp, zz = z;
  for (int i = 0; i < n; ++i) {
    int r = static_cast<int>(static_cast<unsigned>(r0) + static_cast<unsigned>(a0)), a = a0 + step, b = b0;
    KeepIfBelow(r, c.rl[i], a, c.al[i], b, c.bl[i]);
    const int t = r - c.expected[i];
    const int t8 = t >> 3;
    int bias = t8 < t ? t8 : t;  // t > 0: t / 8 (shift), else t
    TakeIfSet4(d, r, c.rr[i], a, c.ar[i], b, c.br[i], bias, c.bias_reset[i]);
    const int o = zz >> 4;
    int cz = c.c_keep[i];
    d = DotIfReached1(o + bias, c.bound[i], cz, c.c_dot[i]);
    c.dot[i] = d;
    c.kept[i] = o + c.ink[i];
    c.r_out[i] = r;
    c.a_out[i] = a;
    c.b_out[i] = b;
    zz = static_cast<int>(8u * static_cast<uint32_t>(o) + static_cast<uint32_t>(cz) - static_cast<uint32_t>(o));
    r0 = r;
    a0 = a;
    b0 = b;
  }
  dprev = d;
  rp = r0;
  ap = a0;
  bp = b0;
  z = zz;
}

// The loop's results for columns x0 .. x0 + n - 1 into the lines: the
// dots, the errors, and the distance state, which a dot resets to
// (0, ay2, ax2).
inline void FastStoreOne(const FastLine& l, const FastChunk& c, int x, int i) {
  const int m = -c.dot[i];
  l.dest[x] = static_cast<uchar>(c.dot[i]);
  l.err_line[x] = c.kept[i] - (c.dot[i] << 16);
  l.r_line[x] = (c.r_out[i] >> l.rshift) & ~m;
  l.a_line[x] = ((c.a_out[i] >> l.rshift) & ~m) | (m & l.ay2);
  l.b_line[x] = (c.b_out[i] & ~m) | (m & l.ax2);
}

#if defined(QUILL_ETS_AVX2)
__attribute__((target("avx2"))) void FastStoreAvx2(const FastLine& l, const FastChunk& c, int x0, int k) {
  const __m256i ay2 = _mm256_set1_epi32(l.ay2);
  const __m256i ax2 = _mm256_set1_epi32(l.ax2);
  const __m128i rshift = _mm_cvtsi32_si128(l.rshift);
  for (int j = 0; j < k; ++j) {
    const int i = 8 * j;
    const int x = x0 + i;
    const __m256i dot = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.dot + i));
    const __m256i m = _mm256_sub_epi32(_mm256_setzero_si256(), dot);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(dot, dot), _mm256_setzero_si256());
    // Lanes 0-3 of the bytes in the low 32 bits of each half.
    const uint32_t lo = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 0));
    const uint32_t hi = static_cast<uint32_t>(_mm256_extract_epi32(bytes, 4));
    const uint64_t eight = uint64_t{lo} | (uint64_t{hi} << 32);
    std::memcpy(l.dest + x, &eight, 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.err_line + x),
                        _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.kept + i)),
                                         _mm256_slli_epi32(dot, 16)));
    const __m256i r = _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.r_out + i)), rshift);
    const __m256i a = _mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.a_out + i)), rshift);
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c.b_out + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.r_line + x), _mm256_andnot_si256(m, r));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.a_line + x), _mm256_blendv_epi8(a, ay2, m));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(l.b_line + x), _mm256_blendv_epi8(b, ax2, m));
  }
}
#endif

void FastStore(const FastLine& l, const FastChunk& c, int x0, int n) {
  int i = 0;
#if defined(QUILL_ETS_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    FastStoreAvx2(l, c, x0, n / 8);
    i = n / 8 * 8;
  }
#endif
  for (; i < n; ++i) FastStoreOne(l, c, x0 + i, i);
}

// The segment [from, to) by the short route, from the carried state as
// the per-pixel loop of LineDriverCase takes it, entering with z of pixel
// `from`.
void FastSegment(const FastLine& l, const FastTables& t, int from, int to, int& after_dot, int& rp, int& ap,
                 int& bp, int z) {
  signed char tm_ext[256 + 8];
  std::memcpy(tm_ext, l.tm_row, 256);
  std::memcpy(tm_ext + 256, l.tm_row, 8);
  thread_local FastChunk chunk;
  const bool driver = l.ax2 == 1 && l.ay2 == 1 && l.rshift == 10;
  // The carried state in the loop's units. Every column's r and a are
  // within the cap here, and a grows only while r + a stays below a
  // column's r, so a stays below cap + 2 ay2 and, times 2^(16 - c1), below
  // 2^30 + 2^29 (which the caller sees to). The state carried in from the
  // left matters only when it grows into the first column: then it is
  // within the cap too; otherwise any sum that makes the first column
  // restart serves.
  if (after_dot == 0) {
    if (int64_t{rp} + ap < l.r_line[from]) {
      rp <<= l.rshift;
      ap <<= l.rshift;
    } else {
      rp = 1 << 30;
      ap = 1 << 30;
    }
  }
  for (int x0 = from; x0 < to; x0 += kFastChunk) {
    const int x1 = std::min(to, x0 + kFastChunk);
    FastPrepare(l, t, tm_ext, x0, x1, chunk);
    if (driver) {
      FastLoop<true>(l, chunk, x1 - x0, after_dot, rp, ap, bp, z);
    } else {
      FastLoop<false>(l, chunk, x1 - x0, after_dot, rp, ap, bp, z);
    }
    FastStore(l, chunk, x0, x1 - x0);
  }
  rp >>= l.rshift;
  ap >>= l.rshift;
}

struct DriverPixel {
  int64_t bound;   // o + bias must reach this for a dot
  int ink;         // e0
  int expected;    // expected_r
  int above;       // 3 x above-right + 5 x above + above-left
  int bias_reset;  // the bias after a dot on the left
};

// kDriver: aspect 1:1 and c1 6, the image driver's values, as constants
// (which frees registers in the serial loop).
template <bool kDriver>
void LineDriverCase(ETS_Ctx* etc, uchar* __restrict dest, const ETS_SrcPixel* __restrict src) {
  ETS_PlaneCtx* pc = etc->plane_ctx[0];
  const int width = etc->width;
  const int ax2 = kDriver ? 1 : etc->aspect_x * etc->aspect_x;
  const int ay2 = kDriver ? 1 : etc->aspect_y * etc->aspect_y;
  const signed char* __restrict tmline = etc->tmmat + (etc->y % etc->tmheight) * etc->tmwid;
  const int tmmask = etc->tmwid - 1;
  const int tm_offset = pc->tm_offset;
  const int64_t elo = etc->elo;
  const int64_t ehi = etc->ehi;
  int* __restrict err_line = pc->err_line;
  int* __restrict r_line = pc->r_line;
  int* __restrict a_line = pc->a_line;
  int* __restrict b_line = pc->b_line;
  const int c1 = kDriver ? 6 : pc->c1;
  const int rmul = 1 << (16 - c1);
  const int rlimit = 1 << (c1 + 14);
  constexpr int64_t kAlways = -(int64_t{1} << 60);
  constexpr int64_t kNever = int64_t{1} << 60;
  constexpr int kDotZ = 7 * 65536;  // what a dot takes off Z of the next pixel

  // Per input byte. A bound that always or never passes stays so after the
  // noise (below 2^47 in size) is taken off it.
  // The tables per input byte depend on the context's tables and
  // constants alone: made again only when those differ from the last
  // line's (kept per thread).
  struct Tables {
    int lut[256], dist_lut[256];
    signed char rs_lut[256];
    int ax2, ay2, c1, elo, ehi;
    bool valid;
    DriverByte bytes[256];
    bool left_shifts;  // every noise shift a left shift of at most 40
    FastTables fast;
    bool fast_route;   // the short route's tables hold
    int not_fast[257];  // bytes below v the short route does not take
  };
  thread_local Tables tab{};
  if (!tab.valid || std::memcmp(tab.lut, pc->lut, sizeof tab.lut) != 0 ||
      std::memcmp(tab.dist_lut, pc->dist_lut, sizeof tab.dist_lut) != 0 ||
      std::memcmp(tab.rs_lut, pc->rs_lut, sizeof tab.rs_lut) != 0 || tab.ax2 != ax2 || tab.ay2 != ay2 ||
      tab.c1 != c1 || tab.elo != elo || tab.ehi != ehi) {
    std::memcpy(tab.lut, pc->lut, sizeof tab.lut);
    std::memcpy(tab.dist_lut, pc->dist_lut, sizeof tab.dist_lut);
    std::memcpy(tab.rs_lut, pc->rs_lut, sizeof tab.rs_lut);
    tab.ax2 = ax2;
    tab.ay2 = ay2;
    tab.c1 = c1;
    tab.elo = static_cast<int>(elo);
    tab.ehi = static_cast<int>(ehi);
    tab.left_shifts = true;
    for (int v = 0; v < 256; ++v) {
      DriverByte& by = tab.bytes[v];
      const int e0 = pc->lut[v];
      const int64_t t = 0x8000 - e0;
      by.base = e0 == 0 ? kNever : t <= elo ? kAlways : t > ehi ? kNever : t;
      by.ink = e0;
      by.expected = pc->dist_lut[v];
      by.noise_shift = 24 - pc->rs_lut[v];
      by.bias_reset = Bias(ay2, by.expected, rlimit, rmul);
      tab.left_shifts = tab.left_shifts && by.noise_shift >= 0 && by.noise_shift <= 40;
    }
    tab.fast_route = FastTablesFor(pc, tab.fast);
    tab.not_fast[0] = 0;
    for (int v = 0; v < 256; ++v) tab.not_fast[v + 1] = tab.not_fast[v] + (tab.fast.ok[v] == 0);
    tab.valid = true;
  }
  const DriverByte* bytes = tab.bytes;
  const bool left_shifts = tab.left_shifts;
  // Per-line scratch, kept per thread so that no line allocates.
  thread_local std::vector<DriverPixel> scratch;
  if (scratch.size() < static_cast<size_t>(width) + 1) scratch.resize(static_cast<size_t>(width) + 1);
  DriverPixel* __restrict px = scratch.data();

  // The line in segments: runs of paper of at least kMinPaper columns go to
  // PaperRun, everything else (short gaps of paper included) through the
  // pixel loop below.
  constexpr int kMinPaper = 16;
  bool paper[256];
  int paper_values = 0;
  for (int v = 0; v < 256; ++v) {
    paper[v] = bytes[v].ink == 0;
    paper_values += paper[v];
  }
  // With white (255) the only paper value, stretches of ink skip eight
  // pixels at a time while no byte of them is 255.
  const bool only_white = paper[255] && paper_values == 1;
  thread_local std::vector<std::pair<int, int>> segments;
  segments.clear();
  {
    int seg_start = 0;
    int x = 0;
    while (x < width) {
      if (!paper[src[x]]) {
        ++x;
        if (only_white) {
          uint64_t word;
          while (x + 8 <= width) {
            std::memcpy(&word, src + x, 8);
            const uint64_t v = ~word;  // a 0 byte where src has 255
            if (((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0) break;
            x += 8;
          }
        }
        continue;
      }
      const int run = x;
      if (paper[255]) {
        uint64_t word;
        while (x + 8 <= width && (std::memcpy(&word, src + x, 8), word == ~uint64_t{0})) x += 8;
      }
      while (x < width && paper[src[x]]) ++x;
      if (x - run >= kMinPaper) {
        if (run > seg_start) segments.emplace_back(seg_start, run);
        seg_start = x;
      }
    }
    if (seg_start < width) segments.emplace_back(seg_start, width);
  }

  // One pixel's prepared values; `above` is its term of the line above.
  auto prepare_one = [&](auto all_left, int x, int above) {
    const DriverByte& by = bytes[src[x]];
    const int tm = tmline[(x + tm_offset) & tmmask];
    int64_t noise;
    if constexpr (decltype(all_left)::value) {
      noise = tm * (int64_t{1} << by.noise_shift);
    } else {
      noise = MatrixNoise(tm, 24 - by.noise_shift);
    }
    px[x].bound = by.base - noise;
    px[x].ink = by.ink;
    px[x].expected = by.expected;
    px[x].above = above;
    // After a dot the distance is ay2, unless the column's own distance
    // is smaller (on the first line).
    const int rl = r_line[x];
    px[x].bias_reset = rl >= ay2 ? by.bias_reset : Bias(rl, by.expected, rlimit, rmul);
  };
  // The first and last column of the line have one neighbour above.
  auto prepare = [&](auto all_left, int from, int to) {
    if (from == 0) prepare_one(all_left, 0, (width > 1 ? 3 * err_line[1] : 0) + 5 * err_line[0]);
    const int lo = std::max(from, 1);
    const int hi = std::min(to, width - 1);
    for (int x = lo; x < hi; ++x) {
      prepare_one(all_left, x, 3 * err_line[x + 1] + 5 * err_line[x] + err_line[x - 1]);
    }
    if (to == width && width > 1) {
      prepare_one(all_left, width - 1, 5 * err_line[width - 1] + err_line[width - 2]);
    }
  };
  // Segments the short route takes (see FastSegment): the bytes of the
  // segment between its least and greatest all taken by the route (else
  // looked at one by one), no column's distance above the cap.
  const FastTables& fast_tables = tab.fast;
  thread_local std::vector<char> fast_segment;
  fast_segment.assign(segments.size(), 0);
  // The short loop keeps distances times 2^(16 - c1) (see FastSegment).
  if (tab.fast_route && int64_t{2} * ay2 * rmul <= (1 << 29)) {
    for (size_t i = 0; i < segments.size(); ++i) {
      const auto [from, to] = segments[i];
      int lo = 255, hi = 0, x = from;
      unsigned r_bits = 0;
#if defined(__SSE2__)
      __m128i vlo = _mm_set1_epi8(-1), vhi = _mm_setzero_si128(), vr = _mm_setzero_si128();
      for (; x + 16 <= to; x += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        vlo = _mm_min_epu8(vlo, b);
        vhi = _mm_max_epu8(vhi, b);
        for (int q = 0; q < 16; q += 4) {
          vr = _mm_or_si128(vr, _mm_loadu_si128(reinterpret_cast<const __m128i*>(r_line + x + q)));
          vr = _mm_or_si128(vr, _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_line + x + q)));
        }
      }
      alignas(16) unsigned char blo[16], bhi[16];
      alignas(16) unsigned rb[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(blo), vlo);
      _mm_store_si128(reinterpret_cast<__m128i*>(bhi), vhi);
      _mm_store_si128(reinterpret_cast<__m128i*>(rb), vr);
      for (int q = 0; q < 16; ++q) {
        lo = std::min<int>(lo, blo[q]);
        hi = std::max<int>(hi, bhi[q]);
      }
      r_bits = rb[0] | rb[1] | rb[2] | rb[3];
#endif
      for (; x < to; ++x) {
        lo = std::min<int>(lo, src[x]);
        hi = std::max<int>(hi, src[x]);
        r_bits |= static_cast<unsigned>(r_line[x]) | static_cast<unsigned>(a_line[x]);
      }
      // The values are not negative: their OR bounds the greatest.
      bool fast = r_bits <= static_cast<unsigned>(rlimit);
      if (!fast) {
        fast = true;
        for (int c = from; c < to && fast; ++c) fast = r_line[c] <= rlimit && a_line[c] <= rlimit;
      }
      if (fast && tab.not_fast[hi + 1] - tab.not_fast[lo] != 0) {
        for (int c = from; c < to && fast; ++c) fast = fast_tables.ok[src[c]] != 0;
      }
      fast_segment[i] = fast;
    }
  }
  auto above_at = [&](int x) {  // the terms of the line above at column x
    return (x + 1 < width ? 3 * err_line[x + 1] : 0) + 5 * err_line[x] + (x > 0 ? err_line[x - 1] : 0);
  };
  // Everything a segment reads of the previous line is taken before any
  // segment overwrites it.
  for (size_t i = 0; i < segments.size(); ++i) {
    const auto [from, to] = segments[i];
    if (fast_segment[i]) {
      px[from].above = above_at(from);  // the z the short route enters with
    } else if (left_shifts) {
      prepare(std::true_type{}, from, to);
    } else {
      prepare(std::false_type{}, from, to);
    }
  }
  px[width].above = 0;

  // The pixel loop over [from, to), from the carried state.
  // (Captures by value: the constants and line pointers stay in registers.)
  auto segment_loop = [=](int from, int to, int& after_dot, int& rp, int& ap, int& bp, int z_carry) {
    int* __restrict err_out = err_line;
    int* __restrict r_out_line = r_line;
    int* __restrict a_out_line = a_line;
    int* __restrict b_out_line = b_line;
    uchar* __restrict dots = dest;
    const DriverPixel* __restrict pixels = px;
    for (int x = from; x < to; ++x) {
      const int rl = r_out_line[x];
      const int al = a_out_line[x];
      const int bl = b_out_line[x];
      const DriverPixel& p = pixels[x];
      // Distance update from the carried state ...
      int r = rp + ap, a = ap + 2 * ay2, b = bp;
      KeepIfLess(r, rl, r, rl, a, al, b, bl);
      int bias = Bias(r, p.expected, rlimit, rmul);
      // ... or from the reset state.
      int rr = ay2, ar = 3 * ay2, br = ax2;
      KeepIfLess(ay2, rl, rr, rl, ar, al, br, bl);
      int z = z_carry;
      TakeIfSet(after_dot, r, rr, a, ar, b, br, bias, p.bias_reset, z, z_carry - kDotZ);
      const int o = z >> 4;
      const int kept = p.ink != 0 ? o + p.ink : 0;  // stored error without a dot
      int r_out = r, a_out = a, b_out = b, err = kept;
      const int dot = DotIfReached(int64_t{o} + bias, p.bound, r_out, 0, a_out, ay2, b_out, ax2, err,
                                   kept - 65536);
      dots[x] = static_cast<uchar>(dot);
      err_out[x] = err;
      r_out_line[x] = r_out;
      a_out_line[x] = a_out;
      b_out_line[x] = b_out;
      z_carry = 7 * kept + pixels[x + 1].above;
      rp = r;
      ap = a;
      bp = b;
      after_dot = dot;
    }
  };

  FastLine line;
  line.src = src;
  line.tm_row = tmline;
  line.tm_offset = tm_offset;
  line.err_line = err_line;
  line.r_line = r_line;
  line.a_line = a_line;
  line.b_line = b_line;
  line.dest = dest;
  line.width = width;
  line.ax2 = ax2;
  line.ay2 = ay2;
  line.rshift = 16 - c1;
  line.elo = static_cast<int>(elo);
  line.ehi = static_cast<int>(ehi);

  // The running state of the per-pixel form between segments.
  int run_r = 0, run_a = ay2, run_b = ax2;
  int done = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const auto [from, to] = segments[i];
    if (from > done) {
      PaperRun(done, from, ay2, run_r, run_a, run_b, r_line, a_line, b_line, err_line, dest);
    }
    // Column 0 starts from the reset state with nothing on its left; a
    // segment after paper from the state the paper left, with no error.
    int after_dot = from == 0 ? 1 : 0;
    int rp = from == 0 ? 0 : run_r, ap = from == 0 ? 0 : run_a, bp = from == 0 ? 0 : run_b;
    if (fast_segment[i]) {
      FastSegment(line, fast_tables, from, to, after_dot, rp, ap, bp, px[from].above);
    } else {
      segment_loop(from, to, after_dot, rp, ap, bp, px[from].above + (from == 0 ? kDotZ : 0));
    }
    run_r = after_dot ? 0 : rp;
    run_a = after_dot ? ay2 : ap;
    run_b = after_dot ? ax2 : bp;
    done = to;
  }
  if (done < width) PaperRun(done, width, ay2, run_r, run_a, run_b, r_line, a_line, b_line, err_line, dest);
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

  // Running values per plane: a fixed array for the usual plane counts, so
  // that a line allocates nothing.
  constexpr int kFixedPlanes = 8;
  PlaneRun fixed_run[kFixedPlanes];
  std::vector<PlaneRun> more_run;
  if (n_planes > kFixedPlanes) more_run.resize(n_planes);
  PlaneRun* run = n_planes > kFixedPlanes ? more_run.data() : fixed_run;
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
          err = BiasedError(o, ets_bias, ets_style);
        }
        if (r_style == 1) {
          err += MatrixNoise(tmline[(x + pc->tm_offset) & tmmask], rs);
        } else if (r_style == 2) {
          uint32_t next = seed1 + seed2;
          if (next < seed1) ++next;
          seed2 = seed1;
          seed1 = next;
          err += GeneratorNoise(next, rs);
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
    const bool driver = etc->aspect_x == 1 && etc->aspect_y == 1 && etc->plane_ctx[0]->c1 == 6;
    if (driver) {
      LineDriverCase<true>(etc, d, sp);
    } else {
      LineDriverCase<false>(etc, d, sp);
    }
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

// Packs a line of levels 0 and 1 into (width + 7) / 8 bytes, most
// significant bit first, a bit set for level 0; trailing bits 0.
void PackLevelZero(const uchar* in, int width, uchar* out) {
  int x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight pixels at a time: bit 0 of every byte inverted, gathered into one
  // byte by a multiplication whose partial products land on distinct bits
  // (byte i -> bit 7 - i).
  for (; x + 8 <= width; x += 8) {
    uint64_t v;
    std::memcpy(&v, in + x, 8);
    const uint64_t zero = ~v & 0x0101010101010101ull;
    out[x >> 3] = static_cast<uchar>((zero * 0x8040201008040201ull) >> 56);
  }
#endif
  for (; x < width; x += 8) {
    unsigned bits = 0;
    for (int i = 0; i < 8 && x + i < width; ++i) bits |= static_cast<unsigned>(in[x + i] == 0) << (7 - i);
    out[x >> 3] = static_cast<uchar>(bits);
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

ETS_Ctx* quill_dither::NewImageContext(int width, int height, int planes) {
  const int levels = 2;
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

  ETS_Ctx* ctx = ets_new(&params);
  if (ctx == nullptr) return nullptr;
  quill_log::Debug("xs=%d ys=%d byte_count=%d planes=%d levels=%d polarity=%d", width, height, 1, planes,
                   levels, 0);
  return ctx;
}

void quill_dither::PackDots(const uchar* in, int width, uchar* out) {
  int x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight pixels at a time, gathered as in PackLevelZero.
  for (; x + 8 <= width; x += 8) {
    uint64_t v;
    std::memcpy(&v, in + x, 8);
    out[x >> 3] = static_cast<uchar>(((v & 0x0101010101010101ull) * 0x8040201008040201ull) >> 56);
  }
#endif
  for (; x < width; x += 8) {
    unsigned bits = 0;
    for (int i = 0; i < 8 && x + i < width; ++i) bits |= static_cast<unsigned>(in[x + i] != 0) << (7 - i);
    out[x >> 3] = static_cast<uchar>(bits);
  }
}

extern "C" int ETS_dither_main(const uint8_t* pin, uint8_t* pout, int width, int height, uint8_t channel,
                               int src_pitch, int dst_pitch) {
  const int planes = channel;
  const int levels = 2;
  if (width <= 0 || height <= 0) return 0;
  if (planes == 0 || pin == nullptr || pout == nullptr) return -1;
  std::unique_ptr<ETS_Ctx, CtxFree> ctx(quill_dither::NewImageContext(width, height, planes));
  if (!ctx) return -1;

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
    uint8_t* orow = pout + static_cast<ptrdiff_t>(y) * dst_pitch;
    if (planes == 1) {
      // Level 0 maps to 255 and level 1 to 0, and the one-bit writer sets
      // the bits of non-zero bytes: the bits of pixels without ink.
      PackLevelZero(dst[0], width, orow);
      continue;
    }
    for (int j = 0; j < planes; ++j) {
      uchar* d = dst[j];
      for (int x = 0; x < width; ++x) d[x] = static_cast<uchar>(~(d[x] * 255 / (levels - 1)));
    }
    write_pam_line(dst.data(), width, orow, planes, nullptr);
  }
  return 0;
}

extern "C" FIBITMAP* ets_dither(FIBITMAP* src_dib) {
  if (src_dib == nullptr) return nullptr;
  const int width = static_cast<int>(FreeImage_GetWidth(src_dib));
  const int height = static_cast<int>(FreeImage_GetHeight(src_dib));
  // An 8-bit linear grey input already holds the grey values the copy would
  // (its indices); it is only read, so it serves without a copy.
  const bool grey_input = FreeImage_GetImageType(src_dib) == FIT_BITMAP && FreeImage_GetBPP(src_dib) == 8 &&
                          FreeImage_GetColorType(src_dib) == FIC_MINISBLACK;
  FiBitmap copy(grey_input ? nullptr : FreeImage_ConvertToGreyscale(src_dib));
  FIBITMAP* grey = grey_input ? src_dib : copy.get();
  if (grey == nullptr) return nullptr;
  FiBitmap result(FreeImage_Allocate(width, height, 1));
  if (!result) return nullptr;
  RGBQUAD* pal = FreeImage_GetPalette(result.get());
  pal[0] = RGBQUAD{0, 0, 0, 0};
  pal[1] = RGBQUAD{255, 255, 255, 0};
  if (ETS_dither_main(FreeImage_GetBits(grey), FreeImage_GetBits(result.get()), width, height, 1,
                      static_cast<int>(FreeImage_GetPitch(grey)),
                      static_cast<int>(FreeImage_GetPitch(result.get()))) != 0) {
    return nullptr;
  }
  return result.release();
}
