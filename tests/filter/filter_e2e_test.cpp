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
// Printer output is checked for the document commands it starts with and
// for having page data after them; decoding the printed page back into dots
// belongs to the page pipeline's own tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include "filter_test_util.h"
#include "subprocess.h"
#include "support/cups_raster_writer.h"
#include "support/ppd_writer.h"

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

// A copy of the shipped PPD `file` in `dir` whose *cupsFilter names
// `filter` instead of the installed program; empty on failure.
std::string ShippedPpdCopy(const TempDir& dir, const std::string& file,
                           const std::string& filter) {
  std::string text = ReadFile(std::string(QUILL_SOURCE_DIR) + "/ppd/" + file);
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
  const char* processor;     // the library class the filter chooses
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
  EXPECT_EQ(CountLine(r.err, std::string("DEBUG: [quillfilter] ") + p.processor), 1) << r.err;
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
        ShippedPpd{"quill-dot24.ppd", "DocumentProcessDot24", "1B 40", "ModelNumber=1"}),
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
  explicit PrivateCupsd(const TempDir& dir) : dir_(dir), port_(FreePort()) {
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
        "SystemGroup root\n";
    // Anyone on the loopback address may administer this server: it exists
    // only for the test and listens nowhere else.
    const std::string cupsd_conf =
        "LogLevel debug\n"
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

  const TempDir& dir_;
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

    // One page of 1 x 0.5 inch at 360 dpi with a black bar, for the head
    // of 24 rows: small, so the jobs run quickly.
    quill_test::RasterPageSpec spec;
    spec.page_width_pt = 72.0f;
    spec.page_height_pt = 36.0f;
    spec.x_res = spec.y_res = 360;
    spec.row_count = 24;
    quill_test::RasterPage page = quill_test::MakePage(spec);
    for (uint32_t y = 40; y < 60; ++y) {
      for (uint32_t x = 0; x < 3 * page.header.cupsWidth; ++x) page.Row(y)[x] = 0;
    }
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

  TempDir dir_;
  std::string filter_;
  std::string ppd_;
  std::string output_;
  std::string raster_;
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
}

}  // namespace
