// Ordered dither and the line writers.
#include <gtest/gtest.h>

#include <cstring>

#include "dither_reference.h"
#include "halftone/screens_data.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

using dither_ref::FromMono;
using dither_ref::Grey;
using dither_ref::Mono;

struct TileRef {
  int idx;
  const uint8_t* cells;
  int size;
};
const TileRef kTiles[] = {{0, SCREEN_DITHERED_136_105, 136},
                          {1, SCREEN_DITHERED_140_72, 140},
                          {2, SCREEN_DITHERED_130_0, 130},
                          {3, SCREEN_DITHERED_128_45, 128}};

// Grey rows packed with a pitch wider than the image.
std::vector<uint8_t> Pack(const Grey& g, uint32_t pitch) {
  std::vector<uint8_t> buf(pitch * g.size(), 0xAA);
  for (size_t y = 0; y < g.size(); ++y) {
    for (size_t x = 0; x < g[y].size(); ++x) buf[y * pitch + x] = static_cast<uint8_t>(g[y][x]);
  }
  return buf;
}

Mono Dither(int idx, const Grey& g, uint32_t pitch) {
  const std::vector<uint8_t> buf = Pack(g, pitch);
  FiBitmap out(ordered_dither(idx, buf.data(), static_cast<uint32_t>(g[0].size()),
                              static_cast<uint32_t>(g.size()), pitch));
  EXPECT_NE(out, nullptr);
  if (!out) return {};
  EXPECT_TRUE(dither_ref::TrailingBitsClear(out.get()));
  const RGBQUAD* pal = FreeImage_GetPalette(out.get());
  EXPECT_EQ(pal[0].rgbGreen, 0);
  EXPECT_EQ(pal[1].rgbGreen, 255);
  return FromMono(out.get());
}

// Bit-for-bit agreement with the plain per-pixel rule, over more than one
// tile period in both directions and widths off the byte and vector grid.
TEST(OrderedDither, AgreesWithPlainRuleOnRandomImages) {
  for (const TileRef& t : kTiles) {
    for (int w : {1, 7, 17, 150, 301}) {
      const Grey g = dither_ref::RandomGrey(w, 290, static_cast<uint32_t>(w + t.idx));
      EXPECT_EQ(Dither(t.idx, g, static_cast<uint32_t>(w + 5)), dither_ref::Ordered(g, t.cells, t.size))
          << t.idx << " width " << w;
    }
  }
  // Any other choice takes the 128 tile.
  const Grey g = dither_ref::RandomGrey(40, 40, 77);
  EXPECT_EQ(Dither(-7, g, 40), dither_ref::Ordered(g, SCREEN_DITHERED_128_45, 128));
  EXPECT_EQ(Dither(9, g, 40), dither_ref::Ordered(g, SCREEN_DITHERED_128_45, 128));
}

TEST(OrderedDither, PureWhiteAndBlackWhateverTheTile) {
  for (const TileRef& t : kTiles) {
    for (int grey : {0, 255}) {
      for (const auto& row : Dither(t.idx, dither_ref::FlatGrey(t.size + 3, t.size + 1, grey), t.size + 3)) {
        for (int bit : row) ASSERT_EQ(bit, grey == 255 ? 1 : 0);
      }
    }
  }
}

TEST(OrderedDither, Grey254IsBlackExactlyWhereTheTileHolds255) {
  for (const TileRef& t : kTiles) {
    const Mono m = Dither(t.idx, dither_ref::FlatGrey(t.size, t.size, 254), t.size);
    for (int y = 0; y < t.size; ++y) {
      for (int x = 0; x < t.size; ++x) {
        ASSERT_EQ(m[y][x], t.cells[y * t.size + x] == 255 ? 0 : 1) << t.idx << " " << x << "," << y;
      }
    }
  }
}

// Flat greys come out with the tile's share of cells at or below the grey.
TEST(OrderedDither, CoverageFollowsTheGrey) {
  for (const TileRef& t : kTiles) {
    for (int grey : {32, 100, 128, 200}) {
      const Mono m = Dither(t.idx, dither_ref::FlatGrey(t.size, t.size, grey), t.size);
      int white = 0;
      for (const auto& row : m) {
        for (int bit : row) white += bit;
      }
      EXPECT_NEAR(white / double(t.size * t.size), grey / 255.0, 0.03) << t.idx << " " << grey;
    }
  }
}

TEST(OrderedDither, SingleUsesThe128TileOnAGreyCopy) {
  const Grey g = dither_ref::RandomGrey(131, 70, 3);
  FiBitmap grey(dither_ref::ToBitmap(g));
  FiBitmap rgb(FreeImage_ConvertTo24Bits(grey.get()));
  for (FIBITMAP* in : {grey.get(), rgb.get()}) {
    FiBitmap out(ordered_dither_single(in));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(FromMono(out.get()), dither_ref::Ordered(g, SCREEN_DITHERED_128_45, 128));
  }
  EXPECT_EQ(ordered_dither_single(nullptr), nullptr);
  EXPECT_EQ(ordered_dither(3, nullptr, 4, 4, 4), nullptr);
}

TEST(PamLineWriters, InterleaveAndPack) {
  uchar p0[11], p1[11], p2[11];
  for (int x = 0; x < 11; ++x) {
    p0[x] = static_cast<uchar>(x % 3 == 0 ? 0 : 200 + x);
    p1[x] = static_cast<uchar>(x);
    p2[x] = static_cast<uchar>(100 + x);
  }
  uchar* planes[3] = {p0, p1, p2};
  uchar fo[40];
  std::memset(fo, 0xEE, sizeof fo);
  write_pam_line(planes, 11, fo, 3, nullptr);
  for (int x = 0; x < 11; ++x) {
    EXPECT_EQ(fo[3 * x], p0[x]);
    EXPECT_EQ(fo[3 * x + 1], p1[x]);
    EXPECT_EQ(fo[3 * x + 2], p2[x]);
  }
  EXPECT_EQ(fo[33], 0xEE);  // nothing past the line

  std::memset(fo, 0xFF, sizeof fo);
  write_pam_line_1bit(planes, 11, fo, 3, nullptr);
  // x = 0, 3, 6, 9 are zero: 0110 1101 1011 (last 5 bits cleared)
  EXPECT_EQ(fo[0], 0x6D);
  EXPECT_EQ(fo[1], 0xA0);
  EXPECT_EQ(fo[2], 0xFF);  // only (xs + 7) / 8 bytes are written
}

}  // namespace
