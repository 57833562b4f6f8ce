// quillfilter's main loop in process. Raster files are written by the test;
// the document functions are recording stand-ins (so every CONV_PARAM2,
// option string and canvas the library would receive can be checked), or
// the internal library itself for the bytes of a whole job.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

#include "common/cups_raster_writer.h"
#include "common/ppd_writer.h"
#include "cups_log.h"
#include "doc_api.h"
#include "filter_job.h"
#include "filter_test_util.h"
#include "preview/band_decoder.h"

namespace {

using quill_filter::DocApi;
using quill_filter::FilterIo;
using quill_filter_test::CountContaining;
using quill_filter_test::CountLine;
using quill_filter_test::Hex;
using quill_filter_test::TempDir;
using quill_test::MakePage;
using quill_test::RasterPage;
using quill_test::RasterPageSpec;

constexpr const char* kInk1Options = "use_locpos=1:gamma=2.2:dither=2:band_hint=1";
constexpr const char* kLongStart = ":start_doc=1B1D1E000C041B1D1F1B7803";
constexpr const char* kShortStart = ":start_doc=1B1D1E000C041B1D1F";

// ---------------------------------------------------------------------------
// Recording stand-ins for the library's document functions.

struct Call {
  std::string fn;                // "get_object", "start_doc2", "process_page2", "end_doc", "release"
  std::string name;              // get_object: the class name asked for
  void* obj = nullptr;           // handle passed (or returned by get_object)
  CONV_PARAM2 cp{};              // copy of the parameters
  std::string options = "(null)";  // text of cp.options at the call
  RASTER_INFO ri{};              // copy of the raster record
  std::vector<uint8_t> pixels;   // the canvas bytes at the call
};

struct Fake {
  std::vector<Call> calls;
  bool return_null = false;
  // Runs inside every process_page2 with the index of that page call.
  std::function<void(int, const CONV_PARAM2*)> on_page;
  int handle = 0;  // its address is the handle

  std::vector<const Call*> Of(const std::string& fn) const {
    std::vector<const Call*> out;
    for (const Call& c : calls) {
      if (c.fn == fn) out.push_back(&c);
    }
    return out;
  }
  std::vector<std::string> Sequence() const {
    std::vector<std::string> out;
    for (const Call& c : calls) out.push_back(c.fn);
    return out;
  }
};

Fake* g_fake = nullptr;

Call Record(const char* fn, void* obj, const CONV_PARAM2* cp) {
  Call c;
  c.fn = fn;
  c.obj = obj;
  if (cp != nullptr) {
    c.cp = *cp;
    if (cp->options != nullptr) c.options = cp->options;
  }
  return c;
}

void* FakeGetObject(const char* name, const CONV_PARAM2* cp) {
  Call c = Record("get_object", nullptr, cp);
  c.name = name;
  c.obj = g_fake->return_null ? nullptr : &g_fake->handle;
  g_fake->calls.push_back(c);
  return c.obj;
}

void FakeStartDoc2(void* obj, const CONV_PARAM2* cp) {
  g_fake->calls.push_back(Record("start_doc2", obj, cp));
}

int FakeProcessPage2(void* obj, const CONV_PARAM2* cp, const RASTER_INFO* ri) {
  Call c = Record("process_page2", obj, cp);
  c.ri = *ri;
  if (ri->img_p != nullptr) {
    c.pixels.assign(ri->img_p, ri->img_p + size_t(ri->pitch) * ri->height);
  }
  int index = static_cast<int>(g_fake->Of("process_page2").size());
  g_fake->calls.push_back(std::move(c));
  if (g_fake->on_page) g_fake->on_page(index, cp);
  return obj == nullptr ? -1 : 0;
}

void FakeEndDoc(void* obj) { g_fake->calls.push_back(Record("end_doc", obj, nullptr)); }

void FakeRelease(void* obj) { g_fake->calls.push_back(Record("release", obj, nullptr)); }

const DocApi kFakeApi = {FakeGetObject, FakeStartDoc2, FakeProcessPage2, FakeEndDoc, FakeRelease};

// ---------------------------------------------------------------------------
// Running one job in process.

struct JobResult {
  int status = -1;
  std::string out;  // printer bytes
  std::string err;  // message lines
};

std::string Slurp(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

// Runs the filter as "quilltestq <args...>" with fresh output and message
// files; the logger is dropped again afterwards.
JobResult RunJob(const std::vector<std::string>& args, const DocApi& api,
                 const std::string& ppd_path = "", int in_fd = -1) {
  std::vector<std::string> storage = {"quilltestq"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  FilterIo io;
  io.out = out;
  io.err = err;
  io.ppd_path = ppd_path.empty() ? nullptr : ppd_path.c_str();
  io.api = &api;
  io.in_fd = in_fd;
  JobResult result;
  result.status = quill_filter::RunFilter(static_cast<int>(storage.size()), argv.data(), io);
  quill_filter::init_log(stderr);
  spdlog::drop("quill");
  result.out = Slurp(out);
  result.err = Slurp(err);
  std::fclose(out);
  std::fclose(err);
  return result;
}

class FilterJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No print server is asked for the destination in these tests.
    setenv("CUPS_SERVER", "127.0.0.1:9", 0);
    g_fake = &fake_;
  }
  void TearDown() override { g_fake = nullptr; }

  // Writes the pages and runs a job on them with the recording library.
  JobResult Run(const std::vector<RasterPage>& pages, const std::string& options = "",
                const std::string& ppd_path = "") {
    std::string path = dir_.File("job.ras");
    EXPECT_TRUE(quill_test::WriteRasterFile(path, pages));
    return RunJob({"42", "user", "title", "1", options, path}, kFakeApi, ppd_path);
  }

  std::string PpdWithModel(int model) {
    quill_test::PpdSpec spec;
    spec.model_number = model;
    std::string path = dir_.File("model" + std::to_string(model) + ".ppd");
    EXPECT_TRUE(quill_test::WritePpd(path, spec));
    return path;
  }

  Fake fake_;
  TempDir dir_;
};

// A small page: 72 dpi, so one pixel per point, unless changed.
RasterPageSpec SmallPage(unsigned width_pt = 20, unsigned height_pt = 10) {
  RasterPageSpec spec;
  spec.page_width_pt = static_cast<float>(width_pt);
  spec.page_height_pt = static_cast<float>(height_pt);
  return spec;
}

RasterPageSpec PageAt(unsigned x_res, unsigned y_res) {
  RasterPageSpec spec = SmallPage(8, 4);
  spec.x_res = x_res;
  spec.y_res = y_res;
  return spec;
}

// ---------------------------------------------------------------------------
// Arguments and job frame.

TEST_F(FilterJobTest, FewerThanSixArgumentsIsAUsageError) {
  JobResult r = RunJob({"42", "user", "title", "1"}, kFakeApi);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Usage: quilltestq job-id user title copies options [file]\n");
  EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(FilterJobTest, UnopenableRasterFileIsAnError) {
  JobResult r =
      RunJob({"42", "user", "title", "1", "", dir_.File("missing.ras")}, kFakeApi);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(CountLine(r.err,
                      "ERROR: [quillfilter] Unable to open raster file - No such file or directory"),
            1);
  EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(FilterJobTest, JobWithoutPagesStillEndsTheDocument) {
  JobResult r = Run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fake_.Sequence(), (std::vector<std::string>{"get_object", "end_doc", "release"}));
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] Job 42 finished."), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] color_mode=-1"), 1);
}

TEST_F(FilterJobTest, ParametersHandedToTheLibrary) {
  RasterPageSpec spec = SmallPage();
  spec.row_count = 24;
  JobResult r = Run({MakePage(spec)});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(fake_.Sequence(), (std::vector<std::string>{"get_object", "start_doc2",
                                                        "process_page2", "end_doc", "release"}));
  const Call& create = fake_.calls[0];
  EXPECT_EQ(create.name, "DocumentProcessInk1");
  EXPECT_EQ(create.options, "(null)");  // options come with the first page
  EXPECT_EQ(create.cp.shingling, SHINGLING_HALF_BAND_DYNA);
  EXPECT_EQ(create.cp.x_unit, 0);
  EXPECT_EQ(create.cp.num_pins, 0);

  const Call& page = *fake_.Of("process_page2")[0];
  EXPECT_EQ(page.obj, &fake_.handle);
  EXPECT_EQ(page.cp.wr_cb, &default_write);
  EXPECT_EQ(page.cp.req_exit_cb, &check_if_exit);
  EXPECT_EQ(page.cp.req_exit_cb(page.cp.req_exit_cb_param), 0);
  EXPECT_EQ(page.cp.x_unit, 360);
  EXPECT_EQ(page.cp.y_unit, 360);
  EXPECT_EQ(page.cp.num_pins, 24);
  EXPECT_EQ(page.cp.page_length, 360u * 10 / 72);
  EXPECT_EQ(page.ri.width, 20u);
  EXPECT_EQ(page.ri.height, 10u);
  EXPECT_EQ(page.ri.pitch, 60);
  EXPECT_EQ(page.ri.x_res, 72);
  EXPECT_EQ(page.ri.y_res, 72);
  EXPECT_EQ(page.ri.bpp, 24);
  EXPECT_EQ(std::count(std::begin(page.ri.palette), std::end(page.ri.palette), 0u), 256);
  EXPECT_EQ(fake_.Of("start_doc2")[0]->options, page.options);

  // The header is described line by line before the page is sent.
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsWidth=20,cupsHeight=10"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] HWResolution=72x72"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsImagingBBox=0.000000,0.000000,20.000000,"
                             "10.000000"),
            1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] ModelNumber=0"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsBorderlessScalingFactor=1"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsPageSize=20,10"), 1);
}

// The whole message stream of a one-page job, line by line: option lookup,
// the header description in its fixed order (printf lines, then the two
// "{}" records printed like %g), the copy line and the end of the job.
TEST_F(FilterJobTest, MessageLinesOfAJobInOrder) {
  RasterPageSpec spec = SmallPage();
  spec.page_width_pt = 20.5f;
  spec.page_height_pt = 10.25f;
  float box[4] = {1.5f, 2.0f, 19.0f, 9.75f};
  std::memcpy(spec.box, box, sizeof box);
  spec.row_count = 24;
  RasterPage page = MakePage(spec);
  page.header.cupsBorderlessScalingFactor = 1.0f / 3.0f;
  page.header.cupsMediaType = 7;
  page.header.cupsRowFeed = 5;
  page.header.cupsRowStep = 6;
  page.header.Margins[0] = 1;
  page.header.Margins[1] = 2;
  JobResult r = Run({page}, "media=A4");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> expected = {
      "WARNING: [quillfilter] failed to get dest",
      "DEBUG: [quillfilter] parse 1 options",
      "DEBUG: [quillfilter] 0: media=A4",
      "DEBUG: [quillfilter] CustomColorMode not found",
      "DEBUG: [quillfilter] color_mode=-1",
      "DEBUG: [quillfilter] cupsWidth=17,cupsHeight=7",
      "DEBUG: [quillfilter] cupsMediaType=7",
      "DEBUG: [quillfilter] cupsBitsPerColor=8",
      "DEBUG: [quillfilter] cupsBitsPerPixel=24",
      "DEBUG: [quillfilter] cupsBytesPerLine=51",
      "DEBUG: [quillfilter] cupsRowCount=24",
      "DEBUG: [quillfilter] cupsRowFeed=5",
      "DEBUG: [quillfilter] cupsRowStep=6",
      "DEBUG: [quillfilter] HWResolution=72x72",
      "DEBUG: [quillfilter] PageSize=20,10",
      "DEBUG: [quillfilter] ImagingBoundingBox=1,2,19,9",
      "DEBUG: [quillfilter] cupsImagingBBox=1.500000,2.000000,19.000000,9.750000",
      "DEBUG: [quillfilter] Margins=1,2",
      "DEBUG: [quillfilter] ModelNumber=0",
      "DEBUG: [quillfilter] cupsBorderlessScalingFactor=0.333333",
      "DEBUG: [quillfilter] cupsPageSize=20.5,10.25",
      "INFO: [quillfilter] page 1, 1/1 copies",
      "INFO: [quillfilter] Job 42 finished.",
  };
  EXPECT_EQ(quill_filter_test::Lines(r.err), expected);
}

// The brace-formatted header records print floats like printf's %g at its
// default precision (six significant digits, exponent form when large).
TEST_F(FilterJobTest, PageSizeRecordsFollowPrintfG) {
  RasterPage page = MakePage(SmallPage(8, 4));
  page.header.cupsPageSize[0] = 8.0000001f;  // rounds to 8
  page.header.cupsPageSize[1] = 4.12345678f;
  page.header.cupsBorderlessScalingFactor = 1234567.0f;
  JobResult r = Run({page});
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsPageSize=8,4.12346"), 1) << r.err;
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] cupsBorderlessScalingFactor=1.23457e+06"), 1);
}

TEST_F(FilterJobTest, DefaultWriteSkipsEmptyWrites) {
  FILE* f = std::tmpfile();
  EXPECT_EQ(default_write(f, "", 0), 0);
  EXPECT_EQ(default_write(f, "\x1B@", 2), 2);
  EXPECT_EQ(Slurp(f), "\x1B@");
  std::fclose(f);
}

// ---------------------------------------------------------------------------
// Processor choice and option string.

TEST_F(FilterJobTest, ProcessorByModelAndColourMode) {
  EXPECT_STREQ(quill_host::ProcessorName(1, 2), "DocumentProcessDot24");
  EXPECT_STREQ(quill_host::ProcessorName(0, 2), "DocumentProcessInk3");
  EXPECT_STREQ(quill_host::ProcessorName(0, 1), "DocumentProcessInk1");
  EXPECT_STREQ(quill_host::ProcessorName(0, -1), "DocumentProcessInk1");
  EXPECT_EQ(quill_host::BaseOptions(1, 2), "dither=2:dual_color=1");
  EXPECT_EQ(quill_host::BaseOptions(0, 2), std::string(kInk1Options) + ":dup_red=1");
  EXPECT_EQ(quill_host::BaseOptions(0, 0), kInk1Options);
}

TEST_F(FilterJobTest, ModelOnePpdChoosesTheDot24Processor) {
  JobResult r = Run({MakePage(PageAt(360, 360))}, "", PpdWithModel(1));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(fake_.calls[0].name, "DocumentProcessDot24");
  EXPECT_EQ(fake_.calls[0].cp.shingling, SHINGLING_NONE);
  // No start-of-document command for the 24-pin printer.
  EXPECT_EQ(fake_.Of("process_page2")[0]->options, "dither=2:dual_color=1");
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] ModelNumber=1"), 1);
}

TEST_F(FilterJobTest, Dot24OptionsTakeDuplexButNoStartDoc) {
  RasterPageSpec spec = PageAt(360, 360);
  spec.duplex = true;
  spec.num_copies = 2;
  Run({MakePage(spec), MakePage(spec)}, "", PpdWithModel(1));
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 4u);
  for (const Call* page : pages) EXPECT_EQ(page->options, "dither=2:dual_color=1:duplex=1");
  EXPECT_EQ(fake_.Of("start_doc2")[0]->options, "dither=2:dual_color=1:duplex=1");
}

TEST_F(FilterJobTest, ModelZeroPpdChoosesTheInk1Processor) {
  Run({MakePage(PageAt(360, 360))}, "", PpdWithModel(0));
  EXPECT_EQ(fake_.calls[0].name, "DocumentProcessInk1");
  EXPECT_EQ(fake_.calls[0].cp.shingling, SHINGLING_HALF_BAND_DYNA);
}

TEST_F(FilterJobTest, LongStartDocAt360DpiThenShortPieces) {
  Run({MakePage(PageAt(360, 360)), MakePage(PageAt(360, 360))});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0]->options, std::string(kInk1Options) + kLongStart);
  EXPECT_EQ(pages[1]->options, std::string(kInk1Options) + kLongStart + kShortStart);
}

TEST_F(FilterJobTest, ShortStartDocAt400DpiAndMore) {
  for (unsigned y_res : {400u, 720u}) {
    fake_.calls.clear();
    Run({MakePage(PageAt(360, y_res))});
    ASSERT_EQ(fake_.Of("process_page2").size(), 1u);
    EXPECT_EQ(fake_.Of("process_page2")[0]->options, std::string(kInk1Options) + kShortStart)
        << y_res;
  }
  fake_.calls.clear();
  Run({MakePage(PageAt(720, 399))});
  EXPECT_EQ(fake_.Of("process_page2")[0]->options, std::string(kInk1Options) + kLongStart);
}

// Every copy pass adds a start-of-document piece; the long one only while
// "1B78" is absent, so a 360 dpi page after a 720 dpi one still gets it.
TEST_F(FilterJobTest, EveryPassAppendsAStartDocPiece) {
  RasterPageSpec fine = PageAt(360, 720);
  fine.num_copies = 2;
  RasterPageSpec coarse = PageAt(360, 360);
  coarse.num_copies = 2;
  Run({MakePage(fine), MakePage(coarse)});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 4u);
  const std::string base = kInk1Options;
  EXPECT_EQ(pages[0]->options, base + kShortStart);
  EXPECT_EQ(pages[1]->options, base + kShortStart + kShortStart);
  EXPECT_EQ(pages[2]->options, base + kShortStart + kShortStart + kLongStart);
  EXPECT_EQ(pages[3]->options, base + kShortStart + kShortStart + kLongStart + kShortStart);
  EXPECT_EQ(fake_.Of("start_doc2").size(), 1u);
  EXPECT_EQ(fake_.Of("start_doc2")[0]->options, pages[0]->options);
}

TEST_F(FilterJobTest, DuplexIsAddedOncePerJob) {
  RasterPageSpec simplex = PageAt(360, 360);
  RasterPageSpec duplex = simplex;
  duplex.duplex = true;
  Run({MakePage(simplex), MakePage(duplex), MakePage(duplex), MakePage(duplex)});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(pages[0]->options.find("duplex="), std::string::npos);
  EXPECT_EQ(pages[1]->options,
            std::string(kInk1Options) + kLongStart + kShortStart + ":duplex=1");
  const std::string& last = pages[3]->options;
  size_t first = last.find(":duplex=1");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(last.find("duplex=", first + 2), std::string::npos);
}

// The Duplex field is whatever 32-bit value the stream holds (the
// quillfilter fuzz target found 16121856 there; reading it as cups_bool_t
// was undefined behaviour): any value but 0 asks for duplex.
TEST_F(FilterJobTest, DuplexFieldBeyondTheEnumMeansDuplex) {
  RasterPage page = MakePage(PageAt(360, 360));
  const uint32_t stored = 16121856;
  std::memcpy(&page.header.Duplex, &stored, sizeof stored);
  Run({MakePage(PageAt(360, 360)), page});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_NE(pages[1]->options.find(":duplex=1"), std::string::npos) << pages[1]->options;
}

TEST_F(FilterJobTest, UnitsFollowTheRowCountAndCarryOver) {
  RasterPageSpec spec = PageAt(360, 360);
  spec.row_count = 24;
  RasterPage p24 = MakePage(spec);
  spec.row_count = 128;
  RasterPage p128 = MakePage(spec);
  spec.row_count = 896;
  RasterPage p896 = MakePage(spec);
  spec.row_count = 1000;
  RasterPage p1000 = MakePage(spec);
  Run({p24, p128, p896, p128, p1000});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 5u);
  const unsigned units[] = {360, 360, 1440, 1440, 1440};
  const unsigned pins[] = {24, 128, 896, 128, 1000};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pages[i]->cp.x_unit, units[i]) << i;
    EXPECT_EQ(pages[i]->cp.y_unit, units[i]) << i;
    EXPECT_EQ(pages[i]->cp.num_pins, pins[i]) << i;
    // 4 points at 360 dpi: 20 rows.
    EXPECT_EQ(pages[i]->cp.page_length, units[i] * 20 / 360) << i;
  }

  fake_.calls.clear();
  spec.row_count = 0;
  Run({MakePage(spec)});
  EXPECT_EQ(fake_.Of("process_page2")[0]->cp.x_unit, 1200);
  EXPECT_EQ(fake_.Of("process_page2")[0]->cp.y_unit, 1200);
}

// ---------------------------------------------------------------------------
// Copies and cancellation.

TEST_F(FilterJobTest, ThreeCopiesSendTheSameCanvasThreeTimes) {
  RasterPageSpec spec = SmallPage();
  spec.num_copies = 3;
  RasterPage page = MakePage(spec, 0x40);
  JobResult r = Run({page});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(fake_.Of("start_doc2").size(), 1u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(pages[i]->ri.img_p, pages[0]->ri.img_p);
    EXPECT_EQ(pages[i]->pixels, std::vector<uint8_t>(20 * 10 * 3, 0x40));
    EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 1, " + std::to_string(i + 1) +
                                   "/3 copies"),
              1);
  }
}

TEST_F(FilterJobTest, ZeroCopiesSendNothingButConsumeThePage) {
  RasterPageSpec spec = SmallPage();
  spec.num_copies = 0;
  RasterPage skipped = MakePage(spec, 0x11);
  RasterPage printed = MakePage(SmallPage(), 0x22);
  JobResult r = Run({skipped, printed});
  ASSERT_EQ(r.status, 0);
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 1u);
  // The second page's header and rows were read from their own place.
  EXPECT_EQ(pages[0]->pixels, std::vector<uint8_t>(20 * 10 * 3, 0x22));
  EXPECT_EQ(CountContaining(r.err, "copies"), 1);
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 2, 1/1 copies"), 1);
  EXPECT_EQ(CountContaining(r.err, "cupsWidth="), 2);
}

TEST_F(FilterJobTest, SigtermDuringCopiesEndsTheJobAfterTheCurrentCall) {
  int exit_flag_seen = -1;
  fake_.on_page = [&](int index, const CONV_PARAM2* cp) {
    if (index == 0) {
      std::raise(SIGTERM);
      exit_flag_seen = cp->req_exit_cb(cp->req_exit_cb_param);
    }
  };
  RasterPageSpec spec = SmallPage();
  spec.num_copies = 3;
  JobResult r = Run({MakePage(spec), MakePage(SmallPage())});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(exit_flag_seen, 1);  // the library sees the request through check_if_exit
  EXPECT_EQ(fake_.Sequence(), (std::vector<std::string>{"get_object", "start_doc2",
                                                        "process_page2", "end_doc", "release"}));
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 1, 2/3 copies"), 1);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] got cancel signal and exit"), 1);
  EXPECT_EQ(CountContaining(r.err, "3/3 copies"), 0);
  EXPECT_EQ(CountContaining(r.err, "page 2"), 0);
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] Job 42 finished."), 1);
}

// Cancelled before the first page: the header is still described, then the
// job ends without a message and without any page call.
TEST_F(FilterJobTest, SigtermBeforeAPageSendsNothing) {
  struct RaiseOnCreate {
    static void* GetObject(const char* name, const CONV_PARAM2* cp) {
      void* obj = FakeGetObject(name, cp);
      std::raise(SIGTERM);
      return obj;
    }
  };
  const DocApi api = {RaiseOnCreate::GetObject, FakeStartDoc2, FakeProcessPage2, FakeEndDoc,
                      FakeRelease};
  std::string path = dir_.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(path, {MakePage(SmallPage()), MakePage(SmallPage())}));
  JobResult r = RunJob({"42", "user", "title", "1", "", path}, api);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fake_.Sequence(), (std::vector<std::string>{"get_object", "end_doc", "release"}));
  EXPECT_EQ(CountContaining(r.err, "cupsWidth="), 1);
  EXPECT_EQ(CountContaining(r.err, "cupsPageSize="), 1);
  EXPECT_EQ(CountContaining(r.err, "copies"), 0);
  EXPECT_EQ(CountContaining(r.err, "got cancel signal"), 0);
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] Job 42 finished."), 1);
}

TEST_F(FilterJobTest, SigtermAfterTheLastCopyStopsBeforeTheNextPage) {
  fake_.on_page = [](int index, const CONV_PARAM2*) {
    if (index == 0) std::raise(SIGTERM);
  };
  JobResult r = Run({MakePage(SmallPage()), MakePage(SmallPage())});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(fake_.Of("process_page2").size(), 1u);
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] got cancel signal and exit"), 1);
  EXPECT_EQ(fake_.Of("end_doc").size(), 1u);
  EXPECT_EQ(fake_.Of("release").size(), 1u);
}

TEST_F(FilterJobTest, NewJobStartsUncancelled) {
  Run({});  // installs the filter's SIGTERM handler
  std::raise(SIGTERM);  // a flag left from before the job does not count
  fake_.calls.clear();
  Run({MakePage(SmallPage())});
  EXPECT_EQ(fake_.Of("process_page2").size(), 1u);
}

// ---------------------------------------------------------------------------
// Pages that cannot be printed are skipped with an ERROR line; the job goes on.

TEST_F(FilterJobTest, MissingProcessorIsReportedAndTheJobStillEnds) {
  fake_.return_null = true;
  JobResult r = Run({MakePage(SmallPage())});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(CountLine(r.err,
                      "ERROR: [quillfilter] Unable to create the document processor "
                      "DocumentProcessInk1"),
            1);
  EXPECT_EQ(fake_.Sequence(), (std::vector<std::string>{"get_object", "start_doc2",
                                                        "process_page2", "end_doc", "release"}));
  EXPECT_EQ(fake_.Of("release")[0]->obj, nullptr);
}

TEST_F(FilterJobTest, OversizedPageIsSkippedAndTheNextOnePrints) {
  RasterPageSpec huge;
  huge.bits_per_pixel = 32;
  huge.color_space = CUPS_CSPACE_RGBW;
  huge.page_width_pt = 1048576.0f;  // 2^42 bytes; 32-bit arithmetic would give 4 MiB
  huge.page_height_pt = 1048577.0f;
  huge.width_px = 16;
  huge.height_px = 16;
  RasterPage printed = MakePage(SmallPage(), 0x33);
  JobResult r = Run({MakePage(huge, 0), printed});
  EXPECT_EQ(r.status, 0);
  // Refused by its size before anything is allocated (2^42 bytes).
  EXPECT_EQ(CountLine(r.err,
                      "ERROR: [quillfilter] Page 1 is skipped: the sheet of 1048576x1048577 "
                      "pixels at 72x72 dpi has a side longer than 2000 mm"),
            1);
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0]->pixels, std::vector<uint8_t>(20 * 10 * 3, 0x33));
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 2, 1/1 copies"), 1);
}

TEST_F(FilterJobTest, UnsupportedDepthIsSkippedAndTheNextOnePrints) {
  RasterPage deep = MakePage(SmallPage(), 0);
  deep.header.cupsBitsPerColor = 16;
  deep.header.cupsBitsPerPixel = 48;
  deep.header.cupsBytesPerLine = deep.header.cupsWidth * 6;
  deep.pixels.assign(size_t{deep.header.cupsBytesPerLine} * deep.header.cupsHeight, 0);
  JobResult r = Run({deep, MakePage(SmallPage(), 0x44)});
  EXPECT_EQ(CountContaining(r.err, "ERROR: [quillfilter] Page 1 is skipped: 48 bits per pixel"),
            1);
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0]->pixels, std::vector<uint8_t>(20 * 10 * 3, 0x44));
}

TEST_F(FilterJobTest, ZeroResolutionIsSkippedAndTheNextOnePrints) {
  RasterPage zero = MakePage(SmallPage(), 0);
  zero.header.HWResolution[1] = 0;
  JobResult r = Run({zero, MakePage(SmallPage(), 0x55)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(CountLine(r.err,
                      "ERROR: [quillfilter] Page 1 has the invalid resolution 72x0 and is skipped"),
            1);
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0]->pixels, std::vector<uint8_t>(20 * 10 * 3, 0x55));
}

// Hostile headers: sizes, resolutions and copies no printer takes, and
// pages that claim billions of rows the stream does not hold. Each is
// refused with an ERROR line before anything is allocated for it, its rows
// are consumed, and the job prints exactly what the legal page alone prints
// (through the real library, so the document commands are compared too).
// Pages whose claimed rows are missing come last: a raster stream has no
// page marks, so their rows cannot be told from the next page's.
TEST_F(FilterJobTest, HostilePagesAreRefusedAndTheLegalPagePrintsAsAlone) {
  RasterPageSpec legal_spec = PageAt(360, 360);
  legal_spec.page_width_pt = 36.0f;
  legal_spec.page_height_pt = 18.0f;
  RasterPage legal = MakePage(legal_spec, 0x00);  // black: the same dots whatever the screen's random start
  const std::string legal_path = dir_.File("legal.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(legal_path, {legal}));
  const JobResult alone =
      RunJob({"7", "user", "title", "1", "", legal_path}, quill_filter::LibraryApi());
  ASSERT_EQ(alone.status, 0);
  ASSERT_GT(alone.out.size(), 100u);

  struct Case {
    const char* what;
    RasterPage page;
    bool rows_missing;   // header only: goes after the legal page
    const char* reason;  // expected after "Page <n> is skipped: "
  };
  auto spec = [](float w_pt, float h_pt, unsigned res) {
    RasterPageSpec s = SmallPage();
    s.page_width_pt = w_pt;
    s.page_height_pt = h_pt;
    s.x_res = s.y_res = res;
    s.width_px = 16;
    s.height_px = 16;
    return s;
  };
  std::vector<Case> cases;
  cases.push_back({"sheet a million points wide", MakePage(spec(1e6f, 72.0f, 720)), false,
                   "the sheet of 10000000x720 pixels at 720x720 dpi has a side longer than "
                   "2000 mm"});
  cases.push_back({"sheet a million points high", MakePage(spec(72.0f, 1e6f, 720)), false,
                   "the sheet of 720x10000000 pixels at 720x720 dpi has a side longer than "
                   "2000 mm"});
  cases.push_back({"5760 dpi", MakePage(spec(72.0f, 72.0f, 5760)), false,
                   "the resolution 5760x5760 dpi is above 2880 dpi"});
  {
    RasterPageSpec big = spec(600.0f, 600.0f, 2880);  // 24000 x 24000 pixels of 4 bytes
    big.bits_per_pixel = 32;
    big.color_space = CUPS_CSPACE_RGBW;
    cases.push_back({"2.3 GB canvas", MakePage(big), false,
                     "the sheet of 24000x24000 pixels needs 2304000000 bytes, more than the "
                     "1073741824 of the largest page"});
  }
  {
    RasterPageSpec many = spec(72.0f, 72.0f, 72);
    many.num_copies = 100000;
    cases.push_back({"100000 copies", MakePage(many), false, "100000 copies are more than 9999"});
  }
  {
    RasterPage tall = MakePage(spec(72.0f, 72.0f, 72));
    tall.header.cupsHeight = 0xFFFFFFF0u;
    tall.pixels.clear();
    cases.push_back({"4 billion rows claimed, none sent", tall, true,
                     "the raster of 16x4294967280 pixels at 72x72 dpi has a side longer than "
                     "2000 mm"});
  }
  {
    RasterPageSpec wide = spec(72.0f, 72.0f, 72);
    wide.width_px = 1u << 24;
    wide.height_px = 1;
    wide.bits_per_pixel = 1;
    wide.color_space = CUPS_CSPACE_K;
    RasterPage page = MakePage(wide, 0);  // one 2 MiB row that is never written
    page.pixels.clear();
    cases.push_back({"raster rows wider than the sheet bound, truncated", page, true,
                     "the raster of 16777216x1 pixels at 72x72 dpi has a side longer than "
                     "2000 mm"});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.File("hostile.ras");
    const std::vector<RasterPage> pages =
        c.rows_missing ? std::vector<RasterPage>{legal, c.page}
                       : std::vector<RasterPage>{c.page, legal};
    ASSERT_TRUE(quill_test::WriteRasterFile(path, pages));
    const JobResult r = RunJob({"7", "user", "title", "1", "", path}, quill_filter::LibraryApi());
    EXPECT_EQ(r.status, 0);
    const int hostile = c.rows_missing ? 2 : 1;
    EXPECT_EQ(CountLine(r.err, "ERROR: [quillfilter] Page " + std::to_string(hostile) +
                                   " is skipped: " + c.reason),
              1)
        << r.err.substr(0, 4000);
    EXPECT_EQ(CountContaining(r.err, "ERROR:"), 1);
    EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page " + std::to_string(3 - hostile) +
                                   ", 1/1 copies"),
              1);
    EXPECT_TRUE(r.out == alone.out) << Hex(r.out.substr(0, 200));
  }
}

// ---------------------------------------------------------------------------
// The canvas as the library receives it.

TEST_F(FilterJobTest, PageWithUnequalMarginsLandsBelowItsTopMargin) {
  // Sheet 20 x 10 points; imaging box 4..16 across, 1 (bottom) .. 7 (top).
  RasterPageSpec spec = SmallPage();
  float box[4] = {4.0f, 1.0f, 16.0f, 7.0f};
  std::memcpy(spec.box, box, sizeof box);
  RasterPage page = MakePage(spec, 0);
  ASSERT_EQ(page.header.cupsWidth, 12u);
  ASSERT_EQ(page.header.cupsHeight, 6u);
  for (uint32_t y = 0; y < 6; ++y) {
    for (uint32_t x = 0; x < 12; ++x) {
      page.Row(y)[3 * x] = uint8_t(10 * y + x);  // red channel marks the pixel
    }
  }
  Run({page});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<uint8_t>& canvas = pages[0]->pixels;
  ASSERT_EQ(canvas.size(), 20u * 10u * 3u);
  for (uint32_t cy = 0; cy < 10; ++cy) {
    for (uint32_t cx = 0; cx < 20; ++cx) {
      const uint8_t* px = &canvas[(cy * 20 + cx) * 3];
      // Top margin 3 points: rows 3..8 hold the raster, rows 0..2 and 9 are white.
      bool inside = cx >= 4 && cx < 16 && cy >= 3 && cy < 9;
      uint8_t red = inside ? uint8_t(10 * (cy - 3) + (cx - 4)) : 255;
      uint8_t other = inside ? 0 : 255;
      EXPECT_EQ(px[2], red) << cx << "," << cy;  // B, G, R in memory
      EXPECT_EQ(px[1], other) << cx << "," << cy;
      EXPECT_EQ(px[0], other) << cx << "," << cy;
    }
  }
}

TEST_F(FilterJobTest, OneAndEightBitPagesReachTheLibraryInTheirDepth) {
  RasterPageSpec mono = SmallPage(20, 4);
  mono.bits_per_pixel = 1;
  mono.color_space = CUPS_CSPACE_K;
  RasterPage one = MakePage(mono, 0xF0);
  RasterPageSpec grey = SmallPage(20, 4);
  grey.bits_per_pixel = 8;
  grey.color_space = CUPS_CSPACE_SW;
  RasterPage eight = MakePage(grey, 0x80);
  Run({one, eight});
  auto pages = fake_.Of("process_page2");
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0]->ri.bpp, 1);
  EXPECT_EQ(pages[0]->ri.pitch, 3);
  EXPECT_EQ(pages[0]->ri.palette[0], 0xFFFFFFu);
  EXPECT_EQ(pages[0]->ri.palette[1], 0u);
  // 20 pixels of F0 F0 F0 (1111 0000 ...): ink, paper alternating by four;
  // bits beyond the 20th stay clear.
  EXPECT_EQ(Hex(std::string(pages[0]->pixels.begin(), pages[0]->pixels.begin() + 3)),
            "F0 F0 F0");
  EXPECT_EQ(pages[1]->ri.bpp, 8);
  EXPECT_EQ(pages[1]->ri.pitch, 20);
  EXPECT_EQ(pages[1]->ri.palette[0x80], 0x808080u);
  EXPECT_EQ(pages[1]->pixels, std::vector<uint8_t>(20 * 4, 0x80));
}

// ---------------------------------------------------------------------------
// The whole job through the internal library.

TEST_F(FilterJobTest, RealLibraryWritesTheDocumentCommands) {
  std::string path = dir_.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(path, {MakePage(PageAt(360, 360))}));
  JobResult r =
      RunJob({"7", "user", "title", "1", "", path}, quill_filter::LibraryApi());
  EXPECT_EQ(r.status, 0);
  // Initialisation, then the long start-of-document command of a 360 dpi job.
  const std::string start("\x1B\x40\x1B\x1D\x1E\x00\x0C\x04\x1B\x1D\x1F\x1B\x78\x03", 14);
  ASSERT_GE(r.out.size(), start.size());
  EXPECT_EQ(Hex(r.out.substr(0, start.size())), Hex(start));
  // The library's records come out in the filter's line format.
  EXPECT_EQ(CountLine(r.err, "DEBUG: [quillfilter] DocumentProcessInk1"), 1);
  EXPECT_EQ(CountLine(r.err, std::string("DEBUG: [quillfilter] parsing options: ") +
                                 kInk1Options + kLongStart),
            2);  // at StartDoc2 and at ProcessPage2
  EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] Job 7 finished."), 1);
}

// The raster can come from a descriptor of the caller (here a pipe) instead
// of argv[6] or standard input; a job run that way prints what the job from
// the file prints, again and again, and leaves the descriptor open.
TEST_F(FilterJobTest, RasterFromTheCallersDescriptorPrintsLikeTheFile) {
  std::string path = dir_.File("job.ras");
  RasterPageSpec spec = PageAt(360, 360);
  spec.num_copies = 2;
  ASSERT_TRUE(quill_test::WriteRasterFile(path, {MakePage(spec), MakePage(PageAt(180, 180))}));
  const std::string raster = quill_filter_test::ReadFile(path);
  ASSERT_LT(raster.size(), 60000u);  // fits a pipe without a writer thread
  const JobResult from_file =
      RunJob({"7", "user", "title", "1", "", path}, quill_filter::LibraryApi());
  ASSERT_EQ(from_file.status, 0);
  for (int run = 0; run < 2; ++run) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], raster.data(), raster.size()), static_cast<ssize_t>(raster.size()));
    close(fds[1]);
    const JobResult r =
        RunJob({"7", "user", "title", "1", ""}, quill_filter::LibraryApi(), "", fds[0]);
    EXPECT_EQ(fcntl(fds[0], F_GETFD), 0);  // still open
    close(fds[0]);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == from_file.out) << Hex(r.out);
    EXPECT_EQ(CountLine(r.err, "INFO: [quillfilter] page 2, 1/1 copies"), 1);
  }
}

// One- and eight-bit pages go through the real library at their own depth
// and come out dot for dot where the imaging box puts them; the copies of
// a page print the same dots (the canvas is not changed by the library).
TEST_F(FilterJobTest, RealLibraryPrintsOneAndEightBitPagesWhereTheyArePlaced) {
  // Sheet 72 x 36 points at 360 dpi (360 x 180 dots); box 9..63 across,
  // 9 (bottom) .. 27 (top): 270 x 90 dots starting at column 45, row 45.
  auto ink = [](uint32_t x, uint32_t y) { return (x / 7 + y / 5) % 3 == 0; };
  auto make = [&](unsigned bits, cups_cspace_t space, unsigned copies) {
    RasterPageSpec spec = PageAt(360, 360);
    spec.page_width_pt = 72.0f;
    spec.page_height_pt = 36.0f;
    float box[4] = {9.0f, 9.0f, 63.0f, 27.0f};
    std::memcpy(spec.box, box, sizeof box);
    spec.bits_per_pixel = bits;
    spec.color_space = space;
    spec.row_count = 24;
    spec.num_copies = copies;
    RasterPage page = MakePage(spec, 0);
    for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
      for (uint32_t x = 0; x < page.header.cupsWidth; ++x) {
        const bool dot = ink(x, y);
        if (bits == 1) {
          const bool set = space == CUPS_CSPACE_K ? dot : !dot;
          if (set) page.Row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        } else {
          // K: 255 is full ink; SW: 0 is black.
          page.Row(y)[x] = (space == CUPS_CSPACE_K) == dot ? 255 : 0;
        }
      }
    }
    return page;
  };
  const std::vector<RasterPage> pages = {make(1, CUPS_CSPACE_K, 2), make(1, CUPS_CSPACE_W, 1),
                                         make(8, CUPS_CSPACE_SW, 1), make(8, CUPS_CSPACE_K, 1)};
  ASSERT_EQ(pages[0].header.cupsWidth, 270u);
  ASSERT_EQ(pages[0].header.cupsHeight, 90u);
  std::string path = dir_.File("job.ras");
  ASSERT_TRUE(quill_test::WriteRasterFile(path, pages));
  JobResult r = RunJob({"7", "user", "title", "1", "", path}, quill_filter::LibraryApi());
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(CountContaining(r.err, "ERROR:"), 0) << r.err;
  ASSERT_GT(r.out.size(), 14u);
  const std::vector<uint8_t> bytes(r.out.begin() + 14, r.out.end());  // after the start command
  const quillpreview::DecodedBands decoded = quillpreview::DecodeBands(bytes, quillpreview::BandGeometry{});
  EXPECT_TRUE(decoded.problems.empty()) << decoded.problems.front();
  EXPECT_TRUE(decoded.double_dots.empty());
  ASSERT_EQ(decoded.pages.size(), 5u) << decoded.Summary().substr(0, 1000);
  for (size_t p = 0; p < decoded.pages.size(); ++p) {
    const quillpreview::DotPlane& dots = decoded.pages[p].planes[0];
    int wrong = 0;
    for (uint32_t y = 0; y < 180; ++y) {
      for (uint32_t x = 0; x < 360; ++x) {
        const bool inside = x >= 45 && x < 315 && y >= 45 && y < 135;
        const bool expected = inside && ink(x - 45, y - 45);
        if (dots.Dot(y, x) != expected && ++wrong <= 3) {
          ADD_FAILURE() << "page " << p << ": dot (" << x << "," << y << ") is "
                        << dots.Dot(y, x);
        }
      }
    }
    EXPECT_EQ(wrong, 0) << "page " << p;
    EXPECT_LE(dots.Rows(), 180u);
    EXPECT_LE(dots.Width(), 360u);
  }
}

}  // namespace
