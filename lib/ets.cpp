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
  ctx->tmmat = ets_noise_matrix;
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

extern "C" void ets_line(ETS_Ctx* etc, uchar** dest, const ETS_SrcPixel* const* src) {
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

  int k = 0;
  for (int x = width - 1; x >= 0; --x) {
    const int s = k + c_line[x];
    c_line[x] = (s >> 1) - (s >> 5);
    k = s >> 1;
  }

  for (int p = 0; p < n_planes; ++p) {
    ETS_PlaneCtx* pc = etc->plane_ctx[p];
    const int rlimit = 1 << (pc->c1 + 14);
    int rv = 0;
    int av = ay2;
    int bv = ax2;
    for (int x = width - 1; x >= 0; --x) {
      if (rv + av + bv < pc->r_line[x] + pc->b_line[x]) {
        rv += av;
        av += 2 * ay2;
      } else {
        rv = pc->r_line[x];
        av = pc->a_line[x];
        bv = pc->b_line[x];
      }
      if (rv > rlimit) rv = rlimit;
      pc->a_line[x] = av;
      pc->b_line[x] = bv + 2 * ax2;
      pc->r_line[x] = rv + bv;
    }
  }

  etc->seed1 = seed1;
  etc->seed2 = seed2;
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
