// quilldot's option, capability and command functions driven in-process:
// the PPD and option lookups, the job, page and cutter commands chosen by
// them, the trace format, PackBits and the 720-dpi thinning.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>

#include <cups/ppd.h>

#include "dot_band.h"
#include "dot_options.h"
#include "dot_output.h"
#include "dot_page.h"
#include "dot_state.h"
#include "dot_test_util.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {
namespace {

using quill_test::HexBytes;
using quill_test::ToHex;

// Sends quilldot's printer stream and messages into temporary files for the
// life of the object, starting from a fresh job state.
class Capture {
 public:
  Capture() : out_(tmpfile()), err_(tmpfile()) {
    quilldot::ResetState();
    quilldot::SetOutputStreams(out_, err_);
  }
  ~Capture() {
    quilldot::SetOutputStreams(nullptr, nullptr);
    quilldot::ResetState();
    fclose(out_);
    fclose(err_);
  }
  std::string Out() { return ToHex(Read(out_)); }
  std::string Err() {
    const Bytes b = Read(err_);
    return std::string(b.begin(), b.end());
  }
  void Clear() {
    Read(out_);
    Read(err_);
    freopen(nullptr, "w+", out_);
    freopen(nullptr, "w+", err_);
  }

 private:
  static Bytes Read(FILE* f) {
    fflush(f);
    const long end = ftell(f);
    Bytes b(static_cast<size_t>(end));
    rewind(f);
    if (end > 0) fread(b.data(), 1, b.size(), f);
    fseek(f, 0, SEEK_END);
    return b;
  }
  FILE* out_;
  FILE* err_;
};

// An open PPD from a spec, closed on destruction.
class Ppd {
 public:
  explicit Ppd(const PpdSpec& spec) {
    WriteTextFile(dir_.File("p.ppd"), PpdText(spec));
    ppd_ = ppdOpenFile(dir_.File("p.ppd").c_str());
  }
  ~Ppd() {
    if (ppd_) ppdClose(ppd_);
  }
  ppd_file_t* get() const { return ppd_; }

 private:
  TempDir dir_;
  ppd_file_t* ppd_ = nullptr;
};

PpdSpec OptionsPpd() {
  PpdSpec spec;
  spec.model = 10;
  spec.options = {
      {"Cutting", "0", {"0", "1", "2", "3", "5", "6", "7"}},
      {"Drawer", "", {"0", "2", "3"}},  // no default: nothing marked
      {"BlackMark", "0", {"0", "2", "3"}},
      {"Logo", "0", {"0", "1", "100", "101"}},
      {"PaperType", "None", {"None", "2"}},
  };
  return spec;
}

TEST(DotOptions, CapabilitiesComeFromAddOnAttributes) {
  PpdSpec spec;
  spec.model = 10;
  spec.addons = {{"cutter", "1"}, {"drawer", "0"}, {"blackmark", "10"}, {"maxwidth", "576"}};
  Ppd ppd(spec);
  ASSERT_NE(ppd.get(), nullptr);
  Capture cap;
  quilldot::ReadCapabilities(ppd.get());
  EXPECT_EQ(quilldot::Model, 10);
  EXPECT_EQ(quilldot::HasCutter, 1);
  EXPECT_EQ(quilldot::HasDrawer, 0);
  EXPECT_EQ(quilldot::HasBlackMark, 1);
  EXPECT_EQ(quilldot::MaxWidth, 576);
  EXPECT_EQ(cap.Err(),
            "[QL] The printer has a cutter.\n[QL] The printer supports blackmark.\n"
            "[QL] maxwidth=576\n");
}

TEST(DotOptions, MissingOrEmptyAddOnsMeanNone) {
  PpdSpec spec;
  spec.model = 3;
  spec.addons = {{"cutter", ""}};
  Ppd ppd(spec);
  Capture cap;
  quilldot::ReadCapabilities(ppd.get());
  EXPECT_EQ(quilldot::Model, 3);
  EXPECT_EQ(quilldot::HasCutter + quilldot::HasDrawer + quilldot::HasBlackMark, 0);
  EXPECT_EQ(quilldot::MaxWidth, 0);
  EXPECT_EQ(cap.Err(), "[QL] maxwidth=0\n");
  quilldot::ReadCapabilities(nullptr);  // no PPD: nothing changes
  EXPECT_EQ(quilldot::Model, 3);
}

TEST(DotOptions, MarkedChoicesInOrderDefaultsDestinationJob) {
  Ppd ppd(OptionsPpd());
  Capture cap;
  cups_option_t* dest = nullptr;
  int num_dest = cupsAddOption("Cutting", "5", 0, &dest);
  num_dest = cupsAddOption("BlackMark", "2", num_dest, &dest);
  quilldot::ReadJobOptions(ppd.get(), num_dest, dest, "Cutting=6 Logo=101");
  cupsFreeOptions(num_dest, dest);
  EXPECT_EQ(quilldot::CuttingMethod, 6);   // the job wins over the destination
  EXPECT_EQ(quilldot::BlackMarkMethod, 2); // the destination wins over the default
  EXPECT_EQ(quilldot::LogoMethod, 101);
  EXPECT_EQ(quilldot::DrawerMethod, INT_MIN);  // no marked choice
  EXPECT_EQ(quilldot::PaperType, 0);           // "None" has no digits

  quilldot::ReadJobOptions(ppd.get(), 0, nullptr, "Drawer=3 PaperType=2");
  EXPECT_EQ(quilldot::CuttingMethod, 0);
  EXPECT_EQ(quilldot::DrawerMethod, 3);
  EXPECT_EQ(quilldot::PaperType, 2);
  EXPECT_EQ(quilldot::GetIntOption2("NoSuchOption", ppd.get()), quilldot::kOptionUnmarked);
  EXPECT_EQ(quilldot::GetIntOption2("Cutting", nullptr), quilldot::kOptionUnmarked);
}

TEST(DotOptions, JobStartCommands) {
  struct Case {
    int drawer, drawer_method, blackmark, blackmark_method, logo;
    std::string bytes;
  };
  const Case cases[] = {
      {1, 2, 1, 2, 5, "1B 70 00 FF FF 1D 0C 1B 61 31 1C 70 05 00 1B 61 30"},
      {0, 2, 0, 2, 0, ""},                       // no drawer, no black mark
      {1, 3, 1, 3, 0, ""},                       // those act at the job end
      {1, INT_MIN, 1, INT_MIN, INT_MIN, ""},     // unmarked options
      {0, 0, 0, 0, 99, "1B 61 31 1C 70 63 00 1B 61 30"},
      {0, 0, 0, 0, 100, ""},                     // 100: no logo at all
      {0, 0, 0, 0, 101, ""},                     // 101: on every page instead
  };
  for (const Case& c : cases) {
    Capture cap;
    quilldot::HasDrawer = c.drawer;
    quilldot::DrawerMethod = c.drawer_method;
    quilldot::HasBlackMark = c.blackmark;
    quilldot::BlackMarkMethod = c.blackmark_method;
    quilldot::LogoMethod = c.logo;
    quilldot::WriteJobStartCommands();
    EXPECT_EQ(cap.Out(), c.bytes) << c.logo;
  }
}

// StartPage and EndPage of one receipt page without rows.
std::string ReceiptPage(int logo) {
  Capture cap;
  quilldot::Model = 10;
  quilldot::LogoMethod = logo;
  const cups_page_header2_t h = BandHeader(64, 8, 8, 203, 203);
  quilldot::StartPage(nullptr, &h);
  quilldot::EndPage(&h);
  return cap.Out();
}

TEST(DotOptions, LogoOnEveryPageFrom101) {
  const std::string setup = "1B 40 1B 1D 1E 04 31 00 B0 10 1B 1D 1F";
  EXPECT_EQ(ReceiptPage(101), setup + " 1B 61 31 1C 70 01 00 1B 61 30");
  EXPECT_EQ(ReceiptPage(150), setup + " 1B 61 31 1C 70 32 00 1B 61 30");
  EXPECT_EQ(ReceiptPage(100), setup);
  EXPECT_EQ(ReceiptPage(1), setup);
  EXPECT_EQ(ReceiptPage(INT_MIN), setup);
}

TEST(DotOptions, CutterCommandsAfterEachPageAndAtTheJobEnd) {
  struct Case {
    int model;
    int method;
    std::string page_end;  // after the page's own end bytes
    std::string job_end;
  };
  const Case cases[] = {
      {10, 5, "1D 56 42 18", ""},
      {10, 6, "1D 56 41 18", ""},
      {10, 7, "1B 4A DE", ""},
      {0, 7, "1B 4A FA 1B 4A 0A", ""},
      {2, 7, "", ""},
      {10, 1, "", "1D 56 42 18"},
      {10, 2, "", "1D 56 41 18"},
      {10, 3, "", "1B 4A DE"},
      {0, 3, "", "1B 4A FA 1B 4A 0A"},
      {4, 3, "", ""},
      {10, INT_MIN, "", ""},
  };
  for (const Case& c : cases) {
    for (int cutter : {0, 1}) {
      Capture cap;
      quilldot::Model = c.model;
      quilldot::HasCutter = cutter;
      quilldot::CuttingMethod = c.method;
      const cups_page_header2_t h = c.model == 0 || c.model == 10
                                        ? BandHeader(16, 8, 8, 203, 203)
                                        : RasterHeader(16, 8, 360, 360, 1, 0);
      quilldot::StartPage(nullptr, &h);
      cap.Clear();
      quilldot::EndPage(&h);
      const std::string form_feed = c.model == 0 || c.model == 10 ? "" : "0C";
      std::string page_end = form_feed;
      if (cutter && !c.page_end.empty()) page_end += (page_end.empty() ? "" : " ") + c.page_end;
      EXPECT_EQ(cap.Out(), page_end) << c.model << "/" << c.method << "/" << cutter;
      cap.Clear();
      quilldot::EndDoc(&h);
      EXPECT_EQ(cap.Out(), cutter ? c.job_end : "") << c.model << "/" << c.method;
    }
  }
}

TEST(DotOptions, JobEndOrderAndReceiptPageEnd) {
  Capture cap;
  quilldot::Model = 1;
  quilldot::HasCutter = quilldot::HasDrawer = quilldot::HasBlackMark = 1;
  quilldot::CuttingMethod = 2;
  quilldot::DrawerMethod = 3;
  quilldot::BlackMarkMethod = 3;
  quilldot::EndDoc(nullptr);
  EXPECT_EQ(cap.Out(), "1D 56 41 18 1B 70 00 FF FF 1D 0C 1B 1D 1E 06 01 00 1B 1D 1F");

  Capture receipt;
  quilldot::Model = 10;
  quilldot::MaxWidth = 576;
  quilldot::HasCutter = 1;
  quilldot::CuttingMethod = 6;
  const cups_page_header2_t h = BandHeader(600, 8, 8, 203, 203);  // wider than MaxWidth
  quilldot::StartPage(nullptr, &h);
  receipt.Clear();
  quilldot::EndPage(&h);
  EXPECT_EQ(receipt.Out(), "1D 56 41 18 1B 1D 1E 04 32 00 C8 1B 1D 1F");
}

TEST(DotOptions, TraceTakesFormatsOfAnyLength) {
  Capture cap;
  const std::string long_text(400, 'x');
  const std::string format = long_text + " %d %s\n";
  quilldot::Trace(format.c_str(), 42, "end");
  EXPECT_EQ(cap.Err(), "[QL] " + long_text + " 42 end\n");
}

// PackBits as the printer expects it.
std::string Pack(const std::string& hex) {
  const Bytes in = HexBytes(hex);
  Bytes out(quilldot::PackBitsBound(in.size()));
  out.resize(quilldot::PackBits(in.data(), in.size(), out.data()));
  return ToHex(out);
}

TEST(DotPackBits, Examples) {
  EXPECT_EQ(Pack("00 00 00"), "FE 00");
  EXPECT_EQ(Pack("41"), "00 41");
  EXPECT_EQ(Pack("00 00 00 41 42"), "FE 00 00 41 00 42");
  EXPECT_EQ(Pack("41 42 43"), "01 41 42 00 43");
  EXPECT_EQ(Pack("41 41"), "FF 41");            // a run may end the line
  EXPECT_EQ(Pack("41 42 42"), "00 41 FF 42");   // a literal ends before two equal bytes
}

TEST(DotPackBits, LongRunsAndLiteralsAreSplitAt127) {
  Bytes run(300, 0x55);
  Bytes out(quilldot::PackBitsBound(run.size()));
  out.resize(quilldot::PackBits(run.data(), run.size(), out.data()));
  EXPECT_EQ(ToHex(out), "82 55 82 55 D3 55");  // 127 + 127 + 46
  Bytes literal(300);
  for (size_t i = 0; i < literal.size(); ++i) literal[i] = static_cast<uint8_t>(i * 7 + 1);
  out.assign(quilldot::PackBitsBound(literal.size()), 0);
  out.resize(quilldot::PackBits(literal.data(), literal.size(), out.data()));
  EXPECT_EQ(out[0], 126);
  EXPECT_EQ(out[128], 126);
  EXPECT_LE(out.size(), quilldot::PackBitsBound(literal.size()));
  Bytes back;
  EXPECT_TRUE(quillpreview::UnpackBits(out.data(), out.size(), literal.size(), &back));
  EXPECT_EQ(back, literal);
}

TEST(DotPackBits, RandomLinesRoundTripWithinTheBound) {
  std::mt19937 rng(5);
  for (int n = 0; n < 400; ++n) {
    const size_t len = 1 + rng() % 600;
    Bytes line(len);
    const unsigned alphabet = 1 + rng() % 4;  // few values: many runs
    for (auto& b : line) b = static_cast<uint8_t>(rng() % alphabet);
    Bytes out(quilldot::PackBitsBound(len) + 16, 0xEE);
    const size_t used = quilldot::PackBits(line.data(), len, out.data());
    ASSERT_LE(used, quilldot::PackBitsBound(len));
    EXPECT_EQ(out[quilldot::PackBitsBound(len)], 0xEE);  // nothing written past the bound
    Bytes back;
    ASSERT_TRUE(quillpreview::UnpackBits(out.data(), used, len, &back));
    EXPECT_EQ(back, line);
  }
}

std::string Thin(const std::string& hex) {
  Bytes b = HexBytes(hex);
  quilldot::ThinDots(b.data(), b.size());
  return ToHex(b);
}

TEST(DotThinning, NoNeighbouringDotsRemain) {
  EXPECT_EQ(Thin("FF"), "AA");
  EXPECT_EQ(Thin("FF FF"), "AA AA");
  EXPECT_EQ(Thin("01 80"), "01 00");
  EXPECT_EQ(Thin("03 C0"), "02 80");
  EXPECT_EQ(Thin("C0"), "80");
  EXPECT_EQ(Thin("7F"), "55");
  // Against the dot-by-dot rule on random lines.
  std::mt19937 rng(6);
  for (int n = 0; n < 300; ++n) {
    Bytes line(1 + rng() % 40);
    for (auto& b : line) b = static_cast<uint8_t>(rng());
    Bytes expected(line.size(), 0);
    int left = 0;
    for (size_t i = 0; i < line.size() * 8; ++i) {
      int dot = (line[i / 8] >> (7 - i % 8)) & 1;
      if (dot && left) dot = 0;
      if (dot) expected[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
      left = dot;
    }
    quilldot::ThinDots(line.data(), line.size());
    EXPECT_EQ(ToHex(line), ToHex(expected));
  }
}

TEST(DotHeaderCheck, AcceptsUsualPages) {
  std::string why;
  EXPECT_TRUE(quilldot::CheckPageHeader(0, BandHeader(1632, 2000, 24, 180, 180), &why)) << why;
  cups_page_header2_t interleaved = BandHeader(960, 1584, 16, 120, 144);
  EXPECT_TRUE(quilldot::CheckPageHeader(0, interleaved, &why)) << why;
  EXPECT_TRUE(quilldot::CheckPageHeader(1, BandHeader(2880, 3960, 48, 360, 360), &why)) << why;
  EXPECT_TRUE(quilldot::CheckPageHeader(10, BandHeader(576, 3000, 24, 203, 203), &why)) << why;
  EXPECT_TRUE(quilldot::CheckPageHeader(4, RasterHeader(5760, 7920, 720, 720, 6, 1), &why))
      << why;
  // Raster models ignore a row count.
  EXPECT_TRUE(quilldot::CheckPageHeader(2, BandHeader(2880, 100, 4096, 360, 360), &why)) << why;
  // Bands read only the start of the row and divide by no resolution: a
  // chunky colour row and a resolution outside the density table print.
  cups_page_header2_t chunky = BandHeader(100, 24, 24, 180, 180);
  chunky.cupsColorSpace = CUPS_CSPACE_KCMY;
  chunky.cupsBitsPerPixel = 4;
  chunky.cupsBytesPerLine = 50;
  EXPECT_TRUE(quilldot::CheckPageHeader(0, chunky, &why)) << why;
  EXPECT_TRUE(quilldot::CheckPageHeader(10, BandHeader(64, 24, 24, 0, 0), &why)) << why;
  EXPECT_FALSE(quilldot::CheckPageHeader(2, RasterHeader(64, 8, 0, 360, 1, 0), &why));
}

}  // namespace
}  // namespace dot_test
