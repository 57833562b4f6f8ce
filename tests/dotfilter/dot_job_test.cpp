// The job flow of quilldot run as CUPS runs it: arguments, input, copies,
// progress and trace lines, refused page headers, a failing printer stream,
// SIGTERM and the in-process entry.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "common/run_with_stdout.h"
#include "dot_job.h"
#include "dot_test_util.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {
namespace {

using quillpreview::DecodeDotStream;
using quillpreview::DiffDots;
using quillpreview::DotStream;
using quill_test::ToHex;

constexpr quillpreview::DotStreamConfig k8Rows{1, 1, true};

cups_page_header2_t Header8(unsigned width, unsigned height) {
  return BandHeader(width, height, 8, 120, 72);
}

struct Job {
  TempDir dir;
  RunResult run;
  DotStream stream;

  void Run(const std::vector<RasterPage>& pages, const PpdSpec* ppd = nullptr,
           bool compressed = true) {
    ASSERT_TRUE(WriteRaster(dir.File("job.ras"), pages, compressed));
    std::string ppd_path;
    if (ppd) {
      ppd_path = dir.File("printer.ppd");
      WriteTextFile(ppd_path, PpdText(*ppd));
    }
    run = RunQuilldot(JobArgs(dir.File("job.ras")), ppd_path);
    stream = DecodeDotStream(run.out, k8Rows);
  }
};

TEST(DotJob, TooFewArgumentsPrintUsage) {
  const RunResult r = RunQuilldot({"dotq", "7", "tester", "title", "1"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Usage: quilldot job-id user title copies options [file]\n");
  EXPECT_TRUE(r.out.empty());
}

TEST(DotJob, UnreadableFileIsAnError) {
  const RunResult r = RunQuilldot(JobArgs("/nonexistent/job.ras"), "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "ERROR: Unable to open raster file - No such file or directory\n");
  EXPECT_TRUE(r.out.empty());
}

TEST(DotJob, InputWithoutPagesIsAJobWithoutPages) {
  TempDir dir;
  for (const char* content : {"", "hello, printer\n"}) {
    WriteTextFile(dir.File("input"), content);
    const RunResult r = RunQuilldot(JobArgs(dir.File("input")), "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ToHex(r.out), "1B 40");  // no page, only the final reset
    EXPECT_NE(r.err.find("INFO: Job 7 finished.\n"), std::string::npos) << r.err;
  }
}

TEST(DotJob, ReadsStandardInputWithSixArguments) {
  TempDir dir;
  const DotRows dots = RandomDots(40, 16, 21, 40);
  ASSERT_TRUE(WriteRaster(dir.File("job.ras"), {MakePage(Header8(40, 16), dots)}));
  const RunResult r = RunQuilldot(JobArgs(""), "", dir.File("job.ras"));
  ASSERT_EQ(r.status, 0) << r.err;
  const DotStream s = DecodeDotStream(r.out, k8Rows);
  ASSERT_EQ(s.error, "");
  EXPECT_EQ(DiffDots(s.pages[0].Plane(0), dots), "");
}

TEST(DotJob, CopiesAreReprintedFromTheStoredPage) {
  // Page 1 asks for two copies. Were the raster read again for the second
  // copy, it would take page 2's header for rows.
  const DotRows first = RandomDots(64, 21, 22, 40);
  const DotRows second = RandomDots(64, 13, 23, 40);
  cups_page_header2_t h1 = Header8(64, 21);
  h1.NumCopies = 2;
  Job job;
  job.Run({MakePage(h1, first), MakePage(Header8(64, 13), second)});
  ASSERT_EQ(job.run.status, 0) << job.run.err;
  ASSERT_EQ(job.stream.error, "");
  ASSERT_EQ(job.stream.pages.size(), 4u);
  EXPECT_EQ(DiffDots(job.stream.pages[0].Plane(0), first), "");
  EXPECT_EQ(DiffDots(job.stream.pages[1].Plane(0), first), "");
  EXPECT_EQ(DiffDots(job.stream.pages[2].Plane(0), second), "");
  EXPECT_EQ(ToHex(job.stream.PageBytes(3)), "1B 40");
  EXPECT_NE(job.run.err.find("PAGE: 1, 1/2 copies\n"), std::string::npos);
  EXPECT_NE(job.run.err.find("PAGE: 1, 2/2 copies\n"), std::string::npos);
  EXPECT_NE(job.run.err.find("PAGE: 2, 1/1 copies\n"), std::string::npos);
}

// A header's colour space is whatever 32-bit value the stream holds; the
// quilldot fuzz target found 57603 there (reading it as the enum was
// undefined behaviour). A value that names no colour space prints the
// page as one plane, like the one-colour spaces.
TEST(DotJob, ColourSpaceBeyondTheEnumPrintsAsOnePlane) {
  const DotRows dots = RandomDots(64, 16, 27, 40);
  TempDir dir;
  const std::string path = dir.File("job.ras");
  ASSERT_TRUE(WriteRaster(path, {MakePage(Header8(64, 16), dots)}));
  // libcups writes no such header, so the stored field is patched in the
  // file: the header follows the 4-byte sync word as it is in memory.
  const uint32_t space = 57603;
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(4 + offsetof(cups_page_header2_t, cupsColorSpace)));
    f.write(reinterpret_cast<const char*>(&space), sizeof space);
    ASSERT_TRUE(static_cast<bool>(f));
  }
  const RunResult r = RunQuilldot(JobArgs(path), "");
  ASSERT_EQ(r.status, 0) << r.err;
  const DotStream s = DecodeDotStream(r.out, k8Rows);
  ASSERT_EQ(s.error, "");
  ASSERT_FALSE(s.pages.empty());
  EXPECT_EQ(DiffDots(s.pages[0].Plane(0), dots), "");
  EXPECT_NE(r.err.find("PAGE: 1, 1/1 copies\n"), std::string::npos) << r.err;
}

TEST(DotJob, PageWithoutCopiesIsSkippedWholly) {
  const DotRows skipped = RandomDots(64, 30, 24, 40);
  const DotRows printed = RandomDots(64, 17, 25, 40);
  cups_page_header2_t h1 = Header8(64, 30);
  h1.NumCopies = 0;
  Job job;
  job.Run({MakePage(h1, skipped), MakePage(Header8(64, 17), printed)});
  ASSERT_EQ(job.run.status, 0) << job.run.err;
  ASSERT_EQ(job.stream.error, "");
  ASSERT_EQ(job.stream.pages.size(), 2u);
  EXPECT_EQ(DiffDots(job.stream.pages[0].Plane(0), printed), "");
  EXPECT_EQ(job.run.err.find("PAGE: 1,"), std::string::npos);
  EXPECT_NE(job.run.err.find("PAGE: 2, 1/1 copies\n"), std::string::npos);
}

TEST(DotJob, CopiesOfAPageTooLargeToKeepEndTheJobWithAnError) {
  // 4294967295 rows of 1 MiB cannot be kept for the second copy, nor
  // printed by any printer: the page is refused by its size before anything
  // is allocated for it (the size is computed without wrapping).
  const DotRows first = RandomDots(64, 9, 31, 40);
  cups_page_header2_t huge = BandHeader(65535, 0xFFFFFFFFu, 8, 120, 72);
  huge.cupsBytesPerLine = 1u << 20;
  huge.NumCopies = 2;
  Job job;
  job.Run({MakePage(Header8(64, 9), first), RasterPage{huge, {}}});
  EXPECT_EQ(job.run.status, 1);
  EXPECT_NE(job.run.err.find("ERROR: Unable to print page 2 - page of 65535x4294967295 dots at "
                             "120x72 dpi has a side longer than 2000 mm\n"),
            std::string::npos)
      << job.run.err;
  EXPECT_EQ(job.run.err.find("PAGE: 2"), std::string::npos);
  ASSERT_EQ(job.stream.error, "");
  ASSERT_EQ(job.stream.pages.size(), 2u);
  EXPECT_EQ(DiffDots(job.stream.pages[0].Plane(0), first), "");
}

TEST(DotJob, ProgressAndTraceLines) {
  PpdSpec ppd;
  ppd.model = 0;
  ppd.addons = {{"cutter", "1"}, {"drawer", "0"}, {"blackmark", "1"}, {"maxwidth", "640"}};
  cups_page_header2_t h = Header8(64, 300);
  h.cupsMediaType = 3;
  h.cupsRowFeed = 8;
  Job job;
  job.Run({MakePage(h, RandomDots(64, 300, 26, 10))}, &ppd);
  ASSERT_EQ(job.run.status, 0) << job.run.err;
  const std::string expected =
      "[QL] The printer has a cutter.\n"
      "[QL] The printer supports blackmark.\n"
      "[QL] maxwidth=640\n"
      "[QL] fails to get destination\n"
      "[QL] CuttingMethod = 0\n"
      "[QL] DrawerMethod = 0\n"
      "[QL] BlackMarkMethod = 0\n"
      "[QL] LogoMethod = 0\n"
      "[QL] PaperType = 0\n"
      "[QL] header->cupsWidth=64,header->cupsHeight=300\n"
      "[QL] header->cupsMediaType=3\n"
      "[QL] header->cupsBitsPerColor=1\n"
      "[QL] header->cupsBitsPerPixel=1\n"
      "[QL] header->cupsBytesPerLine=8\n"
      "[QL] header->cupsRowCount=8\n"
      "[QL] header->cupsRowFeed=8\n"
      "[QL] header->cupsRowStep=0\n"
      "[QL] HWResolution=120x72\n"
      "[QL] ModelNumber=0\n"
      "PAGE: 1, 1/1 copies\n"
      "INFO: Printing page 1, 0% complete...\n"
      "INFO: Printing page 1, 42% complete...\n"
      "INFO: Printing page 1, 85% complete...\n"
      "INFO: Job 7 finished.\n";
  EXPECT_EQ(job.run.err, expected);
}

TEST(DotJob, TruncatedRasterEndsThePage) {
  const DotRows dots = RandomDots(32, 50, 27, 40);
  RasterPage page = MakePage(Header8(32, 50), dots);
  page.rows.resize(20);
  Job job;
  // Uncompressed, so the writer does not hold back the last row.
  job.Run({page}, nullptr, /*compressed=*/false);
  ASSERT_EQ(job.run.status, 0) << job.run.err;
  ASSERT_EQ(job.stream.error, "");
  DotRows expected = dots;
  BlankRows(&expected, 20, 50);
  EXPECT_EQ(DiffDots(job.stream.pages[0].Plane(0), expected), "");
}

// Pages whose headers do not fit the buffers or commands are refused; the
// pages before them are printed and the job ends with the final reset and
// a failure status.
TEST(DotJob, HeadersThatDoNotFitAreRefused) {
  struct Case {
    const char* what;
    int model;
    cups_page_header2_t header;
    const char* reason;
  };
  std::vector<Case> cases;
  {
    cups_page_header2_t h = Header8(100, 8);
    h.cupsBytesPerLine = 5;  // 13 needed
    cases.push_back({"short 1-bit row", 0, h, "is smaller than a row of 100 pixels needs"});
  }
  {
    cups_page_header2_t h = Header8(100, 8);
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = 50;  // one byte per pixel read
    cases.push_back({"short 8-bit row", 10, h, "is smaller than a row of 100 pixels needs"});
  }
  {
    cups_page_header2_t h = RasterHeader(64, 8, 360, 0, 1, 0);
    cases.push_back({"zero resolution", 2, h, "resolution 360x0 has a zero"});
  }
  {
    cups_page_header2_t h = BandHeader(64, 8, 8, 120, 144);
    cases.push_back({"odd interleave", 0, h, "cannot be split into two interleaved passes"});
  }
  {
    cups_page_header2_t h = BandHeader(64, 8, 4096, 120, 72);
    cases.push_back({"tall band", 0, h, "exceeds 255 rows"});
  }
  {
    cups_page_header2_t h = BandHeader(70000, 1, 8, 120, 72);
    cases.push_back({"wide page", 0, h, "cupsWidth 70000 is outside"});
  }
  {
    cups_page_header2_t h = RasterHeader(66000, 1, 360, 360, 1, 0);
    h.cupsWidth = 64;
    cases.push_back({"long raster line", 2, h, "exceeds the 8191 bytes"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PpdSpec ppd;
    ppd.model = c.model;
    const cups_page_header2_t good = c.model == 0 || c.model == 10
                                         ? Header8(16, 8)
                                         : RasterHeader(16, 8, 360, 360, 1, 0);
    DotRows dots = BlankDots(16, 8);
    dots[2][3] = 1;
    RasterPage bad{c.header, {}};
    for (unsigned y = 0; y < c.header.cupsHeight; ++y)
      bad.rows.push_back(Bytes(c.header.cupsBytesPerLine, 0xFF));
    Job job;
    job.Run({MakePage(good, dots), bad}, &ppd);
    EXPECT_EQ(job.run.status, 1);
    EXPECT_NE(job.run.err.find(std::string("ERROR: Unable to print page 2 - ")),
              std::string::npos)
        << job.run.err;
    EXPECT_NE(job.run.err.find(c.reason), std::string::npos) << job.run.err;
    EXPECT_EQ(job.run.err.find("PAGE: 2"), std::string::npos);
    EXPECT_EQ(job.run.err.find("Job 7 finished"), std::string::npos);
    ASSERT_EQ(job.stream.error, "");
    ASSERT_EQ(job.stream.pages.size(), 2u);  // page 1 and the final reset
    EXPECT_EQ(job.stream.pages[0].Plane(0).DotCount(), 1u);
    EXPECT_EQ(ToHex(job.stream.PageBytes(1)), "1B 40");
  }
}

// Hostile headers: sizes, resolutions and copies no printer takes, and
// pages that claim more rows than the stream holds. Each absurd page is
// refused with an ERROR line, its rows are consumed, and the legal page
// prints exactly as it prints alone (the exit status tells that a page was
// dropped). Pages whose claimed rows are missing come last: a raster stream
// has no page marks, so their rows cannot be told from the next page's.
TEST(DotJob, HostilePagesAreRefusedAndTheLegalPagePrintsAsAlone) {
  const RasterPage legal = MakePage(Header8(64, 16), RandomDots(64, 16, 51, 40));
  Job alone;
  alone.Run({legal});
  ASSERT_EQ(alone.run.status, 0) << alone.run.err;
  ASSERT_GT(alone.run.out.size(), 20u);

  struct Case {
    const char* what;
    cups_page_header2_t header;
    bool rows_missing;   // header only: goes after the legal page
    const char* reason;  // expected after "Unable to print page <n> - "
  };
  std::vector<Case> cases;
  cases.push_back({"wider than 2 m", BandHeader(20000, 8, 8, 120, 72), false,
                   "page of 20000x8 dots at 120x72 dpi has a side longer than 2000 mm"});
  cases.push_back({"higher than 2 m", BandHeader(64, 6000, 8, 120, 72), false,
                   "page of 64x6000 dots at 120x72 dpi has a side longer than 2000 mm"});
  cases.push_back({"5760 dpi", BandHeader(64, 8, 8, 5760, 5760), false,
                   "resolution 5760x5760 is above 2880 dpi"});
  {
    cups_page_header2_t h = Header8(64, 8);
    h.NumCopies = 100000;
    cases.push_back({"100000 copies", h, false, "100000 copies are more than 9999"});
  }
  cases.push_back({"4 billion rows claimed, none sent", BandHeader(64, 0xFFFFFFF0u, 8, 120, 72),
                   true,
                   "page of 64x4294967280 dots at 120x72 dpi has a side longer than 2000 mm"});
  {
    cups_page_header2_t h = BandHeader(60000, 20000, 8, 2880, 2880);
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = 60000;
    cases.push_back({"1.2 GB of rows claimed, none sent", h, true,
                     "page of 20000 rows of 60000 bytes is larger than 1073741824 bytes"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RasterPage hostile{c.header, {}};
    if (!c.rows_missing) {
      for (unsigned y = 0; y < c.header.cupsHeight; ++y)
        hostile.rows.push_back(Bytes(c.header.cupsBytesPerLine, 0xFF));
    }
    Job job;
    job.Run(c.rows_missing ? std::vector<RasterPage>{legal, hostile}
                           : std::vector<RasterPage>{hostile, legal});
    EXPECT_EQ(job.run.status, 1);
    const int n = c.rows_missing ? 2 : 1;
    EXPECT_EQ(CountOf(job.run.err, "ERROR: Unable to print page " + std::to_string(n) + " - " +
                                       c.reason + "\n"),
              1)
        << job.run.err;
    EXPECT_EQ(CountOf(job.run.err, "ERROR:"), 1);
    EXPECT_EQ(CountOf(job.run.err, "PAGE: " + std::to_string(3 - n) + ", 1/1 copies\n"), 1);
    EXPECT_EQ(ToHex(job.run.out), ToHex(alone.run.out));
  }
}

// Copies of a page whose rows end early repeat what the first copy printed:
// 1000 copies of a page claiming 20000 rows but holding 16 cost 1000 x 16
// rows, not 1000 x 20000 (every 128 rows would add a progress line).
TEST(DotJob, CopiesOfATruncatedPageRepeatTheRowsThatArrived) {
  TempDir dir;
  const DotRows dots = RandomDots(64, 16, 52, 40);
  cups_page_header2_t h = BandHeader(64, 16, 8, 120, 360);
  h.NumCopies = 1000;
  ASSERT_TRUE(WriteRaster(dir.File("job.ras"), {MakePage(h, dots)}, /*compressed=*/false));
  // Claim 20000 rows in the written header (native byte order after the
  // four-byte sync word); the stream ends after the 16 rows.
  Bytes raster = ReadFileBytes(dir.File("job.ras"));
  const uint32_t claimed = 20000;
  ASSERT_GT(raster.size(), 4 + offsetof(cups_page_header2_t, cupsHeight) + 4);
  memcpy(raster.data() + 4 + offsetof(cups_page_header2_t, cupsHeight), &claimed, 4);
  WriteTextFile(dir.File("job.ras"), std::string(raster.begin(), raster.end()));

  const RunResult r = RunQuilldot(JobArgs(dir.File("job.ras")), "");
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(CountOf(r.err, "INFO: Printing page 1, 0% complete...\n"), 1000);
  EXPECT_EQ(CountOf(r.err, "INFO: Printing page 1, 1% complete...\n"), 0);
  const DotStream s = DecodeDotStream(r.out, quillpreview::DotStreamConfig{1, 1, true});
  ASSERT_EQ(s.error, "");
  ASSERT_EQ(s.pages.size(), 1001u);  // the copies and the final reset
  for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(DiffDots(s.pages[i].Plane(0), dots), "") << i;
}

// Runs quilldot in this process on the raster at raster_path, handed over
// as a descriptor with six arguments (so argv names no file).
RunResult RunInProcess(const std::string& raster_path, const std::string& ppd_path) {
  RunResult r;
  std::vector<std::string> storage = JobArgs("");
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  quilldot::DotIo io;
  io.in_fd = open(raster_path.c_str(), O_RDONLY);
  io.out = out;
  io.err = err;
  io.ppd_path = ppd_path.empty() ? nullptr : ppd_path.c_str();
  r.status = quilldot::RunFilter(static_cast<int>(storage.size()), argv.data(), io);
  // The descriptor is the caller's: still open, read to the end.
  EXPECT_EQ(lseek(io.in_fd, 0, SEEK_CUR), lseek(io.in_fd, 0, SEEK_END));
  EXPECT_EQ(close(io.in_fd), 0);
  for (FILE* f : {out, err}) {
    fflush(f);
    rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    if (f == out) r.out.assign(text.begin(), text.end()); else r.err = text;
    fclose(f);
  }
  return r;
}

TEST(DotJob, InProcessJobsBehaveLikeFreshProcesses) {
  // A receipt printer with a cutter, two copies, then a job without a PPD:
  // were model, width, cutter or the page buffers left from the first
  // call, the second would differ from what the program prints.
  setenv("CUPS_SERVER", "/nonexistent/quill-test-cups.sock", 1);
  TempDir dir;
  cups_page_header2_t h = BandHeader(96, 40, 24, 203, 203);
  h.NumCopies = 2;
  ASSERT_TRUE(WriteRaster(dir.File("job.ras"),
                          {MakePage(h, RandomDots(96, 40, 41, 35)),
                           MakePage(Header8(64, 20), RandomDots(64, 20, 42, 35))}));
  PpdSpec receipt;
  receipt.model = 10;
  receipt.addons = {{"cutter", "1"}, {"maxwidth", "576"}};
  WriteTextFile(dir.File("receipt.ppd"), PpdText(receipt));
  for (const std::string& ppd : {dir.File("receipt.ppd"), std::string(), dir.File("receipt.ppd")}) {
    SCOPED_TRACE(ppd);
    const RunResult program = RunQuilldot(JobArgs(dir.File("job.ras")), ppd);
    const RunResult inside = RunInProcess(dir.File("job.ras"), ppd);
    ASSERT_EQ(program.status, 0) << program.err;
    EXPECT_EQ(inside.status, 0) << inside.err;
    EXPECT_EQ(ToHex(inside.out), ToHex(program.out));
    EXPECT_EQ(inside.err, program.err);
    EXPECT_NE(program.out.size(), 2u);  // more than the final reset
  }
}

// Process state letter from /proc/<pid>/stat ('S' while blocked in read).
char ProcessState(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

std::string FileText(const std::string& path) {
  const Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs quilldot on the raster file with standard output on `out_fd`.
// Returns status, signal and messages.
RunResult RunWithOutput(const std::string& raster_path, int out_fd) {
  const quill_test::StdoutRun run = quill_test::RunWithStdout(
      QuilldotPath(), JobArgs(raster_path), out_fd, "/nonexistent/quill-test-cups.sock");
  RunResult r;
  if (WIFEXITED(run.wstatus)) r.status = WEXITSTATUS(run.wstatus);
  if (WIFSIGNALED(run.wstatus)) r.signal = WTERMSIG(run.wstatus);
  r.err = run.messages;
  return r;
}

// A printer stream that fails (the backend went away: a pipe without
// reader; a full disk: /dev/full) ends the job with an ERROR line and
// status 1 instead of a silent SIGPIPE death or a job that prints into the
// void: no page after the failure is started.
TEST(DotJob, FailedPrinterStreamEndsTheJobWithAnError) {
  TempDir dir;
  std::vector<RasterPage> pages;
  for (unsigned i = 0; i < 5; ++i)
    pages.push_back(MakePage(Header8(2000, 64), RandomDots(2000, 64, 60 + i, 50)));
  ASSERT_TRUE(WriteRaster(dir.File("job.ras"), pages));  // 16 KB of bands a page
  struct Case {
    const char* what;
    int fd;
    const char* error;
  };
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads
  const Case cases[] = {
      {"pipe without reader", fds[1], "ERROR: Unable to send print data to the printer - "
                                      "Broken pipe\n"},
      {"full device", open("/dev/full", O_WRONLY),
       "ERROR: Unable to send print data to the printer - No space left on device\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.fd, 0);
    const RunResult r = RunWithOutput(dir.File("job.ras"), c.fd);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(CountOf(r.err, c.error), 1) << r.err;
    EXPECT_EQ(CountOf(r.err, "PAGE: 2,"), 0) << r.err;
    EXPECT_EQ(CountOf(r.err, "Job 7 finished"), 0);
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t len) {
  while (len > 0) {
    const ssize_t n = write(fd, data, len);
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Runs quilldot on the raster of `pages` (uncompressed, so rows sit at known
// offsets) fed through a pipe: the first `split` bytes, then SIGTERM once the
// filter has written `progress` and blocks reading, then the rest.
RunResult RunCancelled(const std::vector<RasterPage>& pages, size_t split,
                       const std::string& progress) {
  signal(SIGPIPE, SIG_IGN);
  TempDir dir;
  RunResult r;
  EXPECT_TRUE(WriteRaster(dir.File("job.ras"), pages, /*compressed=*/false));
  const Bytes raster = ReadFileBytes(dir.File("job.ras"));
  EXPECT_GT(raster.size(), split);
  if (raster.size() <= split) return r;

  Child child = StartWithPipe(QuilldotPath(), JobArgs(""), {}, dir.File("out"), dir.File("err"));
  EXPECT_GT(child.pid, 0);
  if (child.pid <= 0) return r;
  WriteAll(child.stdin_fd, raster.data(), split);

  // Wait (bounded) until the filter has written the progress line and
  // blocks on the rows not yet sent.
  const time_t deadline = time(nullptr) + 20;
  while (time(nullptr) < deadline && FileText(dir.File("err")).find(progress) == std::string::npos)
    usleep(2000);
  while (time(nullptr) < deadline && ProcessState(child.pid) != 'S') usleep(2000);
  EXPECT_EQ(ProcessState(child.pid), 'S');
  kill(child.pid, SIGTERM);
  WriteAll(child.stdin_fd, raster.data() + split, raster.size() - split);
  close(child.stdin_fd);

  WaitChild(child.pid, 30, &r);
  r.out = ReadFileBytes(dir.File("out"));
  r.err = FileText(dir.File("err"));
  return r;
}

// Uncompressed stream: sync word, header, then the rows.
size_t RowOffset(unsigned row, unsigned bytes_per_line) {
  return 4 + sizeof(cups_page_header2_t) + static_cast<size_t>(row) * bytes_per_line;
}

// True when the page holds exactly rows [0, n) of dots for n = rows or
// rows + 1 (the row being read when the signal came may still be printed).
bool PrintedFirstRows(const quillpreview::DotStreamPlane& plane, const DotRows& dots, unsigned rows) {
  for (unsigned n : {rows, rows + 1}) {
    DotRows expected = dots;
    BlankRows(&expected, n, static_cast<unsigned>(dots.size()));
    if (DiffDots(plane, expected).empty()) return true;
  }
  return false;
}

TEST(DotJob, SigtermStopsBetweenRowsAndEndsTheJob) {
  const unsigned kWidth = 64, kHeight = 400, kRowsFirst = 130;
  const DotRows dots = RandomDots(kWidth, kHeight, 28, 30);
  const DotRows next = RandomDots(kWidth, 16, 29, 30);
  const RunResult r =
      RunCancelled({MakePage(Header8(kWidth, kHeight), dots), MakePage(Header8(kWidth, 16), next)},
                   RowOffset(kRowsFirst, kWidth / 8), "INFO: Printing page 1, 32% complete...");
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("INFO: Job 7 finished.\n"), std::string::npos);
  EXPECT_EQ(r.err.find("PAGE: 2"), std::string::npos);
  EXPECT_EQ(r.err.find("complete...\nINFO: Printing page 1, 64%"), std::string::npos);

  const DotStream s = DecodeDotStream(r.out, k8Rows);
  ASSERT_EQ(s.error, "");
  ASSERT_EQ(s.pages.size(), 2u);  // the cut-short page and the final reset
  EXPECT_TRUE(PrintedFirstRows(s.pages[0].Plane(0), dots, kRowsFirst));
  EXPECT_EQ(ToHex(s.PageBytes(1)), "1B 40");
}

TEST(DotJob, SigtermDuringTheFirstCopyStartsAndEndsTheOthersWithoutRows) {
  // The copies after the first come from the page store; once cancelled
  // they are still started and ended, but get no rows.
  const unsigned kWidth = 64, kHeight = 400, kRowsFirst = 130;
  const DotRows dots = RandomDots(kWidth, kHeight, 32, 30);
  cups_page_header2_t h = Header8(kWidth, kHeight);
  h.NumCopies = 3;
  const RunResult r = RunCancelled({MakePage(h, dots), MakePage(Header8(kWidth, 8),
                                                               RandomDots(kWidth, 8, 33, 30))},
                                   RowOffset(kRowsFirst, kWidth / 8),
                                   "INFO: Printing page 1, 32% complete...");
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("PAGE: 1, 1/3 copies\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("PAGE: 1, 2/3 copies\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("PAGE: 1, 3/3 copies\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("PAGE: 2"), std::string::npos);
  EXPECT_NE(r.err.find("INFO: Job 7 finished.\n"), std::string::npos);

  const DotStream s = DecodeDotStream(r.out, k8Rows);
  ASSERT_EQ(s.error, "");
  ASSERT_EQ(s.pages.size(), 4u);  // three copies and the final reset
  EXPECT_TRUE(PrintedFirstRows(s.pages[0].Plane(0), dots, kRowsFirst));
  // Model 0 without a PPD: the page set-up and nothing else.
  EXPECT_EQ(ToHex(s.PageBytes(1)), "1B 40 1B 33 18");
  EXPECT_EQ(ToHex(s.PageBytes(2)), "1B 40 1B 33 18");
  EXPECT_EQ(ToHex(s.PageBytes(3)), "1B 40");
}

}  // namespace
}  // namespace dot_test
