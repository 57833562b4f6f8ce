// The built quillfilter program as CUPS runs it: argument handling, exit
// status, the message lines on standard error, printer bytes on standard
// output, raster from a file or from standard input, and SIGTERM.
//
// Until the page pipeline prints, the printer bytes of a job are the
// document commands; the checks on them are prefixes, so they hold once
// pages follow.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cups_raster_writer.h"
#include "common/ppd_writer.h"
#include "common/run_with_stdout.h"
#include "filter_test_util.h"
#include "subprocess.h"

namespace {

using quill_filter_test::CountLine;
using quill_filter_test::Hex;
using quill_filter_test::Lines;
using quill_filter_test::Subprocess;
using quill_filter_test::TempDir;
using quill_test::MakePage;
using quill_test::RasterPage;
using quill_test::RasterPageSpec;

constexpr int kTimeoutMs = 30000;

// Initialisation and the long start-of-document command of a job below
// 400 dpi.
const std::string kLongStartBytes("\x1B\x40\x1B\x1D\x1E\x00\x0C\x04\x1B\x1D\x1F\x1B\x78\x03", 14);

// No print server is asked for the destination; no PPD unless a test sets
// one.
std::vector<std::string> HermeticEnv(const std::string& ppd = "") {
  return {"CUPS_SERVER=127.0.0.1:9", "PPD=" + ppd};
}

std::vector<std::string> FilterArgs(const std::vector<std::string>& rest) {
  std::vector<std::string> argv = {QUILLFILTER_PATH};
  argv.insert(argv.end(), rest.begin(), rest.end());
  return argv;
}

RasterPage SmallPage(unsigned res = 360, unsigned copies = 1) {
  RasterPageSpec spec;
  spec.page_width_pt = 36.0f;
  spec.page_height_pt = 18.0f;
  spec.x_res = res;
  spec.y_res = res;
  spec.row_count = 24;
  spec.num_copies = copies;
  return MakePage(spec);
}

// Every line on standard error is a CUPS message line of quillfilter.
void ExpectOnlyCupsLines(const std::string& err) {
  static const std::regex kLine("(DEBUG|INFO|WARNING|ERROR): \\[quillfilter\\] .*");
  for (const std::string& line : Lines(err)) {
    EXPECT_TRUE(std::regex_match(line, kLine)) << "not a CUPS message line: " << line;
  }
}

TEST(FilterProgram, UsageErrorWithoutPrefix) {
  Subprocess child(FilterArgs({"42", "user", "title"}), HermeticEnv(), true, "myqueue");
  child.CloseStdin();
  EXPECT_EQ(child.Wait(kTimeoutMs), 1);
  EXPECT_EQ(child.err(), "Usage: myqueue job-id user title copies options [file]\n");
  EXPECT_EQ(child.out(), "");
}

TEST(FilterProgram, UnopenableFileIsAnErrorLine) {
  TempDir dir;
  Subprocess child(FilterArgs({"42", "user", "title", "1", "", dir.File("none.ras")}),
                   HermeticEnv(), true, "myqueue");
  child.CloseStdin();
  EXPECT_EQ(child.Wait(kTimeoutMs), 1);
  EXPECT_EQ(child.err(),
            "ERROR: [quillfilter] Unable to open raster file - No such file or directory\n");
  EXPECT_EQ(child.out(), "");
}

TEST(FilterProgram, JobFromAFile) {
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(ras, {SmallPage(360, 2), SmallPage()}));
  Subprocess child(FilterArgs({"42", "user", "title", "1", "", ras}), HermeticEnv(), true,
                   "myqueue");
  child.CloseStdin();
  ASSERT_EQ(child.Wait(kTimeoutMs), 0) << child.err();
  ASSERT_GE(child.out().size(), kLongStartBytes.size());
  EXPECT_EQ(Hex(child.out().substr(0, kLongStartBytes.size())), Hex(kLongStartBytes));

  ExpectOnlyCupsLines(child.err());
  // The destination is unknown without a server: defaults apply.
  EXPECT_EQ(CountLine(child.err(), "WARNING: [quillfilter] failed to get dest"), 1);
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] color_mode=-1"), 1);
  // The library writes into the filter's logger: its records share the format.
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] DocumentProcessInk1"), 1);
  EXPECT_EQ(CountLine(child.err(), "INFO: [quillfilter] page 1, 1/2 copies"), 1);
  EXPECT_EQ(CountLine(child.err(), "INFO: [quillfilter] page 1, 2/2 copies"), 1);
  EXPECT_EQ(CountLine(child.err(), "INFO: [quillfilter] page 2, 1/1 copies"), 1);
  EXPECT_EQ(Lines(child.err()).back(), "INFO: [quillfilter] Job 42 finished.");
}

TEST(FilterProgram, JobFromStandardInput) {
  TempDir dir;
  const std::string ras = dir.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(ras, {SmallPage(720)}));
  Subprocess child(FilterArgs({"43", "user", "title", "1", ""}), HermeticEnv(), true, "myqueue");
  ASSERT_TRUE(child.Write(quill_filter_test::ReadFile(ras)));
  child.CloseStdin();
  ASSERT_EQ(child.Wait(kTimeoutMs), 0) << child.err();
  // 720 dpi: the short start-of-document command.
  const std::string short_start = kLongStartBytes.substr(0, 11);
  ASSERT_GE(child.out().size(), short_start.size());
  EXPECT_EQ(Hex(child.out().substr(0, short_start.size())), Hex(short_start));
  EXPECT_NE(Hex(child.out().substr(0, 14)), Hex(kLongStartBytes));
  EXPECT_EQ(CountLine(child.err(), "INFO: [quillfilter] page 1, 1/1 copies"), 1);
  EXPECT_EQ(Lines(child.err()).back(), "INFO: [quillfilter] Job 43 finished.");
}

TEST(FilterProgram, PpdModelNumberIsRead) {
  TempDir dir;
  quill_test::PpdSpec spec;
  spec.model_number = 1;
  ASSERT_TRUE(quill_test::WritePpd(dir.File("dot24.ppd"), spec));
  const std::string ras = dir.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(ras, {SmallPage()}));
  Subprocess child(FilterArgs({"44", "user", "title", "1", "", ras}),
                   HermeticEnv(dir.File("dot24.ppd")), true, "myqueue");
  child.CloseStdin();
  ASSERT_EQ(child.Wait(kTimeoutMs), 0) << child.err();
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] ModelNumber=1"), 1);
  ExpectOnlyCupsLines(child.err());
}

TEST(FilterProgram, EmptyInputEndsTheJobNormally) {
  Subprocess child(FilterArgs({"45", "user", "title", "1", ""}), HermeticEnv(), true, "myqueue");
  child.CloseStdin();
  EXPECT_EQ(child.Wait(kTimeoutMs), 0);
  EXPECT_EQ(child.out(), "");  // the document was never started
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] end doc"), 1);
  EXPECT_EQ(Lines(child.err()).back(), "INFO: [quillfilter] Job 45 finished.");
}

// SIGTERM while the filter waits for the next page: the page after the
// signal is not printed, the document is still ended, the exit status is 0.
TEST(FilterProgram, SigtermEndsTheJobCleanly) {
  TempDir dir;
  const std::string first = dir.File("first.ras");
  const std::string both = dir.File("both.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(first, {SmallPage()}));
  ASSERT_TRUE(quill_test::WriteRasterFile(both, {SmallPage(), SmallPage()}));
  const std::string first_bytes = quill_filter_test::ReadFile(first);
  const std::string all_bytes = quill_filter_test::ReadFile(both);
  ASSERT_EQ(all_bytes.compare(0, first_bytes.size(), first_bytes), 0);

  Subprocess child(FilterArgs({"46", "user", "title", "1", ""}), HermeticEnv(), true, "myqueue");
  ASSERT_TRUE(child.Write(first_bytes));
  // The library reads the option string at the document start and again for
  // the page: after the second record the page call is under way.
  ASSERT_TRUE(child.WaitForStderr("parsing options: ", kTimeoutMs, 2)) << child.err();
  child.Signal(SIGTERM);
  // The second page arrives after the signal.
  child.Write(all_bytes.substr(first_bytes.size()));
  child.CloseStdin();
  ASSERT_EQ(child.Wait(kTimeoutMs), 0) << child.err();
  EXPECT_EQ(CountLine(child.err(), "INFO: [quillfilter] page 2, 1/1 copies"), 0);
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] end doc"), 1);
  EXPECT_EQ(Lines(child.err()).back(), "INFO: [quillfilter] Job 46 finished.");
  // Everything the library wrote reached standard output.
  ASSERT_GE(child.out().size(), kLongStartBytes.size());
  EXPECT_EQ(Hex(child.out().substr(0, kLongStartBytes.size())), Hex(kLongStartBytes));
}

// SIGTERM while a large page is being read stops the reading at the next
// row. The page's rows after the signal never arrive and standard input
// stays open: a filter that went on reading the page (or sent it to the
// library) would wait for them until the test gives up; one that stops
// ends the job, with the document still ended and released.
TEST(FilterProgram, SigtermWhileAPageIsReadStopsAtTheNextRow) {
  TempDir dir;
  RasterPageSpec spec;  // Letter at 180 dpi: 1530 x 1980 pixels, 9 MB of rows
  spec.x_res = spec.y_res = 180;
  spec.row_count = 24;
  RasterPage page = MakePage(spec);
  uint32_t noise = 12345;  // incompressible rows, so the stream is 9 MB too
  for (uint8_t& b : page.pixels) {
    noise = noise * 1103515245u + 12345u;
    b = static_cast<uint8_t>(noise >> 16);
  }
  const std::string path = dir.File("big.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(path, {page}));
  const std::string raster = quill_filter_test::ReadFile(path);
  ASSERT_GT(raster.size(), size_t{8} << 20);

  Subprocess child(FilterArgs({"47", "user", "title", "1", ""}), HermeticEnv(), true, "myqueue");
  ASSERT_TRUE(child.Write(raster.substr(0, 1 << 20)));  // about a tenth of the rows
  ASSERT_TRUE(child.WaitForStderr("INFO: [quillfilter] page 1, 1/1 copies", kTimeoutMs))
      << child.err();
  child.Signal(SIGTERM);
  // A few more rows wake a filter blocked in its read (one that still had
  // rows in the pipe may have ended already); the rest never comes.
  child.Write(raster.substr(1 << 20, 1 << 16), 2000);
  EXPECT_EQ(child.Wait(20000), 0) << child.err().substr(0, 3000);
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] got cancel signal and exit"), 1);
  EXPECT_EQ(CountLine(child.err(), "DEBUG: [quillfilter] end doc"), 1);
  EXPECT_EQ(quill_filter_test::CountContaining(child.err(), "ProcessPageInternal"), 0);
  EXPECT_EQ(Lines(child.err()).back(), "INFO: [quillfilter] Job 47 finished.");
  // The document starts with its first page sent, so nothing was printed.
  EXPECT_EQ(Hex(child.out()), "");
}

// Runs quillfilter on the raster file with standard output on `out_fd`.
quill_test::StdoutRun RunWithOutput(const std::string& raster_path, int out_fd) {
  return quill_test::RunWithStdout(
      QUILLFILTER_PATH, {"myqueue", "48", "user", "title", "1", "", raster_path}, out_fd,
      "127.0.0.1:9");
}

// A printer stream that fails (the backend went away: a pipe without
// reader; a full disk: /dev/full) ends the job with an ERROR line and
// status 1 instead of a silent SIGPIPE death or a job converted into the
// void: no page after the failure is started, and the document is still
// ended and released.
TEST(FilterProgram, FailedPrinterStreamEndsTheJobWithAnError) {
  TempDir dir;
  RasterPageSpec spec;  // 2 x 2 inch of noise at 360 dpi: tens of KB a page
  spec.page_width_pt = spec.page_height_pt = 144.0f;
  spec.x_res = spec.y_res = 360;
  spec.row_count = 24;
  std::vector<RasterPage> pages;
  uint32_t noise = 99;
  for (int i = 0; i < 4; ++i) {
    RasterPage page = MakePage(spec);
    for (uint8_t& b : page.pixels) {
      noise = noise * 1103515245u + 12345u;
      b = (noise >> 16) & 1 ? 0 : 255;
    }
    pages.push_back(page);
  }
  const std::string path = dir.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(path, pages));
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads
  const struct {
    const char* what;
    int fd;
    const char* error;
  } cases[] = {
      {"pipe without reader", fds[1],
       "ERROR: [quillfilter] Unable to send print data to the printer - Broken pipe"},
      {"full device", open("/dev/full", O_WRONLY),
       "ERROR: [quillfilter] Unable to send print data to the printer - No space left on "
       "device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.fd, 0);
    const quill_test::StdoutRun run = RunWithOutput(path, c.fd);
    const int wstatus = run.wstatus;
    const std::string& err = run.messages;
    ASSERT_TRUE(WIFEXITED(wstatus)) << "signal " << (WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
    EXPECT_EQ(WEXITSTATUS(wstatus), 1) << err;
    EXPECT_EQ(CountLine(err, c.error), 1) << err;
    EXPECT_EQ(CountLine(err, "INFO: [quillfilter] page 2, 1/1 copies"), 0);
    EXPECT_EQ(CountLine(err, "DEBUG: [quillfilter] end doc"), 1);
    EXPECT_EQ(quill_filter_test::CountContaining(err, "Job 48 finished"), 0);
    ExpectOnlyCupsLines(err);
  }
}

}  // namespace
