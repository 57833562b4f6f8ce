// Band printing of quilldot (models 0, 1 and 10), run as CUPS runs it: the
// printer stream is decoded back into dots and compared with the page.
#include <gtest/gtest.h>

#include <algorithm>

#include "dot_test_util.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {
namespace {

using quillpreview::DecodeDotStream;
using quillpreview::DiffDots;
using quillpreview::DotStream;
using quillpreview::DotStreamConfig;
using quill_test::HexBytes;
using quill_test::ToHex;

struct Printed {
  RunResult run;
  DotStream stream;
};

// Writes the pages (and the PPD, when given), runs quilldot on them and
// decodes its output.
Printed Print(const std::vector<RasterPage>& pages, const PpdSpec* ppd,
              const DotStreamConfig& config) {
  TempDir dir;
  EXPECT_TRUE(WriteRaster(dir.File("job.ras"), pages));
  std::string ppd_path;
  if (ppd) {
    ppd_path = dir.File("printer.ppd");
    WriteTextFile(ppd_path, PpdText(*ppd));
  }
  Printed p;
  p.run = RunQuilldot(JobArgs(dir.File("job.ras")), ppd_path);
  p.stream = DecodeDotStream(p.run.out, config);
  return p;
}

PpdSpec Model(int model) {
  PpdSpec spec;
  spec.model = model;
  return spec;
}

// Byte sequence `needle` occurs in haystack.
bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

// Expected dots of a page with the given rows blanked.
DotRows Striped(unsigned width, unsigned height, unsigned seed,
                std::vector<std::pair<unsigned, unsigned>> blank) {
  DotRows dots = RandomDots(width, height, seed, 35);
  for (auto [a, b] : blank) BlankRows(&dots, a, b);
  return dots;
}

TEST(DotBand, WithoutPpdPrints24RowBandsOfModel0) {
  // 180 dpi, 24-row bands, two blank bands in the middle, a partial band at
  // the end and a width that is not a multiple of 8.
  const DotRows dots = Striped(301, 24 * 5 + 10, 1, {{24, 72}});
  const Printed p = Print({MakePage(BandHeader(301, 130, 24, 180, 180), dots)}, nullptr,
                          {3, 1, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  ASSERT_EQ(p.stream.pages.size(), 2u);  // the page and the final reset
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  EXPECT_TRUE(p.stream.Names(-1).empty());
  for (const std::string& name : p.stream.Names(0))
    EXPECT_TRUE(name == "ESC @" || name == "ESC 3" || name == "CR" || name == "ESC *" ||
                name == "ESC J")
        << name;
  EXPECT_EQ(ToHex(p.stream.PageBytes(1)), "1B 40");
  const Bytes start(p.run.out.begin(), p.run.out.begin() + 9);
  EXPECT_EQ(ToHex(start), "1B 40 1B 33 18 0D 1B 2A 27");
  // Every band but the blank ones ends with ESC J 24; the two blank bands
  // are fed as one ESC J 48 in front of the next band.
  const auto feeds = p.stream.Find("ESC J");
  ASSERT_EQ(feeds.size(), 5u);
  EXPECT_EQ(ToHex(feeds[0]->bytes), "1B 4A 18");
  EXPECT_EQ(ToHex(feeds[1]->bytes), "1B 4A 30");
  EXPECT_NE(p.run.err.find("[QL] ModelNumber=0\n"), std::string::npos);
}

TEST(DotBand, EightRowBandsAt60Dpi) {
  const DotRows dots = Striped(123, 8 * 7 + 3, 2, {{8, 16}, {40, 48}});
  const Printed p = Print({MakePage(BandHeader(123, 59, 8, 60, 72), dots)}, nullptr,
                          {1, 1, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  for (const auto* image : p.stream.Find("ESC *")) EXPECT_EQ(image->bytes[2], 0x00);  // 60 dpi
}

TEST(DotBand, TrailingBlankColumnsAreNotSent) {
  DotRows dots = BlankDots(200, 8);
  dots[0][0] = dots[7][9] = 1;
  const Printed p = Print({MakePage(BandHeader(200, 8, 8, 120, 72), dots)}, nullptr,
                          {1, 1, true});
  ASSERT_EQ(p.stream.error, "");
  const auto images = p.stream.Find("ESC *");
  ASSERT_EQ(images.size(), 1u);
  // ESC * 01 n=10: columns 0..9 only.
  EXPECT_EQ(ToHex(Bytes(images[0]->bytes.begin(), images[0]->bytes.begin() + 5)),
            "1B 2A 01 0A 00");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
}

cups_page_header2_t Interleave144(unsigned width, unsigned height) {
  cups_page_header2_t h = BandHeader(width, height, 16, 120, 144);
  h.cupsRowStep = 1;
  h.cupsRowFeed = 15;
  return h;
}

TEST(DotBand, Interleave144DpiPrintsEvenAndOddRowsInTwoPasses) {
  const DotRows dots = Striped(250, 16 * 6 + 5, 3, {{16, 48}});
  const Printed p = Print({MakePage(Interleave144(250, 101), dots)}, nullptr, {1, 2, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  // First band: even pass, ESC J 1, odd pass, ESC J 15; the two blank bands
  // are fed as 2 x (1 + 15).
  const auto names = p.stream.Names(0);
  const std::vector<std::string> first_band = {"ESC @", "ESC 3", "CR", "ESC *", "ESC J",
                                               "CR", "ESC *", "ESC J"};
  ASSERT_GE(names.size(), first_band.size());
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 8), first_band);
  const auto feeds = p.stream.Find("ESC J");
  ASSERT_GE(feeds.size(), 3u);
  EXPECT_EQ(ToHex(feeds[0]->bytes), "1B 4A 01");
  EXPECT_EQ(ToHex(feeds[1]->bytes), "1B 4A 0F");
  EXPECT_EQ(ToHex(feeds[2]->bytes), "1B 4A 20");
}

TEST(DotBand, InterleavedPassEndsOneColumnPastItsInk) {
  DotRows dots = BlankDots(100, 16);
  dots[0][5] = 1;   // even row
  dots[1][9] = 1;   // odd row
  dots[15][99] = 1; // odd row, last column: the pass stops at the band's edge
  const Printed p = Print({MakePage(Interleave144(100, 16), dots)}, nullptr, {1, 2, true});
  ASSERT_EQ(p.stream.error, "");
  const auto images = p.stream.Find("ESC *");
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]->bytes[3], 7);    // columns 0..6
  EXPECT_EQ(images[1]->bytes[3], 100);  // up to the last column
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
}

TEST(DotBand, BlankEvenPassStillFeedsTheRowStep) {
  // Ink only in row 1 (the first odd row), column 0: the even pass sends
  // nothing, ESC J 1 follows anyway, then the odd pass up to the end of the
  // window of columns 0 and 1 (two columns of one byte; the count is
  // 2 * 2 / 2), then the row feed.
  DotRows dots = BlankDots(4, 16);
  dots[1][0] = 1;
  const Printed p = Print({MakePage(Interleave144(4, 16), dots)}, nullptr, {1, 2, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  EXPECT_EQ(ToHex(p.run.out),
            "1B 40 1B 33 18 1B 4A 01 0D 1B 2A 01 02 00 80 00 1B 4A 0F 1B 40");
}

TEST(DotBand, PartialInterleavedBandAtPageEnd) {
  // 5 rows: only part of the even group; and 11 rows: one full group and
  // part of the odd one.
  for (unsigned height : {1u, 5u, 11u}) {
    const DotRows dots = RandomDots(40, height, 30 + height, 50);
    const Printed p = Print({MakePage(Interleave144(40, height), dots)}, nullptr, {1, 2, true});
    ASSERT_EQ(p.stream.error, "");
    EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "") << height;
  }
}

TEST(DotBand, Model1At360DpiInterleaves48RowBands) {
  PpdSpec ppd = Model(1);
  cups_page_header2_t h = BandHeader(180, 48 * 3 + 20, 48, 360, 360);
  h.cupsRowStep = 1;
  h.cupsRowFeed = 47;
  h.PageSize[1] = 842;
  const DotRows dots = Striped(180, h.cupsHeight, 4, {{48, 96}});
  const Printed p = Print({MakePage(h, dots)}, &ppd, {3, 2, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  // Page set-up: reset, 24-pin bracket, one direction at 360 dpi, unit
  // 1/360, page length 842 * 5 = 4210.
  const Bytes setup = HexBytes(
      "1B 40 1B 1D 1E 06 01 01 1B 1D 1F 1B 55 31 1B 28 55 01 00 0A 1B 28 43 02 00 72 10");
  EXPECT_EQ(ToHex(Bytes(p.run.out.begin(), p.run.out.begin() + setup.size())), ToHex(setup));
  for (const auto* image : p.stream.Find("ESC *")) EXPECT_EQ(image->bytes[2], 0x28);
  // Page end: form feed; job end: the closing bracket, then the reset.
  const Bytes tail = HexBytes("0C 1B 1D 1E 06 01 00 1B 1D 1F 1B 40");
  EXPECT_EQ(ToHex(Bytes(p.run.out.end() - static_cast<long>(tail.size()), p.run.out.end())),
            ToHex(tail));
}

TEST(DotBand, Model1At180DpiPrintsPlain24RowBandsInBothDirections) {
  PpdSpec ppd = Model(1);
  const DotRows dots = Striped(90, 60, 5, {});
  const Printed p = Print({MakePage(BandHeader(90, 60, 24, 180, 180), dots)}, &ppd,
                          {3, 1, true});
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  EXPECT_TRUE(Contains(p.run.out, HexBytes("1B 55 30")));
}

TEST(DotBand, BlankBandsMergeIntoOneFeed) {
  // Three blank 24-row bands before ink: ESC J 72. Twelve: ESC J 240, 48.
  for (auto [blank, feeds] : std::vector<std::pair<unsigned, std::string>>{
           {3, "1B 4A 48"}, {12, "1B 4A F0 1B 4A 30"}}) {
    DotRows dots = BlankDots(64, 24 * (blank + 1));
    dots[24 * blank + 3][10] = 1;
    const Printed p = Print({MakePage(BandHeader(64, 24 * (blank + 1), 24, 180, 180), dots)},
                            nullptr, {3, 1, true});
    ASSERT_EQ(p.stream.error, "");
    EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
    EXPECT_EQ(ToHex(Bytes(p.run.out.begin(), p.run.out.begin() + 5 + 3 * (blank == 3 ? 1 : 2))),
              "1B 40 1B 33 18 " + feeds)
        << blank;
  }
}

TEST(DotBand, BlankPageWritesNoGraphicsAndNoFeeds) {
  const DotRows dots = BlankDots(64, 24 * 4 + 5);
  const Printed p = Print({MakePage(BandHeader(64, 101, 24, 180, 180), dots)}, nullptr,
                          {3, 1, true});
  ASSERT_EQ(p.run.status, 0);
  EXPECT_EQ(ToHex(p.run.out), "1B 40 1B 33 18 1B 40");
}

PpdSpec Receipt(int max_width) {
  PpdSpec ppd = Model(10);
  ppd.addons = {{"cutter", "1"}, {"maxwidth", std::to_string(max_width)}};
  return ppd;
}

TEST(DotBand, ReceiptWithinMaxWidthSetsWidthAndMargin) {
  PpdSpec ppd = Receipt(576);
  DotRows dots = BlankDots(512, 24);
  dots[0][0] = 1;
  const Printed p = Print({MakePage(BandHeader(512, 24, 24, 203, 203), dots)}, &ppd,
                          {3, 1, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  // GS W 512, GS L (576 - 512) / 2 - 24 = 8, the page set-up with paper
  // type 0 (no destination), the band, the page-end block.
  std::string zeros;
  for (int i = 0; i < 39 * 3; ++i) zeros += " 00";
  EXPECT_EQ(ToHex(p.run.out),
            "1B 40 1D 57 00 02 1D 4C 08 00 1B 1D 1E 04 31 00 B0 10 1B 1D 1F "
            "0D 1B 2A 21 28 00 80 00 00" + zeros +
                " 1B 4A 18 1B 1D 1E 04 32 00 C8 1B 1D 1F 1B 40");
  EXPECT_NE(p.run.err.find("[QL] The printer has a cutter.\n"), std::string::npos);
  EXPECT_NE(p.run.err.find("[QL] maxwidth=576\n"), std::string::npos);
}

TEST(DotBand, ReceiptMarginsByWidth) {
  struct Case {
    int max_width;
    unsigned width;
    std::string commands;  // "" when neither GS W nor GS L is sent
  };
  const Case cases[] = {
      {576, 600, ""},                           // wider than the mechanism
      {560, 512, "1D 57 00 02 1D 4C 00 00"},   // margin 24 shifted to 0
      {558, 512, "1D 57 00 02 1D 4C 17 00"},   // margin 23 stays
      {1200, 1000, "1D 57 E8 03 1D 4C 64 00"}, // wider than 816: no shift
  };
  for (const Case& c : cases) {
    PpdSpec ppd = Receipt(c.max_width);
    const Printed p = Print({MakePage(BandHeader(c.width, 8, 8, 203, 203),
                                      BlankDots(c.width, 8))},
                            &ppd, {1, 1, true});
    ASSERT_EQ(p.stream.error, "");
    const Bytes page = p.stream.PageBytes(0);
    const std::string expect =
        "1B 40 " + (c.commands.empty() ? "" : c.commands + " ") +
        "1B 1D 1E 04 31 00 B0 10 1B 1D 1F 1B 1D 1E 04 32 00 C8 1B 1D 1F";
    EXPECT_EQ(ToHex(page), expect) << c.max_width << " " << c.width;
  }
}

TEST(DotBand, ReceiptSectionsSkipBlankChunks) {
  PpdSpec ppd = Receipt(576);
  // Ink only in columns 100..130: one section from the chunk at 80 to the
  // end of the chunk at 120.
  DotRows dots = BlankDots(512, 24);
  for (unsigned x = 100; x <= 130; ++x) dots[x % 24][x] = 1;
  const Printed p = Print({MakePage(BandHeader(512, 24, 24, 203, 203), dots)}, &ppd,
                          {3, 1, true});
  ASSERT_EQ(p.stream.error, "");
  const auto positions = p.stream.Find("ESC $");
  const auto images = p.stream.Find("ESC *");
  ASSERT_EQ(positions.size(), 1u);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(ToHex(positions[0]->bytes), "1B 24 50 00");
  EXPECT_EQ(ToHex(Bytes(images[0]->bytes.begin(), images[0]->bytes.begin() + 5)),
            "1B 2A 21 50 00");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  EXPECT_TRUE(p.stream.Find("CR").empty());
}

TEST(DotBand, ReceiptSectionAtColumnZeroStartsWithCarriageReturn) {
  PpdSpec ppd = Receipt(576);
  DotRows dots = BlankDots(200, 24);
  dots[3][5] = dots[10][170] = 1;  // sections at 0 and 160
  const Printed p = Print({MakePage(BandHeader(200, 24, 24, 203, 203), dots)}, &ppd,
                          {3, 1, true});
  ASSERT_EQ(p.stream.error, "");
  const auto names = p.stream.Names(0);
  const auto cr = std::find(names.begin(), names.end(), "CR");
  ASSERT_NE(cr, names.end());
  EXPECT_EQ(*(cr + 1), "ESC *");
  EXPECT_EQ(*(cr + 2), "ESC $");
  EXPECT_EQ(ToHex(p.stream.Find("ESC $")[0]->bytes), "1B 24 A0 00");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
}

TEST(DotBand, ReceiptRandomPageDecodesToThePage) {
  PpdSpec ppd = Receipt(576);
  DotRows dots = Striped(576, 24 * 6 + 7, 6, {{48, 96}});
  for (auto& row : dots)
    for (unsigned x = 200; x < 320; ++x) row[x] = 0;  // blank chunks split the sections
  const Printed p = Print({MakePage(BandHeader(576, 151, 24, 203, 203), dots)}, &ppd,
                          {3, 1, true});
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  EXPECT_FALSE(p.stream.Find("ESC $").empty());
  EXPECT_TRUE(p.stream.Find("FF").empty());  // receipts have no form feed
}

TEST(DotBand, EightBitRowsPrintEveryNonZeroByte) {
  cups_page_header2_t h = BandHeader(50, 24, 24, 180, 180);
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 8;
  h.cupsBytesPerLine = 50;
  const DotRows dots = RandomDots(50, 24, 7, 40);
  RasterPage page{h, {}};
  for (const auto& row : dots) {
    Bytes bytes(50);
    for (size_t x = 0; x < 50; ++x) bytes[x] = row[x] ? static_cast<uint8_t>(1 + x) : 0;
    page.rows.push_back(bytes);
  }
  const Printed p = Print({page}, nullptr, {3, 1, true});
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
}

TEST(DotBand, OkidataPrintersGetTheEmulationCommand) {
  PpdSpec ppd = Model(0);
  ppd.nickname = "OKIDATA ML320";
  const Printed p = Print({MakePage(BandHeader(16, 8, 8, 60, 72), BlankDots(16, 8))}, &ppd,
                          {1, 1, true});
  EXPECT_EQ(ToHex(p.run.out), "1B 7B 41 1B 40 1B 33 18 1B 40");
}

}  // namespace
}  // namespace dot_test
