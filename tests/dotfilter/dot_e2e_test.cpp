// End to end through cupsfilter: the CUPS test page goes through the real
// chain pdftopdf -> gstoraster -> quilldot with the shipped 80 mm receipt
// PPD. The oracle is the raster the same chain makes without quilldot: the
// decoded printer stream must hold exactly its dots.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>

#include <cups/raster.h>

#include "dot_test_util.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {
namespace {

namespace fs = std::filesystem;
using quillpreview::DecodeDotStream;
using quillpreview::DiffDots;
using quillpreview::DotStream;
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
  const std::string ppd = std::string(QUILL_BINARY_DIR) + "/ppd/quill-rp80.ppd";
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

// A private cupsd on a Unix socket in a temporary folder, with its own
// configuration and spool; it knows only the queues a test adds. It is
// started under timeout(1), so it never outlives the test by long, and is
// stopped on destruction.
class PrivateCupsd {
 public:
  PrivateCupsd() {
    for (const char* sub : {"etc/ppd", "cache", "state", "spool", "tmp", "log"})
      fs::create_directories(fs::path(dir_.Path()) / sub);
    chmod(dir_.Path().c_str(), 0755);
    const std::string d = dir_.Path();
    WriteTextFile(dir_.File("cups-files.conf"),
                  "ServerRoot " + d + "/etc\nCacheDir " + d + "/cache\nStateDir " + d +
                      "/state\nRequestRoot " + d + "/spool\nTempDir " + d +
                      "/tmp\nAccessLog " + d + "/log/access_log\nErrorLog " + d +
                      "/log/error_log\nPageLog " + d + "/log/page_log\nFileDevice Yes\n");
    WriteTextFile(dir_.File("cupsd.conf"),
                  "Listen " + Socket() +
                      "\nLogLevel debug\nBrowsing No\nWebInterface No\n"
                      "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                      "</Policy>\n");
    Child child = StartWithPipe("/usr/bin/timeout",
                                {"timeout", "300", kCupsd, "-f", "-c", dir_.File("cupsd.conf"),
                                 "-s", dir_.File("cups-files.conf")},
                                {}, dir_.File("cupsd.out"), dir_.File("cupsd.err"));
    pid_ = child.pid;
    if (child.stdin_fd >= 0) close(child.stdin_fd);
    const time_t deadline = time(nullptr) + 30;
    while (time(nullptr) < deadline && !fs::is_socket(Socket())) usleep(10000);
  }
  ~PrivateCupsd() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      RunResult r;
      WaitChild(pid_, 30, &r);
    }
  }
  bool Up() const { return pid_ > 0 && fs::is_socket(Socket()); }
  std::string Socket() const { return dir_.File("cups.sock"); }
  std::string Log() const {
    const Bytes b = ReadFileBytes(dir_.File("log/error_log"));
    return std::string(b.begin(), b.end());
  }

  static constexpr char kCupsd[] = "/usr/sbin/cupsd";

 private:
  TempDir dir_;
  pid_t pid_ = -1;
};

TEST(DotEndToEnd, OptionsComeFromTheQueueAndTheJob) {
  ASSERT_TRUE(fs::exists(PrivateCupsd::kCupsd)) << "cupsd is missing: run scripts/install-deps.sh";
  PrivateCupsd cupsd;
  ASSERT_TRUE(cupsd.Up()) << cupsd.Log();
  const std::string ppd = std::string(QUILL_BINARY_DIR) + "/ppd/quill-rp80.ppd";
  // The queue's defaults: a partial cut after each page and logo 1 on every
  // page. The job adds the drawer at its start and paper type 2.
  const RunResult admin = RunProgram(
      "/usr/sbin/lpadmin",
      {"lpadmin", "-p", "dotq", "-E", "-v", "file:///dev/null", "-P", ppd, "-o", "Cutting=5",
       "-o", "Logo=101"},
      {"CUPS_SERVER=" + cupsd.Socket()}, "", 60);
  ASSERT_EQ(admin.status, 0) << admin.err << cupsd.Log();

  TempDir dir;
  DotRows dots = BlankDots(512, 24);
  dots[0][0] = 1;
  ASSERT_TRUE(WriteRaster(dir.File("job.ras"),
                          {MakePage(BandHeader(512, 24, 24, 203, 203), dots)}));
  const RunResult r = RunQuilldot(JobArgs(dir.File("job.ras"), "Drawer=2 PaperType=2"), ppd, "",
                                  cupsd.Socket());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("[QL] options of this destination>>\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[QL] printer-uri-supported=ipp://"), std::string::npos);
  EXPECT_NE(r.err.find("[QL] <<options of this destination\n"
                       "[QL] CuttingMethod = 5\n"
                       "[QL] DrawerMethod = 2\n"
                       "[QL] BlackMarkMethod = 0\n"
                       "[QL] LogoMethod = 101\n"
                       "[QL] PaperType = 2\n"),
            std::string::npos)
      << r.err;

  const DotStream s = DecodeDotStream(r.out, {3, 1, true});
  ASSERT_EQ(s.error, "");
  EXPECT_EQ(ToHex(s.PageBytes(-1)), "1B 70 00 FF FF");  // the drawer, before the page
  const std::vector<std::string> page = {
      "ESC @", "GS W", "GS L", "ESC GS RS",   // width, margin, set-up
      "ESC a", "FS p", "ESC a",               // logo 1
      "CR", "ESC *", "ESC J",                 // the band
      "GS V", "ESC GS RS"};                   // partial cut, page end
  EXPECT_EQ(s.Names(0), page);
  EXPECT_EQ(ToHex(s.Find("GS V")[0]->bytes), "1D 56 42 18");
  EXPECT_EQ(ToHex(s.Find("FS p")[0]->bytes), "1C 70 01 00");
  EXPECT_EQ(ToHex(s.Find("ESC GS RS")[0]->bytes), "1B 1D 1E 04 31 02 B0 10 1B 1D 1F");
  EXPECT_EQ(DiffDots(s.pages[0].Plane(0), dots), "");
}

}  // namespace
}  // namespace dot_test
