// quillconvert, the command-line host: its command line, its message
// lines, and the printer bytes it writes compared with what the library
// produces in-process for the same input.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/hosts_fixtures.h"
#include "common/recording_writer.h"
#include "cups_log.h"
#include "preview/band_decoder.h"
#include "quill/libquill.h"
#include "settings.h"

namespace {

using hosts_test::Bytes;
using hosts_test::Dots;
using hosts_test::Layout;
using quill_test::RecordingWriter;
using quill_test::ToHex;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct RunResult {
  int status = -1;     // exit status
  Bytes out;           // standard output
  std::string err;     // standard error
};

// Runs quillconvert with `args`, standard input from `input` (bytes), in a
// scratch directory of the running test (tests may run in parallel).
RunResult RunQuillconvert(const std::vector<std::string>& args, const Bytes& input = {}) {
  const std::string dir = hosts_test::ScratchDir(
      std::string("quillconvert_run_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  const std::string in = dir + "/stdin.bin";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                             static_cast<std::streamsize>(input.size()));
  std::string cmd = Quote(QUILLCONVERT_PATH);
  for (const std::string& a : args) cmd += " " + Quote(a);
  cmd += " < " + Quote(in) + " > " + Quote(dir + "/stdout.bin") + " 2> " + Quote(dir + "/stderr.txt");
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::string out = ReadFile(dir + "/stdout.bin");
  r.out.assign(out.begin(), out.end());
  r.err = ReadFile(dir + "/stderr.txt");
  return r;
}

// Every line of standard error is a CUPS message line of quillconvert.
void ExpectCupsLines(const std::string& err) {
  static const std::regex kLine("(DEBUG|INFO|WARNING|ERROR): \\[quillconvert\\] .*");
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, kLine)) << line;
  }
}

// The library's own output for an image file, as quillconvert's defaults
// ask for it.
Bytes LibraryImageJob(const std::string& path, uint16_t res) {
  RecordingWriter w;
  CONV_PARAM2 cp{};
  cp.x_unit = cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = RecordingWriter::Callback;
  cp.wr_hdl = w.Handle();
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  DocProc_StartDoc2(doc, &cp);
  DocProc_Update(doc, &cp);
  EXPECT_EQ(DocProc_ProcessImagePage(doc, path.c_str(), res, res), 0);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return w.All();
}

TEST(Quillconvert, HelpGoesToStandardOutput) {
  const RunResult r = RunQuillconvert({"--help"});
  EXPECT_EQ(r.status, 0);
  const std::string out(r.out.begin(), r.out.end());
  EXPECT_NE(out.find("Usage: quillconvert"), std::string::npos);
  EXPECT_NE(out.find("--page-length"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST(Quillconvert, UsageErrorsGiveOneErrorLineAndStatusTwo) {
  RunResult r = RunQuillconvert({"--bogus", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "ERROR: [quillconvert] unknown option --bogus (try --help)\n");
  EXPECT_TRUE(r.out.empty());

  r = RunQuillconvert({"--pins", "70000", "x.png"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "ERROR: [quillconvert] invalid value for --pins: \"70000\" (expected 0..65535) "
            "(try --help)\n");

  const std::string dir = hosts_test::ScratchDir("quillconvert_class");
  const std::string pic = dir + "/p.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(16, 16), Layout::kGrey8, FIF_PNG, pic));
  r = RunQuillconvert({"--class", "DocumentProcessInk9", pic});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ERROR: [quillconvert] unknown processor class \"DocumentProcessInk9\""),
            std::string::npos);
  ExpectCupsLines(r.err);
}

TEST(Quillconvert, PrintsAnImageAsTheLibraryDoes) {
  const std::string dir = hosts_test::ScratchDir("quillconvert_png");
  const std::string pic = dir + "/picture.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(64, 48), Layout::kOneBitBlackOnWhite,
                                     FIF_PNG, pic));
  const std::string out = dir + "/job.bin";
  const RunResult r = RunQuillconvert({"-o", out, "--resolution", "180", pic});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  const std::string written = ReadFile(out);
  const Bytes job(written.begin(), written.end());
  ASSERT_FALSE(job.empty());
  EXPECT_EQ(ToHex(job), ToHex(LibraryImageJob(pic, 180)));

  // And the bytes print the picture: 180 dpi with 1/360 inch units.
  quillpreview::BandGeometry g;
  g.x_res = g.y_res = 180;
  g.band_height = 24 * 180 / 360;
  const quillpreview::DecodedBands decoded = quillpreview::DecodeBands(job, g);
  EXPECT_TRUE(decoded.problems.empty());
  ASSERT_EQ(decoded.pages.size(), 1u);
  const Dots picture = hosts_test::TestPicture(64, 48);
  const quillpreview::DotPlane& plane = decoded.pages[0].planes[0];
  EXPECT_EQ(plane.Count(), picture.Count());
  for (uint32_t y = 0; y < 48; ++y) {
    for (uint32_t x = 0; x < 64; ++x) EXPECT_EQ(plane.Dot(y, x), picture.At(x, y)) << x << "," << y;
  }
  EXPECT_NE(r.err.find("INFO: [quillconvert] printing " + pic), std::string::npos);
  ExpectCupsLines(r.err);
}

TEST(Quillconvert, MissingImageFailsButTheOthersPrint) {
  const std::string dir = hosts_test::ScratchDir("quillconvert_missing");
  const std::string pic = dir + "/picture.bmp";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(40, 30), Layout::kRgb24, FIF_BMP, pic));
  const RunResult r = RunQuillconvert({dir + "/missing.png", pic});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: [quillconvert] cannot read " + dir + "/missing.png"),
            std::string::npos);
  EXPECT_EQ(ToHex(r.out), ToHex(LibraryImageJob(pic, 360)));
  ExpectCupsLines(r.err);
}

TEST(Quillconvert, ConvertsAStreamFromStandardInput) {
  Bytes input = hosts_test::StreamBuilder().Text("Hi").Raw({0x0D, 0x0A}).bytes();
  RunResult r = RunQuillconvert({}, input);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ToHex(r.out), ToHex(input));
  ExpectCupsLines(r.err);

  // A stream with a page: the same bytes as the library's conversion.
  const Dots dots = hosts_test::TestPicture(32, 20);
  const Bytes rows = hosts_test::PackRows(dots, 4);
  std::vector<Bytes> block;
  for (uint32_t y = 0; y < 20; ++y) block.emplace_back(rows.begin() + y * 4, rows.begin() + y * 4 + 4);
  input = hosts_test::StreamBuilder().Page(360, 360, 32, 20).Block(4, block).Raw({0x0C}).bytes();
  r = RunQuillconvert({"-", "--unidir"}, input);
  EXPECT_EQ(r.status, 0) << r.err;
  hosts_test::MemoryReader reader(input);
  RecordingWriter w;
  CONV_PARAM p{};
  p.x_unit = p.y_unit = 360;
  p.num_pins = 24;
  p.rd_cb = hosts_test::MemoryReader::Callback;
  p.rd_hdl = reader.Handle();
  p.wr_cb = RecordingWriter::Callback;
  p.wr_hdl = w.Handle();
  p.prefer_unidir = 1;
  ASSERT_EQ(process_print_data(&p), 0);
  EXPECT_EQ(ToHex(r.out), ToHex(w.All()));

  // An incomplete stream fails with an error line.
  r = RunQuillconvert({}, hosts_test::StreamBuilder().Text("PAGE").Raw({1, 2}).bytes());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("WARNING: [quillconvert] page head is incomplete"), std::string::npos);
  EXPECT_NE(r.err.find("ERROR: [quillconvert]"), std::string::npos);
}

TEST(QuillconvertSettings, DefaultsAndEveryFlag) {
  std::vector<std::string> words = {"quillconvert"};
  auto parse = [&](std::vector<std::string> args, quillconvert::Settings* s, std::string* err) {
    std::vector<std::string> all = words;
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    return quillconvert::ParseCommandLine(static_cast<int>(all.size()), argv.data(), s, err);
  };
  quillconvert::Settings s;
  std::string err;
  ASSERT_TRUE(parse({}, &s, &err));
  EXPECT_EQ(s.processor_class, "DocumentProcessInk1");
  EXPECT_TRUE(s.StreamMode());
  EXPECT_FALSE(s.has_options);

  ASSERT_TRUE(parse({"-c", "DocumentProcessThermal", "-O", "dither=2", "-o", "x.bin", "-r", "203",
                     "--x-unit", "203", "--y-unit", "406", "--pins", "8", "--shingling", "3",
                     "--page-length", "4000", "--rotate", "-90", "--time-stamp", "-vv", "a.png",
                     "b.png"},
                    &s, &err))
      << err;
  EXPECT_EQ(s.processor_class, "DocumentProcessThermal");
  EXPECT_EQ(s.options, "dither=2");
  EXPECT_TRUE(s.has_options);
  EXPECT_EQ(s.output, "x.bin");
  EXPECT_EQ(s.x_res, 203);
  EXPECT_EQ(s.y_res, 203);
  EXPECT_EQ(s.x_unit, 203);
  EXPECT_EQ(s.y_unit, 406);
  EXPECT_EQ(s.num_pins, 8);
  EXPECT_EQ(s.shingling, 3);
  EXPECT_EQ(s.page_length, 4000u);
  EXPECT_DOUBLE_EQ(s.rotate, -90.0);
  EXPECT_TRUE(s.time_stamp);
  EXPECT_EQ(s.verbosity, 2);
  EXPECT_EQ(s.images, (std::vector<std::string>{"a.png", "b.png"}));
  EXPECT_FALSE(s.StreamMode());

  ASSERT_TRUE(parse({"--x-res", "300", "--y-res", "600", "-"}, &s, &err));
  EXPECT_EQ(s.x_res, 300);
  EXPECT_EQ(s.y_res, 600);
  EXPECT_TRUE(s.StreamMode());

  EXPECT_FALSE(parse({"--rotate", "abc"}, &s, &err));
  EXPECT_FALSE(parse({"--x-res", "-1"}, &s, &err));
  EXPECT_FALSE(parse({"--y-unit", "65536"}, &s, &err));
  EXPECT_FALSE(parse({"-q"}, &s, &err));
  EXPECT_EQ(err, "unknown option -q");
  EXPECT_FALSE(parse({"-o"}, &s, &err));
  EXPECT_EQ(err, "option -o needs a value");
}

TEST(QuillconvertLog, LevelKeywords) {
  using quillconvert::FormatLine;
  EXPECT_EQ(FormatLine(spdlog::level::trace, "a"), "DEBUG: [quillconvert] a\n");
  EXPECT_EQ(FormatLine(spdlog::level::debug, "a"), "DEBUG: [quillconvert] a\n");
  EXPECT_EQ(FormatLine(spdlog::level::info, "a"), "INFO: [quillconvert] a\n");
  EXPECT_EQ(FormatLine(spdlog::level::warn, "a"), "WARNING: [quillconvert] a\n");
  EXPECT_EQ(FormatLine(spdlog::level::err, "a"), "ERROR: [quillconvert] a\n");
  EXPECT_EQ(FormatLine(spdlog::level::critical, "a"), "ERROR: [quillconvert] a\n");
}

}  // namespace
