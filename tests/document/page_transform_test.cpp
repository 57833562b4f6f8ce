// Quarter and half turns and offsets of page rasters.

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "document/page_transform.h"
#include "quill/libquill.h"

namespace {

// A raster of any depth with random pixels, and a plain pixel reader.
struct TestRaster {
  TestRaster(uint32_t w, uint32_t h, uint8_t bpp, uint32_t seed = 1) {
    ri.width = w;
    ri.height = h;
    ri.bpp = bpp;
    ri.pitch = static_cast<int32_t>(((uint64_t{w} * bpp + 7) / 8 + 3) / 4 * 4);
    ri.x_res = 360;
    ri.y_res = 360;
    pixels.resize(size_t(ri.pitch) * h);
    std::mt19937 gen(seed);
    for (auto& b : pixels) b = static_cast<uint8_t>(gen());
    ri.img_p = pixels.data();
  }
  TestRaster(const TestRaster& o) : ri(o.ri), pixels(o.pixels) { ri.img_p = pixels.data(); }
  TestRaster& operator=(const TestRaster&) = delete;
  RASTER_INFO ri{};
  std::vector<uint8_t> pixels;
};

// Pixel (row, col) of `r` as an integer.
uint32_t Pixel(const RASTER_INFO& r, uint32_t row, uint32_t col) {
  const uint8_t* line = r.img_p + size_t(row) * r.pitch;
  if (r.bpp < 8) {
    const uint32_t bit = col * r.bpp;
    return (line[bit / 8] >> (8 - r.bpp - bit % 8)) & ((1u << r.bpp) - 1);
  }
  uint32_t v = 0;
  for (uint32_t i = 0; i < r.bpp / 8u; ++i) v = v << 8 | line[size_t(col) * (r.bpp / 8) + i];
  return v;
}

CONV_PARAM2 Units(uint16_t y_unit) {
  CONV_PARAM2 cp{};
  cp.x_unit = 360;
  cp.y_unit = y_unit;
  cp.num_pins = 24;
  cp.page_length = 1234;
  return cp;
}

class HalfTurnTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(HalfTurnTest, EveryPixelLandsOppositeItsPlace) {
  const auto [bpp, w, h] = GetParam();
  TestRaster before(static_cast<uint32_t>(w), static_cast<uint32_t>(h), static_cast<uint8_t>(bpp));
  TestRaster after = before;
  CONV_PARAM2 cp = Units(360);
  quill_test::LogCapture log;
  DoRotation(after.ri, 180, cp);
  EXPECT_EQ(after.ri.img_p, after.pixels.data()) << "a half turn works in place";
  EXPECT_EQ(cp.page_length, 1234u);
  for (uint32_t r = 0; r < before.ri.height; ++r)
    for (uint32_t c = 0; c < before.ri.width; ++c)
      ASSERT_EQ(Pixel(after.ri, before.ri.height - 1 - r, before.ri.width - 1 - c), Pixel(before.ri, r, c))
          << "bpp " << bpp << " at " << r << "," << c;
  EXPECT_FALSE(log.Contains("unsupported bpp"));
}

INSTANTIATE_TEST_SUITE_P(Depths, HalfTurnTest,
                         ::testing::Combine(::testing::Values(1, 2, 4, 8, 16, 24, 32),
                                            ::testing::Values(1, 7, 8, 13),
                                            ::testing::Values(1, 4, 5)));

TEST(QuarterTurn, NinetyDegreesTurnsClockwiseAndSetsThePageLength) {
  for (uint8_t bpp : {uint8_t{1}, uint8_t{8}, uint8_t{24}, uint8_t{32}}) {
    TestRaster src(100, 50, bpp, 5);
    RASTER_INFO ri = src.ri;
    CONV_PARAM2 cp = Units(720);
    DoRotation(ri, 90, cp);
    ASSERT_EQ(ri.width, 50u);
    ASSERT_EQ(ri.height, 100u);
    EXPECT_EQ(ri.x_res, 360);
    EXPECT_EQ(cp.page_length, 720u * 100 / 360);
    EXPECT_NE(ri.img_p, src.pixels.data());
    // The left column, read bottom to top, becomes the top row.
    for (uint32_t r = 0; r < 50; ++r)
      for (uint32_t c = 0; c < 100; ++c)
        ASSERT_EQ(Pixel(ri, c, 49 - r), Pixel(src.ri, r, c)) << int(bpp);
  }
}

TEST(QuarterTurn, TwoSeventyDegreesTurnsCounterClockwise) {
  TestRaster src(30, 20, 24, 9);
  RASTER_INFO ri = src.ri;
  CONV_PARAM2 cp = Units(360);
  DoRotation(ri, 270, cp);
  ASSERT_EQ(ri.width, 20u);
  ASSERT_EQ(ri.height, 30u);
  EXPECT_EQ(cp.page_length, 30u);
  for (uint32_t r = 0; r < 20; ++r)
    for (uint32_t c = 0; c < 30; ++c) ASSERT_EQ(Pixel(ri, 29 - c, r), Pixel(src.ri, r, c));
}

TEST(QuarterTurn, OwnBuffersKeepEachRotatedPage) {
  TestRaster a(40, 10, 8, 1), b(12, 33, 8, 2);
  RASTER_INFO ra = a.ri, rb = b.ri;
  CONV_PARAM2 cp = Units(360);
  std::vector<uint8_t> buf_a, buf_b;
  RotateRaster(ra, 90, cp, buf_a);
  const std::vector<uint8_t> first(ra.img_p, ra.img_p + size_t(ra.pitch) * ra.height);
  RotateRaster(rb, 90, cp, buf_b);
  EXPECT_EQ(std::vector<uint8_t>(ra.img_p, ra.img_p + size_t(ra.pitch) * ra.height), first);
}

TEST(QuarterTurn, OtherAnglesAndBrokenRastersAreLeftAlone) {
  TestRaster src(10, 6, 24);
  const std::vector<uint8_t> orig = src.pixels;
  CONV_PARAM2 cp = Units(360);
  quill_test::LogCapture log;
  for (int angle : {0, 45, -90, 360, 450}) {
    RASTER_INFO ri = src.ri;
    DoRotation(ri, angle, cp);
    EXPECT_EQ(ri.img_p, src.pixels.data());
    EXPECT_EQ(ri.width, 10u);
  }
  EXPECT_EQ(src.pixels, orig);
  EXPECT_EQ(log.Count(spdlog::level::debug, "rotate 0"), 1);
  RASTER_INFO broken = src.ri;
  broken.pitch = 3;  // shorter than a row
  DoRotation(broken, 90, cp);
  DoRotation(broken, 180, cp);
  EXPECT_EQ(broken.width, 10u);
  EXPECT_EQ(src.pixels, orig);
  broken.img_p = nullptr;
  broken.pitch = src.ri.pitch;
  DoRotation(broken, 90, cp);
  EXPECT_EQ(broken.img_p, nullptr);
}

TEST(Offset, DownByTenWhitensTheTopRows) {
  TestRaster src(9, 30, 24, 4);
  const TestRaster orig = src;
  quill_test::LogCapture log;
  DoOffsetting(src.ri, {0, 10});
  for (uint32_t r = 0; r < 30; ++r)
    for (uint32_t c = 0; c < 9; ++c)
      ASSERT_EQ(Pixel(src.ri, r, c), r < 10 ? 0xFFFFFFu : Pixel(orig.ri, r - 10, c)) << r << "," << c;
  EXPECT_TRUE(log.Contains("tune offset 0,10"));
}

TEST(Offset, EveryDirectionMovesAndWhitens) {
  for (auto [x, y] : std::vector<std::pair<int, int>>{{3, 0}, {-3, 0}, {2, -5}, {-4, 7}, {8, 29}}) {
    TestRaster src(9, 30, 32, 4);
    const TestRaster orig = src;
    DoOffsetting(src.ri, {x, y});
    for (int r = 0; r < 30; ++r)
      for (int c = 0; c < 9; ++c) {
        const int sr = r - y, sc = c - x;
        const bool inside = sr >= 0 && sr < 30 && sc >= 0 && sc < 9;
        ASSERT_EQ(Pixel(src.ri, r, c), inside ? Pixel(orig.ri, sr, sc) : 0xFFFFFFFFu)
            << x << "," << y << " at " << r << "," << c;
      }
  }
}

TEST(Offset, BeyondTheRasterWhitensItWithoutWritingOutside) {
  for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 1000}, {0, -31}, {9, 0}, {-500, 2}}) {
    TestRaster src(9, 30, 24, 4);
    src.pixels.resize(src.pixels.size() + 64, 0x5A);  // bytes after the raster
    src.ri.img_p = src.pixels.data();
    DoOffsetting(src.ri, {x, y});
    for (uint32_t r = 0; r < 30; ++r)
      for (uint32_t c = 0; c < 9; ++c) ASSERT_EQ(Pixel(src.ri, r, c), 0xFFFFFFu);
    for (size_t i = src.pixels.size() - 64; i < src.pixels.size(); ++i) ASSERT_EQ(src.pixels[i], 0x5A);
  }
}

TEST(Offset, ShallowDepthsAndZeroOffsetChangeNothing) {
  TestRaster src(9, 30, 8, 4);
  const std::vector<uint8_t> orig = src.pixels;
  quill_test::LogCapture log;
  DoOffsetting(src.ri, {0, 10});
  EXPECT_EQ(log.Count(spdlog::level::warn, "unsupported bpp: 8"), 1);
  DoOffsetting(src.ri, {0, 0});
  EXPECT_EQ(log.Count(spdlog::level::debug, "skip offset"), 1);
  EXPECT_EQ(src.pixels, orig);
}

}  // namespace
