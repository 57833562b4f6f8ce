// The band decoder on hand-written streams: it is quillpreview's reader of
// serial streams and the oracle of the band tests, so its own reading of the
// commands is pinned down here.
#include <gtest/gtest.h>

#include "common/recording_writer.h"
#include "preview/band_decoder.h"

namespace quillpreview {
namespace {

using quill_test::Bytes;
using quill_test::HexBytes;
using quill_test::ToHex;

BandGeometry Geo(uint32_t x_unit, uint32_t y_unit, uint32_t x_res, uint32_t y_res,
                 uint32_t band) {
  BandGeometry g;
  g.x_unit = x_unit;
  g.y_unit = y_unit;
  g.x_res = x_res;
  g.y_res = y_res;
  g.band_height = band;
  return g;
}

TEST(BandDecoder, PlacesBandsByPositionsAndFeeds) {
  // Two 8-line bands at 720 units / 360 dpi horizontally, 180 / 360
  // vertically... in whole dots: position 20 units = column 10, 8 feed
  // units = 16 rows.
  const Bytes stream = HexBytes(
      "1B 2A 03 02 00 80 01 "        // columns 0, 1: line 0 and line 7
      "1B 24 14 00 1B 2A 03 01 00 FF "  // column 10: lines 0..7
      "0D 1B 4A 08 "
      "1B 72 01 1B 2A 03 01 00 40");    // red, column 0, line 1, row 16
  const DecodedBands d = DecodeBands(stream, Geo(720, 180, 360, 360, 8));
  EXPECT_TRUE(d.problems.empty());
  ASSERT_EQ(d.pages.size(), 1u);
  const DotPlane& black = d.pages[0].planes[0];
  EXPECT_EQ(black.Count(), 10u);
  EXPECT_TRUE(black.Dot(0, 0));
  EXPECT_TRUE(black.Dot(7, 1));
  for (uint32_t r = 0; r < 8; ++r) EXPECT_TRUE(black.Dot(r, 10));
  EXPECT_EQ(black.Width(), 11u);
  EXPECT_EQ(black.Rows(), 8u);
  EXPECT_EQ(ToHex(black.Line(7, 16)), "40 20");
  const DotPlane& red = d.pages[0].planes[1];
  EXPECT_EQ(red.Count(), 1u);
  EXPECT_TRUE(red.Dot(17, 0));
  EXPECT_EQ(d.Summary(),
            "GFX(m3,n2,x0,y0) POS(20) GFX(m3,n1,x10,y0) CR FEED(8) COL(1) GFX(m3,n1,x0,y16)");
}

TEST(BandDecoder, GraphicsContinueAfterThePreviousColumns) {
  const Bytes stream = HexBytes("1B 2A 02 02 00 80 80 1B 2A 02 01 00 80 0D 1B 2A 02 01 00 80");
  const DecodedBands d = DecodeBands(stream, Geo(360, 360, 360, 360, 8));
  EXPECT_EQ(d.Summary(), "GFX(m2,n2,x0,y0) GFX(m2,n1,x2,y0) CR GFX(m2,n1,x0,y0)");
  ASSERT_EQ(d.double_dots.size(), 1u);
  EXPECT_EQ(d.double_dots[0].row, 0u);
  EXPECT_EQ(d.double_dots[0].col, 0u);
}

TEST(BandDecoder, FramingCommandsAndPages) {
  const Bytes stream = HexBytes(
      "1B 40 1B 1D 1E 13 01 18 00 FF 1B 1D 1F 1B 26 6C 53 01 "  // job start, band hint
      "1B 28 43 02 00 10 0E 1B 26 6C 4C 01 1B 26 61 4C 12 02 1B 55 01 "
      "1B 2A 02 01 00 80 00 00 0D 1B 4A 18 0C "
      "1B 26 6C 4C 00 1B 26 61 4C 12 02 1B 4A 05 1B 2A 02 01 00 80 00 00 0D 1B 4A 18 "
      "1B 26 6C 4C 00 1B 2A 02 01 00 80 00 00 "  // fed page: the flag opens page 3
      "1B 28 55 01 00 0A 1D 57 40 02 1D 4C 08 00 1B 45 1B 25 2D 31 32 33 34 35 58");
  const DecodedBands d = DecodeBands(stream, Geo(360, 360, 360, 360, 24));
  EXPECT_TRUE(d.problems.empty()) << d.problems.front();
  ASSERT_EQ(d.pages.size(), 3u);
  EXPECT_TRUE(d.pages[0].planes[0].Dot(0, 0));
  EXPECT_TRUE(d.pages[1].planes[0].Dot(5, 0));
  EXPECT_TRUE(d.pages[2].planes[0].Dot(0, 0));
  EXPECT_EQ(d.pages[1].fed_units, 29u);
  EXPECT_EQ(d.Summary(),
            "SKIP(1B 40) SKIP(1B 1D 1E 13 01 18 00 FF 1B 1D 1F) SKIP(1B 26 6C 53 01) PL(3600) "
            "FLAG(1) LM(530) DIR(1) GFX(m2,n1,x0,y0) CR FEED(24) FF FLAG(0) LM(530) FEED(5) "
            "GFX(m2,n1,x0,y5) CR FEED(24) FLAG(0) GFX(m2,n1,x0,y0) SKIP(1B 28 55 01 00 0A) "
            "SKIP(1D 57 40 02) SKIP(1D 4C 08 00) SKIP(1B 45) "
            "SKIP(1B 25 2D 31 32 33 34 35 58)");
  EXPECT_EQ(d.Of(BandCmd::kPageFlag)[2].page, 2);
}

TEST(BandDecoder, ReportsWhatAPrinterWouldChokeOn) {
  // Unknown byte, a set bit below a 5-line band, a position between
  // columns, a feed between rows, and graphics cut short.
  const Bytes stream = HexBytes(
      "07 1B 2A 02 01 00 04 1B 24 01 00 1B 4A 01 1B 2A 02 01 00 00 1B 2A 02 03 00 FF");
  const DecodedBands d = DecodeBands(stream, Geo(720, 720, 360, 360, 5));
  ASSERT_EQ(d.problems.size(), 5u);
  EXPECT_NE(d.problems[0].find("unknown byte 07"), std::string::npos);
  EXPECT_NE(d.problems[1].find("below the band"), std::string::npos);
  EXPECT_NE(d.problems[2].find("between raster columns"), std::string::npos);
  EXPECT_NE(d.problems[3].find("between raster rows"), std::string::npos);
  EXPECT_NE(d.problems[4].find("truncated graphics data"), std::string::npos);
  EXPECT_EQ(d.pages[0].planes[0].Count(), 0u);
}

}  // namespace
}  // namespace quillpreview
