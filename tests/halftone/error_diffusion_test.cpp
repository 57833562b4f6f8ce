// Error diffusion: the kernel functions, the Floyd-Steinberg variant and the
// random-pattern dither, checked against the plain models of
// dither_reference.cpp and against the properties the pipeline relies on.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dither_reference.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

using dither_ref::FromMono;
using dither_ref::Grey;
using dither_ref::Mono;
using dither_ref::ToBitmap;

struct Variant {
  std::string name;
  std::function<FIBITMAP*(FIBITMAP*)> run;
  std::function<Mono(const Grey&)> model;
};

std::vector<Variant> Variants() {
  std::vector<Variant> v;
  for (int f = 0; f < 3; ++f) {
    v.push_back({"bidir" + std::to_string(f), [f](FIBITMAP* d) { return STUCKI_Sierra_Jarvis_bidir(d, f); },
                 [f](const Grey& g) { return dither_ref::KernelDiffusion(g, f, true); }});
    v.push_back({"onedir" + std::to_string(f), [f](FIBITMAP* d) { return STUCKI_Sierra_Jarvis(d, f); },
                 [f](const Grey& g) { return dither_ref::KernelDiffusion(g, f, false); }});
  }
  v.push_back({"fs", [](FIBITMAP* d) { return FloydSteinberg(d); },
               [](const Grey& g) { return dither_ref::FloydSteinberg(g); }});
  return v;
}

Mono RunVariant(const Variant& v, const Grey& g, FIBITMAP** keep = nullptr) {
  FiBitmap src(ToBitmap(g));
  FiBitmap out(v.run(src.get()));
  EXPECT_NE(out, nullptr);
  if (!out) return {};
  EXPECT_EQ(FreeImage_GetBPP(out.get()), 1u);
  EXPECT_EQ(FreeImage_GetWidth(out.get()), g[0].size());
  EXPECT_EQ(FreeImage_GetHeight(out.get()), g.size());
  EXPECT_TRUE(dither_ref::TrailingBitsClear(out.get())) << v.name;
  const RGBQUAD* pal = FreeImage_GetPalette(out.get());
  EXPECT_EQ(pal[0].rgbRed + pal[0].rgbGreen + pal[0].rgbBlue, 0) << v.name;
  EXPECT_EQ(pal[1].rgbRed + pal[1].rgbGreen + pal[1].rgbBlue, 3 * 255) << v.name;
  Mono m = FromMono(out.get());
  if (keep) *keep = out.release();
  return m;
}

// Bit-for-bit agreement with the plain models on random images of many
// shapes: narrow ones (no kernel pass), one line, widths off the byte grid.
TEST(ErrorDiffusion, AgreesWithPlainModelOnRandomImages) {
  const int sizes[][2] = {{1, 1}, {1, 7}, {2, 5}, {3, 3}, {4, 9}, {5, 1}, {5, 2}, {5, 3},
                          {6, 6}, {9, 4}, {13, 11}, {37, 23}, {64, 17}, {101, 40}};
  uint32_t seed = 1;
  for (const Variant& v : Variants()) {
    for (const auto& sz : sizes) {
      const Grey g = dither_ref::RandomGrey(sz[0], sz[1], seed++);
      EXPECT_EQ(RunVariant(v, g), v.model(g)) << v.name << " " << sz[0] << "x" << sz[1];
    }
  }
}

// Smooth ramps with sharp edges exercise the local threshold and the error
// carry far more than uniform noise does.
TEST(ErrorDiffusion, AgreesWithPlainModelOnRampsAndEdges) {
  Grey g(60, std::vector<int>(83));
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 83; ++x) g[y][x] = ((x / 9 + y / 7) % 3 == 0) ? 0 : (x * 255 / 82 + y) % 256;
  }
  for (const Variant& v : Variants()) EXPECT_EQ(RunVariant(v, g), v.model(g)) << v.name;
}

TEST(ErrorDiffusion, DeterministicFromCallToCall) {
  const Grey g = dither_ref::RandomGrey(50, 30, 99);
  for (const Variant& v : Variants()) EXPECT_EQ(RunVariant(v, g), RunVariant(v, g)) << v.name;
}

// Scan line 1 of the serpentine function uses the fixed threshold 34.
TEST(ErrorDiffusion, SecondLineUsesThreshold34) {
  for (int f = 0; f < 3; ++f) {
    const Variant v = Variants()[2 * f];
    EXPECT_EQ(RunVariant(v, dither_ref::FlatGrey(20, 6, 35))[1][0], 1) << f;
    EXPECT_EQ(RunVariant(v, dither_ref::FlatGrey(20, 6, 34))[1][0], 0) << f;
  }
}

// The generator worked out by hand: seed 0, stepped before each draw,
// gives the thresholds 66, 138, 155, 73, 183, 109, 79, 123, 122, 83, 146,
// 112, ... A 1 x 1 image goes through column 0 twice (as column 0 and as
// column W - 1; the columns 1 and W - 2 do not exist) and then through
// line 0, so the serpentine result is the line pass alone (white above
// 155) and the one-bit variants are white when any pass made it white
// (above 66).
TEST(ErrorDiffusion, GeneratorStepsBeforeEachThreshold) {
  auto one_pixel = [](const Variant& v, int grey) { return RunVariant(v, dither_ref::FlatGrey(1, 1, grey))[0][0]; };
  for (const Variant& v : Variants()) {
    const bool serpentine = v.name.rfind("bidir", 0) == 0;
    const int last_black = serpentine ? 155 : 66;
    EXPECT_EQ(one_pixel(v, last_black), 0) << v.name;
    EXPECT_EQ(one_pixel(v, last_black + 1), 1) << v.name;
  }
  // One line of 8 x grey 128: the edge passes over columns 0, 1, 7, 6 take
  // the first four thresholds, line 0 the next eight (183, 109, 79, 123,
  // 122, 83, 146, 112) with the accumulator 128, 256-255, 129-255, 2, ...
  const Mono m = RunVariant(Variants()[0], dither_ref::FlatGrey(8, 1, 128));
  EXPECT_EQ(m[0], (std::vector<int>{0, 1, 1, 0, 1, 0, 0, 1}));
}

// Narrow images and images of one or two lines: every pixel comes from the
// one-dimensional passes, so grey 0 is black and grey 255 white (the random
// thresholds stay within 63..191).
TEST(ErrorDiffusion, NarrowAndShortImagesKeepBlackAndWhite) {
  for (const Variant& v : Variants()) {
    for (int w : {1, 2, 3, 4, 30}) {
      for (int h : {1, 2, 5}) {
        if (w > 4 && h > 2) continue;
        for (int grey : {0, 255}) {
          const Mono m = RunVariant(v, dither_ref::FlatGrey(w, h, grey));
          for (const auto& row : m) {
            for (int bit : row) ASSERT_EQ(bit, grey == 255 ? 1 : 0) << v.name << " " << w << "x" << h;
          }
        }
      }
    }
  }
}

// Mid grey comes out near half coverage, with no long runs of one colour.
TEST(ErrorDiffusion, MidGreyIsHalfCovered) {
  for (const Variant& v : Variants()) {
    const Mono m = RunVariant(v, dither_ref::FlatGrey(120, 80, 128));
    int white = 0;
    for (const auto& row : m) {
      for (int bit : row) white += bit;
    }
    EXPECT_NEAR(white / (120.0 * 80.0), 128 / 255.0, 0.08) << v.name;
  }
}

// A minimum-is-white input is inverted in place before use, so it dithers
// like the equivalent minimum-is-black image.
TEST(ErrorDiffusion, MinIsWhiteInputIsInvertedInPlace) {
  const Grey g = dither_ref::RandomGrey(40, 12, 5);
  FiBitmap inv(ToBitmap(g));
  RGBQUAD* pal = FreeImage_GetPalette(inv.get());
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0};
  for (int y = 0; y < 12; ++y) {
    BYTE* line = FreeImage_GetScanLine(inv.get(), y);
    for (int x = 0; x < 40; ++x) line[x] = static_cast<BYTE>(255 - g[y][x]);
  }
  ASSERT_EQ(FreeImage_GetColorType(inv.get()), FIC_MINISWHITE);
  FiBitmap out(STUCKI_Sierra_Jarvis_bidir(inv.get(), 0));
  EXPECT_EQ(FromMono(out.get()), dither_ref::KernelDiffusion(g, 0, true));
  EXPECT_EQ(FreeImage_GetScanLine(inv.get(), 0)[0], g[0][0]);  // inverted in place
}

// Deeper inputs are converted to grey first: a 24-bit grey picture gives the
// same result as its 8-bit form.
TEST(ErrorDiffusion, ColourInputIsConvertedToGrey) {
  const Grey g = dither_ref::RandomGrey(33, 9, 8);
  FiBitmap grey(ToBitmap(g));
  FiBitmap rgb(FreeImage_ConvertTo24Bits(grey.get()));
  for (const Variant& v : Variants()) {
    FiBitmap out(v.run(rgb.get()));
    EXPECT_EQ(FromMono(out.get()), v.model(g)) << v.name;
  }
}

TEST(ErrorDiffusion, RejectsBadArguments) {
  FiBitmap src(ToBitmap(dither_ref::FlatGrey(8, 8, 100)));
  EXPECT_EQ(STUCKI_Sierra_Jarvis_bidir(src.get(), 3), nullptr);
  EXPECT_EQ(STUCKI_Sierra_Jarvis(src.get(), -1), nullptr);
  EXPECT_EQ(STUCKI_Sierra_Jarvis_bidir(nullptr, 0), nullptr);
  EXPECT_EQ(FloydSteinberg(nullptr), nullptr);
  EXPECT_EQ(my_dither(nullptr), nullptr);
}

TEST(MyDither, WhiteStaysWhiteAndBlackStaysBlack) {
  for (int grey : {0, 255}) {
    FiBitmap src(ToBitmap(dither_ref::FlatGrey(21, 19, grey)));
    FiBitmap out(my_dither(src.get()));
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(dither_ref::TrailingBitsClear(out.get()));
    for (const auto& row : FromMono(out.get())) {
      for (int bit : row) ASSERT_EQ(bit, grey == 255 ? 1 : 0);
    }
  }
}

// Level L (grey >> 2) prints round((63 - L) * 64 / 63) cells of every 8 x 8
// block, whatever the random pattern.
TEST(MyDither, CoverageFollowsTheLevel) {
  for (int grey : {4, 64, 128, 200, 251}) {
    FiBitmap src(ToBitmap(dither_ref::FlatGrey(16, 16, grey)));
    FiBitmap out(my_dither(src.get()));
    const Mono m = FromMono(out.get());
    const int inked = ((63 - (grey >> 2)) * 64 + 31) / 63;
    for (int by = 0; by < 16; by += 8) {
      for (int bx = 0; bx < 16; bx += 8) {
        int black = 0;
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) black += 1 - m[by + y][bx + x];
        }
        EXPECT_EQ(black, inked) << grey;
      }
    }
  }
}

TEST(MyDither, ColourDepthsAndOneBitClone) {
  FiBitmap grey(ToBitmap(dither_ref::FlatGrey(10, 10, 255)));
  for (int bpp : {24, 32}) {
    FiBitmap colour(bpp == 24 ? FreeImage_ConvertTo24Bits(grey.get()) : FreeImage_ConvertTo32Bits(grey.get()));
    FiBitmap out(my_dither(colour.get()));
    for (const auto& row : FromMono(out.get())) {
      for (int bit : row) ASSERT_EQ(bit, 1) << bpp;
    }
  }
  FiBitmap mono(FreeImage_Threshold(grey.get(), 128));
  FiBitmap clone(my_dither(mono.get()));
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone.get(), mono.get());
  EXPECT_EQ(FromMono(clone.get()), FromMono(mono.get()));
}

}  // namespace
