// The quillpreview program as a user runs it: PNG pages and summary lines
// for good streams, a message with the byte offset and the pages before it
// for cut and garbled ones, and its usage errors.
#include <gtest/gtest.h>

#include <FreeImage.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/test_raster.h"
#include "dotfilter/dot_test_util.h"
#include "preview_test_util.h"

namespace preview_test {
namespace {

using dot_test::RunProgram;
using dot_test::RunResult;
using dot_test::TempDir;

struct BitmapDeleter {
  void operator()(FIBITMAP* b) const {
    if (b != nullptr) FreeImage_Unload(b);
  }
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

RunResult Preview(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"quillpreview"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(QUILLPREVIEW_PATH, argv, {}, "", 60);
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

bool Exists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

std::string Percent(double part, double whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", 100.0 * part / whole);
  return text;
}

// A two-page black-and-red job of DocumentProcessInk3 (pages 60 dots wide,
// so the left margin tells the width exactly); the write calls are kept.
struct RedBlackJob {
  Picture first = RandomPicture(60, 90, 21, 0.3, 3);
  Picture second = RandomPicture(60, 50, 22, 0.5);
  quill_test::RecordingWriter writer;
  Bytes bytes;

  RedBlackJob() {
    std::vector<Raster> pages = {ColourRaster(first, 360, 360), ColourRaster(second, 360, 360)};
    CONV_PARAM2 cp{};
    cp.x_unit = cp.y_unit = 360;
    cp.num_pins = 24;
    cp.page_length = 100;  // longer than both: each page ends with a form feed
    cp.options = "threshold=128:use_locpos=1";
    bytes = RunJob("DocumentProcessInk3", cp, pages, &writer);
  }

  // Offset of the first graphics command after the second page flag.
  size_t SecondPageGraphics() const {
    size_t offset = 0;
    int flags = 0;
    for (const Bytes& call : writer.Calls()) {
      if (call.size() == 5 && call[0] == 0x1B && call[1] == 0x26 && call[2] == 0x6C && call[3] == 0x4C) ++flags;
      if (flags == 2 && call.size() == 5 && call[0] == 0x1B && call[1] == 0x2A) return offset;
      offset += call.size();
    }
    return 0;
  }
  // Offset of the second page flag.
  size_t SecondPageStart() const {
    size_t offset = 0;
    int flags = 0;
    for (const Bytes& call : writer.Calls()) {
      if (call.size() == 5 && call[0] == 0x1B && call[1] == 0x26 && call[2] == 0x6C && call[3] == 0x4C &&
          ++flags == 2) {
        return offset;
      }
      offset += call.size();
    }
    return 0;
  }
};

std::string ExpectedLine(const Picture& p, int number, const std::string& png) {
  const double area = 60.0 * 100.0;  // the width from the margin, the height from the page length
  const uint64_t black = p.Count(1), red = p.Count(2);
  return "page " + std::to_string(number) + ": serial 60x100 at 360x360 dpi, " + std::to_string(black + red) +
         " dots, black " + std::to_string(black) + " (" + Percent(black, area) + "), red " + std::to_string(red) +
         " (" + Percent(red, area) + ") -> " + png + "\n";
}

// "" when the PNG shows the picture: black dots black, red dots red, paper
// white, at 360 dpi.
std::string CheckPicture(const std::string& png, const Picture& p) {
  Bitmap b(FreeImage_Load(FIF_PNG, png.c_str(), PNG_DEFAULT));
  if (!b) return "cannot load " + png;
  if (FreeImage_GetWidth(b.get()) != 60 || FreeImage_GetHeight(b.get()) != 100) return "size";
  if (FreeImage_GetDotsPerMeterX(b.get()) != 14173) return "resolution";
  Bitmap rgb(FreeImage_ConvertTo24Bits(b.get()));
  for (uint32_t y = 0; y < 100; ++y) {
    for (uint32_t x = 0; x < 60; ++x) {
      RGBQUAD c;
      FreeImage_GetPixelColor(rgb.get(), x, 99 - y, &c);
      const uint8_t ink = y < p.height ? p.At(x, y) : 0;
      const bool ok = ink == 0   ? c.rgbRed == 255 && c.rgbGreen == 255 && c.rgbBlue == 255
                      : ink == 1 ? c.rgbRed == 0 && c.rgbGreen == 0 && c.rgbBlue == 0
                                 : c.rgbRed == 255 && c.rgbGreen == 0 && c.rgbBlue == 0;
      if (!ok) return "pixel " + std::to_string(x) + "," + std::to_string(y);
    }
  }
  return "";
}

TEST(QuillpreviewProgram, WritesOnePngAndOneLinePerPage) {
  TempDir dir;
  const RedBlackJob job;
  WriteBytes(dir.File("job.prn"), job.bytes);
  const RunResult r = Preview({"-o", dir.File("out"), dir.File("job.prn")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::string(r.out.begin(), r.out.end()),
            ExpectedLine(job.first, 1, dir.File("out-1.png")) + ExpectedLine(job.second, 2, dir.File("out-2.png")));
  EXPECT_EQ(CheckPicture(dir.File("out-1.png"), job.first), "");
  EXPECT_EQ(CheckPicture(dir.File("out-2.png"), job.second), "");
  EXPECT_FALSE(Exists(dir.File("out-3.png")));

  // Without -o the pictures go beside the input, named after it; --verbose
  // names the format and why.
  const RunResult v = Preview({"--verbose", dir.File("job.prn")});
  ASSERT_EQ(v.status, 0) << v.err;
  EXPECT_TRUE(Exists(dir.File("job-1.png")) && Exists(dir.File("job-2.png")));
  EXPECT_NE(v.err.find(": serial (a page that opens with page length or page flag); units 360x360"),
            std::string::npos)
      << v.err;
}

TEST(QuillpreviewProgram, GreyPageLanguagePageIsAGreyPicture) {
  TempDir dir;
  ink2_test::TestRaster raster(40, 8, 24, 150);
  raster.FillRandom(3);
  std::vector<Raster> pages(1);
  pages[0].pixels = raster.pixels;
  pages[0].info = raster.info;
  pages[0].info.img_p = pages[0].pixels.data();
  CONV_PARAM2 cp{};
  cp.x_unit = cp.y_unit = 150;
  cp.options = "grey=1";
  WriteBytes(dir.File("grey.prn"), RunJob("DocumentProcessInk2", cp, pages));
  const RunResult r = Preview({dir.File("grey.prn")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out(r.out.begin(), r.out.end());
  EXPECT_EQ(out.rfind("page 1: pagelang 40x8 at 150x150 dpi, ", 0), 0u) << out;
  Bitmap b(FreeImage_Load(FIF_PNG, dir.File("grey-1.png").c_str(), PNG_DEFAULT));
  ASSERT_TRUE(b);
  EXPECT_EQ(FreeImage_GetBPP(b.get()), 8u);
  int wrong = 0;
  for (uint32_t y = 0; y < 8; ++y) {
    for (uint32_t x = 0; x < 40; ++x) {
      uint8_t red, green, blue;
      raster.GetRgb(x, y, &red, &green, &blue);
      BYTE v = 0;
      FreeImage_GetPixelIndex(b.get(), x, 7 - y, &v);
      wrong += v != ink2_test::RefLuma(red, green, blue);
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST(QuillpreviewProgram, CutAndGarbledStreamsNameTheOffsetAndKeepEarlierPages) {
  TempDir dir;
  const RedBlackJob job;
  const size_t graphics = job.SecondPageGraphics();
  const size_t second = job.SecondPageStart();
  ASSERT_GT(graphics, second);
  ASSERT_GT(second, 0u);

  // Cut inside the first graphics data of page 2.
  WriteBytes(dir.File("cut.prn"), Bytes(job.bytes.begin(), job.bytes.begin() + static_cast<long>(graphics + 8)));
  RunResult r = Preview({"-o", dir.File("cut"), dir.File("cut.prn")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("truncated graphics data at byte " + std::to_string(graphics)), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 page written before it"), std::string::npos) << r.err;
  EXPECT_EQ(std::string(r.out.begin(), r.out.end()), ExpectedLine(job.first, 1, dir.File("cut-1.png")));
  EXPECT_EQ(CheckPicture(dir.File("cut-1.png"), job.first), "");
  EXPECT_FALSE(Exists(dir.File("cut-2.png")));

  // A byte no printer command starts with, between the two pages.
  Bytes garbled = job.bytes;
  garbled.insert(garbled.begin() + static_cast<long>(second), 0x07);
  WriteBytes(dir.File("garbled.prn"), garbled);
  r = Preview({"-o", dir.File("garbled"), dir.File("garbled.prn")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("unknown byte 07 at byte " + std::to_string(second)), std::string::npos) << r.err;
  EXPECT_TRUE(Exists(dir.File("garbled-1.png")));
  EXPECT_FALSE(Exists(dir.File("garbled-2.png")));

  // Nothing a printer of the suite starts with.
  WriteBytes(dir.File("text.prn"), Bytes{'h', 'e', 'l', 'l', 'o'});
  r = Preview({dir.File("text.prn")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot tell the printer stream's format: no printer reset 1B 40 or 1B 45 at byte 0"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST(QuillpreviewProgram, UsageErrorsAndHelp) {
  RunResult r = Preview({"--help"});
  EXPECT_EQ(r.status, 0);
  const std::string help(r.out.begin(), r.out.end());
  for (const char* flag : {"--format", "-o PREFIX", "--resolution", "--units", "--band-height", "--verbose"}) {
    EXPECT_NE(help.find(flag), std::string::npos) << flag;
  }
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--format", "laser", "x.prn"}, {"--resolution", "0x300", "x.prn"}, {"--bogus", "x.prn"},
           {"a.prn", "b.prn"}}) {
    r = Preview(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(r.err.find("Try 'quillpreview --help'."), std::string::npos);
  }
  r = Preview({"/nonexistent/job.prn"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read /nonexistent/job.prn"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace preview_test
