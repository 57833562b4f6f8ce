// End to end through cupsfilter: the CUPS test page goes through the real
// chain pdftopdf -> gstoraster -> quilldot with the shipped 80 mm receipt
// PPD. The oracle is the raster the same chain makes without quilldot: the
// decoded printer stream must hold exactly its dots.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <cups/raster.h>

#include "dot_test_util.h"
#include "support/dot_stream_decoder.h"

namespace dot_test {
namespace {

namespace fs = std::filesystem;
using quill_test::DecodeDotStream;
using quill_test::DiffDots;
using quill_test::DotStream;
using quill_test::ToHex;

constexpr char kSystemFilters[] = "/usr/lib/cups/filter";
constexpr char kTestPage[] = "/usr/share/cups/data/default-testpage.pdf";
constexpr char kCupsfilter[] = "/usr/sbin/cupsfilter";
constexpr int kChainTimeoutSeconds = 180;

// A private filter folder for cupsfilter: the system's pdftopdf and
// gstoraster, and a copy of the built quilldot that is owned by the current
// user and not writable by others (cupsfilter refuses unsafe filters when
// it runs as root). cups-files.conf points ServerBin at it.
class PrivateServerBin {
 public:
  PrivateServerBin() {
    const fs::path filter = fs::path(dir_.Path()) / "filter";
    fs::create_directories(filter);
    chmod(dir_.Path().c_str(), 0755);
    chmod(filter.c_str(), 0755);
    for (const char* name : {"pdftopdf", "gstoraster"})
      fs::create_symlink(fs::path(kSystemFilters) / name, filter / name);
    fs::copy_file(QuilldotPath(), filter / "quilldot");
    chmod((filter / "quilldot").c_str(), 0755);
    WriteTextFile(dir_.File("cups-files.conf"), "ServerBin " + dir_.Path() + "\n");
  }
  std::string Conf() const { return dir_.File("cups-files.conf"); }

 private:
  TempDir dir_;
};

// Every page of a one-bit CUPS raster file as dots.
std::vector<DotRows> ReadRasterDots(const std::string& path) {
  std::vector<DotRows> pages;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  while (ras && cupsRasterReadHeader2(ras, &h)) {
    EXPECT_EQ(h.cupsBitsPerColor, 1u);
    DotRows dots;
    Bytes row(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine) == 0) break;
      std::vector<uint8_t> line(h.cupsWidth);
      for (unsigned x = 0; x < h.cupsWidth; ++x) line[x] = (row[x / 8] >> (7 - x % 8)) & 1;
      dots.push_back(line);
    }
    pages.push_back(dots);
  }
  if (ras) cupsRasterClose(ras);
  close(fd);
  return pages;
}

RunResult Cupsfilter(const PrivateServerBin& bin, const std::string& ppd, const char* mime) {
  return RunProgram(kCupsfilter,
                    {"cupsfilter", "-c", bin.Conf(), "-p", ppd, "-m", mime, "-e", kTestPage},
                    {"CUPS_SERVER=/nonexistent/quill-test-cups.sock"}, "", kChainTimeoutSeconds);
}

TEST(DotEndToEnd, CupsTestPageThroughTheReceiptChain) {
  for (const char* needed : {kCupsfilter, kTestPage})
    ASSERT_TRUE(fs::exists(needed)) << needed << " is missing: run scripts/install-deps.sh";
  for (const char* name : {"pdftopdf", "gstoraster"})
    ASSERT_TRUE(fs::exists(fs::path(kSystemFilters) / name))
        << name << " is missing: run scripts/install-deps.sh";
  const std::string ppd = std::string(QUILL_SOURCE_DIR) + "/ppd/quill-rp80.ppd";
  PrivateServerBin bin;

  const RunResult printed = Cupsfilter(bin, ppd, "printer/quill-rp80");
  ASSERT_FALSE(printed.timed_out);
  ASSERT_EQ(printed.status, 0) << printed.err;
  EXPECT_NE(printed.err.find("INFO: quilldot (PID"), std::string::npos) << printed.err;
  EXPECT_NE(printed.err.find("[QL] ModelNumber=10"), std::string::npos);
  EXPECT_NE(printed.err.find("[QL] maxwidth=576"), std::string::npos);
  EXPECT_NE(printed.err.find("PAGE: 1, 1/1 copies"), std::string::npos);

  const RunResult raster = Cupsfilter(bin, ppd, "application/vnd.cups-raster");
  ASSERT_FALSE(raster.timed_out);
  ASSERT_EQ(raster.status, 0) << raster.err;
  TempDir dir;
  const std::string raster_path = dir.File("page.ras");
  {
    FILE* f = fopen(raster_path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(raster.out.data(), 1, raster.out.size(), f);
    fclose(f);
  }
  const std::vector<DotRows> pages = ReadRasterDots(raster_path);
  ASSERT_FALSE(pages.empty());

  const DotStream stream = DecodeDotStream(printed.out, {3, 1, true});
  ASSERT_EQ(stream.error, "");
  ASSERT_EQ(stream.pages.size(), pages.size() + 1);  // and the final reset
  size_t total_dots = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(DiffDots(stream.pages[i].Plane(0), pages[i]), "") << "page " << i + 1;
    total_dots += stream.pages[i].Plane(0).DotCount();
    // The 575-dot page is centred in the 576-dot mechanism.
    const Bytes page = stream.PageBytes(static_cast<int>(i));
    ASSERT_GE(page.size(), 10u);
    EXPECT_EQ(ToHex(Bytes(page.begin(), page.begin() + 10)), "1B 40 1D 57 3F 02 1D 4C 00 00");
  }
  EXPECT_GT(total_dots, 10000u);  // the test page is far from blank
  EXPECT_EQ(ToHex(stream.PageBytes(static_cast<int>(pages.size()))), "1B 40");
}

}  // namespace
}  // namespace dot_test
