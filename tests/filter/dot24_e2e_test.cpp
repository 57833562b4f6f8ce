// quillfilter with a PPD of model number 1 in the real CUPS chain: cupsfilter
// turns CUPS's own test page into a two-colour 24-pin job through pdftopdf,
// gstoraster and quillfilter. The job is decoded back into dots per ribbon
// and compared with the raster gstoraster made for the same PPD: the ink
// must land inside the page's inked area and cover it.
//
// The filter and libquillcore are copied into a temporary directory in the
// installed layout (<dir>/filter, <dir>/lib), as the filter's own
// end-to-end test does; every command runs with a bounded timeout.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <cups/raster.h>
#include <gtest/gtest.h>

#include "common/ppd_writer.h"
#include "common/recording_writer.h"
#include "filter_test_util.h"
#include "preview/bit_image_decoder.h"
#include "subprocess.h"

namespace {

namespace fs = std::filesystem;
using quill_filter_test::CommandResult;
using quill_filter_test::CountContaining;
using quill_filter_test::RunCommand;
using quill_filter_test::TempDir;

constexpr const char* kTestPagePdf = "/usr/share/cups/data/default-testpage.pdf";
constexpr const char* kCupsfilter = "/usr/sbin/cupsfilter";
constexpr int kJobTimeoutMs = 120000;

// Copies the built filter and the shared library into <dir>/filter and
// <dir>/lib. Returns the filter's path, empty on failure.
std::string InstallFilterCopy(const TempDir& dir) {
  std::error_code ec;
  fs::create_directories(dir.File("filter"), ec);
  fs::create_directories(dir.File("lib"), ec);
  const fs::path filter = dir.File("filter/quillfilter");
  fs::copy_file(QUILLFILTER_PATH, filter, fs::copy_options::overwrite_existing, ec);
  if (ec) return "";
  const fs::path lib = fs::path(QUILLFILTER_PATH).parent_path().parent_path() / "lib";
  for (const auto& entry : fs::directory_iterator(lib, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("libquillcore.so", 0) != 0) continue;
    fs::copy(entry.path(), fs::path(dir.File("lib")) / name, fs::copy_options::copy_symlinks, ec);
  }
  for (const char* d : {"", "/filter", "/lib"}) chmod((dir.path() + d).c_str(), 0755);
  chmod(filter.c_str(), 0755);
  return filter.string();
}

// A 24-pin printer at 180 and 360 dpi, model number 1.
quill_test::PpdSpec Dot24Printer(const std::string& filter) {
  quill_test::PpdSpec spec;
  spec.model_name = "Quill E2E 24-pin";
  spec.pc_file_name = "QUILLD24.PPD";
  spec.model_number = 1;
  spec.filter = filter;
  spec.resolutions = {quill_test::PpdResolution{180, 180, 24},
                      quill_test::PpdResolution{360, 360, 24}};
  return spec;
}

// Inked area of a page: [x0, x1) x [y0, y1); empty when x0 >= x1.
struct Box {
  uint32_t x0 = ~0u, y0 = ~0u, x1 = 0, y1 = 0;
  void Add(uint32_t x, uint32_t y) {
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x + 1);
    y1 = std::max(y1, y + 1);
  }
  bool Empty() const { return x0 >= x1; }
};

struct RasterFacts {
  uint32_t width = 0;
  uint32_t height = 0;
  Box ink;  // pixels darker than light grey
};

// The first page of a CUPS raster file (24-bit RGB), and where it is not
// white.
bool ReadFirstPage(const std::string& path, RasterFacts& facts) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  bool ok = ras != nullptr && cupsRasterReadHeader2(ras, &h) && h.cupsBitsPerPixel == 24;
  if (ok) {
    facts.width = h.cupsWidth;
    facts.height = h.cupsHeight;
    std::vector<uint8_t> row(h.cupsBytesPerLine);
    for (uint32_t y = 0; ok && y < h.cupsHeight; ++y) {
      ok = cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine;
      for (uint32_t x = 0; ok && x < h.cupsWidth; ++x) {
        const uint8_t* px = &row[x * 3];
        if (px[0] + px[1] + px[2] < 3 * 200) facts.ink.Add(x, y);
      }
    }
  }
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  return ok;
}

class Dot24EndToEnd : public ::testing::TestWithParam<unsigned> {};

TEST_P(Dot24EndToEnd, CupsfilterTurnsTheTestPageIntoATwoColour24PinJob) {
  if (access(kCupsfilter, X_OK) != 0 || access(kTestPagePdf, R_OK) != 0) {
    GTEST_SKIP() << "cupsfilter or the CUPS test page is not installed";
  }
  const unsigned dpi = GetParam();
  TempDir dir;
  const std::string filter = InstallFilterCopy(dir);
  ASSERT_FALSE(filter.empty());
  const std::string ppd = dir.File("printer.ppd");
  ASSERT_TRUE(quill_test::WritePpd(ppd, Dot24Printer(filter)));
  const std::string resolution = "Resolution=" + std::to_string(dpi) + "dpi";
  const std::vector<std::string> env = {"CUPS_SERVER=127.0.0.1:9", "TMPDIR=" + dir.path()};

  // The raster the chain hands to quillfilter, for reference.
  CommandResult raster = RunCommand({kCupsfilter, "-e", "-p", ppd, "-m",
                                     "application/vnd.cups-raster", "-o", resolution, kTestPagePdf},
                                    env, "", kJobTimeoutMs);
  ASSERT_EQ(raster.status, 0) << raster.err;
  const std::string raster_path = dir.File("page.ras");
  std::ofstream(raster_path, std::ios::binary) << raster.out;
  RasterFacts facts;
  ASSERT_TRUE(ReadFirstPage(raster_path, facts));
  ASSERT_FALSE(facts.ink.Empty());

  // The printer job.
  CommandResult job = RunCommand(
      {kCupsfilter, "-e", "-p", ppd, "-m", "printer/foo", "-o", resolution, kTestPagePdf}, env,
      "", kJobTimeoutMs);
  ASSERT_EQ(job.status, 0) << job.err;
  EXPECT_EQ(CountContaining(job.err, "ERROR:"), 0) << job.err;

  const quill_test::Bytes bytes(job.out.begin(), job.out.end());
  const quillpreview::BitImageStream s = quillpreview::ParseBitImageStream(bytes);
  ASSERT_EQ("", s.error);
  ASSERT_FALSE(s.images.empty());
  // ESC @, the page format in 1/360 inch (sent only by the 24-pin
  // processor), both ribbons.
  EXPECT_EQ(1u, s.initializations);
  EXPECT_EQ((std::vector<uint32_t>{10}), s.units);
  ASSERT_EQ(1u, s.page_lengths.size());
  EXPECT_EQ(360u * facts.height / dpi, s.page_lengths[0]);
  EXPECT_NE(s.color_selects.end(), std::find(s.color_selects.begin(), s.color_selects.end(), 1));
  for (const quillpreview::BitImage& img : s.images) EXPECT_EQ(dpi == 360 ? 40 : 39, img.mode);

  quillpreview::DotGeometry g;
  g.x_unit = 360;
  g.x_res = dpi;
  g.interlaced = dpi >= 360;
  const uint32_t plane = (facts.width + 1) / 2 * 2;  // each plane widened to even
  const quillpreview::DotPage dots = quillpreview::RebuildDots(s, g, 0, plane, facts.height + 48, 2);
  EXPECT_EQ("", dots.error);
  EXPECT_EQ(0u, dots.outside);

  Box printed;
  for (uint32_t c = 0; c < 2; ++c) {
    for (uint32_t y = 0; y < dots.height; ++y) {
      for (uint32_t x = 0; x < dots.width; ++x) {
        if (dots.Dot(c, x, y)) printed.Add(x, y);
      }
    }
  }
  ASSERT_FALSE(printed.Empty());
  EXPECT_GT(dots.CountDots(0), 1000u);
  EXPECT_GT(dots.CountDots(1), 0u);  // the test page's colours reach the second ribbon
  // Every dot lies within the inked area of the raster (one row of slack
  // for the half-unit top feed at 360 dpi), and the printed area spans it.
  const uint32_t slack = 2;
  EXPECT_GE(printed.x0 + slack, facts.ink.x0);
  EXPECT_LE(printed.x1, facts.ink.x1 + slack);
  EXPECT_GE(printed.y0 + slack, facts.ink.y0);
  EXPECT_LE(printed.y1, facts.ink.y1 + slack);
  EXPECT_GE(printed.x1 - printed.x0, (facts.ink.x1 - facts.ink.x0) * 9 / 10);
  EXPECT_GE(printed.y1 - printed.y0, (facts.ink.y1 - facts.ink.y0) * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, Dot24EndToEnd, ::testing::Values(180u, 360u));

}  // namespace
