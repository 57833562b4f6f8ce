// Pages through the real library and back through quillpreview: every
// document processor's stream, with the format detected and the geometry
// worked out by quillpreview alone, must give back the dots (or the ink) of
// the page that went in.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/test_raster.h"
#include "preview/stream_preview.h"
#include "preview_test_util.h"

namespace preview_test {
namespace {

using quillpreview::PreviewOptions;
using quillpreview::PreviewPage;
using quillpreview::PreviewResult;
using quillpreview::PreviewStream;
using quillpreview::StreamFormat;

// quillfilter's document start for 360-dpi inkjets, and the options it sets.
constexpr const char* kFilterOptions =
    "use_locpos=1:gamma=2.2:dither=2:band_hint=1:start_doc=1B1D1E000C041B1D1F1B7803";

CONV_PARAM2 Param(uint16_t unit, uint16_t pins, uint16_t shingling, uint32_t page_length,
                  const char* options) {
  CONV_PARAM2 cp{};
  cp.shingling = shingling;
  cp.x_unit = unit;
  cp.y_unit = unit;
  cp.num_pins = pins;
  cp.page_length = page_length;
  cp.options = options;
  return cp;
}

void ExpectDecoded(const PreviewResult& r, StreamFormat format, size_t pages) {
  EXPECT_FALSE(r.failed) << r.error;
  EXPECT_EQ(r.format, format) << r.format_reason;
  ASSERT_EQ(r.pages.size(), pages) << r.geometry;
}

// ------------------------------------------------------------ serial

struct SerialCase {
  uint16_t unit;
  uint16_t pins;
  uint16_t res;
};

class SerialRoundTrip : public ::testing::TestWithParam<std::tuple<int, SerialCase>> {};

// One ink, every shingling mode, two pages of a document as quillfilter
// starts it; the band height, units and resolution are quillpreview's own
// findings (24 lines at 360 units, and 448 lines of a 896-unit head at 1440
// units and 720 dpi).
TEST_P(SerialRoundTrip, OneInkPagesComeBackInEveryShinglingMode) {
  const auto [mode, c] = GetParam();
  const Picture first = RandomPicture(61, 700, 1, 0.0, 9, 200, 260);
  const Picture second = RandomPicture(45, 520, 2, 0.0, 0, 100, 400);
  std::vector<Raster> pages = {OneBitRaster(first, c.res, c.res), OneBitRaster(second, c.res, c.res)};
  const uint32_t length = 720u * c.unit / c.res;  // longer than both pages: each ends with a form feed
  const Bytes job = RunJob("DocumentProcessInk1",
                           Param(c.unit, c.pins, static_cast<uint16_t>(mode), length, kFilterOptions), pages);

  const PreviewResult r = PreviewStream(job, PreviewOptions{});
  ExpectDecoded(r, StreamFormat::kSerial, 2);
  for (size_t p = 0; p < 2; ++p) {
    const PreviewPage& page = r.pages[p];
    EXPECT_EQ(page.x_res, c.res);
    EXPECT_EQ(page.y_res, c.res);
    // The page length, or more where the passes of a mode feed beyond it.
    EXPECT_GE(page.height, 720u);
    EXPECT_LE(page.height, 720u + c.pins * c.res / c.unit);
    ASSERT_EQ(page.planes.size(), 1u);
    EXPECT_EQ(CompareInk(page, 0, p == 0 ? first : second, 1), "") << "page " << p + 1;
  }
  // Quarter bands print every dot twice; no other mode prints one twice.
  EXPECT_EQ(r.warnings.empty(), mode != SHINGLING_QUARTER_BAND)
      << (r.warnings.empty() ? "" : r.warnings.front());
}

INSTANTIATE_TEST_SUITE_P(Modes, SerialRoundTrip,
                         ::testing::Combine(::testing::Range(0, 6),
                                            ::testing::Values(SerialCase{360, 24, 360},
                                                              SerialCase{1440, 896, 720})),
                         [](const auto& info) {
                           return "mode" + std::to_string(std::get<0>(info.param)) + "_" +
                                  std::to_string(std::get<1>(info.param).res) + "dpi";
                         });

// Black and red: the red plane comes back red, the black one black, in the
// plain mode and a shingled one, and with the red pass doubled.
TEST(SerialRoundTrip, TwoColourPagesKeepTheirColours) {
  const Picture picture = RandomPicture(80, 150, 3, 0.4, 4);
  for (const auto& [mode, options] : std::vector<std::pair<uint16_t, std::string>>{
           {SHINGLING_NONE, "threshold=128:use_locpos=1"},
           {SHINGLING_HALF_BAND_DYNA, "threshold=128:band_hint=1"},
           {SHINGLING_NONE, "threshold=128:dup_red=1"}}) {
    SCOPED_TRACE(options);
    std::vector<Raster> pages = {ColourRaster(picture, 360, 360)};
    const Bytes job = RunJob("DocumentProcessInk3", Param(360, 24, mode, 150, options.c_str()), pages);
    const PreviewResult r = PreviewStream(job, PreviewOptions{});
    ExpectDecoded(r, StreamFormat::kSerial, 1);
    ASSERT_EQ(r.pages[0].planes.size(), 2u);
    EXPECT_EQ(r.pages[0].planes[1].name, "red");
    EXPECT_EQ(CompareInk(r.pages[0], 0, picture, 1), "");
    EXPECT_EQ(CompareInk(r.pages[0], 1, picture, 2), "");
    EXPECT_GT(picture.Count(2), 1000u);
  }
}

// ---------------------------------------------------- page language

// Grey and colour pages: the raster object holds the ink of every pixel.
TEST(PageLangRoundTrip, GreyAndColourPagesComeBackPixelForPixel) {
  for (const char* options : {"grey=1", "grey=0"}) {
    SCOPED_TRACE(options);
    ink2_test::TestRaster a(101, 37, 24, 300);  // width not a multiple of 4
    ink2_test::TestRaster b(64, 20, 24, 300);
    a.FillRandom(5);
    b.FillRandom(6);
    std::vector<Raster> pages(2);
    pages[0].pixels = a.pixels;
    pages[0].info = a.info;
    pages[0].info.img_p = pages[0].pixels.data();
    pages[1].pixels = b.pixels;
    pages[1].info = b.info;
    pages[1].info.img_p = pages[1].pixels.data();
    const Bytes job = RunJob("DocumentProcessInk2", Param(300, 24, 0, 0, options), pages);
    const PreviewResult r = PreviewStream(job, PreviewOptions{});
    ExpectDecoded(r, StreamFormat::kPageLang, 2);
    const bool grey = std::string(options) == "grey=1";
    for (size_t p = 0; p < 2; ++p) {
      ink2_test::TestRaster& raster = p == 0 ? a : b;
      const PreviewPage& page = r.pages[p];
      EXPECT_FALSE(page.dots);
      EXPECT_EQ(page.width, raster.info.width);
      EXPECT_EQ(page.height, raster.info.height);
      EXPECT_EQ(page.x_res, 300u);
      ASSERT_EQ(page.planes.size(), grey ? 1u : 3u);
      int wrong = 0;
      for (uint32_t y = 0; y < page.height; ++y) {
        for (uint32_t x = 0; x < page.width; ++x) {
          uint8_t red, green, blue;
          raster.GetRgb(x, y, &red, &green, &blue);
          if (grey) {
            wrong += page.Ink(0, x, y) != 255 - ink2_test::RefLuma(red, green, blue);
          } else {
            wrong += page.Ink(0, x, y) != 255 - red;
            wrong += page.Ink(1, x, y) != 255 - green;
            wrong += page.Ink(2, x, y) != 255 - blue;
          }
        }
      }
      EXPECT_EQ(wrong, 0) << "page " << p + 1;
    }
  }
}

// ------------------------------------------------- thermal and 24-pin

TEST(ThermalRoundTrip, ReceiptPagesComeBackAtTheirWidthAndLength) {
  const Picture first = RandomPicture(384, 130, 7, 0.0, 5);
  const Picture second = RandomPicture(384, 61, 8);
  std::vector<Raster> pages = {OneBitRaster(first, 200, 200), OneBitRaster(second, 200, 200)};
  const Bytes job = RunJob("DocumentProcessThermal", Param(200, 24, 0, 160, "max_width=576:use_locpos=1"), pages);
  const PreviewResult r = PreviewStream(job, PreviewOptions{});
  ExpectDecoded(r, StreamFormat::kThermal, 2);
  for (size_t p = 0; p < 2; ++p) {
    EXPECT_EQ(r.pages[p].width, 384u) << "the printing width";
    EXPECT_EQ(r.pages[p].height, 160u) << "fed to the page length";
    EXPECT_EQ(r.pages[p].x_res, 200u);
    EXPECT_EQ(CompareInk(r.pages[p], 0, p == 0 ? first : second, 1), "") << "page " << p + 1;
  }
}

// 180 dpi in single passes, 360 dpi in interlaced pass pairs, one ribbon
// colour and two.
TEST(Dot24RoundTrip, PagesComeBackAt180And360DpiInOneColourAndTwo) {
  for (uint16_t res : {180, 360}) {
    for (bool dual : {false, true}) {
      SCOPED_TRACE(std::to_string(res) + (dual ? " dpi, two colours" : " dpi, one colour"));
      // The ink starts on an even row: at 360 dpi the feed to it is in
      // units of two rows.
      const Picture first = RandomPicture(122, 170, 9 + res, dual ? 0.4 : 0.0, 12);
      const Picture second = RandomPicture(90, 75, 10 + res, dual ? 0.4 : 0.0);
      std::vector<Raster> pages;
      for (const Picture* p : {&first, &second}) {
        pages.push_back(dual ? ColourRaster(*p, res, res) : OneBitRaster(*p, res, res));
      }
      const char* options = dual ? "dual_color=1:threshold=128:use_locpos=1" : "use_locpos=1";
      const Bytes job = RunJob("DocumentProcessDot24", Param(360, 24, 0, 200u * 360 / res, options), pages);
      const PreviewResult r = PreviewStream(job, PreviewOptions{});
      ExpectDecoded(r, StreamFormat::kDot24, 2);
      for (size_t p = 0; p < 2; ++p) {
        const PreviewPage& page = r.pages[p];
        EXPECT_EQ(page.x_res, res);
        EXPECT_EQ(page.y_res, res);
        ASSERT_EQ(page.planes.size(), dual ? 2u : 1u);
        const Picture& picture = p == 0 ? first : second;
        EXPECT_EQ(CompareInk(page, 0, picture, 1), "") << "page " << p + 1;
        if (dual) {
          EXPECT_EQ(CompareInk(page, 1, picture, 2), "") << "page " << p + 1;
        }
      }
    }
  }
}

}  // namespace
}  // namespace preview_test
