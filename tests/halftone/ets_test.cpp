// Even-toned screening: the engine against its plain model, the properties
// of flat tones, parameter handling and the aligned buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/log_capture.h"
#include "dither_reference.h"
#include "halftone/ets.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

using dither_ref::FromMono;
using dither_ref::Grey;
using dither_ref::Mono;

struct CtxFree {
  void operator()(ETS_Ctx* c) const { ets_free(c); }
};
using Ctx = std::unique_ptr<ETS_Ctx, CtxFree>;

Mono EtsDither(const Grey& g) {
  FiBitmap src(dither_ref::ToBitmap(g));
  FiBitmap out(ets_dither(src.get()));
  EXPECT_NE(out, nullptr);
  if (!out) return {};
  EXPECT_EQ(FreeImage_GetBPP(out.get()), 1u);
  EXPECT_TRUE(dither_ref::TrailingBitsClear(out.get()));
  const RGBQUAD* pal = FreeImage_GetPalette(out.get());
  EXPECT_EQ(pal[0].rgbRed, 0);
  EXPECT_EQ(pal[1].rgbRed, 255);
  return FromMono(out.get());
}

double InkShare(const Mono& m) {
  double ink = 0, n = 0;
  for (const auto& row : m) {
    for (int bit : row) {
      ink += 1 - bit;
      n += 1;
    }
  }
  return ink / n;
}

// Parameters of a one-plane, two-level screen like the image driver's.
struct OnePlaneParams {
  int lut[256];
  int* luts[1] = {lut};
  int c1_scale[1] = {1};
  int strength[1] = {0};
  ETS_Params p;
  explicit OnePlaneParams(int width) {
    for (int i = 0; i < 256; ++i) lut[i] = static_cast<int>(i / 255.0 * 16777216.0);
    std::memset(&p, 0, sizeof p);
    p.width = width;
    p.n_planes = 1;
    p.levels = 2;
    p.luts = luts;
    p.aspect_x = 1;
    p.aspect_y = 1;
    p.strengths = strength;
    p.c1_scale = c1_scale;
    p.ets_style = 1;
    p.r_style = 1;
    p.polarity = ETS_BLACK_IS_ZERO;
  }
};

// Bit-for-bit agreement with the plain model, including images taller and
// wider than the noise matrix (its rows and columns wrap).
TEST(Ets, AgreesWithPlainModel) {
  const int sizes[][2] = {{1, 1}, {7, 5}, {40, 30}, {300, 12}, {9, 300}};
  unsigned seed = 11;
  for (const auto& sz : sizes) {
    const Grey g = dither_ref::RandomGrey(sz[0], sz[1], seed);
    srand(seed);
    const Mono lib = EtsDither(g);
    srand(seed);
    EXPECT_EQ(lib, dither_ref::EtsOnePlane(g)) << sz[0] << "x" << sz[1];
    ++seed;
  }
  Grey ramp(64, std::vector<int>(200));
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 200; ++x) ramp[y][x] = (x / 25 + y / 16) % 4 == 1 ? 0 : x * 255 / 199;
  }
  srand(5);
  const Mono lib = EtsDither(ramp);
  srand(5);
  EXPECT_EQ(lib, dither_ref::EtsOnePlane(ramp));
}

// ets_line takes faster routes for one plane; they must give exactly what
// the plain per-pixel form gives, for every style, noise source, level
// count, coupling and aspect ratio, and leave the same state behind.
TEST(Ets, FastPathsMatchTheGeneralForm) {
  const int w = 77;
  int case_no = 0;
  for (int levels : {2, 3}) {
    for (int style : {0, 1, 2, 3, 5}) {
      for (int r_style : {0, 1, 2}) {
        for (int strength : {0, 40}) {
          for (auto aspect : {std::pair{1, 1}, std::pair{1, 2}, std::pair{2, 1}}) {
            ++case_no;
            OnePlaneParams op(w);
            op.p.levels = levels;
            op.p.ets_style = style;
            op.p.r_style = r_style;
            op.strength[0] = strength;
            op.p.aspect_x = aspect.first;
            op.p.aspect_y = aspect.second;
            if (case_no % 3 == 0) op.p.luts = nullptr;
            srand(case_no);
            Ctx fast(ets_new(&op.p));
            srand(case_no);
            Ctx plain(ets_new(&op.p));
            ASSERT_TRUE(fast && plain);
            const Grey g = dither_ref::RandomGrey(w, 40, case_no);
            std::vector<uchar> in(w), out_fast(w), out_plain(w);
            const ETS_SrcPixel* src[1] = {in.data()};
            uchar* df[1] = {out_fast.data()};
            uchar* dp[1] = {out_plain.data()};
            for (int y = 0; y < 40; ++y) {
              for (int x = 0; x < w; ++x) {
                // Runs of white and black between random greys.
                in[x] = static_cast<uchar>((x / 11 + y / 5) % 4 == 0 ? 255 : (x / 7 + y) % 9 == 0 ? 0 : g[y][x]);
              }
              ets_line(fast.get(), df, src);
              ets_line_general(plain.get(), dp, src);
              ASSERT_EQ(out_fast, out_plain) << "case " << case_no << " line " << y;
            }
            const ETS_PlaneCtx* a = fast->plane_ctx[0];
            const ETS_PlaneCtx* b = plain->plane_ctx[0];
            for (int x = 0; x < w; ++x) {
              ASSERT_EQ(a->err_line[x], b->err_line[x]) << case_no;
              ASSERT_EQ(a->r_line[x], b->r_line[x]) << case_no;
              ASSERT_EQ(a->a_line[x], b->a_line[x]) << case_no;
              ASSERT_EQ(a->b_line[x], b->b_line[x]) << case_no;
              ASSERT_EQ(fast->c_line[x], plain->c_line[x]) << case_no;
            }
            EXPECT_EQ(fast->seed1, plain->seed1);
            EXPECT_EQ(fast->seed2, plain->seed2);
            EXPECT_EQ(fast->y, plain->y);
          }
        }
      }
    }
  }
}

// Paper: long white runs, whole white lines and white stretches taller and
// wider than the distance cap (2^20, 1024 columns), where the fast form
// skips the pixel loop and moves the distance state in blocks, for the
// image driver's parameters and for other aspect ratios and distance
// exponents. Every line and the state left behind must be the plain form's.
TEST(Ets, PaperAndLongWhiteStretchesMatchTheGeneralForm) {
  struct Case {
    int width, height, ax, ay, c1_scale;
  };
  const Case cases[] = {{2600, 1300, 1, 1, 1}, {1500, 700, 1, 2, 0}, {900, 500, 2, 1, 3}, {37, 300, 1, 1, 1}};
  int case_no = 0;
  for (const Case& c : cases) {
    ++case_no;
    OnePlaneParams op(c.width);
    op.p.aspect_x = c.ax;
    op.p.aspect_y = c.ay;
    op.c1_scale[0] = c.c1_scale;
    srand(case_no);
    Ctx fast(ets_new(&op.p));
    srand(case_no);
    Ctx plain(ets_new(&op.p));
    ASSERT_TRUE(fast && plain);
    std::vector<uchar> in(c.width), out_fast(c.width), out_plain(c.width);
    const ETS_SrcPixel* src[1] = {in.data()};
    uchar* df[1] = {out_fast.data()};
    uchar* dp[1] = {out_plain.data()};
    uint32_t rng = 12345u + case_no;
    for (int y = 0; y < c.height; ++y) {
      // Text-like ink in the first tenth and around three quarters of the
      // page, a grey band, single dots, and paper everywhere else.
      const bool text = y < c.height / 10 || (y > c.height * 3 / 4 && y < c.height * 3 / 4 + 40);
      for (int x = 0; x < c.width; ++x) {
        rng = rng * 1664525u + 1013904223u;
        uchar v = 255;
        if (text && (x / 13) % 3 != 0 && (rng >> 28) < 6) v = static_cast<uchar>((rng >> 8) & 0x7F);
        if (y % 97 == 5 && x % 211 == 17) v = 0;
        if (y > c.height / 2 && y < c.height / 2 + 8 && x > c.width / 3 && x < c.width / 3 + 300) v = 200;
        in[x] = v;
      }
      ets_line(fast.get(), df, src);
      ets_line_general(plain.get(), dp, src);
      ASSERT_EQ(out_fast, out_plain) << "case " << case_no << " line " << y;
    }
    const ETS_PlaneCtx* a = fast->plane_ctx[0];
    const ETS_PlaneCtx* b = plain->plane_ctx[0];
    for (int x = 0; x < c.width; ++x) {
      ASSERT_EQ(a->err_line[x], b->err_line[x]) << case_no << " x " << x;
      ASSERT_EQ(a->r_line[x], b->r_line[x]) << case_no << " x " << x;
      ASSERT_EQ(a->a_line[x], b->a_line[x]) << case_no << " x " << x;
      ASSERT_EQ(a->b_line[x], b->b_line[x]) << case_no << " x " << x;
    }
  }
}

// The driver case (one plane, two levels, ets_style 1, matrix noise, no
// coupling), and the generator noise, with parameters the image driver
// never uses: noise shifts beyond 24 (right shifts), below 0 and far out of
// range, noise tables, other distance
// exponents (negative ones included), the other polarity, lines wider than
// the noise matrix and more lines than it has rows.
TEST(Ets, DriverCaseMatchesTheGeneralFormForUnusualParameters) {
  struct Case {
    int rand_scale;
    bool noise_luts;
    int c1_scale;
    ETS_POLARITY polarity;
    int aspect_x, aspect_y;
    double distscale;
  };
  const Case cases[] = {
      {0, false, 1, ETS_BLACK_IS_ZERO, 1, 1, 0},  {-9, false, 1, ETS_BLACK_IS_ZERO, 1, 1, 0},
      {45, false, 1, ETS_BLACK_IS_ZERO, 1, 1, 0}, {-150, false, 1, ETS_BLACK_IS_ZERO, 1, 1, 0},
      {12, false, 1, ETS_BLACK_IS_ZERO, 1, 1, 0}, {25, false, 0, ETS_BLACK_IS_ZERO, 1, 1, 0},
      {0, true, 1, ETS_BLACK_IS_ONE, 1, 1, 0},    {0, false, -5, ETS_BLACK_IS_ZERO, 1, 1, 0},
      {0, false, 12, ETS_BLACK_IS_ZERO, 1, 1, 0}, {0, false, 20, ETS_BLACK_IS_ZERO, 4, 3, 0},
      {-3, true, 3, ETS_BLACK_IS_ONE, 2, 1, 0},   {0, false, 1, ETS_BLACK_IS_ZERO, 1, 4, 2.5},
  };
  const int w = 300, h = 270;
  int case_no = 0;
  for (const Case& c : cases) {
    for (int r_style : {1, 2}) {
      ++case_no;
      OnePlaneParams op(w);
      op.p.r_style = r_style;
      op.p.rand_scale = c.rand_scale;
      op.c1_scale[0] = c.c1_scale;
      op.p.polarity = c.polarity;
      op.p.aspect_x = c.aspect_x;
      op.p.aspect_y = c.aspect_y;
      op.p.distscale = c.distscale;
      int noise[256];
      int* noise_luts[1] = {noise};
      for (int i = 0; i < 256; ++i) noise[i] = (i * 37) % 3000;
      if (c.noise_luts) op.p.rand_scale_luts = noise_luts;
      srand(case_no);
      Ctx fast(ets_new(&op.p));
      srand(case_no);
      Ctx plain(ets_new(&op.p));
      ASSERT_TRUE(fast && plain) << case_no;
      const Grey g = dither_ref::RandomGrey(w, h, case_no + 100);
      std::vector<uchar> in(w), out_fast(w), out_plain(w);
      const ETS_SrcPixel* src[1] = {in.data()};
      uchar* df[1] = {out_fast.data()};
      uchar* dp[1] = {out_plain.data()};
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          // Smooth tones with runs of white and black, and some noise.
          const int smooth = (x * 255 / w + y) % 256;
          in[x] = static_cast<uchar>((x / 13 + y / 9) % 5 == 0 ? 255
                                     : (x / 7 + y) % 11 == 0   ? 0
                                     : (y % 3 == 0)            ? g[y][x]
                                                               : smooth);
        }
        ets_line(fast.get(), df, src);
        ets_line_general(plain.get(), dp, src);
        ASSERT_EQ(out_fast, out_plain) << "case " << case_no << " line " << y;
      }
      const ETS_PlaneCtx* a = fast->plane_ctx[0];
      const ETS_PlaneCtx* b = plain->plane_ctx[0];
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(a->err_line[x], b->err_line[x]) << case_no;
        ASSERT_EQ(a->r_line[x], b->r_line[x]) << case_no;
        ASSERT_EQ(a->a_line[x], b->a_line[x]) << case_no;
        ASSERT_EQ(a->b_line[x], b->b_line[x]) << case_no;
      }
    }
  }
}

// A dense page as wide as a Letter sheet at 360 dpi (wider than the noise
// matrix, more lines than it has rows): smooth tones with ripples and grain
// nearly everywhere, a white band taller than a few lines, and single white
// and black pixels. The image driver's screen (ets_dither) must give the
// plain model's bits; it shares nothing with the library, the distance pass
// included. Every one-plane route (each ets_style, noise source and level
// count, with and without coupling; the image driver's settings also with a
// distance cap of 2^9, which the white band reaches) must give the bytes
// and distance state of the library's per-pixel form on every line and
// leave its whole state, down to the coupling line and the generator seeds.
TEST(Ets, DensePageMatchesTheGeneralFormForEverySetting) {
  const int w = 3060, h = 280;
  std::vector<std::vector<uchar>> page(h, std::vector<uchar>(w));
  uint32_t rng = 2024;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      rng = rng * 1664525u + 1013904223u;
      const int ripple = ((x * 7 + y * 3) % 64) - 32;
      int v = (x * 255 / w + y) % 256 + ripple / 4 + static_cast<int>(rng >> 29) - 4;
      if (y > 100 && y < 200 && x > 1000) v = 255;  // paper, 50 lines from ink at its middle
      if ((rng >> 20) % 997 == 0) v = (rng >> 10) & 1 ? 255 : 0;
      page[y][x] = static_cast<uchar>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  Grey grey(h, std::vector<int>(w));
  for (int y = 0; y < h; ++y) grey[y].assign(page[y].begin(), page[y].end());
  srand(31);
  const Mono lib = EtsDither(grey);
  srand(31);
  ASSERT_EQ(lib, dither_ref::EtsOnePlane(grey));
  int case_no = 0;
  for (int levels : {2, 3}) {
    for (int style : {0, 1, 2, 3, 5}) {
      for (int r_style : {0, 1, 2}) {
        for (int strength : {0, 40}) {
         for (int c1_scale : {1, 12}) {
          // The image driver's settings on the full page; the rest on fewer
          // lines, which reach every route just the same.
          const bool driver = levels == 2 && style == 1 && r_style == 1 && strength == 0;
          if (c1_scale != 1 && !driver) continue;
          ++case_no;
          const int lines = driver ? h : 40;
          OnePlaneParams op(w);
          op.c1_scale[0] = c1_scale;
          op.p.levels = levels;
          op.p.ets_style = style;
          op.p.r_style = r_style;
          op.strength[0] = strength;
          srand(case_no);
          Ctx fast(ets_new(&op.p));
          srand(case_no);
          Ctx plain(ets_new(&op.p));
          ASSERT_TRUE(fast && plain);
          std::vector<uchar> out_fast(w), out_plain(w);
          uchar* df[1] = {out_fast.data()};
          uchar* dp[1] = {out_plain.data()};
          for (int y = 0; y < lines; ++y) {
            const int row = driver ? y : (y * 7) % h;
            const ETS_SrcPixel* src[1] = {page[row].data()};
            ets_line(fast.get(), df, src);
            ets_line_general(plain.get(), dp, src);
            ASSERT_EQ(out_fast, out_plain) << "case " << case_no << " line " << y;
            const ETS_PlaneCtx* a = fast->plane_ctx[0];
            const ETS_PlaneCtx* b = plain->plane_ctx[0];
            const size_t bytes = sizeof(int) * w;
            ASSERT_EQ(std::memcmp(a->r_line, b->r_line, bytes), 0) << "case " << case_no << " line " << y;
            ASSERT_EQ(std::memcmp(a->a_line, b->a_line, bytes), 0) << "case " << case_no << " line " << y;
            ASSERT_EQ(std::memcmp(a->b_line, b->b_line, bytes), 0) << "case " << case_no << " line " << y;
          }
          const ETS_PlaneCtx* a = fast->plane_ctx[0];
          const ETS_PlaneCtx* b = plain->plane_ctx[0];
          for (int x = 0; x < w; ++x) {
            ASSERT_EQ(a->err_line[x], b->err_line[x]) << case_no << " x " << x;
            ASSERT_EQ(a->r_line[x], b->r_line[x]) << case_no << " x " << x;
            ASSERT_EQ(a->a_line[x], b->a_line[x]) << case_no << " x " << x;
            ASSERT_EQ(a->b_line[x], b->b_line[x]) << case_no << " x " << x;
            ASSERT_EQ(fast->c_line[x], plain->c_line[x]) << case_no << " x " << x;
          }
          EXPECT_EQ(fast->seed1, plain->seed1) << case_no;
          EXPECT_EQ(fast->seed2, plain->seed2) << case_no;
          EXPECT_EQ(fast->y, plain->y) << case_no;
         }
        }
      }
    }
  }
}

// Without coupling (strength 0) and without noise, the planes of one
// context screen exactly as separate one-plane contexts whose initial error
// lines take the same draws from rand() (plane p draws after planes
// 0..p-1).
TEST(Ets, PlanesWithoutCouplingScreenIndependently) {
  const int w = 45, h = 30;
  for (int planes : {3, 10}) {
    std::vector<int> lut(256), strengths(planes, 0), c1_scale(planes, 1);
    for (int i = 0; i < 256; ++i) lut[i] = static_cast<int>(i / 255.0 * 16777216.0);
    std::vector<int*> luts(planes, lut.data());
    ETS_Params p;
    std::memset(&p, 0, sizeof p);
    p.width = w;
    p.n_planes = planes;
    p.levels = 3;
    p.luts = luts.data();
    p.aspect_x = 1;
    p.aspect_y = 2;
    p.strengths = strengths.data();
    p.c1_scale = c1_scale.data();
    p.ets_style = 2;
    p.r_style = 0;
    srand(77);
    Ctx multi(ets_new(&p));
    ASSERT_NE(multi, nullptr);
    std::vector<Ctx> single;
    for (int j = 0; j < planes; ++j) {
      srand(77);
      for (int k = 0; k < j * w; ++k) rand();
      ETS_Params one = p;
      one.n_planes = 1;
      single.emplace_back(ets_new(&one));
      ASSERT_NE(single.back(), nullptr);
    }
    std::vector<std::vector<uchar>> in(planes, std::vector<uchar>(w)), out(planes, std::vector<uchar>(w)),
        out1(planes, std::vector<uchar>(w));
    std::vector<const ETS_SrcPixel*> src(planes);
    std::vector<uchar*> dst(planes);
    for (int j = 0; j < planes; ++j) {
      src[j] = in[j].data();
      dst[j] = out[j].data();
    }
    for (int y = 0; y < h; ++y) {
      for (int j = 0; j < planes; ++j) {
        for (int x = 0; x < w; ++x) in[j][x] = static_cast<uchar>((x * 7 + y * 3 + j * 40) % 256);
      }
      ets_line(multi.get(), dst.data(), src.data());
      for (int j = 0; j < planes; ++j) {
        const ETS_SrcPixel* s1[1] = {in[j].data()};
        uchar* d1[1] = {out1[j].data()};
        ets_line(single[j].get(), d1, s1);
        ASSERT_EQ(out[j], out1[j]) << planes << " planes, plane " << j << ", line " << y;
      }
    }
  }
}

TEST(Ets, AllWhitePrintsNothingAndCarriesNoError) {
  OnePlaneParams op(50);
  Ctx ctx(ets_new(&op.p));
  ASSERT_NE(ctx, nullptr);
  std::vector<uchar> in(50, 255), out(50, 7);
  const ETS_SrcPixel* src[1] = {in.data()};
  uchar* dst[1] = {out.data()};
  for (int y = 0; y < 5; ++y) {
    ets_line(ctx.get(), dst, src);
    for (int x = 0; x < 50; ++x) {
      ASSERT_EQ(out[x], 0);
      ASSERT_EQ(ctx->plane_ctx[0]->err_line[x], 0);
      ASSERT_EQ(ctx->c_line[x], 0);
    }
  }
  EXPECT_EQ(ctx->y, 5);
  EXPECT_EQ(InkShare(EtsDither(dither_ref::FlatGrey(70, 20, 255))), 0.0);
}

// ets_dither screens the grey values of its input: a 24-bit picture and an
// 8-bit minimum-is-white one of the same greys give the result of the
// 8-bit grey one, and the input stays as it was.
TEST(Ets, DitherScreensTheGreyOfAnyInput) {
  const Grey g = dither_ref::RandomGrey(61, 23, 9);
  FiBitmap grey(dither_ref::ToBitmap(g));
  FiBitmap rgb(FreeImage_ConvertTo24Bits(grey.get()));
  FiBitmap inverted(dither_ref::ToBitmap(g));
  RGBQUAD* pal = FreeImage_GetPalette(inverted.get());
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0};
  for (int y = 0; y < 23; ++y) {
    BYTE* line = FreeImage_GetScanLine(inverted.get(), y);
    for (int x = 0; x < 61; ++x) line[x] = static_cast<BYTE>(255 - g[y][x]);
  }
  ASSERT_EQ(FreeImage_GetColorType(inverted.get()), FIC_MINISWHITE);
  auto screen = [](FIBITMAP* in) {
    srand(4);
    FiBitmap out(ets_dither(in));
    EXPECT_NE(out, nullptr);
    return out ? FromMono(out.get()) : Mono{};
  };
  const Mono expected = screen(grey.get());
  EXPECT_EQ(screen(rgb.get()), expected);
  EXPECT_EQ(screen(inverted.get()), expected);
  EXPECT_EQ(FreeImage_GetScanLine(inverted.get(), 0)[0], 255 - g[0][0]);
  EXPECT_EQ(FreeImage_GetScanLine(grey.get(), 0)[0], g[0][0]);
}

TEST(Ets, AllBlackPrintsEveryDot) {
  EXPECT_EQ(InkShare(EtsDither(dither_ref::FlatGrey(70, 20, 0))), 1.0);
}

TEST(Ets, FlatGreysCoverWithinOnePercent) {
  for (int grey : {8, 32, 64, 100, 128, 160, 192, 224, 247}) {
    const double ink = InkShare(EtsDither(dither_ref::FlatGrey(256, 256, grey)));
    EXPECT_NEAR(ink, 1.0 - grey / 255.0, 0.01) << grey;
  }
}

// Light tones: dots come out evenly spaced, not clumped. No two dots of a
// grey-240 patch touch (4-neighbours).
TEST(Ets, LightTonesHaveSeparatedDots) {
  const Mono m = EtsDither(dither_ref::FlatGrey(128, 128, 240));
  int touching = 0, dots = 0;
  for (int y = 1; y < 127; ++y) {
    for (int x = 1; x < 127; ++x) {
      if (m[y][x]) continue;
      ++dots;
      touching += !m[y][x + 1] || !m[y + 1][x];
    }
  }
  EXPECT_GT(dots, 700);
  EXPECT_LT(touching, dots / 50);
}

TEST(Ets, ReseededRunsRepeatAndUnseededRunsDiffer) {
  const Grey g = dither_ref::FlatGrey(64, 64, 128);
  srand(3);
  const Mono a = EtsDither(g);
  srand(3);
  EXPECT_EQ(EtsDither(g), a);
  EXPECT_NE(EtsDither(g), a);  // the initial error line comes from rand()
}

TEST(Ets, UnsupportedAspectRatioReturnsNull) {
  quill_test::LogCapture log;
  OnePlaneParams op(10);
  for (auto r : {std::pair{3, 3}, std::pair{2, 2}, std::pair{5, 1}, std::pair{0, 1}, std::pair{1, -4}}) {
    op.p.aspect_x = r.first;
    op.p.aspect_y = r.second;
    EXPECT_EQ(ets_new(&op.p), nullptr);
    EXPECT_EQ(log.Count(spdlog::level::err, "aspect ratio of " + std::to_string(r.first) + ":" +
                                                std::to_string(r.second) + " not supported"),
              1);
  }
  op.p.distscale = 1.5;  // an explicit scale needs no table entry
  op.p.aspect_x = 5;
  op.p.aspect_y = 1;
  Ctx ctx(ets_new(&op.p));
  EXPECT_NE(ctx, nullptr);
  op.p.aspect_x = 65;  // the distance state would soon overflow
  EXPECT_EQ(ets_new(&op.p), nullptr);
  op.p.aspect_x = 0;
  EXPECT_EQ(ets_new(&op.p), nullptr);
  EXPECT_EQ(ets_new(nullptr), nullptr);
  op.p.levels = 1;
  EXPECT_EQ(ets_new(&op.p), nullptr);
}

// c1 = log2(levels) + log2(aspect_x) + log2(aspect_y) + 6 - c1_scale; the
// shifts by 16 - c1 and c1 + 14 are defined for c1 in -14..16.
TEST(Ets, DistanceExponentRange) {
  quill_test::LogCapture log;
  OnePlaneParams op(10);
  for (int scale : {21, -9}) {  // c1 = -14 and 16
    op.c1_scale[0] = scale;
    Ctx ctx(ets_new(&op.p));
    ASSERT_NE(ctx, nullptr) << scale;
    EXPECT_EQ(ctx->plane_ctx[0]->c1, 7 - scale);
  }
  for (int scale : {22, -10}) {  // c1 = -15 and 17
    op.c1_scale[0] = scale;
    EXPECT_EQ(ets_new(&op.p), nullptr) << scale;
  }
  EXPECT_EQ(log.Count(spdlog::level::err, "ets_new: distance scale exponent -15 of plane 0 out of range"), 1);
  EXPECT_EQ(log.Count(spdlog::level::err, "ets_new: distance scale exponent 17 of plane 0 out of range"), 1);
}

// The tables of the image driver's parameters worked out by hand:
// nl = 65536 - (trunc(i / 255 * 2^24) >> 8), dist = trunc(2^26 * 0.95 / nl)
// (c1 = 1 + 6 - 1), noise shifts from rs_base 20 by the bands and the
// distance to 16384, 32768 or a multiple of 32768.
TEST(Ets, DriverTablesWorkedOutByHand) {
  OnePlaneParams op(4);
  Ctx ctx(ets_new(&op.p));
  ASSERT_NE(ctx, nullptr);
  const ETS_PlaneCtx* pc = ctx->plane_ctx[0];
  struct Row {
    int i, lut, dist, rs;
  };
  const Row rows[] = {
      {0, 65536, 0, 20},       // full ink: no distance, rs_base
      {10, 62966, 1012, 19},   // 2570 from 65536
      {64, 49088, 1298, 20},   // 16320 from 32768
      {128, 32640, 1953, 17},  // 128 from 32768
      {170, 21846, 2918, 18},  // inner band 21185..22463
      {192, 16192, 3937, 17},  // 192 from 16384
      {230, 6426, 9921, 19},   // band 5761..8255
      {255, 0, 0, 20},         // no ink
  };
  for (const Row& r : rows) {
    EXPECT_EQ(pc->lut[r.i], r.lut) << r.i;
    EXPECT_EQ(pc->dist_lut[r.i], r.dist) << r.i;
    EXPECT_EQ(pc->rs_lut[r.i], r.rs) << r.i;
  }
  // rand_scale moves every shift; the table keeps shifts out of 0..31 too.
  op.p.rand_scale = 45;
  Ctx low(ets_new(&op.p));
  EXPECT_EQ(low->plane_ctx[0]->rs_lut[128], 17 - 45);
  op.p.rand_scale = -150;
  Ctx high(ets_new(&op.p));
  EXPECT_EQ(high->plane_ctx[0]->rs_lut[128], 127);  // 167, held as a signed byte
}

TEST(Ets, ContextFieldsFollowTheParameters) {
  OnePlaneParams op(33);
  op.p.levels = 4;
  Ctx ctx(ets_new(&op.p));
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->ehi, 13107);  // 39321.6 / 3
  EXPECT_EQ(ctx->elo, -13107);
  EXPECT_EQ(ctx->seed1, 0x5324879fu);
  EXPECT_EQ(ctx->seed2, 0xb78d0945u);
  EXPECT_EQ(ctx->tmwid, 256);
  const ETS_PlaneCtx* pc = ctx->plane_ctx[0];
  EXPECT_EQ(pc->c1, 2 + 6 - 1);
  EXPECT_EQ(pc->tm_offset, 256);
  EXPECT_EQ(pc->lut[0], 65536);
  EXPECT_EQ(pc->lut[255], 0);
  for (int x = 0; x < 33; ++x) {
    EXPECT_GE(pc->err_line[x], -8192);
    EXPECT_LE(pc->err_line[x], 0);
    EXPECT_EQ(pc->a_line[x], 1);
    EXPECT_EQ(pc->r_line[x], 0);
  }
}

// Every ets_style and noise source, several levels and planes: output values
// stay in range and the mean ink follows the input.
TEST(Ets, StylesLevelsAndPlanesKeepTheTone) {
  for (int levels : {2, 3, 5}) {
    for (int style : {0, 1, 2, 3, 6}) {
      for (int r_style : {0, 1, 2}) {
        OnePlaneParams op(96);
        op.p.levels = levels;
        op.p.ets_style = style;
        op.p.r_style = r_style;
        Ctx ctx(ets_new(&op.p));
        ASSERT_NE(ctx, nullptr);
        std::vector<uchar> in(96, 96), out(96);
        const ETS_SrcPixel* src[1] = {in.data()};
        uchar* dst[1] = {out.data()};
        double sum = 0;
        for (int y = 0; y < 96; ++y) {
          ets_line(ctx.get(), dst, src);
          for (uchar v : out) {
            ASSERT_LT(v, levels);
            sum += v;
          }
        }
        EXPECT_NEAR(sum / (96 * 96) / (levels - 1), 1 - 96 / 255.0, 0.03)
            << levels << " " << style << " " << r_style;
      }
    }
  }
}

TEST(Ets, MultiPlaneDriverWritesInterleavedBytes) {
  const int w = 80, h = 60, planes = 4;
  std::vector<uint8_t> in(w * planes * h), out(w * planes * h, 0x55);
  for (int i = 0; i < w * planes * h; ++i) in[i] = static_cast<uint8_t>(i % planes == 0 ? 255 : 64 * (i % planes));
  ASSERT_EQ(ETS_dither_main(in.data(), out.data(), w, h, planes, w * planes, w * planes), 0);
  double ink[4] = {0, 0, 0, 0};
  for (int i = 0; i < w * planes * h; ++i) {
    ASSERT_TRUE(out[i] == 0 || out[i] == 255);
    ink[i % planes] += out[i] == 0;
  }
  EXPECT_EQ(ink[0], 0);
  for (int j = 1; j < planes; ++j) EXPECT_NEAR(ink[j] / (w * h), 1 - 64 * j / 255.0, 0.03) << j;
  EXPECT_EQ(ETS_dither_main(in.data(), out.data(), w, h, 0, w, w), -1);
  EXPECT_EQ(ETS_dither_main(in.data(), out.data(), 0, h, 1, w, w), 0);
  EXPECT_EQ(ets_dither(nullptr), nullptr);
}

TEST(Ets, DumpHeaderParamsAndLuts) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  ASSERT_NE(f, nullptr);
  OnePlaneParams op(8);
  op.p.dump_file = f;
  op.p.dump_level = ETS_DUMP_LUTS;
  ets_free(ets_new(&op.p));  // closes the dump stream
  ASSERT_EQ(len, 20 + sizeof(ETS_Params) + 256 * 4);
  EXPECT_EQ(sizeof(ETS_Params), 104u);
  EXPECT_EQ(std::memcmp(buf, "EBdpIIMM", 8), 0);
  int32_t head[5];
  std::memcpy(head, buf, sizeof head);
  EXPECT_EQ(head[2], 150);
  EXPECT_EQ(head[3], 255);
  EXPECT_EQ(head[4], 1);
  EXPECT_EQ(std::memcmp(buf + 20, &op.p, offsetof(ETS_Params, luts)), 0);
  int32_t lut[256];
  std::memcpy(lut, buf + 20 + sizeof(ETS_Params), sizeof lut);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(lut[i], op.lut[i]);
  free(buf);
}

TEST(Ets, AlignedBuffers) {
  for (int size : {0, 1, 15, 16, 1000}) {
    for (int k = 0; k < 8; ++k) {
      uchar* p = static_cast<uchar*>(ets_malloc_aligned(size, 16));
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
      int32_t off;
      std::memcpy(&off, p - 4, 4);
      EXPECT_GE(off, 4);
      EXPECT_LE(off, 19);
      std::memset(p, 0xAB, size);
      ets_free_aligned(p);
    }
  }
  EXPECT_EQ(ets_malloc_aligned(-1, 16), nullptr);
  ets_free_aligned(nullptr);
}

}  // namespace
