// Raster-line printing of quilldot (cupsRowCount 0 and the raster models),
// run as CUPS runs it and decoded back into dots.
#include <gtest/gtest.h>

#include <algorithm>

#include "dot_test_util.h"
#include "preview/dot_stream_decoder.h"

namespace dot_test {
namespace {

using quillpreview::DecodeDotStream;
using quillpreview::DiffDots;
using quillpreview::DotStream;
using quill_test::HexBytes;
using quill_test::ToHex;

struct Printed {
  RunResult run;
  DotStream stream;
};

Printed Print(const std::vector<RasterPage>& pages, const PpdSpec* ppd) {
  TempDir dir;
  EXPECT_TRUE(WriteRaster(dir.File("job.ras"), pages));
  std::string ppd_path;
  if (ppd) {
    ppd_path = dir.File("printer.ppd");
    WriteTextFile(ppd_path, PpdText(*ppd));
  }
  Printed p;
  p.run = RunQuilldot(JobArgs(dir.File("job.ras")), ppd_path);
  p.stream = DecodeDotStream(p.run.out, {});
  return p;
}

PpdSpec Model(int model) {
  PpdSpec spec;
  spec.model = model;
  return spec;
}

bool StartsWith(const Bytes& bytes, const Bytes& prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The 720-dpi thinning, dot by dot: scanning each row from the left, a dot
// whose left neighbour is still set is dropped.
DotRows Thinned(DotRows dots) {
  for (auto& row : dots) {
    uint8_t left = 0;
    for (auto& dot : row) {
      if (dot && left) dot = 0;
      left = dot;
    }
  }
  return dots;
}

DotRows PageDots(unsigned width, unsigned height, unsigned seed) {
  DotRows dots = RandomDots(width, height, seed, 30);
  BlankRows(&dots, 0, 2);          // the first printed row needs a move
  BlankRows(&dots, 10, 31);        // a long blank stretch
  for (auto& row : dots) std::fill(row.begin() + width / 2, row.begin() + width / 2 + 40, 0);
  return dots;  // runs of blank bytes for PackBits
}

TEST(DotRaster, Model2PageSetupAndUncompressedLines) {
  PpdSpec ppd = Model(2);
  cups_page_header2_t h = RasterHeader(200, 60, 360, 360, 1, 0);
  h.PageSize[1] = 792;
  const DotRows dots = PageDots(200, 60, 11);
  const Printed p = Print({MakePage(h, dots)}, &ppd);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  // Graphics mode, unit 3600/360, page length 792 * 5 = 3960, top from the
  // PPD's second size (600 - 582) * 5 = 90, vertical position 0.
  EXPECT_TRUE(StartsWith(p.run.out,
                         HexBytes("1B 40 1B 28 47 01 00 01 1B 28 55 01 00 0A "
                                  "1B 28 43 02 00 78 0F 1B 28 63 04 00 5A 00 78 0F "
                                  "1B 28 56 02 00 00 00")))
      << ToHex(Bytes(p.run.out.begin(), p.run.out.begin() + 40));
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  const auto lines = p.stream.Find("ESC .");
  ASSERT_FALSE(lines.empty());
  // ESC . 0 ystep 10 xstep 10, one row of 200 dots.
  EXPECT_EQ(ToHex(Bytes(lines[0]->bytes.begin(), lines[0]->bytes.begin() + 8)),
            "1B 2E 00 0A 0A 01 C8 00");
  EXPECT_TRUE(p.stream.pages[0].form_feed);
  // Blank rows 10..30 are crossed with one move of 22 rows (the row after
  // row 9 plus the 21 blank ones).
  bool found = false;
  for (const auto* move : p.stream.Find("ESC ( v"))
    found = found || ToHex(move->bytes) == "1B 28 76 02 00 16 00";
  EXPECT_TRUE(found);
}

TEST(DotRaster, Model2PackBitsLinesDecodeToThePage) {
  PpdSpec ppd = Model(2);
  const DotRows dots = PageDots(333, 70, 12);
  const Printed p = Print({MakePage(RasterHeader(333, 70, 180, 180, 1, 1), dots)}, &ppd);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  for (const auto* line : p.stream.Find("ESC .")) {
    EXPECT_EQ(line->bytes[2], 1);     // PackBits
    EXPECT_EQ(line->bytes[3], 20);    // 3600 / 180
  }
}

TEST(DotRaster, PackBitsExamplesOnThePrinterStream) {
  PpdSpec ppd = Model(2);
  struct Case {
    std::string row;
    std::string line;  // the ESC . command that carries it
  };
  const Case cases[] = {
      {"41", "1B 2E 01 0A 0A 01 08 00 00 41"},
      {"00 00 00 41 42", "1B 2E 01 0A 0A 01 28 00 FE 00 00 41 00 42"},
      {"41 42 43", "1B 2E 01 0A 0A 01 18 00 01 41 42 00 43"},
  };
  for (const Case& c : cases) {
    const Bytes row = HexBytes(c.row);
    const unsigned width = static_cast<unsigned>(row.size() * 8);
    const Printed p = Print({RasterPage{RasterHeader(width, 1, 360, 360, 1, 1), {row}}}, &ppd);
    ASSERT_EQ(p.stream.error, "");
    const auto lines = p.stream.Find("ESC .");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ToHex(lines[0]->bytes), c.line);
  }
}

TEST(DotRaster, At720DpiNoTwoNeighbouringDotsArePrinted) {
  PpdSpec ppd = Model(2);
  // A full byte goes out as AA.
  const Printed full =
      Print({RasterPage{RasterHeader(8, 1, 720, 720, 1, 0), {HexBytes("FF")}}}, &ppd);
  ASSERT_EQ(full.stream.error, "");
  const auto lines = full.stream.Find("ESC .");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ToHex(lines[0]->bytes), "1B 2E 00 05 05 01 08 00 AA");
  // 720 dpi adds the microweave and dot-size commands.
  EXPECT_TRUE(StartsWith(full.run.out,
                         HexBytes("1B 40 1B 28 47 01 00 01 1B 28 55 01 00 05 1B 28 43 02 00 00 00 "
                                  "1B 28 63 04 00 B4 00 00 00 1B 28 69 01 00 01 "
                                  "1B 28 65 02 00 00 01 1B 28 56 02 00 00 00")))
      << ToHex(full.run.out);

  // A dense page: what is printed is the page thinned dot by dot.
  const DotRows dots = RandomDots(203, 40, 13, 70);
  const Printed p = Print({MakePage(RasterHeader(203, 40, 720, 720, 1, 1), dots)}, &ppd);
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), Thinned(dots)), "");
}

TEST(DotRaster, Model4UsesEscIAndTheExtendedUnit) {
  PpdSpec ppd = Model(4);
  const DotRows dots = PageDots(160, 50, 14);
  for (unsigned compression : {0u, 1u}) {
    const Printed p =
        Print({MakePage(RasterHeader(160, 50, 360, 360, 1, compression), dots)}, &ppd);
    ASSERT_EQ(p.run.status, 0) << p.run.err;
    ASSERT_EQ(p.stream.error, "");
    EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
    EXPECT_TRUE(p.stream.Find("ESC .").empty());
    const auto lines = p.stream.Find("ESC i");
    ASSERT_FALSE(lines.empty());
    // Colour 0, compression, 1 bit, 20 bytes, one line.
    EXPECT_EQ(ToHex(Bytes(lines[0]->bytes.begin(), lines[0]->bytes.begin() + 9)),
              compression ? "1B 69 00 01 01 14 00 01 00" : "1B 69 00 00 01 14 00 01 00");
    const auto units = p.stream.Find("ESC ( U");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(ToHex(units[0]->bytes), "1B 28 55 05 00 04 04 04 A0 05");
  }
}

TEST(DotRaster, Model4At720DpiThinsToo) {
  PpdSpec ppd = Model(5);
  const DotRows dots = RandomDots(96, 30, 15, 60);
  const Printed p = Print({MakePage(RasterHeader(96, 30, 720, 720, 1, 1), dots)}, &ppd);
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), Thinned(dots)), "");
  EXPECT_EQ(ToHex(p.stream.Find("ESC ( U")[0]->bytes), "1B 28 55 05 00 02 02 02 A0 05");
}

TEST(DotRaster, ColourPlanesGoToTheirColours) {
  struct Case {
    int model;
    int planes;
    std::vector<int> colours;  // decoder colour key of each plane
  };
  const Case cases[] = {
      {2, 3, {2, 1, 4}},               // ESC r with the table shifted by one
      {2, 4, {0, 2, 1, 4}},            // ESC r
      {3, 6, {0, 2, 1, 4, 18, 17}},    // ESC ( r for the light colours
      {4, 4, {0, 2, 1, 4}},            // ESC i carries the colour
  };
  for (const Case& c : cases) {
    PpdSpec ppd = Model(c.model);
    std::vector<DotRows> planes;
    for (int i = 0; i < c.planes; ++i) {
      DotRows d = RandomDots(48, 20, 100 + static_cast<unsigned>(i), 25);
      BlankRows(&d, static_cast<unsigned>(3 * i), static_cast<unsigned>(3 * i + 4));
      planes.push_back(d);
    }
    const Printed p = Print(
        {MakePlanarPage(RasterHeader(48, 20, 360, 360, c.planes, 1), planes)}, &ppd);
    ASSERT_EQ(p.stream.error, "") << c.model << "/" << c.planes;
    for (int i = 0; i < c.planes; ++i)
      EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(c.colours[static_cast<size_t>(i)]),
                         planes[static_cast<size_t>(i)]),
                "")
          << "model " << c.model << " planes " << c.planes << " plane " << i;
  }
}

TEST(DotRaster, WorstCasePackBitsOfWideRowsFits) {
  // 16 bits per colour: the row is twice as many bytes as the page has dots,
  // and "a b b" compresses to 4 bytes for 3, more than twice the width.
  PpdSpec ppd = Model(2);
  cups_page_header2_t h = RasterHeader(30, 2, 360, 360, 1, 1);
  h.cupsBitsPerColor = 16;
  h.cupsBitsPerPixel = 16;
  h.cupsBytesPerLine = 60;
  Bytes row(60);
  for (size_t i = 0; i < row.size(); ++i) row[i] = i % 3 == 0 ? 0x01 : 0x02;
  const Printed p = Print({RasterPage{h, {row, row}}}, &ppd);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  const auto lines = p.stream.Find("ESC .");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]->bytes.size(), 8u + 80u);
  DotRows expected(2, std::vector<uint8_t>(480, 0));
  for (size_t x = 0; x < 480; ++x)
    expected[0][x] = expected[1][x] = (row[x / 8] >> (7 - x % 8)) & 1;
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), expected), "");
}

TEST(DotRaster, PageLengthAndTopAreTruncated) {
  // 300 dpi: unit 3600 / 300 = 12; page length 842 * 300 / 72 = 3508.33 ->
  // 3508 (B4 0D); top (600 - 582) * 300 / 72 = 75 (4B 00).
  PpdSpec ppd = Model(3);
  cups_page_header2_t h = RasterHeader(16, 1, 300, 300, 1, 0);
  h.PageSize[1] = 842;
  const Printed p = Print({RasterPage{h, {HexBytes("00 00")}}}, &ppd);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  EXPECT_EQ(ToHex(p.run.out),
            "1B 40 1B 28 47 01 00 01 1B 28 55 01 00 0C 1B 28 43 02 00 B4 0D "
            "1B 28 63 04 00 4B 00 B4 0D 1B 28 56 02 00 00 00 0C 1B 40");
}

TEST(DotRaster, OnePageSizeGivesTopZero) {
  PpdSpec ppd = Model(2);
  ppd.sizes = {{"Letter", 612, 792, 770}};
  const Printed p = Print({MakePage(RasterHeader(16, 2, 360, 360, 1, 0), BlankDots(16, 2))},
                          &ppd);
  const auto format = p.stream.Find("ESC ( c");
  ASSERT_EQ(format.size(), 1u);
  EXPECT_EQ(ToHex(Bytes(format[0]->bytes.begin(), format[0]->bytes.begin() + 7)),
            "1B 28 63 04 00 00 00");
}

TEST(DotRaster, PlanesOfARowThatDoesNotDivideEvenly) {
  // KCMY with 30 bytes per row: plane i starts at i * 30 / 4 (0, 7, 15, 22)
  // and every plane is 30 / 4 = 7 bytes long.
  PpdSpec ppd = Model(4);
  cups_page_header2_t h = RasterHeader(60, 1, 360, 360, 4, 0);
  h.cupsBytesPerLine = 30;
  Bytes row(30);
  for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i + 1);
  const Printed p = Print({RasterPage{h, {row}}}, &ppd);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  const auto lines = p.stream.Find("ESC i");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(ToHex(lines[0]->bytes), "1B 69 00 00 01 07 00 01 00 01 02 03 04 05 06 07");
  EXPECT_EQ(ToHex(lines[1]->bytes), "1B 69 02 00 01 07 00 01 00 08 09 0A 0B 0C 0D 0E");
  EXPECT_EQ(ToHex(lines[2]->bytes), "1B 69 01 00 01 07 00 01 00 10 11 12 13 14 15 16");
  EXPECT_EQ(ToHex(lines[3]->bytes), "1B 69 04 00 01 07 00 01 00 17 18 19 1A 1B 1C 1D");
}

TEST(DotRaster, Model0WithoutRowCountPrintsRasterLines) {
  const DotRows dots = PageDots(120, 40, 16);
  const Printed p = Print({MakePage(RasterHeader(120, 40, 360, 360, 1, 0), dots)}, nullptr);
  ASSERT_EQ(p.run.status, 0) << p.run.err;
  ASSERT_EQ(p.stream.error, "");
  EXPECT_EQ(DiffDots(p.stream.pages[0].Plane(0), dots), "");
  EXPECT_TRUE(StartsWith(p.run.out, HexBytes("1B 40 1B 33 18")));
  EXPECT_FALSE(p.stream.pages[0].form_feed);
}

}  // namespace
}  // namespace dot_test
