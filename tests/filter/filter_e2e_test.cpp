// quillfilter in real CUPS chains, everything started by the test itself:
//
//   1. cupsfilter turns CUPS's own test page (PDF) into printer bytes
//      through pdftopdf, gstoraster and quillfilter, with a test PPD whose
//      *cupsFilter names the built filter.
//   2. A private cupsd (temporary ServerRoot, listening only on 127.0.0.1 at
//      a free port, FileDevice Yes) gets a queue from lpadmin with a file:
//      device and the test PPD; jobs sent with lp must complete, and the
//      CustomColorMode lookup must prefer the job option over the option
//      saved for the queue, and that over the PPD default.
//
// The filter and libquillcore are copied into the test's directory as
// <dir>/filter/quillfilter and <dir>/lib (the installed layout), owned by
// root and not writable by others, as CUPS demands of filters it runs as
// root; cupsd runs them as its unprivileged user, who can read that
// directory. Every wait is bounded; cupsd is stopped by its pid.
//
// Printer output is checked for the document commands it starts with, and
// the inkjet jobs are decoded back into dots (support/band_decoder.h) and
// compared with the raster the chain rendered: no dot outside the imaging
// box, no dot on blank paper, and the ink density of every small area as
// the raster asks for it, whatever the halftoner does in detail.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "common/cups_raster_writer.h"
#include "common/ppd_writer.h"
#include "filter_test_util.h"
#include "preview/band_decoder.h"
#include "subprocess.h"

namespace {

namespace fs = std::filesystem;
using quill_filter_test::CommandResult;
using quill_filter_test::CountContaining;
using quill_filter_test::CountLine;
using quill_filter_test::Hex;
using quill_filter_test::ReadFile;
using quill_filter_test::RunCommand;
using quill_filter_test::Subprocess;
using quill_filter_test::TempDir;

constexpr const char* kTestPagePdf = "/usr/share/cups/data/default-testpage.pdf";
constexpr const char* kCupsd = "/usr/sbin/cupsd";
constexpr const char* kCupsfilter = "/usr/sbin/cupsfilter";
constexpr int kCommandTimeoutMs = 60000;
constexpr int kJobTimeoutMs = 120000;

// Initialisation and the long start-of-document command of a 360 dpi job.
const std::string kLongStartBytes("\x1B\x40\x1B\x1D\x1E\x00\x0C\x04\x1B\x1D\x1F\x1B\x78\x03", 14);

bool Executable(const char* path) { return access(path, X_OK) == 0; }

// Copies the built filter and the library's shared object into
// <dir>/filter and <dir>/lib. Returns the filter's path, empty on failure.
std::string InstallFilterCopy(const TempDir& dir) {
  std::error_code ec;
  fs::create_directories(dir.File("filter"), ec);
  fs::create_directories(dir.File("lib"), ec);
  const fs::path filter = dir.File("filter/quillfilter");
  const fs::path lib_dir = dir.File("lib");
  fs::copy_file(QUILLFILTER_PATH, filter, fs::copy_options::overwrite_existing, ec);
  if (ec) return "";
  // The library is found through the program's $ORIGIN/../lib search path.
  const fs::path lib = fs::path(QUILLFILTER_PATH).parent_path().parent_path() / "lib";
  for (const auto& entry : fs::directory_iterator(lib, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("libquillcore.so", 0) != 0) continue;
    fs::copy(entry.path(), lib_dir / name, fs::copy_options::copy_symlinks, ec);
  }
  for (const char* d : {"", "/filter", "/lib"}) chmod((dir.path() + d).c_str(), 0755);
  chmod(filter.c_str(), 0755);
  return filter.string();
}

// The test printer: a serial inkjet at 360 dpi with a 24-row head, margins
// unequal at top and bottom, and the ink choice.
quill_test::PpdSpec TestPrinter(const std::string& filter) {
  quill_test::PpdSpec spec;
  spec.model_name = "Quill E2E Inkjet";
  spec.pc_file_name = "QUILLE2E.PPD";
  spec.filter = filter;
  spec.resolutions = {quill_test::PpdResolution{360, 360, 24}};
  spec.margins[0] = 9.0f;
  spec.margins[1] = 18.0f;
  spec.margins[2] = 9.0f;
  spec.margins[3] = 36.0f;
  quill_test::PpdOption ink = quill_test::CustomColorModeOption({"1", "2"}, "1");
  ink.choices.push_back({"Auto", "Automatic", ""});
  spec.options.push_back(ink);
  return spec;
}

// Printer bytes of a job: the document commands, then page data.
void ExpectPrinterBytes(const std::string& out) {
  ASSERT_GT(out.size(), kLongStartBytes.size());
  EXPECT_EQ(Hex(out.substr(0, kLongStartBytes.size())), Hex(kLongStartBytes));
}

// ---------------------------------------------------------------------------
// cupsfilter

TEST(FilterE2E, CupsfilterPrintsTheTestPageThroughTheRealChain) {
  if (!Executable(kCupsfilter) || access(kTestPagePdf, R_OK) != 0) {
    GTEST_SKIP() << "cupsfilter or the CUPS test page is not installed";
  }
  TempDir dir;
  const std::string filter = InstallFilterCopy(dir);
  ASSERT_FALSE(filter.empty());
  const std::string ppd = dir.File("printer.ppd");
  ASSERT_TRUE(quill_test::WritePpd(ppd, TestPrinter(filter)));

  // -e: use the filters the PPD names (an absolute path here) next to the
  // system's; -m printer/foo: run the chain all the way to the printer.
  CommandResult r = RunCommand(
      {kCupsfilter, "-e", "-p", ppd, "-m", "printer/foo", "-o", "Resolution=360dpi", kTestPagePdf},
      {"CUPS_SERVER=127.0.0.1:9", "TMPDIR=" + dir.path()}, "", kJobTimeoutMs);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountContaining(r.err, "INFO: pdftopdf (PID"), 2) << r.err;  // started, exited
  EXPECT_EQ(CountContaining(r.err, "INFO: gstoraster (PID"), 2);
  EXPECT_EQ(CountContaining(r.err, filter + " (PID"), 2);
  EXPECT_EQ(CountContaining(r.err, "exited with no errors"), 3) << r.err;
  EXPECT_EQ(CountContaining(r.err, "ERROR:"), 0) << r.err;

  // The raster gstoraster made covers the imaging box of the PPD; the
  // filter placed it on the whole sheet and the library started the job.
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] HWResolution=360x360"), 1) << r.err;
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsRowCount=24"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsImagingBBox=9.000000,18.000000,"
                             "603.000000,756.000000"),
            1);
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 1, 1/1 copies"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] DocumentProcessInk1"), 1);
  EXPECT_EQ(CountContaining(r.err, "INFO: [quillfilter] Job "), 1);
  ExpectPrinterBytes(r.out);
}

// ---------------------------------------------------------------------------
// The printed test page, decoded back into dots

// How much ink a 24-bit RGB raster asks for, pixel by pixel, as a one-ink
// printer would lay it down: the grey value after the gamma of 2.2 that
// quillfilter configures (v' = 255 (v / 255)^(1 / 2.2)) and the luminance
// weights 0.2126, 0.7152, 0.0722; ink = 1 - grey / 255. Any halftoner keeps
// this density on average over an area; where the dots fall is its own.
class InkMap {
 public:
  // The raster's pixels placed on a sheet of `width` x `height` dots with
  // the raster's first pixel at (x_off, y_off); everything else is paper.
  InkMap(const quill_test::RasterPage& page, uint32_t width, uint32_t height, uint32_t x_off,
         uint32_t y_off)
      : width_(width), height_(height), ink_(size_t{width} * height, 0.0f) {
    float lut[256];
    for (int v = 0; v < 256; ++v) lut[v] = 255.0f * std::pow(v / 255.0f, 1.0f / 2.2f);
    const uint32_t step = page.header.cupsBitsPerPixel / 8;
    for (uint32_t y = 0; y < page.header.cupsHeight && y + y_off < height; ++y) {
      const uint8_t* row = page.Row(y);
      for (uint32_t x = 0; x < page.header.cupsWidth && x + x_off < width; ++x) {
        const uint8_t* px = row + size_t{x} * step;
        const float grey = 0.2126f * lut[px[0]] + 0.7152f * lut[px[1]] + 0.0722f * lut[px[2]];
        ink_[size_t{y + y_off} * width + x + x_off] = std::max(0.0f, 1.0f - grey / 255.0f);
      }
    }
  }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  float At(uint32_t x, uint32_t y) const { return ink_[size_t{y} * width_ + x]; }

 private:
  uint32_t width_, height_;
  std::vector<float> ink_;  // 0 paper .. 1 full ink, row-major
};

// Expected and printed ink per square cell of `cell` x `cell` dots.
struct CellDensities {
  uint32_t cols = 0, rows = 0;
  std::vector<double> expected;  // mean ink the raster asks for
  std::vector<double> printed;   // fraction of dots printed
  std::vector<bool> any_ink;     // some pixel of the cell asks for ink

  CellDensities(const InkMap& map, const quillpreview::DotPlane& dots, uint32_t cell)
      : cols((map.width() + cell - 1) / cell), rows((map.height() + cell - 1) / cell),
        expected(size_t{cols} * rows, 0.0), printed(size_t{cols} * rows, 0.0),
        any_ink(size_t{cols} * rows, false) {
    std::vector<uint32_t> area(size_t{cols} * rows, 0);
    for (uint32_t y = 0; y < map.height(); ++y) {
      for (uint32_t x = 0; x < map.width(); ++x) {
        const size_t c = size_t{y / cell} * cols + x / cell;
        const float ink = map.At(x, y);
        expected[c] += ink;
        any_ink[c] = any_ink[c] || ink > 0.0f;
        printed[c] += dots.Dot(y, x) ? 1.0 : 0.0;
        ++area[c];
      }
    }
    for (size_t c = 0; c < area.size(); ++c) {
      expected[c] /= area[c];
      printed[c] /= area[c];
    }
  }

  // True when the cell (col, row) and its eight neighbours ask for no ink.
  bool BlankAround(uint32_t col, uint32_t row) const {
    for (uint32_t r = row > 0 ? row - 1 : 0; r <= std::min(row + 1, rows - 1); ++r) {
      for (uint32_t c = col > 0 ? col - 1 : 0; c <= std::min(col + 1, cols - 1); ++c) {
        if (any_ink[size_t{r} * cols + c]) return false;
      }
    }
    return true;
  }
};

// Compares the dots of one colour with the ink the raster asks for: no dot
// outside [x_off, x_off + w) x [y_off, y_off + h); no dot in a cell whose
// neighbourhood is paper; and, over cells of `cell` dots, printed and asked
// density within `tolerance`. Returns the failures as text (empty when all
// hold) and the largest density difference in `worst`.
std::string CompareInk(const InkMap& map, const quillpreview::DotPlane& dots, uint32_t x_off,
                       uint32_t y_off, uint32_t w, uint32_t h, uint32_t cell, double tolerance,
                       double* worst) {
  std::string out;
  int shown = 0;
  auto note = [&](const std::string& s) {
    if (shown++ < 10) out += s + "\n";
  };
  const uint32_t rows = std::max(dots.Rows(), map.height());
  const uint32_t cols = std::max(dots.Width(), map.width());
  for (uint32_t y = 0; y < rows; ++y) {
    for (uint32_t x = 0; x < cols; ++x) {
      if (dots.Dot(y, x) && (x < x_off || x >= x_off + w || y < y_off || y >= y_off + h)) {
        note("dot outside the imaging box at row " + std::to_string(y) + ", column " +
             std::to_string(x));
      }
    }
  }
  const CellDensities d(map, dots, cell);
  *worst = 0.0;
  for (uint32_t r = 0; r < d.rows; ++r) {
    for (uint32_t c = 0; c < d.cols; ++c) {
      const size_t i = size_t{r} * d.cols + c;
      const std::string where =
          "cell at row " + std::to_string(r * cell) + ", column " + std::to_string(c * cell);
      if (d.BlankAround(c, r) && d.printed[i] > 0.0) note("dots on blank paper in the " + where);
      const double diff = std::fabs(d.printed[i] - d.expected[i]);
      *worst = std::max(*worst, diff);
      if (diff > tolerance) {
        note("density " + std::to_string(d.printed[i]) + " instead of " +
             std::to_string(d.expected[i]) + " in the " + where);
      }
    }
  }
  return out;
}

// The test page through the real chain, decoded: quillfilter's printer
// bytes for the one-ink printer are played back into dots and compared
// with the raster the same chain hands to quillfilter (cupsfilter stopped
// at application/vnd.cups-raster). The PPD's margins are unequal (18 points
// at the bottom, 36 at the top), so a page placed from the wrong edge of
// the imaging box shows up as dots outside it.
TEST(FilterE2E, CupsfilterTestPageDotsFollowTheRaster) {
  if (!Executable(kCupsfilter) || access(kTestPagePdf, R_OK) != 0) {
    GTEST_SKIP() << "cupsfilter or the CUPS test page is not installed";
  }
  TempDir dir;
  const std::string filter = InstallFilterCopy(dir);
  ASSERT_FALSE(filter.empty());
  const std::string ppd = dir.File("printer.ppd");
  ASSERT_TRUE(quill_test::WritePpd(ppd, TestPrinter(filter)));
  const std::vector<std::string> env = {"CUPS_SERVER=127.0.0.1:9", "TMPDIR=" + dir.path()};

  CommandResult raster =
      RunCommand({kCupsfilter, "-e", "-p", ppd, "-m", "application/vnd.cups-raster", "-o",
                  "Resolution=360dpi", kTestPagePdf},
                 env, "", kJobTimeoutMs);
  ASSERT_EQ(raster.status, 0) << raster.err;
  const std::string raster_path = dir.File("page.ras");
  {
    std::ofstream f(raster_path, std::ios::binary);
    f << raster.out;
  }
  std::vector<quill_test::RasterPage> pages;
  ASSERT_TRUE(quill_test::ReadRasterFile(raster_path, &pages));
  ASSERT_EQ(pages.size(), 1u);
  const quill_test::RasterPage& page = pages[0];
  const cups_page_header2_t& h = page.header;
  ASSERT_EQ(h.cupsBitsPerPixel, 24u);
  ASSERT_EQ(h.HWResolution[0], 360u);
  ASSERT_EQ(h.HWResolution[1], 360u);
  ASSERT_EQ(h.cupsRowCount, 24u);

  CommandResult printed =
      RunCommand({kCupsfilter, "-e", "-p", ppd, "-m", "printer/foo", "-o", "Resolution=360dpi",
                  kTestPagePdf},
                 env, "", kJobTimeoutMs);
  ASSERT_EQ(printed.status, 0) << printed.err;
  ExpectPrinterBytes(printed.out);

  // Letter at 360 dpi; the imaging box 9, 18, 603, 756 starts 45 dots from
  // the left and 180 rows (36 points) from the top.
  const uint32_t sheet_w = static_cast<uint32_t>(360.0f * h.cupsPageSize[0] / 72.0f);
  const uint32_t sheet_h = static_cast<uint32_t>(360.0f * h.cupsPageSize[1] / 72.0f);
  ASSERT_EQ(sheet_w, 3060u);
  ASSERT_EQ(sheet_h, 3960u);
  const uint32_t x_off = 45;
  const uint32_t y_off = 180;
  ASSERT_LE(x_off + h.cupsWidth, sheet_w);
  ASSERT_LE(y_off + h.cupsHeight, sheet_h - 90);  // the bottom margin stays free

  // The document commands (checked above) hold the 1B 78 03 the band
  // decoder does not know; the page follows them.
  const std::vector<uint8_t> bytes(printed.out.begin() + kLongStartBytes.size(),
                                   printed.out.end());
  const quillpreview::DecodedBands decoded =
      quillpreview::DecodeBands(bytes, quillpreview::BandGeometry{});
  EXPECT_TRUE(decoded.problems.empty()) << decoded.problems.front();
  EXPECT_TRUE(decoded.double_dots.empty()) << decoded.double_dots.size() << " dots printed twice";
  ASSERT_EQ(decoded.pages.size(), 1u) << decoded.Summary().substr(0, 2000);
  const quillpreview::DotPlane& dots = decoded.pages[0].planes[0];
  EXPECT_EQ(decoded.pages[0].planes[1].Count(), 0u);

  const InkMap map(page, sheet_w, sheet_h, x_off, y_off);
  double asked = 0.0;
  for (uint32_t y = 0; y < sheet_h; ++y) {
    for (uint32_t x = 0; x < sheet_w; ++x) asked += map.At(x, y);
  }
  ASSERT_GT(asked, 10000.0);  // the test page has plenty of ink
  // The whole page: as many dots as the raster asks for, within 10 %.
  EXPECT_NEAR(static_cast<double>(dots.Count()) / asked, 1.0, 0.10)
      << dots.Count() << " dots for " << asked << " asked";

  for (uint32_t cell : {24u, 72u}) {
    double worst = 0.0;
    const std::string failures =
        CompareInk(map, dots, x_off, y_off, h.cupsWidth, h.cupsHeight, cell,
                   cell == 24 ? 0.08 : 0.05, &worst);
    EXPECT_TRUE(failures.empty()) << failures;
    std::printf("largest density difference over %u x %u dots: %.3f\n", cell, cell, worst);
  }
}

// A copy of the shipped PPD `file` in `dir` whose *cupsFilter names
// `filter` instead of the installed program; empty on failure.
std::string ShippedPpdCopy(const TempDir& dir, const std::string& file,
                           const std::string& filter) {
  std::string text = ReadFile(std::string(QUILL_BINARY_DIR) + "/ppd/" + file);
  const std::string installed = "application/vnd.cups-raster 100 quillfilter\"";
  size_t at = text.find(installed);
  if (at == std::string::npos) return "";
  text.replace(at, installed.size(), "application/vnd.cups-raster 100 " + filter + "\"");
  const std::string path = dir.File(file);
  std::ofstream f(path);
  f << text;
  return f ? path : "";
}

// The PPDs shipped in ppd/ drive the same chain. Their *cupsFilter names
// the program as installed; the test points it at its copy. (Without a
// print server the filter finds no destination and so no CustomColorMode:
// the red/black PPD is exercised through cupsd below.)
struct ShippedPpd {
  const char* file;
  const char* marker;        // a library record only this printer's job writes
  const char* first_bytes;   // hex of the printer bytes the job starts with
  const char* model_line;    // the filter's ModelNumber message
};

class ShippedPpdE2E : public ::testing::TestWithParam<ShippedPpd> {};

TEST_P(ShippedPpdE2E, PrintsTheTestPage) {
  if (!Executable(kCupsfilter) || access(kTestPagePdf, R_OK) != 0) {
    GTEST_SKIP() << "cupsfilter or the CUPS test page is not installed";
  }
  const ShippedPpd& p = GetParam();
  TempDir dir;
  const std::string filter = InstallFilterCopy(dir);
  ASSERT_FALSE(filter.empty());
  const std::string ppd = ShippedPpdCopy(dir, p.file, filter);
  ASSERT_FALSE(ppd.empty()) << p.file;

  CommandResult r = RunCommand({kCupsfilter, "-e", "-p", ppd, "-m", "printer/foo", kTestPagePdf},
                               {"CUPS_SERVER=127.0.0.1:9"}, "", kJobTimeoutMs);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountContaining(r.err, "exited with no errors"), 3) << r.err;
  EXPECT_GE(CountLine(r.err, std::string("DEBUG: [quillfilter] ") + p.marker), 1) << r.err;
  EXPECT_EQ(CountLine(r.err, std::string("DEBUG: [quillfilter] ") + p.model_line), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsBitsPerPixel=24"), 1);
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 1, 1/1 copies"), 1);
  EXPECT_EQ(CountContaining(r.err, "ERROR:"), 0) << r.err;
  const std::string start = p.first_bytes;
  ASSERT_GT(r.out.size(), (start.size() + 1) / 3);
  EXPECT_EQ(Hex(r.out.substr(0, (start.size() + 1) / 3)), start);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, ShippedPpdE2E,
    ::testing::Values(
        ShippedPpd{"quill-ink1.ppd", "DocumentProcessInk1", "1B 40 1B 1D 1E 00 0C 04 1B 1D 1F 1B 78 03",
                   "ModelNumber=0"},
        // The 24-pin processor names no class of its own; its options do.
        ShippedPpd{"quill-dot24.ppd", "parsing options: dither=2:dual_color=1", "1B 40",
                   "ModelNumber=1"}),
    [](const ::testing::TestParamInfo<ShippedPpd>& info) {
      std::string name = info.param.file;
      name = name.substr(6, name.size() - 10);  // "quill-ink1.ppd" -> "ink1"
      return name;
    });

// ---------------------------------------------------------------------------
// A private cupsd

// A free TCP port on 127.0.0.1 (bound once and released).
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::trunc);
  f << text;
  return static_cast<bool>(f);
}

// cupsd with its configuration, spool, logs and state under a temporary
// directory, in the foreground as a child of the test.
class PrivateCupsd {
 public:
  explicit PrivateCupsd(const TempDir& dir) : port_(FreePort()) {
    const std::string root = dir.File("cups");
    for (const char* sub : {"", "/conf", "/spool", "/spool/tmp", "/log", "/cache", "/state"}) {
      fs::create_directories(root + sub);
      chmod((root + sub).c_str(), 0755);
    }
    const std::string files_conf =
        "ServerRoot " + root + "/conf\n"
        "RequestRoot " + root + "/spool\n"
        "TempDir " + root + "/spool/tmp\n"
        "CacheDir " + root + "/cache\n"
        "StateDir " + root + "/state\n"
        "ServerBin /usr/lib/cups\n"
        "DataDir /usr/share/cups\n"
        "AccessLog " + root + "/log/access_log\n"
        "ErrorLog " + root + "/log/error_log\n"
        "PageLog " + root + "/log/page_log\n"
        "FileDevice Yes\n"
        "SystemGroup root\n"
        // cupsd starts filters with an environment of its own; the
        // sanitizer build's settings reach the filter under test this way.
        "PassEnv ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS\n";
    // Anyone on the loopback address may administer this server: it exists
    // only for the test and listens nowhere else.
    const std::string cupsd_conf =
        "LogLevel debug\n"
        // The test's polling fills the debug log fast; a rotated log would
        // lose the job's lines that the tests read.
        "MaxLogSize 0\n"
        "Listen 127.0.0.1:" + std::to_string(port_) + "\n"
        "Browsing No\n"
        "WebInterface No\n"
        "DefaultAuthType None\n"
        "MaxJobs 0\n"
        "PreserveJobHistory Yes\n"
        "<Location />\n  Order allow,deny\n  Allow 127.0.0.1\n</Location>\n"
        "<Location /admin>\n  Order allow,deny\n  Allow 127.0.0.1\n</Location>\n"
        "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    files_conf_ = root + "/conf/cups-files.conf";
    cupsd_conf_ = root + "/conf/cupsd.conf";
    error_log_ = root + "/log/error_log";
    if (port_ <= 0 || !WriteText(files_conf_, files_conf) || !WriteText(cupsd_conf_, cupsd_conf)) {
      return;
    }
    process_ = std::make_unique<Subprocess>(
        std::vector<std::string>{kCupsd, "-f", "-c", cupsd_conf_, "-s", files_conf_},
        std::vector<std::string>{"CUPS_SERVER=" + Server()});
    process_->CloseStdin();
    ready_ = WaitUntilServing(30000);
  }

  // Stops cupsd by its pid (SIGTERM, then SIGKILL after a bounded wait).
  ~PrivateCupsd() {
    if (!process_) return;
    process_->Signal(SIGTERM);
    if (process_->Wait(20000) < 0) process_.reset();  // the destructor kills it
  }

  bool ready() const { return ready_; }
  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> ClientEnv() const { return {"CUPS_SERVER=" + Server()}; }
  std::string ErrorLog() const { return ReadFile(error_log_); }
  std::string StartupOutput() const { return process_ ? process_->err() : ""; }

  // Waits until job `id` reaches a final state; returns it, or 0 on timeout.
  ipp_jstate_t WaitForJob(int id, int timeout_ms) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      ipp_jstate_t state = JobState(id);
      if (state >= IPP_JSTATE_CANCELED) return state;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return static_cast<ipp_jstate_t>(0);
  }

 private:
  http_t* Connect() const {
    return httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 2000,
                        nullptr);
  }

  bool WaitUntilServing(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
      if (http_t* http = Connect()) {
        httpClose(http);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  ipp_jstate_t JobState(int id) const {
    http_t* http = Connect();
    if (http == nullptr) return static_cast<ipp_jstate_t>(0);
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://" + Server() + "/jobs/" + std::to_string(id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "root");
    ipp_t* response = cupsDoRequest(http, request, "/");
    ipp_jstate_t state = static_cast<ipp_jstate_t>(0);
    if (ipp_attribute_t* attr = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
      state = static_cast<ipp_jstate_t>(ippGetInteger(attr, 0));
    }
    ippDelete(response);
    httpClose(http);
    return state;
  }

  int port_;
  std::string files_conf_;
  std::string cupsd_conf_;
  std::string error_log_;
  std::unique_ptr<Subprocess> process_;
  bool ready_ = false;
};

// The job id from lp's "request id is <queue>-<id> (1 file(s))".
int JobIdFromLp(const std::string& out) {
  std::smatch m;
  static const std::regex kRequest("request id is [^ ]+-([0-9]+)");
  return std::regex_search(out, m, kRequest) ? std::stoi(m[1]) : -1;
}

// The lines cupsd logged for one job (its filters' messages among them).
std::string JobLog(const std::string& error_log, int id) {
  const std::string tag = "[Job " + std::to_string(id) + "] ";
  std::string out;
  for (const std::string& line : quill_filter_test::Lines(error_log)) {
    size_t at = line.find(tag);
    if (at != std::string::npos) out += line.substr(at + tag.size()) + "\n";
  }
  return out;
}

class CupsdE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Executable(kCupsd) || !Executable("/usr/sbin/lpadmin") || !Executable("/usr/bin/lp")) {
      GTEST_SKIP() << "cupsd, lpadmin or lp is not installed";
    }
    if (geteuid() != 0) GTEST_SKIP() << "a private cupsd needs root to run its filters";
    filter_ = InstallFilterCopy(dir_);
    ASSERT_FALSE(filter_.empty());
    ppd_ = dir_.File("printer.ppd");
    ASSERT_TRUE(quill_test::WritePpd(ppd_, TestPrinter(filter_)));
    output_ = dir_.File("output.prn");

    // One page of 1 x 0.5 inch at 360 dpi with a black bar across and a
    // red bar below it, for the head of 24 rows: small, so the jobs run
    // quickly.
    quill_test::RasterPageSpec spec;
    spec.page_width_pt = 72.0f;
    spec.page_height_pt = 36.0f;
    spec.x_res = spec.y_res = 360;
    spec.row_count = 24;
    black_ = quill_test::MakePage(spec);
    red_ = quill_test::MakePage(spec);
    for (uint32_t y = 40; y < 60; ++y) {
      for (uint32_t x = 0; x < 3 * black_.header.cupsWidth; ++x) black_.Row(y)[x] = 0;
    }
    for (uint32_t y = 100; y < 130; ++y) {
      for (uint32_t x = 60; x < 300; ++x) {
        red_.Row(y)[3 * x + 1] = 0;  // R 255, G 0, B 0
        red_.Row(y)[3 * x + 2] = 0;
      }
    }
    quill_test::RasterPage page = red_;
    for (uint32_t y = 40; y < 60; ++y) std::copy_n(black_.Row(y), 3 * page.header.cupsWidth, page.Row(y));
    raster_ = dir_.File("page.ras");
    ASSERT_TRUE(quill_test::WriteRasterFile(raster_, {page}));

    cupsd_ = std::make_unique<PrivateCupsd>(dir_);
    ASSERT_TRUE(cupsd_->ready()) << cupsd_->StartupOutput() << cupsd_->ErrorLog();
  }

  void TearDown() override {
    if (HasFailure() && cupsd_) std::fprintf(stderr, "cupsd log:\n%s\n", cupsd_->ErrorLog().c_str());
    cupsd_.reset();
  }

  CommandResult Client(const std::vector<std::string>& argv) {
    return RunCommand(argv, cupsd_->ClientEnv(), "", kCommandTimeoutMs);
  }

  // Sends the raster page to `queue` with lp and the given job options;
  // waits for the job to end. Returns the job id (-1 when lp failed).
  int PrintAndWait(const std::string& queue, const std::vector<std::string>& job_options,
                   ipp_jstate_t* state) {
    std::vector<std::string> argv = {"/usr/bin/lp", "-d", queue};
    for (const std::string& o : job_options) {
      argv.push_back("-o");
      argv.push_back(o);
    }
    argv.push_back(raster_);
    CommandResult lp = Client(argv);
    EXPECT_EQ(lp.status, 0) << lp.err;
    int id = JobIdFromLp(lp.out);
    EXPECT_GT(id, 0) << lp.out;
    if (id > 0) *state = cupsd_->WaitForJob(id, kJobTimeoutMs);
    return id;
  }

  // The printed job decoded into dots (the document commands that open it
  // are checked apart), one page expected.
  quillpreview::DecodedBands DecodeOutput() {
    const std::string out = ReadFile(output_);
    EXPECT_GT(out.size(), kLongStartBytes.size());
    const std::vector<uint8_t> bytes(
        out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), kLongStartBytes.size())),
        out.end());
    quillpreview::DecodedBands decoded = quillpreview::DecodeBands(bytes, quillpreview::BandGeometry{});
    EXPECT_TRUE(decoded.problems.empty()) << decoded.problems.front();
    EXPECT_EQ(decoded.pages.size(), 1u) << decoded.Summary().substr(0, 2000);
    return decoded;
  }

  // Compares `dots` with the ink of `page` over the whole small sheet.
  void ExpectInk(const quill_test::RasterPage& page, const quillpreview::DotPlane& dots) {
    const InkMap map(page, page.header.cupsWidth, page.header.cupsHeight, 0, 0);
    double worst = 0.0;
    const std::string failures = CompareInk(map, dots, 0, 0, page.header.cupsWidth,
                                            page.header.cupsHeight, 24, 0.08, &worst);
    EXPECT_TRUE(failures.empty()) << failures;
  }

  TempDir dir_;
  std::string filter_;
  std::string ppd_;
  std::string output_;
  std::string raster_;
  quill_test::RasterPage black_;  // the job's page with only its black bar
  quill_test::RasterPage red_;    // the job's page with only its red bar
  std::unique_ptr<PrivateCupsd> cupsd_;
};

// "lpadmin -o CustomColorMode=2" makes 2 the queue's choice (lpadmin writes
// it into the server's copy of the PPD, over the original default of 1).
TEST_F(CupsdE2E, JobOptionBeatsQueueOptionBeatsPpdDefault) {
  CommandResult add = Client({"/usr/sbin/lpadmin", "-p", "quillq", "-E", "-v",
                              "file://" + output_, "-P", ppd_, "-o", "CustomColorMode=2", "-o",
                              "printer-error-policy=abort-job"});
  ASSERT_EQ(add.status, 0) << add.err;

  // Without a job option the queue's value wins: the red/black processor.
  ipp_jstate_t state{};
  int first = PrintAndWait("quillq", {}, &state);
  ASSERT_GT(first, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  std::string log = JobLog(cupsd_->ErrorLog(), first);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=2"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] get opt from ppd: CustomColorMode=2"), 1);
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk3"), 1);
  EXPECT_EQ(CountLine(log, "[quillfilter] page 1, 1/1 copies"), 1);
  EXPECT_EQ(CountLine(log, "[quillfilter] Job " + std::to_string(first) + " finished."), 1);
  EXPECT_EQ(CountContaining(log, "(" + filter_ + ") exited with no errors"), 1) << log;
  ExpectPrinterBytes(ReadFile(output_));

  // A job option wins over the queue's value: the one-ink processor.
  int second = PrintAndWait("quillq", {"CustomColorMode=1"}, &state);
  ASSERT_GT(second, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  log = JobLog(cupsd_->ErrorLog(), second);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=1"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk1"), 1);
  EXPECT_EQ(CountContaining(log, "(" + filter_ + ") exited with no errors"), 1) << log;
  ExpectPrinterBytes(ReadFile(output_));

  // A choice that is no number counts as the default and says so.
  int third = PrintAndWait("quillq", {"CustomColorMode=Auto"}, &state);
  ASSERT_GT(third, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  log = JobLog(cupsd_->ErrorLog(), third);
  EXPECT_EQ(CountLine(log, "[quillfilter] CustomColorMode=Auto is not a decimal number, using -1"),
            1)
      << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=-1"), 1);
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk1"), 1);
}

// "-o CustomColorMode-default=2" leaves the PPD alone and saves the value
// as an option of the destination: the filter finds it among the
// destination's options (and cupsd copies it into the job's options), and a
// job option still wins.
TEST_F(CupsdE2E, SavedDestinationOptionAndJobOption) {
  CommandResult add = Client({"/usr/sbin/lpadmin", "-p", "destq", "-E", "-v",
                              "file://" + output_, "-P", ppd_, "-o", "CustomColorMode-default=2",
                              "-o", "printer-error-policy=abort-job"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(ReadFile(dir_.File("cups/conf/ppd/destq.ppd")).find("*DefaultCustomColorMode: 1"),
            std::string::npos);

  ipp_jstate_t state{};
  int first = PrintAndWait("destq", {}, &state);
  ASSERT_GT(first, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  std::string log = JobLog(cupsd_->ErrorLog(), first);
  // Listed among the destination's options and among the job's.
  static const std::regex kListed(R"(\[quillfilter\] [0-9]+: CustomColorMode=2)");
  int listed = 0;
  for (const std::string& line : quill_filter_test::Lines(log)) {
    listed += std::regex_match(line, kListed) ? 1 : 0;
  }
  EXPECT_EQ(listed, 2) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=2"), 1);
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk3"), 1);
  ExpectPrinterBytes(ReadFile(output_));

  int second = PrintAndWait("destq", {"CustomColorMode=1"}, &state);
  ASSERT_GT(second, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  log = JobLog(cupsd_->ErrorLog(), second);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=1"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk1"), 1);
}

// The shipped red/black PPD defaults to black and red.
TEST_F(CupsdE2E, ShippedInk3PpdPrintsBlackAndRed) {
  const std::string ppd = ShippedPpdCopy(dir_, "quill-ink3.ppd", filter_);
  ASSERT_FALSE(ppd.empty());
  CommandResult add = Client({"/usr/sbin/lpadmin", "-p", "ink3q", "-E", "-v",
                              "file://" + output_, "-P", ppd, "-o",
                              "printer-error-policy=abort-job"});
  ASSERT_EQ(add.status, 0) << add.err;
  ipp_jstate_t state{};
  int first = PrintAndWait("ink3q", {}, &state);
  ASSERT_GT(first, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  std::string log = JobLog(cupsd_->ErrorLog(), first);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=2"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk3"), 1);
  ExpectPrinterBytes(ReadFile(output_));
  // Black ink where the page is black, red ink where it is red; every red
  // dot is printed twice (dup_red), nothing else is.
  quillpreview::DecodedBands decoded = DecodeOutput();
  if (decoded.pages.size() == 1) {
    const quillpreview::DecodedPage& printed = decoded.pages[0];
    ExpectInk(black_, printed.planes[0]);
    ExpectInk(red_, printed.planes[1]);
    EXPECT_GT(printed.planes[1].Count(), 240u * 30u / 2);
    EXPECT_EQ(decoded.double_dots.size(), printed.planes[1].Count());
    EXPECT_TRUE(std::all_of(decoded.double_dots.begin(), decoded.double_dots.end(),
                            [](const quillpreview::DoubleDot& d) { return d.colour == 1; }));
  }

  int second = PrintAndWait("ink3q", {"CustomColorMode=1"}, &state);
  ASSERT_GT(second, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  log = JobLog(cupsd_->ErrorLog(), second);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=1"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk1"), 1);
}

TEST_F(CupsdE2E, QueueWithThePpdDefaultPrintsWithOneInk) {
  CommandResult add = Client({"/usr/sbin/lpadmin", "-p", "plainq", "-E", "-v",
                              "file://" + output_, "-P", ppd_, "-o",
                              "printer-error-policy=abort-job"});
  ASSERT_EQ(add.status, 0) << add.err;
  ipp_jstate_t state{};
  int id = PrintAndWait("plainq", {}, &state);
  ASSERT_GT(id, 0);
  EXPECT_EQ(state, IPP_JSTATE_COMPLETED);
  std::string log = JobLog(cupsd_->ErrorLog(), id);
  EXPECT_EQ(CountLine(log, "[quillfilter] color_mode=1"), 1) << log;
  EXPECT_EQ(CountLine(log, "[quillfilter] DocumentProcessInk1"), 1);
  ExpectPrinterBytes(ReadFile(output_));
  // One ink: the red bar prints in black as the grey it is.
  quillpreview::DecodedBands decoded = DecodeOutput();
  if (decoded.pages.size() == 1) {
    quill_test::RasterPage both = red_;
    for (uint32_t y = 40; y < 60; ++y) {
      std::copy_n(black_.Row(y), 3 * both.header.cupsWidth, both.Row(y));
    }
    ExpectInk(both, decoded.pages[0].planes[0]);
    EXPECT_EQ(decoded.pages[0].planes[1].Count(), 0u);
    EXPECT_TRUE(decoded.double_dots.empty());
  }
}

}  // namespace
