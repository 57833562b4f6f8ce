// rescale_image: sizes, the clearing of margins that were blank in the
// source, and the LIBQUILL_OUT debug files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "common/hosts_fixtures.h"
#include "common/log_capture.h"
#include "interface/rescale.h"

namespace {

using hosts_test::Bytes;
using hosts_test::Dots;
using hosts_test::PackRows;
using hosts_test::UnpackRows;
using quill_test::LogCapture;

struct Freed {
  void operator()(unsigned char* p) const { std::free(p); }
};
using Image = std::unique_ptr<unsigned char, Freed>;

// Scales `dots` and returns the result's dots (empty Dots on failure).
Dots Rescale(const Dots& dots, uint32_t pitch, uint32_t w, uint32_t h, uint32_t* out_pitch = nullptr) {
  Bytes rows = PackRows(dots, pitch);
  uint32_t dst_pitch = 0;
  Image result(rescale_image(rows.data(), dots.width, dots.height, pitch, w, h, &dst_pitch));
  if (!result) return Dots();
  if (out_pitch != nullptr) *out_pitch = dst_pitch;
  EXPECT_GE(dst_pitch * 8, w);
  return UnpackRows(result.get(), w, h, dst_pitch);
}

bool RowBlank(const Dots& d, uint32_t y) {
  for (uint32_t x = 0; x < d.width; ++x) {
    if (d.At(x, y)) return false;
  }
  return true;
}

TEST(RescaleImage, ZeroTargetSizeFails) {
  LogCapture log;
  Bytes rows(8 * 10, 0xFF);
  uint32_t pitch = 0;
  EXPECT_EQ(rescale_image(rows.data(), 64, 10, 8, 0, 5, &pitch), nullptr);
  EXPECT_EQ(rescale_image(rows.data(), 64, 10, 8, 32, 0, &pitch), nullptr);
  EXPECT_EQ(log.Count(spdlog::level::warn, "target size is invalid"), 2);
}

TEST(RescaleImage, SourceWithTooShortRowsFails) {
  LogCapture log;
  Bytes rows(4 * 10, 0xFF);
  uint32_t pitch = 0;
  EXPECT_EQ(rescale_image(rows.data(), 64, 10, 4, 32, 5, &pitch), nullptr);
  EXPECT_EQ(rescale_image(nullptr, 64, 10, 8, 32, 5, &pitch), nullptr);
}

TEST(RescaleImage, EmptySourceGivesEmptyResultOfTheRequestedSize) {
  Dots empty(100, 60);
  uint32_t pitch = 0;
  const Dots result = Rescale(empty, 16, 50, 30, &pitch);
  EXPECT_EQ(result.width, 50u);
  EXPECT_EQ(result.height, 30u);
  EXPECT_EQ(result.Count(), 0u);
  EXPECT_GE(pitch, 7u);
}

TEST(RescaleImage, SolidSourceStaysSolid) {
  Dots solid(96, 40);
  std::fill(solid.ink.begin(), solid.ink.end(), 1);
  const Dots result = Rescale(solid, 12, 48, 20);
  EXPECT_EQ(result.Count(), 48u * 20u);
}

TEST(RescaleImage, HalfToneKeepsTheInkDensity) {
  // Every second dot: half grey after scaling, about half the dots after
  // the error diffusion.
  Dots checker(128, 128);
  for (uint32_t y = 0; y < 128; ++y) {
    for (uint32_t x = 0; x < 128; ++x) checker.Set(x, y, (x + y) % 2 == 0);
  }
  const Dots result = Rescale(checker, 16, 64, 64);
  const double density = static_cast<double>(result.Count()) / (64 * 64);
  EXPECT_NEAR(density, 0.5, 0.05);
}

TEST(RescaleImage, MarginsBlankInTheSourceAreClearedInTheResult) {
  // Dots only in rows 100..199 of 400; half height keeps them in 50..99.
  Dots dots(64, 400);
  for (uint32_t y = 100; y < 200; ++y) {
    for (uint32_t x = 0; x < 64; ++x) dots.Set(x, y);
  }
  LogCapture log;
  const Dots result = Rescale(dots, 8, 64, 200);
  EXPECT_TRUE(log.Contains("[rescale] original vertical range: 100-200"));
  ASSERT_EQ(result.height, 200u);
  for (uint32_t y = 0; y < 50; ++y) EXPECT_TRUE(RowBlank(result, y)) << y;
  for (uint32_t y = 100; y < 200; ++y) EXPECT_TRUE(RowBlank(result, y)) << y;
  for (uint32_t y = 51; y < 99; ++y) EXPECT_FALSE(RowBlank(result, y)) << y;
}

TEST(RescaleImage, TopMarginUsesTheScaledGeometry) {
  // Solid from row 30 to the last row; a third of the height clears rows
  // 0..9 (30 * 100 / 300) however far the filter blurs the edge, and keeps
  // the content below.
  Dots dots(32, 300);
  for (uint32_t y = 30; y < 300; ++y) {
    for (uint32_t x = 0; x < 32; ++x) dots.Set(x, y);
  }
  const Dots result = Rescale(dots, 4, 32, 100);
  for (uint32_t y = 0; y < 10; ++y) EXPECT_TRUE(RowBlank(result, y)) << y;
  for (uint32_t y = 11; y < 100; ++y) EXPECT_FALSE(RowBlank(result, y)) << y;
}

TEST(RescaleImage, ClearedRowsFollowTheMarginArithmeticExactly) {
  // Ink in rows 2..5 of 8, stretched to 80 rows: the filter blurs the edges
  // into neighbouring rows, and the clearing takes back exactly the first
  // 80 * 2 / 8 = 20 rows and the 20 rows from floor(6 * 80 / 8 + 0.5) = 60.
  Dots dots(64, 8);
  for (uint32_t y = 2; y < 6; ++y) {
    for (uint32_t x = 0; x < 64; ++x) dots.Set(x, y);
  }
  const Dots result = Rescale(dots, 8, 64, 80);
  ASSERT_EQ(result.height, 80u);
  for (uint32_t y = 0; y < 20; ++y) EXPECT_TRUE(RowBlank(result, y)) << y;
  for (uint32_t y = 20; y < 60; ++y) EXPECT_FALSE(RowBlank(result, y)) << y;
  for (uint32_t y = 60; y < 80; ++y) EXPECT_TRUE(RowBlank(result, y)) << y;
}

class DebugFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = std::filesystem::current_path();
    dir_ = hosts_test::ScratchDir("rescale_debug");
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    unsetenv("LIBQUILL_OUT");
    std::filesystem::current_path(old_dir_);
  }
  void ScaleOnce() {
    Dots dots = hosts_test::TestPicture(64, 64);
    EXPECT_EQ(Rescale(dots, 8, 32, 32).width, 32u);
  }
  bool Exists(const char* name) const { return std::filesystem::exists(dir_ + "/" + name); }

  std::filesystem::path old_dir_;
  std::string dir_;
};

TEST_F(DebugFilesTest, DigitTwoWritesOnlyTheRescaledImage) {
  setenv("LIBQUILL_OUT", "2", 1);
  ScaleOnce();
  EXPECT_FALSE(Exists("immediate_original.png"));
  EXPECT_TRUE(Exists("immediate_rescaled.png"));
  EXPECT_FALSE(Exists("immediate_halftone.png"));
}

TEST_F(DebugFilesTest, AllDigitsWriteAllThreeAndOtherTextNone) {
  setenv("LIBQUILL_OUT", "x3y1z2", 1);
  ScaleOnce();
  EXPECT_TRUE(Exists("immediate_original.png"));
  EXPECT_TRUE(Exists("immediate_rescaled.png"));
  EXPECT_TRUE(Exists("immediate_halftone.png"));
  for (const char* name : {"immediate_original.png", "immediate_rescaled.png",
                           "immediate_halftone.png"}) {
    std::filesystem::remove(dir_ + "/" + name);
  }
  setenv("LIBQUILL_OUT", "yes", 1);
  ScaleOnce();
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

}  // namespace
