// quilldot's streams back through quillpreview: the built filter prints
// CUPS raster pages as CUPS runs it, and quillpreview, told nothing, must
// see quilldot, find its band geometry and give back every dot of every
// page in its colour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dotfilter/dot_test_util.h"
#include "preview/stream_preview.h"

namespace dot_test {
namespace {

using quillpreview::PreviewOptions;
using quillpreview::PreviewPage;
using quillpreview::PreviewResult;
using quillpreview::PreviewStream;
using quillpreview::StreamFormat;

// Runs quilldot on the pages (with the PPD of `model`, none for -1) and
// previews its output.
PreviewResult PrintAndPreview(const std::vector<RasterPage>& pages, int model,
                              std::vector<std::pair<std::string, std::string>> addons = {}) {
  TempDir dir;
  EXPECT_TRUE(WriteRaster(dir.File("job.ras"), pages));
  std::string ppd_path;
  if (model >= 0) {
    PpdSpec ppd;
    ppd.model = model;
    ppd.addons = std::move(addons);
    ppd_path = dir.File("printer.ppd");
    WriteTextFile(ppd_path, PpdText(ppd));
  }
  const RunResult run = RunQuilldot(JobArgs(dir.File("job.ras")), ppd_path);
  EXPECT_EQ(run.status, 0) << run.err;
  return PreviewStream(run.out, PreviewOptions{});
}

// "" when plane `plane` of the page holds exactly the dots.
std::string Compare(const PreviewPage& page, size_t plane, const DotRows& dots) {
  if (plane >= page.planes.size()) return "no plane " + std::to_string(plane);
  int differences = 0;
  std::string first;
  const uint32_t height = static_cast<uint32_t>(dots.size());
  const uint32_t width = height == 0 ? 0 : static_cast<uint32_t>(dots[0].size());
  for (uint32_t y = 0; y < std::max(height, page.height); ++y) {
    for (uint32_t x = 0; x < std::max(width, page.width); ++x) {
      const bool want = y < height && x < width && dots[y][x] != 0;
      const bool got = y < page.height && x < page.width && page.Ink(plane, x, y) == 255;
      if (want != got && differences++ == 0) {
        first = "(" + std::to_string(x) + "," + std::to_string(y) + ") " + (got ? "extra" : "missing");
      }
    }
  }
  return differences == 0 ? "" : first + ", " + std::to_string(differences) + " differences";
}

// A page whose ink reaches its last row and column.
DotRows PageDots(unsigned width, unsigned height, unsigned seed) {
  DotRows dots = RandomDots(width, height, seed, 35);
  BlankRows(&dots, height / 3, height / 3 + 40);  // blank bands merge into one feed
  dots[height - 1][width - 1] = 1;
  return dots;
}

struct BandCase {
  const char* name;
  int model;
  unsigned row_count, hres, vres, row_step, row_feed;
};

class QuilldotBands : public ::testing::TestWithParam<BandCase> {};

TEST_P(QuilldotBands, TwoPagesComeBackDotForDot) {
  const BandCase c = GetParam();
  std::vector<RasterPage> pages;
  std::vector<DotRows> dots;
  for (unsigned p = 0; p < 2; ++p) {
    const unsigned width = c.model == 10 ? 512 : 250 - 40 * p;
    const unsigned height = 3 * c.row_count + 7 + 13 * p;  // a partial band at the end
    cups_page_header2_t h = BandHeader(width, height, c.row_count, c.hres, c.vres);
    h.cupsRowStep = c.row_step;
    h.cupsRowFeed = c.row_feed;
    dots.push_back(PageDots(width, height, 40 + p));
    pages.push_back(MakePage(h, dots.back()));
  }
  std::vector<std::pair<std::string, std::string>> addons;
  if (c.model == 10) addons = {{"maxwidth", "576"}, {"cutter", "1"}};
  const PreviewResult r = PrintAndPreview(pages, c.model, addons);
  EXPECT_FALSE(r.failed) << r.error;
  EXPECT_EQ(r.format, StreamFormat::kQuilldot) << r.format_reason;
  ASSERT_EQ(r.pages.size(), 2u) << r.geometry;
  EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
  for (size_t p = 0; p < 2; ++p) {
    EXPECT_EQ(r.pages[p].x_res, c.hres) << r.geometry;
    EXPECT_EQ(r.pages[p].y_res, c.vres) << r.geometry;
    ASSERT_EQ(r.pages[p].planes.size(), 1u);
    EXPECT_EQ(Compare(r.pages[p], 0, dots[p]), "") << "page " << p + 1 << ", " << r.geometry;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Printers, QuilldotBands,
    ::testing::Values(BandCase{"model0_24pin_180dpi", -1, 24, 180, 180, 0, 0},
                      BandCase{"model0_9pin_72dpi", 0, 8, 120, 72, 0, 0},
                      BandCase{"model0_interleave_144dpi", 0, 16, 120, 144, 1, 15},
                      BandCase{"model1_interlace_360dpi", 1, 48, 360, 360, 1, 47},
                      BandCase{"model1_180dpi", 1, 24, 180, 180, 0, 0},
                      BandCase{"receipt_203dpi", 10, 24, 203, 203, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Raster lines, packed and not, one plane and four (each in its colour).
TEST(QuilldotRaster, LinesComeBackInEveryPlaneWithAndWithoutCompression) {
  for (unsigned compression : {0u, 1u}) {
    for (int planes : {1, 4}) {
      SCOPED_TRACE("compression " + std::to_string(compression) + ", planes " + std::to_string(planes));
      cups_page_header2_t h = RasterHeader(200, 60, 360, 180, planes, compression);
      std::vector<DotRows> dots;
      for (int i = 0; i < planes; ++i) dots.push_back(PageDots(200, 60, 60 + static_cast<unsigned>(i)));
      const PreviewResult r = PrintAndPreview({MakePlanarPage(h, dots)}, 4);
      EXPECT_FALSE(r.failed) << r.error;
      EXPECT_EQ(r.format, StreamFormat::kQuilldot);
      ASSERT_EQ(r.pages.size(), 1u);
      const PreviewPage& page = r.pages[0];
      EXPECT_EQ(page.x_res, 360u);
      EXPECT_EQ(page.y_res, 180u);
      ASSERT_EQ(page.planes.size(), static_cast<size_t>(planes));
      // KCMY planes are colours 0, 2, 1 and 4, kept in colour order.
      const std::vector<std::pair<const char*, int>> order =
          planes == 1 ? std::vector<std::pair<const char*, int>>{{"black", 0}}
                      : std::vector<std::pair<const char*, int>>{
                            {"black", 0}, {"magenta", 2}, {"cyan", 1}, {"yellow", 3}};
      for (size_t k = 0; k < order.size(); ++k) {
        EXPECT_EQ(page.planes[k].name, order[k].first);
        EXPECT_EQ(Compare(page, k, dots[static_cast<size_t>(order[k].second)]), "") << order[k].first;
      }
    }
  }
}

}  // namespace
}  // namespace dot_test
